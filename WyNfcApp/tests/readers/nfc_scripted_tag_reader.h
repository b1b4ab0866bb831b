#pragma once

// A tag reader whose one ISO 15693 tag answers block reads and writes only when the test
// answers them, with whatever blocks the test chooses, as late as it likes. It covers what
// the simulated tag cannot do: answer after the wait gave up, or with a short block.

#include "nfc_test_support.h"
#include "platform/sim/event_loop.h"
#include "platform/tag_reader_session.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace wynfc::test {

struct TagRequest {
    enum class Kind { Read, Write };
    Kind kind = Kind::Read;
    int block = 0; // first block of a read, the block of a write
    int count = 0;
    Bytes data;
    ReadBlocksCompletion readDone;
    TagCompletion writeDone;
};

class ScriptedTagReader final : public TagReaderService {
public:
    class Session;

    class Tag final : public Iso15693Tag {
    public:
        explicit Tag(ScriptedTagReader& reader) : mReader(reader) {}
        Bytes identifier() const override { return {1, 2, 3, 4, 5, 6, 7, 0xE0}; }
        int icManufacturerCode() const override { return 7; }
        Bytes icSerialNumber() const override { return {1, 2, 3, 4, 5, 6}; }
        void readMultipleBlocks(RequestFlags, BlockRange range, ReadBlocksCompletion done) override {
            mReader.record({TagRequest::Kind::Read, range.first, range.count, {}, std::move(done), {}});
        }
        void writeSingleBlock(RequestFlags, int block, Bytes data, TagCompletion done) override {
            mReader.record({TagRequest::Kind::Write, block, 1, std::move(data), {}, std::move(done)});
        }

    private:
        ScriptedTagReader& mReader;
    };

    class Session final : public TagReaderSession, public std::enable_shared_from_this<Session> {
    public:
        Session(EventLoop& queue, std::weak_ptr<TagReaderSessionDelegate> delegate)
            : mQueue(queue), mDelegate(std::move(delegate)) {}

        void setAlertMessage(const std::string&) override {}
        void begin() override {
            deliver([](auto& delegate, const auto& self) { delegate.tagReaderSessionDidBecomeActive(self); });
        }
        void restartPolling() override {}
        void connect(const std::shared_ptr<NfcTag>&, TagCompletion done) override {
            mQueue.async([done = std::move(done)] { done(std::nullopt); });
        }
        void invalidate() override { end("success"); }
        void invalidate(const std::string& errorMessage) override { end(errorMessage); }

        void detect(std::shared_ptr<NfcTag> tag) {
            deliver(
                [tag](auto& delegate, const auto& self) { delegate.tagReaderSessionDidDetect(self, {tag}); });
        }
        std::optional<std::string> ending() const {
            std::lock_guard lock(mMutex);
            return mEnding;
        }

    private:
        void end(const std::string& message) {
            {
                std::lock_guard lock(mMutex);
                if (mEnding) {
                    return;
                }
                mEnding = message;
            }
            deliver([](auto& delegate, const auto& self) {
                delegate.tagReaderSessionDidInvalidateWithError(self,
                                                                NfcError{NfcError::kUserCanceled, "ended"});
            });
        }
        template <typename Call> void deliver(Call call) {
            mQueue.async([self = shared_from_this(), call] {
                if (auto delegate = self->mDelegate.lock()) {
                    call(*delegate, std::static_pointer_cast<TagReaderSession>(self));
                }
            });
        }

        EventLoop& mQueue;
        std::weak_ptr<TagReaderSessionDelegate> mDelegate;
        mutable std::mutex mMutex;
        std::optional<std::string> mEnding;
    };

    ~ScriptedTagReader() override { mQueue.stop(); }

    bool readingAvailable() const override { return true; }
    std::shared_ptr<TagReaderSession> makeSession(PollingOptions,
                                                  std::weak_ptr<TagReaderSessionDelegate> delegate) override {
        auto session = std::make_shared<Session>(mQueue, std::move(delegate));
        std::lock_guard lock(mMutex);
        mLastSession = session;
        return session;
    }

    // The tag enters the field of the session made last.
    void presentTag() { lastSession()->detect(mTag); }
    std::shared_ptr<Session> lastSession() const {
        std::lock_guard lock(mMutex);
        return mLastSession;
    }

    // Waits for the index-th request (from 0) and returns a copy of it.
    TagRequest waitForRequest(std::size_t index) {
        std::unique_lock lock(mMutex);
        EXPECT_TRUE(mChanged.wait_for(lock, kPatience, [&] { return mRequests.size() > index; }));
        return index < mRequests.size() ? mRequests[index] : TagRequest{};
    }
    std::size_t requestCount() const {
        std::lock_guard lock(mMutex);
        return mRequests.size();
    }

    // Answers a request on the session queue, as the platform would.
    void answerRead(std::size_t index, std::vector<Bytes> blocks) {
        auto done = waitForRequest(index).readDone;
        mQueue.async([done, blocks] { done(blocks, std::nullopt); });
    }
    void answerWrite(std::size_t index) {
        auto done = waitForRequest(index).writeDone;
        mQueue.async([done] { done(std::nullopt); });
    }
    void waitIdle() { mQueue.waitIdle(); }

private:
    void record(TagRequest request) {
        std::lock_guard lock(mMutex);
        mRequests.push_back(std::move(request));
        mChanged.notify_all();
    }

    EventLoop mQueue;
    const std::shared_ptr<Tag> mTag = std::make_shared<Tag>(*this);
    mutable std::mutex mMutex;
    std::condition_variable mChanged;
    std::vector<TagRequest> mRequests;
    std::shared_ptr<Session> mLastSession;
};

} // namespace wynfc::test
