// The PC/SC tag session against the real daemon, with the virtual reader driver and a
// virtual card of our own in its readers.

#include "pcsc_test_bench.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <mutex>

namespace wynfc::test {
namespace {

// Records what a session tells its delegate, and on which thread.
class RecordingDelegate final : public TagReaderSessionDelegate {
public:
    void tagReaderSessionDidBecomeActive(const std::shared_ptr<TagReaderSession>&) override {
        record([&] { ++mActive; });
    }
    void tagReaderSessionDidDetect(const std::shared_ptr<TagReaderSession>&,
                                   const std::vector<std::shared_ptr<NfcTag>>& tags) override {
        record([&] { mDetected.push_back(tags); });
    }
    void tagReaderSessionDidInvalidateWithError(const std::shared_ptr<TagReaderSession>&,
                                                const NfcError& error) override {
        record([&] { mEnding = error; });
    }

    std::vector<std::shared_ptr<NfcTag>> waitForTags(std::size_t detections = 1) {
        std::unique_lock lock(mMutex);
        EXPECT_TRUE(mChanged.wait_for(lock, kPatience, [&] { return mDetected.size() >= detections; }));
        return mDetected.size() >= detections ? mDetected[detections - 1]
                                              : std::vector<std::shared_ptr<NfcTag>>{};
    }
    std::optional<NfcError> waitForEnding() {
        std::unique_lock lock(mMutex);
        EXPECT_TRUE(mChanged.wait_for(lock, kPatience, [&] { return mEnding.has_value(); }));
        return mEnding;
    }
    std::size_t detections() const {
        std::lock_guard lock(mMutex);
        return mDetected.size();
    }
    std::optional<NfcError> ending() const {
        std::lock_guard lock(mMutex);
        return mEnding;
    }

private:
    template <typename Change> void record(Change change) {
        std::lock_guard lock(mMutex);
        change();
        mChanged.notify_all();
    }

    mutable std::mutex mMutex;
    std::condition_variable mChanged;
    int mActive = 0;
    std::vector<std::vector<std::shared_ptr<NfcTag>>> mDetected;
    std::optional<NfcError> mEnding;
};

std::optional<NfcError> connect(TagReaderSession& session, const std::shared_ptr<NfcTag>& tag) {
    std::promise<std::optional<NfcError>> done;
    session.connect(tag, [&](std::optional<NfcError> error) { done.set_value(error); });
    return done.get_future().get();
}

struct ReadResult {
    std::vector<Bytes> blocks;
    std::optional<NfcError> error;
};

ReadResult read(Iso15693Tag& tag, int first, int count) {
    std::promise<ReadResult> done;
    tag.readMultipleBlocks(0x22, {first, count},
                           [&](std::vector<Bytes> blocks, std::optional<NfcError> error) {
                               done.set_value({std::move(blocks), error});
                           });
    return done.get_future().get();
}

std::optional<NfcError> write(Iso15693Tag& tag, int block, Bytes data) {
    std::promise<std::optional<NfcError>> done;
    tag.writeSingleBlock(0x22, block, std::move(data),
                         [&](std::optional<NfcError> error) { done.set_value(error); });
    return done.get_future().get();
}

int codeOf(const std::optional<NfcError>& error) {
    return error ? error->code : 0;
}

class PcscTagReaderTest : public ::testing::Test {
protected:
    std::shared_ptr<TagReaderSession> begin(PcscTagReaderService& reader) {
        PollingOptions polling;
        polling.iso15693 = true;
        auto made = reader.makeSession(polling, delegate);
        EXPECT_NE(made, nullptr);
        if (made) {
            made->begin();
        }
        return made;
    }
    // A session with the card in the second reader, connected to it.
    std::shared_ptr<Iso15693Tag> connected() {
        card.insert(kReaderPort[1]);
        session = begin(service);
        const auto tags = delegate->waitForTags();
        EXPECT_EQ(tags.size(), 1U);
        auto tag = tags.empty() ? nullptr : asIso15693Tag(tags[0]);
        EXPECT_NE(tag, nullptr);
        if (tag) {
            EXPECT_EQ(connect(*session, tag), std::nullopt);
        }
        return tag;
    }

