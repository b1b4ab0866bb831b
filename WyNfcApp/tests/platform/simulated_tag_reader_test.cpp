#include "platform/sim/simulated_tag_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace wynfc {
namespace {

using Events = std::vector<std::string>;

// Records the callbacks as texts; one that runs off the session queue is marked "off".
class RecordingDelegate : public TagReaderSessionDelegate {
public:
    explicit RecordingDelegate(EventLoop& queue) : queue_(queue) {}

    void tagReaderSessionDidBecomeActive(const std::shared_ptr<TagReaderSession>&) override {
        record("active", {});
    }
    void tagReaderSessionDidDetect(const std::shared_ptr<TagReaderSession>&,
                                   const std::vector<std::shared_ptr<NfcTag>>& tags) override {
        record("detected " + std::to_string(tags.size()), tags);
    }
    void tagReaderSessionDidInvalidateWithError(const std::shared_ptr<TagReaderSession>&,
                                                const NfcError& error) override {
        record("invalidated " + std::to_string(error.code), {});
    }

    Events events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }
    std::vector<std::shared_ptr<NfcTag>> detected() const {
        std::lock_guard lock(mutex_);
        return detected_;
    }

private:
    void record(const std::string& event, const std::vector<std::shared_ptr<NfcTag>>& tags) {
        std::lock_guard lock(mutex_);
        events_.push_back(queue_.isMainThread() ? event : "off " + event);
        if (!tags.empty()) {
            detected_ = tags;
        }
    }

    EventLoop& queue_;
    mutable std::mutex mutex_;
    Events events_;
    std::vector<std::shared_ptr<NfcTag>> detected_;
};

// The outcome of one operation, filled on the session queue.
struct Outcome {
    bool called = false;
    std::optional<NfcError> error;
    std::vector<Bytes> blocks;
    int code() const { return error ? error->code : 0; }
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
    std::shared_ptr<TagReaderSession> begin() {
        session_ = service_.makeSession(PollingOptions{.iso15693 = true}, delegate_);
        session_->begin();
        service_.waitIdle();
        return session_;
    }

    Outcome connect(const std::shared_ptr<NfcTag>& tag) {
        Outcome outcome;
        session_->connect(tag, [&](std::optional<NfcError> error) { outcome = finished(error, {}); });
        service_.waitIdle();
        return outcome;
    }

    // Begins a session with the tag in the field and connects to it.
    std::shared_ptr<Iso15693Tag> connected(const std::shared_ptr<VirtualTag>& tag) {
        service_.present(tag);
        begin();
        const auto handle = delegate_->detected().at(0);
        EXPECT_EQ(connect(handle).code(), 0);
        return asIso15693Tag(handle);
    }

    Outcome read(Iso15693Tag& tag, int first, int count) {
        Outcome outcome;
        tag.readMultipleBlocks(0x22, BlockRange{first, count},
                               [&](std::vector<Bytes> blocks, std::optional<NfcError> error) {
                                   outcome = finished(error, std::move(blocks));
                               });
        service_.waitIdle();
        return outcome;
    }

    Outcome write(Iso15693Tag& tag, int block, Bytes data) {
        Outcome outcome;
        tag.writeSingleBlock(0x22, block, std::move(data),
                             [&](std::optional<NfcError> error) { outcome = finished(error, {}); });
        service_.waitIdle();
        return outcome;
    }

    Outcome finished(std::optional<NfcError> error, std::vector<Bytes> blocks) {
        EXPECT_TRUE(service_.queue().isMainThread()) << "completion off the session queue";
        return Outcome{true, std::move(error), std::move(blocks)};
    }

    SimulatedTagReaderService service_;
    std::shared_ptr<RecordingDelegate> delegate_ = std::make_shared<RecordingDelegate>(service_.queue());
    std::shared_ptr<TagReaderSession> session_;
};

