#include "platform/sim/simulated_tag_reader.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>

#include <algorithm>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace wynfc {
namespace {

using Events = std::vector<std::string>;

// The code an operation completed with: 0 on success, kPending while it has not completed.
constexpr int kPending = -1;

// Records the callbacks as texts; one that runs off the session queue is marked "off".
class RecordingDelegate : public TagReaderSessionDelegate {
public:
    explicit RecordingDelegate(EventLoop& queue) : queue_(queue) {}

    void tagReaderSessionDidBecomeActive(const std::shared_ptr<TagReaderSession>&) override {
        record("active");
    }
    void tagReaderSessionDidDetect(const std::shared_ptr<TagReaderSession>&,
                                   const std::vector<std::shared_ptr<NfcTag>>& tags) override {
        record("detected " + std::to_string(tags.size()), tags);
    }
    void tagReaderSessionDidInvalidateWithError(const std::shared_ptr<TagReaderSession>&,
                                                const NfcError& error) override {
        record("invalidated " + std::to_string(error.code));
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
    void record(const std::string& event, const std::vector<std::shared_ptr<NfcTag>>& tags = {}) {
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

std::shared_ptr<VirtualTag> makeTag(int blockCount = 256, std::uint8_t serial = 1) {
    TagImage image = TagImage::blank({serial, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0xE0}, blockCount);
    for (std::size_t i = 0; i < image.memory.size(); ++i) {
        image.memory[i] = static_cast<std::uint8_t>(i);
    }
    return std::make_shared<VirtualTag>(image);
}

class SimulatedTagReader : public ::testing::Test {
protected:
    std::shared_ptr<SimulatedTagReaderSession> begin() {
        session_ = service_.makeSession(PollingOptions{.iso15693 = true}, delegate_);
        session_->begin();
        service_.waitIdle();
        return service_.currentSession();
    }

    // Begins a session with the tag in the field and connects to it.
    std::shared_ptr<Iso15693Tag> connected(const std::shared_ptr<VirtualTag>& tag) {
        service_.present(tag);
        begin();
        EXPECT_EQ(delegate_->events(), (Events{"active", "detected 1"}));
        const auto handle = delegate_->detected().at(0);
        EXPECT_EQ(connect(handle), 0);
        return asIso15693Tag(handle);
    }

    int connect(const std::shared_ptr<NfcTag>& tag) {
        int code = kPending;
        session_->connect(tag, completion(code));
        service_.waitIdle();
        return code;
    }
    int read(Iso15693Tag& tag, int first, int count, std::vector<Bytes>* blocks = nullptr) {
        int code = kPending;
        tag.readMultipleBlocks(
            0x22, BlockRange{first, count},
            [&, done = completion(code)](std::vector<Bytes> read, std::optional<NfcError> error) {
                if (blocks != nullptr) {
                    *blocks = std::move(read);
                }
                done(error);
            });
        service_.waitIdle();
        return code;
    }
    int write(Iso15693Tag& tag, int block, Bytes data) {
        int code = kPending;
        tag.writeSingleBlock(0x22, block, std::move(data), completion(code));
        service_.waitIdle();
        return code;
    }

    // Stores the error code, checking that the completion runs on the session queue.
    TagCompletion completion(int& code) {
        return [this, &code](std::optional<NfcError> error) {
            EXPECT_TRUE(service_.queue().isMainThread());
            code = error ? error->code : 0;
        };
    }

    SimulatedTagReaderService service_;
    std::shared_ptr<RecordingDelegate> delegate_ = std::make_shared<RecordingDelegate>(service_.queue());
    std::shared_ptr<TagReaderSession> session_;
};

TEST_F(SimulatedTagReader, ReadsAndWritesBlocksOfTheConnectedTagOnTheSessionQueue) {
    const auto tag = makeTag();
    const auto handle = connected(tag);
    EXPECT_EQ(handle->identifier(), tag->uid());
    EXPECT_EQ(handle->icManufacturerCode(), 0x07);
    EXPECT_EQ(handle->icSerialNumber(), (Bytes{0x01, 0x02, 0x03, 0x04, 0x05, 0x06}));

    std::vector<Bytes> blocks;
    EXPECT_EQ(read(*handle, 2, 3, &blocks), 0);
    EXPECT_EQ(blocks, (std::vector<Bytes>{{8, 9, 10, 11}, {12, 13, 14, 15}, {16, 17, 18, 19}}));
    EXPECT_EQ(write(*handle, 255, Bytes{0xAA, 0x55, 0x5A, 0xA5}), 0);
    EXPECT_EQ(tag->blockBytes(255, 1), (Bytes{0xAA, 0x55, 0x5A, 0xA5}));
    const auto operations = service_.currentSession()->operations();
    ASSERT_EQ(operations.size(), 3u);
    EXPECT_EQ(operations[1].kind, SessionOperation::Kind::ReadBlocks);
    EXPECT_EQ(operations[1].flags, 0x22);
    EXPECT_EQ(operations[2].firstBlock, 255);

    // Completions are posted even when the caller is on the session queue itself.
    int code = kPending;
    service_.queue().sync([&] {
        handle->writeSingleBlock(0x22, 0, Bytes{1, 2, 3, 4}, completion(code));
        EXPECT_EQ(code, kPending);
    });
    service_.waitIdle();
    EXPECT_EQ(code, 0);
}

TEST_F(SimulatedTagReader, WithTheLinkModelAnswersTakeTheirAirTimeAndAreAccounted) {
    const auto tag = makeTag();
    const auto handle = connected(tag);
    LinkModel model;
    model.kind = LinkModelKind::Nfc;
    model.rf.blockProgramming = Millis{20};
    const auto account = std::make_shared<LinkAccount>();
    service_.setLinkModel(model, account);

    // Answered on the session queue once their air time has passed (waitIdle does not wait
    // for answers due later).
    std::promise<std::optional<NfcError>> written;
    auto start = std::chrono::steady_clock::now();
    handle->writeSingleBlock(0x22, 3, Bytes{1, 2, 3, 4},
                             [&](std::optional<NfcError> error) { written.set_value(error); });
    auto writeDone = written.get_future();
    ASSERT_EQ(writeDone.wait_for(std::chrono::seconds{5}), std::future_status::ready);
    EXPECT_EQ(writeDone.get(), std::nullopt);
    const Micros writeTime = model.rf.exchange(9, 3, true);
    EXPECT_GE(std::chrono::steady_clock::now() - start, writeTime);
    EXPECT_EQ(tag->blockBytes(3, 1), (Bytes{1, 2, 3, 4}));

    std::promise<std::vector<Bytes>> read;
    start = std::chrono::steady_clock::now();
    handle->readMultipleBlocks(
        0x22, BlockRange{2, 2},
        [&](std::vector<Bytes> blocks, std::optional<NfcError>) { read.set_value(std::move(blocks)); });
    auto readDone = read.get_future();
    ASSERT_EQ(readDone.wait_for(std::chrono::seconds{5}), std::future_status::ready);
    EXPECT_EQ(readDone.get().size(), 2U);
    const Micros readTime = model.rf.exchange(6, 11);
    EXPECT_GE(std::chrono::steady_clock::now() - start, readTime);
    EXPECT_EQ(account->totals().exchanges, 2U);
    EXPECT_EQ(account->totals().linkTime, writeTime + readTime);

    // A planned late answer comes on top of the air time; a failure is not accounted.
    service_.delayNextAnswer(Millis{30});
    start = std::chrono::steady_clock::now();
    std::promise<void> late;
    handle->readMultipleBlocks(0x22, BlockRange{0, 1},
                               [&](std::vector<Bytes>, std::optional<NfcError>) { late.set_value(); });
    ASSERT_EQ(late.get_future().wait_for(std::chrono::seconds{5}), std::future_status::ready);
    EXPECT_GE(std::chrono::steady_clock::now() - start, Millis{30} + model.rf.exchange(5, 7));
    EXPECT_EQ(write(*handle, 300, Bytes{1, 2, 3, 4}), NfcError::kInvalidParameter);
    EXPECT_EQ(account->totals().exchanges, 3U);
}

TEST_F(SimulatedTagReader, TagErrorsAndTheEightBitBlockNumber) {
    const auto tag = makeTag(300); // large enough that a wrapped block number would land somewhere
    const auto handle = connected(tag);
    const Bytes before = tag->memory();
    EXPECT_EQ(write(*handle, 256, Bytes{1, 2, 3, 4}), NfcError::kInvalidParameter);
    EXPECT_EQ(write(*handle, -1, Bytes{1, 2, 3, 4}), NfcError::kInvalidParameter);
    EXPECT_EQ(write(*handle, 1, Bytes{1, 2, 3}), NfcError::kInvalidParameter);
    tag->protectBlock(7);
    EXPECT_EQ(write(*handle, 7, Bytes{1, 2, 3, 4}), NfcError::kTagResponseError);
    EXPECT_EQ(tag->memory(), before);

    std::vector<Bytes> blocks{{0}};
    EXPECT_EQ(read(*handle, 299, 2, &blocks), NfcError::kTagResponseError);
    EXPECT_TRUE(blocks.empty());
    // A fault applies to operations touching its block, as often as given.
    tag->injectFault(TagOperationKind::Read, TagAnswer::Failed, 5, 1);
    EXPECT_EQ(read(*handle, 0, 5), 0);
    EXPECT_EQ(read(*handle, 4, 2), NfcError::kTagResponseError);
    EXPECT_EQ(read(*handle, 4, 2), 0);
}

TEST_F(SimulatedTagReader, ATagRemovedOrLeavingMidJobFailsWithConnectionLost) {
    const auto tag = makeTag();
    const auto handle = connected(tag);
    tag->injectFault(TagOperationKind::Write, TagAnswer::NoAnswer);
    int pending = kPending;
    handle->writeSingleBlock(0x22, 0, Bytes{1, 2, 3, 4}, completion(pending));
    service_.waitIdle();
    EXPECT_EQ(pending, kPending);
    service_.remove(tag);
    service_.waitIdle();
    EXPECT_EQ(pending, NfcError::kTagConnectionLost);
    EXPECT_EQ(read(*handle, 0, 1), NfcError::kTagConnectionLost);
    EXPECT_TRUE(service_.currentSession()->isActive());

    // Presented again, it is found by a restarted poll; then it leaves after one operation.
    tag->clearFaults();
    service_.present(tag);
    session_->restartPolling();
    service_.waitIdle();
    EXPECT_EQ(delegate_->events().back(), "detected 1");
    const auto again = delegate_->detected().at(0);
    ASSERT_EQ(connect(again), 0);
    tag->leaveFieldAfter(1);
    EXPECT_EQ(read(*asIso15693Tag(again), 0, 1), 0);
    EXPECT_TRUE(service_.tagsInField().empty());
    EXPECT_EQ(read(*asIso15693Tag(again), 0, 1), NfcError::kTagConnectionLost);
}

TEST_F(SimulatedTagReader, TagsTogetherOfEveryKindAndPollingThatPausesUntilRestarted) {
    std::vector<FieldTag> tags{makeTag(256, 1), makeTag(256, 2)};
    for (const TagKind kind : {TagKind::FeliCa, TagKind::Iso7816, TagKind::Mifare, TagKind::Other}) {
        tags.emplace_back(std::make_shared<const ForeignTag>(ForeignTag{.kind = kind}));
    }
    service_.present(tags);
    begin();
    EXPECT_EQ(delegate_->events(), (Events{"active", "detected 6"}));
    const auto detected = delegate_->detected();
    ASSERT_EQ(detected.size(), 6u);
    EXPECT_TRUE(asIso15693Tag(detected[1]) && !asIso15693Tag(detected[2]) && asFeliCaTag(detected[2]) &&
                asIso7816Tag(detected[3]) && asMifareTag(detected[4]));
    EXPECT_EQ(detected[5]->kind(), TagKind::Other);
    EXPECT_EQ(connect(detected[2]), 0);

    // Not polling after a report: a new tag is not reported until polling restarts.
    service_.removeAll();
    service_.present(makeTag(256, 3));
    service_.waitIdle();
    EXPECT_EQ(delegate_->events().size(), 2u);
    session_->restartPolling();
    service_.waitIdle();
    EXPECT_EQ(delegate_->events().back(), "detected 1");

    // Ended sessions do not poll again.
    session_->invalidate("More than 1 tags was found. Please present only 1 tag.");
    session_->restartPolling();
    service_.waitIdle();
    EXPECT_EQ(delegate_->events().back(), "invalidated 200");
    EXPECT_FALSE(service_.currentSession()->isPolling());
}

TEST_F(SimulatedTagReader, OperationsNeedAConnectionAndConnectCanFail) {
    const auto tag = makeTag();
    service_.present(tag);
    begin();
    const auto handle = delegate_->detected().at(0);
    EXPECT_EQ(read(*asIso15693Tag(handle), 0, 1), NfcError::kTagNotConnected);

    service_.failNextConnect(NfcError{NfcError::kTagResponseError, "Tag response error"});
    EXPECT_EQ(connect(handle), NfcError::kTagResponseError);
    EXPECT_EQ(connect(handle), 0);
    // A handle from another session is not this session's to connect.
    auto otherDelegate = std::make_shared<RecordingDelegate>(service_.queue());
    service_.makeSession(PollingOptions{.iso15693 = true}, otherDelegate)->begin();
    service_.waitIdle();
    EXPECT_EQ(connect(otherDelegate->detected().at(0)), NfcError::kInvalidParameter);
    service_.remove(tag);
    EXPECT_EQ(connect(handle), NfcError::kTagConnectionLost);
}

TEST_F(SimulatedTagReader, UserClosingTheSheetEndsTheSessionAndDropsPendingOperations) {
    const auto tag = makeTag();
    const auto handle = connected(tag);
    session_->setAlertMessage("Please keep the NFC reader close to the NFC antenna area.");
    tag->injectFault(TagOperationKind::Write, TagAnswer::NoAnswer);
    int dropped = kPending;
    handle->writeSingleBlock(0x22, 0, Bytes{1, 2, 3, 4}, completion(dropped));

    EXPECT_TRUE(service_.closeSheet());
    service_.waitIdle();
    EXPECT_EQ(delegate_->events().back(), "invalidated 200");
    const auto ending = service_.currentSession()->ending();
    ASSERT_TRUE(ending);
    EXPECT_EQ(ending->reason, SheetEnding::Reason::ClosedByUser);
    EXPECT_EQ(ending->message, "Please keep the NFC reader close to the NFC antenna area.");
    EXPECT_FALSE(service_.closeSheet());

    tag->clearFaults();
    EXPECT_EQ(read(*handle, 0, 1), NfcError::kSessionInvalidated);
    session_->invalidate(); // too late: nothing more is reported
    service_.remove(tag);   // the dropped write stays unanswered
    service_.waitIdle();
    EXPECT_EQ(dropped, kPending);
    const auto events = delegate_->events();
    EXPECT_EQ(std::count(events.begin(), events.end(), "invalidated 200"), 1);
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
