#pragma once

#include "platform/published.h"
#include "platform/tag_reader_session.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace wynfc::cli {

// The tag session's sheet for a host without windows: wraps a tag reader service and hands
// each sheet text to a printer (the alert message when the session begins, the success or
// error at its end), and counts the tags the sessions detected, so that the host can tell
// that a tag came. The sessions it makes stand in for the inner ones towards the delegate,
// and keep the service alive: a session's last callbacks may come after its host has gone.
// Make it with std::make_shared.
class PrintedSheetService final : public TagReaderService,
                                  public std::enable_shared_from_this<PrintedSheetService> {
public:
    using Printer = std::function<void(const std::string& line)>;

    PrintedSheetService(std::shared_ptr<TagReaderService> inner, Printer printer);

    bool readingAvailable() const override;
    std::shared_ptr<TagReaderSession> makeSession(PollingOptions polling,
                                                  std::weak_ptr<TagReaderSessionDelegate> delegate) override;

    // ISO 15693 tags detected by every session so far (tags of other kinds are no driver's).
    Published<int> detections{0};
    // The number of the newest session whose reader has reported its end (sessions are
    // numbered from 1 as they are made). A session's end comes from its reader's thread and may
    // be told after the next session was made: a host waiting for the next session's end
    // compares this with sessionsMade() from before it, never with a count of endings.
    Published<int> endedThrough{0};

    // The UID of the ISO 15693 tag detected last (the first one of a detection), in the order
    // the tag reports it; empty before any.
    Bytes lastDetectedUid() const;

    // Sessions made so far.
    int sessionsMade() const;

    // Ends the newest session as the user closing its sheet would; false when none runs.
    bool closeSheet();

    // The text the last session to end showed at its end.
    std::string lastEnding() const;

private:
    class Session;
    class Delegate;

    std::shared_ptr<TagReaderService> mInner;
    Printer mPrinter;
    mutable std::mutex mMutex;
    std::weak_ptr<Session> mNewest;
    int mSessionsMade = 0;
    std::string mLastEnding;
    Bytes mLastUid;
};

} // namespace wynfc::cli