TEST_F(SimulatedTagReader, CallbacksComeInOrderOnTheSessionQueueAndNeverInline) {
    service_.present(makeTag());
    begin();
    EXPECT_EQ(delegate_->events(), (Events{"active", "detected 1"}));

    // Completions are posted even when the caller is on the session queue itself.
    auto done = std::make_shared<bool>(false);
    bool ranInline = true;
    service_.queue().sync([&] {
        session_->connect(delegate_->detected().at(0), [done](std::optional<NfcError>) { *done = true; });
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
    EXPECT_EQ(handle->icSerialNumber(), (Bytes{0x01, 0x02, 0x03, 0x04, 0x05, 0x06}));

    const Outcome readOutcome = read(*handle, 2, 3);
    EXPECT_EQ(readOutcome.code(), 0);
    EXPECT_EQ(readOutcome.blocks, (std::vector<Bytes>{{8, 9, 10, 11}, {12, 13, 14, 15}, {16, 17, 18, 19}}));
    EXPECT_EQ(write(*handle, 255, Bytes{0xAA, 0x55, 0x5A, 0xA5}).code(), 0);
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
    const Bytes before = tag->memory();
    EXPECT_EQ(write(*handle, 256, Bytes{1, 2, 3, 4}).code(), NfcError::kInvalidParameter);
    EXPECT_EQ(write(*handle, -1, Bytes{1, 2, 3, 4}).code(), NfcError::kInvalidParameter);
    EXPECT_EQ(write(*handle, 1, Bytes{1, 2, 3}).code(), NfcError::kInvalidParameter);
    tag->protectBlock(7);
    EXPECT_EQ(write(*handle, 7, Bytes{1, 2, 3, 4}).code(), NfcError::kTagResponseError);
    EXPECT_EQ(tag->memory(), before);

    const Outcome beyond = read(*handle, 299, 2);
    EXPECT_EQ(beyond.code(), NfcError::kTagResponseError);
    EXPECT_TRUE(beyond.blocks.empty());
    tag->injectFault(TagOperationKind::Read, TagAnswer::Failed, std::nullopt, 1);
    EXPECT_EQ(read(*handle, 0, 1).code(), NfcError::kTagResponseError);
    EXPECT_EQ(read(*handle, 0, 1).code(), 0);
}

TEST_F(SimulatedTagReader, RemovingASilentTagReleasesItsPendingOperationWithConnectionLost) {
    const auto tag = makeTag();
    const auto handle = connected(tag);
    tag->injectFault(TagOperationKind::Read, TagAnswer::NoAnswer);
    Outcome pending;
    handle->readMultipleBlocks(
        0x22, BlockRange{0, 1},
        [&](std::vector<Bytes>, std::optional<NfcError> error) { pending = finished(error, {}); });
    service_.waitIdle();
    EXPECT_FALSE(pending.called);

    service_.remove(tag);
    service_.waitIdle();
    EXPECT_EQ(pending.code(), NfcError::kTagConnectionLost);
    // Later operations fail the same way; the session itself goes on.
    EXPECT_EQ(write(*handle, 0, Bytes{1, 2, 3, 4}).code(), NfcError::kTagConnectionLost);
    EXPECT_TRUE(service_.currentSession()->isActive());
}

TEST_F(SimulatedTagReader, ATagLeavingMidJobLeavesTheFieldUntilPresentedAgain) {
    const auto tag = makeTag();
    const auto handle = connected(tag);
    tag->leaveFieldAfter(1);
    EXPECT_EQ(read(*handle, 0, 1).code(), 0);
    EXPECT_TRUE(service_.tagsInField().empty());
    EXPECT_EQ(read(*handle, 0, 1).code(), NfcError::kTagConnectionLost);

    service_.present(tag);
    session_->restartPolling();
    service_.waitIdle();
    EXPECT_EQ(delegate_->events().back(), "detected 1");
}

TEST_F(SimulatedTagReader, TwoTagsTogetherAndPollingThatPausesUntilRestarted) {
    const auto second = makeTag(256, 2);
    service_.present(std::vector<FieldTag>{makeTag(256, 1), second});
    begin();
    EXPECT_EQ(delegate_->events(), (Events{"active", "detected 2"}));

    // Not polling after a report: a new tag is not reported until polling restarts.
    service_.remove(second);
    service_.present(makeTag(256, 3));
    service_.waitIdle();
    EXPECT_EQ(delegate_->events().size(), 2u);
    session_->restartPolling();
    service_.waitIdle();
    EXPECT_EQ(delegate_->events().back(), "detected 2");

    // Ended sessions do not poll again.
    session_->invalidate("More than 1 tags was found. Please present only 1 tag.");
    session_->restartPolling();
    service_.waitIdle();
    EXPECT_EQ(delegate_->events().back(), "invalidated 200");
}

TEST_F(SimulatedTagReader, TagsOfOtherKindsCanBeDetectedAndConnected) {
    service_.present(
        std::vector<FieldTag>{std::make_shared<const ForeignTag>(ForeignTag{.kind = TagKind::FeliCa}),
                              std::make_shared<const ForeignTag>(ForeignTag{.kind = TagKind::Iso7816}),
                              std::make_shared<const ForeignTag>(ForeignTag{.kind = TagKind::Mifare}),
                              std::make_shared<const ForeignTag>(ForeignTag{})});
    begin();
    const auto tags = delegate_->detected();
    ASSERT_EQ(tags.size(), 4u);
    EXPECT_TRUE(asFeliCaTag(tags[0]));
    EXPECT_TRUE(asIso7816Tag(tags[1]));
    EXPECT_TRUE(asMifareTag(tags[2]));
    EXPECT_EQ(tags[3]->kind(), TagKind::Other);
    EXPECT_FALSE(asIso15693Tag(tags[0]));
    EXPECT_EQ(connect(tags[0]).code(), 0);
    EXPECT_THROW(service_.present(std::make_shared<const ForeignTag>(ForeignTag{.kind = TagKind::Iso15693})),
                 std::invalid_argument);
}

TEST_F(SimulatedTagReader, OperationsNeedAConnectionAndConnectCanFail) {
    const auto tag = makeTag();
    service_.present(tag);
    begin();
    const auto handle = delegate_->detected().at(0);
    EXPECT_EQ(read(*asIso15693Tag(handle), 0, 1).code(), NfcError::kTagNotConnected);

    service_.failNextConnect(NfcError{NfcError::kTagResponseError, "Tag response error"});
    EXPECT_EQ(connect(handle).code(), NfcError::kTagResponseError);
    EXPECT_EQ(connect(handle).code(), 0);
    // A handle from another session is not this session's to connect.
    auto otherDelegate = std::make_shared<RecordingDelegate>(service_.queue());
    service_.makeSession(PollingOptions{.iso15693 = true}, otherDelegate)->begin();
    service_.waitIdle();
    EXPECT_EQ(connect(otherDelegate->detected().at(0)).code(), NfcError::kInvalidParameter);
    service_.remove(tag);
    EXPECT_EQ(connect(handle).code(), NfcError::kTagConnectionLost);
}

TEST_F(SimulatedTagReader, UserClosingTheSheetEndsTheSessionAndDropsPendingOperations) {
    const auto tag = makeTag();
    const auto handle = connected(tag);
    session_->setAlertMessage("Please keep the NFC reader close to the NFC antenna area.");
    tag->injectFault(TagOperationKind::Write, TagAnswer::NoAnswer);
    Outcome dropped;
    handle->writeSingleBlock(0x22, 0, Bytes{1, 2, 3, 4},
                             [&](std::optional<NfcError> error) { dropped = finished(error, {}); });

    EXPECT_TRUE(service_.closeSheet());
    service_.waitIdle();
    EXPECT_EQ(delegate_->events().back(), "invalidated 200");
    const auto ending = service_.currentSession()->ending();
    ASSERT_TRUE(ending);
    EXPECT_EQ(ending->reason, SheetEnding::Reason::ClosedByUser);
    EXPECT_EQ(ending->message, "Please keep the NFC reader close to the NFC antenna area.");
    EXPECT_FALSE(service_.closeSheet());

    tag->clearFaults();
    EXPECT_EQ(read(*handle, 0, 1).code(), NfcError::kSessionInvalidated);
    session_->invalidate(); // too late: nothing more is reported
    service_.remove(tag);   // the dropped write stays unanswered
    service_.waitIdle();
    EXPECT_FALSE(dropped.called);
    const auto events = delegate_->events();
    EXPECT_EQ(std::count(events.begin(), events.end(), "invalidated 200"), 1);
}

TEST_F(SimulatedTagReader, SheetShowsTheAlertOnSuccessAndTheErrorMessageOnFailure) {
    const auto success = std::static_pointer_cast<SimulatedTagReaderSession>(begin());
    success->setAlertMessage("Read Completed");
    success->invalidate();
    begin()->invalidate("Read failed");
    service_.waitIdle();
    EXPECT_EQ(success->ending()->reason, SheetEnding::Reason::Success);
    EXPECT_EQ(success->ending()->message, "Read Completed");
    EXPECT_EQ(service_.currentSession()->ending()->reason, SheetEnding::Reason::ErrorMessage);
    EXPECT_EQ(service_.currentSession()->ending()->message, "Read failed");

    begin();
    EXPECT_TRUE(service_.endSession(NfcError{NfcError::kTagConnectionLost, "Tag connection lost"}));
    service_.waitIdle();
    EXPECT_EQ(delegate_->events().back(), "invalidated 100");

    service_.setReadingAvailable(false);
    EXPECT_FALSE(service_.makeSession(PollingOptions{.iso15693 = true}, delegate_));
}

TEST(SimulatedTagReaderLifetime, DelegateAndServiceMayGoFirst) {
    std::shared_ptr<TagReaderSession> session;
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
