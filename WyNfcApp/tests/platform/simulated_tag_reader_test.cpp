#include "platform/sim/simulated_tag_reader.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace wynfc {
namespace {

// Records the callbacks with the thread they ran on.
class RecordingDelegate : public TagReaderSessionDelegate {
public:
    explicit RecordingDelegate(EventLoop& queue) : queue_(queue) {}

    void tagReaderSessionDidBecomeActive(const std::shared_ptr<TagReaderSession>&) override {
        record("active");
    }
    void tagReaderSessionDidDetect(const std::shared_ptr<TagReaderSession>&,
                                   const std::vector<std::shared_ptr<NfcTag>>& tags) override {
        std::lock_guard lock(mutex_);
        detected_ = tags;
        recordLocked("detected " + std::to_string(tags.size()));
    }
    void tagReaderSessionDidInvalidateWithError(const std::shared_ptr<TagReaderSession>&,
                                                const NfcError& error) override {
        std::lock_guard lock(mutex_);
        error_ = error;
        recordLocked("invalidated " + std::to_string(error.code));
    }

    std::vector<std::string> events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }
    std::vector<std::shared_ptr<NfcTag>> detected() const {
        std::lock_guard lock(mutex_);
        return detected_;
    }
    bool allOnSessionQueue() const {
        std::lock_guard lock(mutex_);
        return allOnQueue_;
    }

private:
    void record(const std::string& event) {
        std::lock_guard lock(mutex_);
        recordLocked(event);
    }
    void recordLocked(const std::string& event) {
        events_.push_back(event);
        allOnQueue_ = allOnQueue_ && queue_.isMainThread();
    }

    EventLoop& queue_;
    mutable std::mutex mutex_;
    std::vector<std::string> events_;
    std::vector<std::shared_ptr<NfcTag>> detected_;
    std::optional<NfcError> error_;
    bool allOnQueue_ = true;
};

// The outcome of one operation, filled on the session queue.
struct Outcome {
    bool called = false;
    bool onQueue = false;
    std::optional<NfcError> error;
    std::vector<Bytes> blocks;
};

std::shared_ptr<VirtualTag> makeTag(int blockCount = 256, std::uint8_t serial = 1) {
    TagImage image = TagImage::blank({serial, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0xE0}, blockCount);
    for (std::size_t i = 0; i < image.memory.size(); ++i) {
        image.memory[i] = static_cast<std::uint8_t>(i);
    }
    return std::make_shared<VirtualTag>(image);
}

class SimulatedTagReader : public ::testing::Test {
protected:
    SimulatedTagReader() : delegate_(std::make_shared<RecordingDelegate>(service_.queue())) {}

    std::shared_ptr<TagReaderSession> begin() {
        auto session = service_.makeSession(PollingOptions{.iso15693 = true}, delegate_);
        session->begin();
        service_.waitIdle();
        return session;
    }

    // Begins a session with the tag in the field and connects to it.
    std::shared_ptr<Iso15693Tag> connected(const std::shared_ptr<VirtualTag>& tag) {
        service_.present(tag);
        session_ = begin();
        const auto detected = delegate_->detected();
        EXPECT_EQ(detected.size(), 1u);
        auto handle = asIso15693Tag(detected.at(0));
        Outcome outcome;
        session_->connect(handle, [&](std::optional<NfcError> error) {
            outcome.called = true;
            outcome.error = error;
        });
        service_.waitIdle();
        EXPECT_TRUE(outcome.called);
        EXPECT_FALSE(outcome.error);
        return handle;
    }

    Outcome read(Iso15693Tag& tag, int first, int count) {
        Outcome outcome;
        tag.readMultipleBlocks(
            0x22, BlockRange{first, count}, [&](std::vector<Bytes> blocks, std::optional<NfcError> error) {
                outcome = Outcome{true, service_.queue().isMainThread(), error, std::move(blocks)};
            });
        service_.waitIdle();
        return outcome;
    }

    Outcome write(Iso15693Tag& tag, int block, Bytes data) {
        Outcome outcome;
        tag.writeSingleBlock(0x22, block, std::move(data), [&](std::optional<NfcError> error) {
            outcome = Outcome{true, service_.queue().isMainThread(), error, {}};
        });
        service_.waitIdle();
        return outcome;
    }

    SimulatedTagReaderService service_;
    std::shared_ptr<RecordingDelegate> delegate_;
    std::shared_ptr<TagReaderSession> session_;
};

