// The command line's stand-in for the session sheet, over an inner service whose sessions tell
// their ends only when the test says so: a reader's thread may tell a session's end after the
// host has already started the next session.

#include "cli/printed_sheet.h"

#include <gtest/gtest.h>

#include <vector>

namespace wynfc::cli {
namespace {

class HeldSession final : public TagReaderSession {
public:
    void setAlertMessage(const std::string&) override {}
    void begin() override {}
    void restartPolling() override {}
    void connect(const std::shared_ptr<NfcTag>&, TagCompletion) override {}
    void invalidate() override {}
    void invalidate(const std::string&) override {}
};

// Keeps each session's delegate (weakly, as a service must) so that the test tells the ends,
// in the order it chooses.
class HeldService final : public TagReaderService {
public:
    bool readingAvailable() const override { return true; }
    std::shared_ptr<TagReaderSession> makeSession(PollingOptions,
                                                  std::weak_ptr<TagReaderSessionDelegate> delegate) override {
        delegates.push_back(std::move(delegate));
        sessions.push_back(std::make_shared<HeldSession>());
        return sessions.back();
    }
    void tellEnd(std::size_t index, const std::string& why) {
        const auto delegate = delegates.at(index).lock();
        ASSERT_NE(delegate, nullptr);
        delegate->tagReaderSessionDidInvalidateWithError(sessions.at(index),
                                                         NfcError{NfcError::kUserCanceled, why});
    }

    std::vector<std::weak_ptr<TagReaderSessionDelegate>> delegates;
    std::vector<std::shared_ptr<TagReaderSession>> sessions;
};

class NoDelegate final : public TagReaderSessionDelegate {
public:
    void tagReaderSessionDidBecomeActive(const std::shared_ptr<TagReaderSession>&) override {}
    void tagReaderSessionDidDetect(const std::shared_ptr<TagReaderSession>&,
                                   const std::vector<std::shared_ptr<NfcTag>>&) override {}
    void tagReaderSessionDidInvalidateWithError(const std::shared_ptr<TagReaderSession>&,
                                                const NfcError&) override {}
};

TEST(PrintedSheet, ALateEndOfTheLastSessionIsNotTakenForTheEndOfTheNextOne) {
    const auto inner = std::make_shared<HeldService>();
    std::vector<std::string> printed;
    const auto sheet = std::make_shared<PrintedSheetService>(
        inner, [&](const std::string& line) { printed.push_back(line); });
    const auto delegate = std::make_shared<NoDelegate>();

    // A read: its session is ended by the job; the reader has not told that end yet.
    const auto reading = sheet->makeSession({}, delegate);
    reading->setAlertMessage("Hold the reader to the driver.");
    reading->begin();
    reading->setAlertMessage("Read Completed");
    reading->invalidate();

    // The write that follows takes its mark, then makes its session; the read's end comes now.
    const int mark = sheet->sessionsMade();
    const auto writing = sheet->makeSession({}, delegate);
    writing->setAlertMessage("Hold the reader to the driver.");
    writing->begin();
    inner->tellEnd(0, "Session invalidated by user");
    EXPECT_FALSE(sheet->endedThrough.get() > mark) << "the read's end counted as the write's";
    EXPECT_EQ(sheet->lastEnding(), "done: Read Completed");

    inner->tellEnd(1, "Session invalidated unexpectedly");
    EXPECT_TRUE(sheet->endedThrough.get() > mark);
    EXPECT_EQ(sheet->lastEnding(), "ended: Session invalidated unexpectedly");

    // Each sheet printed its text when it began and once at its end, whichever end came first.
    EXPECT_EQ(printed, (std::vector<std::string>{"Hold the reader to the driver.", "done: Read Completed",
                                                 "Hold the reader to the driver.",
                                                 "ended: Session invalidated unexpectedly"}));
}

TEST(PrintedSheet, AnEarlierSessionEndingLastLeavesTheNewestEndInPlace) {
    const auto inner = std::make_shared<HeldService>();
    const auto sheet = std::make_shared<PrintedSheetService>(inner, [](const std::string&) {});
    const auto delegate = std::make_shared<NoDelegate>();
    const auto first = sheet->makeSession({}, delegate);
    const auto second = sheet->makeSession({}, delegate);
    EXPECT_EQ(sheet->sessionsMade(), 2);
    inner->tellEnd(1, "second");
    inner->tellEnd(0, "first");
    EXPECT_EQ(sheet->endedThrough.get(), 2);
}

} // namespace
} // namespace wynfc::cli
