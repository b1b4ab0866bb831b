#pragma once

// A receiver of the NFC transport's events, and a tag reader scripted by the test: the
// simulated tag cannot answer after the wait gave up, nor with a short block.

#include "platform/sim/event_loop.h"
#include "platform/tag_reader_session.h"
#include "reader_test_support.h"
#include "readers/reader_contract.h"

#include <algorithm>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace wynfc::test {

// Records each event as one text: its name, " (error)" when flagged, then ": message".
class RecordingReceiver final : public ResponseToReaderDelegate {
public:
    void onReaderEvent(const std::string& name, const std::optional<std::string>& message,
                       bool isError) override {
        std::lock_guard lock(mMutex);
        mEvents.push_back(name + (isError ? " (error)" : "") + (message ? ": " + *message : ""));
    }
    std::vector<std::string> events() const {
        std::lock_guard lock(mMutex);
        return mEvents;
    }
    int count(const std::string& name) const {
        const auto all = events();
        return static_cast<int>(
            std::ranges::count_if(all, [&](const auto& event) { return event.starts_with(name); }));
    }

private:
    mutable std::mutex mMutex;
    std::vector<std::string> mEvents;
};

struct TagRequest {
    int block = 0;                                  // the first block of a read
    std::optional<Bytes> written;                   // the data of a write
    std::function<void(std::vector<Bytes>)> answer; // completes the request, without error
};

// A tag reader whose one tag answers block reads and writes only when the test does, with
// the blocks it chooses. It is its own session and its own tag; callbacks and completions
// run on its queue, as on a real reader.
class ScriptedTagReader final : public TagReaderService,
                                public TagReaderSession,
                                public Iso15693Tag,
                                public std::enable_shared_from_this<ScriptedTagReader> {
public:
    ~ScriptedTagReader() override { mQueue.stop(); }

    bool readingAvailable() const override { return true; }
    std::shared_ptr<TagReaderSession> makeSession(PollingOptions,
                                                  std::weak_ptr<TagReaderSessionDelegate> delegate) override {
        std::lock_guard lock(mMutex);
        mDelegate = std::move(delegate);
        return shared_from_this();
    }

    void setAlertMessage(const std::string&) override {}
    void begin() override {
        deliver([](auto& delegate, const auto& self) { delegate.tagReaderSessionDidBecomeActive(self); });
    }
    void restartPolling() override {}
    void connect(const std::shared_ptr<NfcTag>&, TagCompletion done) override {
        mQueue.async([done = std::move(done)] { done(std::nullopt); });
    }
    void invalidate() override { invalidate(""); }
    void invalidate(const std::string&) override {
        deliver([](auto& delegate, const auto& self) {
            delegate.tagReaderSessionDidInvalidateWithError(self, {NfcError::kUserCanceled, "ended"});
        });
    }

    Bytes identifier() const override { return {1, 2, 3, 4, 5, 6, 7, 0xE0}; }
    int icManufacturerCode() const override { return 7; }
    Bytes icSerialNumber() const override { return {1, 2, 3, 4, 5, 6}; }
    void readMultipleBlocks(RequestFlags, BlockRange range, ReadBlocksCompletion done) override {
        record(
            {range.first, std::nullopt, [done](std::vector<Bytes> blocks) { done(blocks, std::nullopt); }});
    }
    void writeSingleBlock(RequestFlags, int block, Bytes data, TagCompletion done) override {
        record({block, std::move(data), [done](std::vector<Bytes>) { done(std::nullopt); }});
    }
    void getSystemInfo(RequestFlags, SystemInfoCompletion done) override {
        done(std::nullopt, NfcError::unsupportedFeature()); // the transport never asks
    }

    void presentTag() {
        deliver([](auto& delegate, const auto& self) { delegate.tagReaderSessionDidDetect(self, {self}); });
    }
    // Waits for the index-th request (from 0) and returns a copy of it.
    TagRequest request(std::size_t index) {
        std::unique_lock lock(mMutex);
        EXPECT_TRUE(mChanged.wait_for(lock, kPatience, [&] { return mRequests.size() > index; }));
        return index < mRequests.size() ? mRequests[index] : TagRequest{};
    }
    std::size_t requestCount() const {
        std::lock_guard lock(mMutex);
        return mRequests.size();
    }
    // Completes the index-th request on the reader's queue; a read gets these blocks.
    void answer(std::size_t index, std::vector<Bytes> blocks = {}) {
        mQueue.async([answer = request(index).answer, blocks] { answer(blocks); });
    }
    void waitIdle() { mQueue.waitIdle(); }

private:
    void record(TagRequest request) {
        std::lock_guard lock(mMutex);
        mRequests.push_back(std::move(request));
        mChanged.notify_all();
    }
    template <typename Call> void deliver(Call call) {
        mQueue.async([self = shared_from_this(), call] {
            std::unique_lock lock(self->mMutex);
            const auto delegate = self->mDelegate.lock();
            lock.unlock();
            if (delegate) {
                call(*delegate, self);
            }
        });
    }

    EventLoop mQueue;
    mutable std::mutex mMutex;
    std::condition_variable mChanged;
    std::weak_ptr<TagReaderSessionDelegate> mDelegate;
    std::vector<TagRequest> mRequests;
};

} // namespace wynfc::test