TEST_F(SimulatedTagReader, CallbacksComeInOrderOnTheSessionQueue) {
    const auto tag = makeTag();
    service_.present(tag);
    auto session = service_.makeSession(PollingOptions{.iso15693 = true}, delegate_);
    session->begin();
    service_.waitIdle();
    EXPECT_EQ(delegate_->events(), (std::vector<std::string>{"active", "detected 1"}));
    EXPECT_TRUE(delegate_->allOnSessionQueue());
    EXPECT_TRUE(service_.currentSession()->pollingOptions().iso15693);

    // Completions are posted even when the caller is on the session queue itself.
    auto handle = delegate_->detected().at(0);
    auto done = std::make_shared<bool>(false);
    bool ranInline = true;
    service_.queue().sync([&] {
        session->connect(handle, [done](std::optional<NfcError>) { *done = true; });
        ranInline = *done;
    });
    service_.waitIdle();
    EXPECT_FALSE(ranInline);
    EXPECT_TRUE(*done);
}

TEST_F(SimulatedTagReader, ReadsAndWritesBlocksOfTheConnectedTag) {
    const auto tag = makeTag();
    const auto handle = connected(tag);
    EXPECT_EQ(handle->identifier(), tag->uid());
    EXPECT_EQ(handle->icManufacturerCode(), 0x07);

    const Outcome readOutcome = read(*handle, 2, 3);
    ASSERT_TRUE(readOutcome.called);
    EXPECT_TRUE(readOutcome.onQueue);
    EXPECT_FALSE(readOutcome.error);
    EXPECT_EQ(readOutcome.blocks, (std::vector<Bytes>{{8, 9, 10, 11}, {12, 13, 14, 15}, {16, 17, 18, 19}}));

    const Outcome writeOutcome = write(*handle, 255, Bytes{0xAA, 0x55, 0x5A, 0xA5});
    ASSERT_TRUE(writeOutcome.called);
    EXPECT_TRUE(writeOutcome.onQueue);
    EXPECT_FALSE(writeOutcome.error);
    EXPECT_EQ(tag->blockBytes(255, 1), (Bytes{0xAA, 0x55, 0x5A, 0xA5}));

    const auto operations = service_.currentSession()->operations();
    ASSERT_EQ(operations.size(), 3u);
    EXPECT_EQ(operations[1].kind, SessionOperation::Kind::ReadBlocks);
    EXPECT_EQ(operations[1].flags, 0x22);
    EXPECT_EQ(operations[2].firstBlock, 255);
}

TEST_F(SimulatedTagReader, TagErrorsAndTheEightBitBlockNumber) {
    const auto tag = makeTag(300); // large enough that a wrapped block number would land somewhere
    const auto handle = connected(tag);
    const Bytes block0 = tag->blockBytes(0, 1);
    const Bytes block256 = tag->blockBytes(256, 1);

    const Outcome tooHigh = write(*handle, 256, Bytes{1, 2, 3, 4});
    ASSERT_TRUE(tooHigh.error);
    EXPECT_EQ(tooHigh.error->code, NfcError::kInvalidParameter);
    EXPECT_EQ(tag->blockBytes(0, 1), block0);
    EXPECT_EQ(tag->blockBytes(256, 1), block256);
    EXPECT_EQ(write(*handle, -1, Bytes{1, 2, 3, 4}).error->code, NfcError::kInvalidParameter);
    EXPECT_EQ(write(*handle, 1, Bytes{1, 2, 3}).error->code, NfcError::kInvalidParameter);

    tag->protectBlock(7);
    EXPECT_EQ(write(*handle, 7, Bytes{1, 2, 3, 4}).error->code, NfcError::kTagResponseError);
    const Outcome beyond = read(*handle, 299, 2);
    EXPECT_EQ(beyond.error->code, NfcError::kTagResponseError);
    EXPECT_TRUE(beyond.blocks.empty());

    tag->injectFault(TagOperationKind::Read, TagAnswer::Failed, std::nullopt, 1);
    EXPECT_EQ(read(*handle, 0, 1).error->code, NfcError::kTagResponseError);
    EXPECT_FALSE(read(*handle, 0, 1).error);
}

TEST_F(SimulatedTagReader, RemovingASilentTagReleasesItsPendingOperationWithConnectionLost) {
    const auto tag = makeTag();
    const auto handle = connected(tag);
    tag->injectFault(TagOperationKind::Read, TagAnswer::NoAnswer);
    Outcome pending = read(*handle, 0, 1);
    EXPECT_FALSE(pending.called);

    Outcome released;
    handle->readMultipleBlocks(0x22, BlockRange{0, 1},
                               [&](std::vector<Bytes>, std::optional<NfcError> error) {
                                   released = Outcome{true, service_.queue().isMainThread(), error, {}};
                               });
    service_.remove(tag);
    service_.waitIdle();
    ASSERT_TRUE(released.called);
    EXPECT_TRUE(released.onQueue);
    EXPECT_EQ(released.error->code, NfcError::kTagConnectionLost);
    // Later operations on the removed tag fail the same way; the session itself goes on.
    EXPECT_EQ(write(*handle, 0, Bytes{1, 2, 3, 4}).error->code, NfcError::kTagConnectionLost);
    EXPECT_TRUE(service_.currentSession()->isActive());
}