    PrivatePcscd pcscd;
    std::shared_ptr<VirtualTag> virtualTag = sampleTag("basic");
    VirtualPcscCard card{virtualTag};
    PcscTagReaderService service;
    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
    std::shared_ptr<TagReaderSession> session;
};

TEST_F(PcscTagReaderTest, FindsTheTagInWhicheverReaderHoldsItAndReadsItsBlocksInOrder) {
    EXPECT_TRUE(service.readingAvailable());
    const auto tag = connected();
    ASSERT_NE(tag, nullptr);
    EXPECT_EQ(tag->identifier(), virtualTag->uid());
    EXPECT_EQ(tag->icManufacturerCode(), virtualTag->icManufacturerCode());

    const auto result = read(*tag, 3, 5);
    ASSERT_EQ(result.error, std::nullopt);
    ASSERT_EQ(result.blocks.size(), 5U);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(result.blocks[i], virtualTag->blockBytes(3 + i, 1)) << "block " << 3 + i;
    }
    // One storage-card read per block.
    const auto commands = card.commands();
    ASSERT_EQ(commands.size(), 6U);
    EXPECT_EQ(commands[0], (Bytes{0xFF, 0xCA, 0x00, 0x00, 0x00}));
    EXPECT_EQ(commands[5], (Bytes{0xFF, 0xB0, 0x00, 0x07, 0x04}));
}

TEST_F(PcscTagReaderTest, ACardPutInLaterIsDetectedAndOneTakenOutFailsWithConnectionLost) {
    session = begin(service);
    EXPECT_EQ(delegate->detections(), 0U);
    card.insert(kReaderPort[0]);
    auto tags = delegate->waitForTags();
    ASSERT_EQ(tags.size(), 1U);
    const auto tag = asIso15693Tag(tags[0]);
    ASSERT_EQ(connect(*session, tag), std::nullopt);
    EXPECT_EQ(write(*tag, 40, {1, 2, 3, 4}), std::nullopt);
    EXPECT_EQ(virtualTag->blockBytes(40, 1), (Bytes{1, 2, 3, 4}));

    card.remove();
    EXPECT_EQ(codeOf(read(*tag, 0, 1).error), NfcError::kTagConnectionLost);
    ASSERT_TRUE(waitForReader(kReaderName[0], false));
    EXPECT_EQ(codeOf(write(*tag, 41, {1, 2, 3, 4})), NfcError::kTagConnectionLost);

    // Back in the field: polling again finds it as a new tag. The session's watching thread
    // may not have seen the card leave yet when polling restarts, and then offers the card it
    // still knows; connecting to that one fails as a lost tag, and polling again finds the
    // card that is there.
    card.insert(kReaderPort[0]);
    ASSERT_TRUE(waitForReader(kReaderName[0], true));
    std::shared_ptr<NfcTag> found;
    for (std::size_t detection = 2; detection < 6 && !found; ++detection) {
        session->restartPolling();
        tags = delegate->waitForTags(detection);
        ASSERT_EQ(tags.size(), 1U);
        const auto error = connect(*session, tags[0]);
        if (!error) {
            found = tags[0];
        } else {
            EXPECT_EQ(codeOf(error), NfcError::kTagConnectionLost);
        }
    }
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(read(*asIso15693Tag(found), 40, 1).blocks, (std::vector<Bytes>{{1, 2, 3, 4}}));
}

TEST_F(PcscTagReaderTest, TagErrorsFailTheOperationAndChangeNothing) {
    virtualTag->protectBlock(20);
    const auto tag = connected();
    ASSERT_NE(tag, nullptr);
    const Bytes before = virtualTag->memory();

    EXPECT_EQ(codeOf(write(*tag, 20, {9, 9, 9, 9})), NfcError::kTagResponseError);
    // A range that runs past the tag fails as a whole.
    const auto beyond = read(*tag, 254, 4);
    EXPECT_EQ(codeOf(beyond.error), NfcError::kTagResponseError);
    EXPECT_TRUE(beyond.blocks.empty());
    // The 8-bit block number of a write is never wrapped.
    EXPECT_EQ(codeOf(write(*tag, 256 + 20, {9, 9, 9, 9})), NfcError::kInvalidParameter);
    EXPECT_EQ(virtualTag->memory(), before);
    EXPECT_EQ(delegate->ending(), std::nullopt);
}

TEST_F(PcscTagReaderTest, ACardTakenOutMidCommandFailsItWithConnectionLost) {
    const auto tag = connected();
    ASSERT_NE(tag, nullptr);
    const Bytes before = virtualTag->memory();
    virtualTag->leaveFieldAfter(2);
    // The command in flight gets no answer at all: an error, never data.
    const auto result = read(*tag, 0, 8);
    EXPECT_NE(codeOf(result.error), 0);
    EXPECT_TRUE(result.blocks.empty());
    // Whatever the daemon reports next, before and after it has noticed, the tag has gone.
    EXPECT_EQ(codeOf(write(*tag, 5, {7, 7, 7, 7})), NfcError::kTagConnectionLost);
    ASSERT_TRUE(waitForReader(kReaderName[1], false));
    EXPECT_EQ(codeOf(write(*tag, 5, {7, 7, 7, 7})), NfcError::kTagConnectionLost);
    EXPECT_EQ(virtualTag->memory(), before);
}

TEST_F(PcscTagReaderTest, ACardOfAnotherKindIsReportedAsNoTagOfThePolledKind) {
    VirtualPcscCard other(sampleTag("basic"), VirtualPcscCard::processorCardAtr());
    other.insert(kReaderPort[0]);
    session = begin(service);
    const auto tags = delegate->waitForTags();
    ASSERT_EQ(tags.size(), 1U);
    EXPECT_EQ(tags[0]->kind(), TagKind::Other);
    EXPECT_EQ(asIso15693Tag(tags[0]), nullptr);
}

TEST_F(PcscTagReaderTest, InvalidateEndsTheSessionAndLeavesTheCardAsItWas) {
    const auto tag = connected();
    ASSERT_NE(tag, nullptr);
    const int powerCycles = card.powerCycles();
    session->invalidate("Read failed");
    EXPECT_EQ(codeOf(delegate->waitForEnding()), NfcError::kUserCanceled);
    EXPECT_EQ(codeOf(read(*tag, 0, 1).error), NfcError::kSessionInvalidated);
    EXPECT_EQ(card.powerCycles(), powerCycles);
    // Released: another session connects to the same card.
    auto second = std::make_shared<RecordingDelegate>();
    PollingOptions polling;
    polling.iso15693 = true;
    auto next = service.makeSession(polling, second);
    next->begin();
    const auto tags = second->waitForTags();
    ASSERT_EQ(tags.size(), 1U);
    EXPECT_EQ(connect(*next, tags[0]), std::nullopt);
    next->invalidate();
}

TEST_F(PcscTagReaderTest, TheDaemonStoppingEndsTheSessionAsTerminated) {
    const auto tag = connected();
    ASSERT_NE(tag, nullptr);
    pcscd.stop();
    EXPECT_EQ(codeOf(delegate->waitForEnding()), NfcError::kSessionTerminatedUnexpectedly);
    EXPECT_NE(codeOf(read(*tag, 0, 1).error), 0);
    EXPECT_FALSE(service.readingAvailable());
    EXPECT_EQ(service.makeSession({}, delegate), nullptr);
}

TEST_F(PcscTagReaderTest, ReadingIsUnavailableWithoutTheChosenReader) {
    PcscTagReaderService second(kReaderName[1]);
    EXPECT_TRUE(second.readingAvailable());
    EXPECT_EQ(second.readerNames(), std::vector<std::string>{kReaderName[1]});
    PcscTagReaderService missing(std::string("No Such Reader"));
    EXPECT_FALSE(missing.readingAvailable());
}

} // namespace
} // namespace wynfc::test