TEST_F(SimulatedTagReader, TagLeavingAfterNOperationsLeavesTheField) {
    const auto tag = makeTag();
    const auto handle = connected(tag);
    tag->leaveFieldAfter(1);
    EXPECT_FALSE(read(*handle, 0, 1).error);
    EXPECT_TRUE(service_.tagsInField().empty());
    EXPECT_EQ(read(*handle, 0, 1).error->code, NfcError::kTagConnectionLost);

    // Presented again, it is found by a restarted poll and can be used again.
    service_.present(tag);
    session_->restartPolling();
    service_.waitIdle();
    EXPECT_EQ(delegate_->events().back(), "detected 1");
}

TEST_F(SimulatedTagReader, TwoTagsTogetherAndPollingThatPausesUntilRestarted) {
    const auto first = makeTag(256, 1);
    const auto second = makeTag(256, 2);
    service_.present(std::vector<FieldTag>{first, second});
    auto session = begin();
    EXPECT_EQ(delegate_->events(), (std::vector<std::string>{"active", "detected 2"}));

    // Not polling after a report: a new tag is not reported until polling restarts.
    service_.remove(second);
    service_.present(makeTag(256, 3));
    service_.waitIdle();
    EXPECT_EQ(delegate_->events().size(), 2u);
    session->restartPolling();
    service_.waitIdle();
    EXPECT_EQ(delegate_->events().back(), "detected 2");

    // Ended sessions do not poll again.
    session->invalidate("More than 1 tags was found. Please present only 1 tag.");
    session->restartPolling();
    service_.waitIdle();
    EXPECT_EQ(delegate_->events().back(), "invalidated 200");
    EXPECT_FALSE(service_.currentSession()->isPolling());
}

TEST_F(SimulatedTagReader, TagsOfOtherKindsCanBeDetectedAndConnected) {
    auto felica = std::make_shared<const ForeignTag>(
        ForeignTag{TagKind::FeliCa, {}, {0x12, 0xFC}, {1, 2, 3, 4, 5, 6, 7, 8}, {}, MifareFamily::Unknown});
    auto mifare = std::make_shared<const ForeignTag>(
        ForeignTag{TagKind::Mifare, {0xAB, 0xCD}, {}, {}, {}, MifareFamily::DesFire});
    auto other = std::make_shared<const ForeignTag>(ForeignTag{});
    service_.present(std::vector<FieldTag>{felica, mifare, other});
    auto session = begin();
    const auto tags = delegate_->detected();
    ASSERT_EQ(tags.size(), 3u);
    EXPECT_EQ(tags[0]->kind(), TagKind::FeliCa);
    EXPECT_EQ(asFeliCaTag(tags[0])->currentSystemCode(), (Bytes{0x12, 0xFC}));
    EXPECT_FALSE(asIso15693Tag(tags[0]));
    EXPECT_EQ(asMifareTag(tags[1])->mifareFamily(), MifareFamily::DesFire);
    EXPECT_EQ(tags[2]->kind(), TagKind::Other);

    Outcome outcome;
    session->connect(tags[0], [&](std::optional<NfcError> error) {
        outcome = Outcome{true, true, error, {}};
    });
    service_.waitIdle();
    EXPECT_TRUE(outcome.called);
    EXPECT_FALSE(outcome.error);
    EXPECT_THROW(service_.present(std::make_shared<const ForeignTag>(ForeignTag{.kind = TagKind::Iso15693})),
                 std::invalid_argument);
}

TEST_F(SimulatedTagReader, ConnectFailsForInjectedErrorsAndForeignOrRemovedTags) {
    const auto tag = makeTag();
    service_.present(tag);
    auto session = begin();
    const auto handle = delegate_->detected().at(0);

    std::vector<std::optional<NfcError>> results;
    const auto connect = [&](const std::shared_ptr<NfcTag>& target) {
        session->connect(target, [&](std::optional<NfcError> error) { results.push_back(error); });
        service_.waitIdle();
    };
    service_.failNextConnect(NfcError{NfcError::kTagResponseError, "Tag response error"});
    connect(handle);
    connect(handle);
    // A handle from another session is not this session's to connect.
    auto otherDelegate = std::make_shared<RecordingDelegate>(service_.queue());
    auto otherSession = service_.makeSession(PollingOptions{.iso15693 = true}, otherDelegate);
    otherSession->begin();
    service_.waitIdle();
    connect(otherDelegate->detected().at(0));
    service_.remove(tag);
    connect(handle);

    ASSERT_EQ(results.size(), 4u);
    EXPECT_EQ(results[0]->code, NfcError::kTagResponseError);
    EXPECT_FALSE(results[1]);
    EXPECT_EQ(results[2]->code, NfcError::kInvalidParameter);
    EXPECT_EQ(results[3]->code, NfcError::kTagConnectionLost);
}

TEST_F(SimulatedTagReader, OperationsNeedAConnection) {
    const auto tag = makeTag();
    service_.present(tag);
    begin();
    const auto handle = asIso15693Tag(delegate_->detected().at(0));
    EXPECT_EQ(read(*handle, 0, 1).error->code, NfcError::kTagNotConnected);
}

TEST_F(SimulatedTagReader, UserClosingTheSheetEndsTheSessionAndDropsPendingOperations) {
    const auto tag = makeTag();
    const auto handle = connected(tag);
    session_->setAlertMessage("Please keep the NFC reader close to the NFC antenna area.");
    tag->injectFault(TagOperationKind::Write, TagAnswer::NoAnswer);
    EXPECT_FALSE(write(*handle, 0, Bytes{1, 2, 3, 4}).called);

    EXPECT_TRUE(service_.closeSheet());
    service_.waitIdle();
    EXPECT_EQ(delegate_->events().back(), "invalidated 200");
    const auto ending = service_.currentSession()->ending();
    ASSERT_TRUE(ending);
    EXPECT_EQ(ending->reason, SheetEnding::Reason::ClosedByUser);
    EXPECT_EQ(ending->message, "Please keep the NFC reader close to the NFC antenna area.");
    EXPECT_FALSE(service_.closeSheet());

    tag->clearFaults();
    EXPECT_EQ(read(*handle, 0, 1).error->code, NfcError::kSessionInvalidated);
    session_->invalidate(); // too late: nothing more is reported
    service_.remove(tag);   // the dropped write stays unanswered
    service_.waitIdle();
    const auto events = delegate_->events();
    EXPECT_EQ(std::count(events.begin(), events.end(), "invalidated 200"), 1);
}

TEST_F(SimulatedTagReader, SheetShowsTheAlertOnSuccessAndTheErrorMessageOnFailure) {
    auto success = begin();
    success->setAlertMessage("Read Completed");
    success->invalidate();
    auto failure = service_.makeSession(PollingOptions{.iso15693 = true}, delegate_);
    failure->begin();
    failure->invalidate("Read failed");
    service_.waitIdle();
    EXPECT_EQ(std::static_pointer_cast<SimulatedTagReaderSession>(success)->ending()->reason,
              SheetEnding::Reason::Success);
    EXPECT_EQ(std::static_pointer_cast<SimulatedTagReaderSession>(success)->ending()->message,
              "Read Completed");
    const auto failed = service_.currentSession()->ending();
    EXPECT_EQ(failed->reason, SheetEnding::Reason::ErrorMessage);
    EXPECT_EQ(failed->message, "Read failed");

    EXPECT_TRUE(service_.makeSession(PollingOptions{.iso15693 = true}, delegate_));
    EXPECT_TRUE(service_.endSession(NfcError{NfcError::kTagConnectionLost, "Tag connection lost"}));
    service_.waitIdle();
    EXPECT_EQ(delegate_->events().back(), "invalidated 100");
}

TEST_F(SimulatedTagReader, NoReaderNoSession) {
    service_.setReadingAvailable(false);
    EXPECT_FALSE(service_.readingAvailable());
    EXPECT_FALSE(service_.makeSession(PollingOptions{.iso15693 = true}, delegate_));
}

TEST(SimulatedTagReaderLifetime, DelegateAndServiceMayGoFirst) {
    auto session = std::shared_ptr<TagReaderSession>();
    std::shared_ptr<Iso15693Tag> handle;
    {
        SimulatedTagReaderService service;
        auto delegate = std::make_shared<RecordingDelegate>(service.queue());
        service.present(makeTag());
        session = service.makeSession(PollingOptions{.iso15693 = true}, delegate);
        session->begin();
        service.waitIdle();
        handle = asIso15693Tag(delegate->detected().at(0));
        delegate.reset(); // events for a delegate that is gone are dropped
        session->invalidate();
        service.waitIdle();
    }
    // The service is gone: the session and its tags answer nothing, and nothing breaks.
    bool called = false;
    handle->readMultipleBlocks(0x22, BlockRange{0, 1},
                               [&](std::vector<Bytes>, std::optional<NfcError>) { called = true; });
    session->begin();
    session->invalidate("late");
    EXPECT_FALSE(called);
}

} // namespace
} // namespace wynfc
