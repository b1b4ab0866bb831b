#include "cli/tag_blocks.h"

#include <functional>
#include <stdexcept>

namespace wynfc::cli {
namespace {

constexpr RequestFlags kBlockRequestFlags = kRequestFlagHighDataRate | kRequestFlagAddress;

std::string seconds(Millis duration) {
    const auto tenths = (duration.count() + 50) / 100;
    return std::to_string(tenths / 10) + (tenths % 10 != 0 ? "." + std::to_string(tenths % 10) : "") + " s";
}

} // namespace

// What the session reports, kept for the waiting thread.
class TagBlocks::Delegate final : public TagReaderSessionDelegate {
public:
    void tagReaderSessionDidBecomeActive(const std::shared_ptr<TagReaderSession>&) override {}
    void tagReaderSessionDidDetect(const std::shared_ptr<TagReaderSession>& session,
                                   const std::vector<std::shared_ptr<NfcTag>>& tags) override {
        for (const auto& tag : tags) {
            if (auto iso = asIso15693Tag(tag)) {
                std::lock_guard lock(mutex);
                if (!found) {
                    found = iso;
                    changed.notify_all();
                }
                return;
            }
        }
        session->restartPolling(); // not a driver's tag: look again
    }
    void tagReaderSessionDidInvalidateWithError(const std::shared_ptr<TagReaderSession>&,
                                                const NfcError& error) override {
        std::lock_guard lock(mutex);
        ended = error;
        changed.notify_all();
    }

    // Waits until the condition holds or the limit has passed.
    bool waitFor(Millis limit, const std::function<bool()>& condition) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, limit, condition);
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::shared_ptr<Iso15693Tag> found;
    std::optional<NfcError> ended;
};

TagBlocks::TagBlocks(TagReaderService& service, Timing timing, const std::function<void()>& present)
    : mDelegate(std::make_shared<Delegate>()), mOperationLimit(timing.countdownLimit()) {
    const Millis presentLimit = timing.tagPresentLimit;
    mSession = service.makeSession(PollingOptions{false, true, false}, mDelegate);
    if (!mSession) {
        throw std::runtime_error("the NFC reader cannot start a session");
    }
    mSession->setAlertMessage("Hold the driver's NFC antenna to the reader.");
    mSession->begin();
    if (present) {
        present();
    }
    mDelegate->waitFor(presentLimit,
                       [&] { return mDelegate->found != nullptr || mDelegate->ended.has_value(); });
    std::shared_ptr<Iso15693Tag> tag;
    std::optional<NfcError> ended;
    {
        std::lock_guard lock(mDelegate->mutex);
        tag = mDelegate->found;
        ended = mDelegate->ended;
    }
    if (ended) {
        mFinished = true;
        throw std::runtime_error("the NFC session ended before a tag was found: " + ended->description);
    }
    if (!tag) {
        finish("No tag was presented", false);
        throw std::runtime_error("no tag was presented to the NFC reader within " + seconds(presentLimit));
    }
    struct Connecting {
        bool done = false;
        std::optional<NfcError> error;
    };
    auto connecting = std::make_shared<Connecting>();
    auto delegate = mDelegate;
    mSession->connect(tag, [connecting, delegate](std::optional<NfcError> error) {
        std::lock_guard lock(delegate->mutex);
        connecting->done = true;
        connecting->error = std::move(error);
        delegate->changed.notify_all();
    });
    const bool answered = mDelegate->waitFor(mOperationLimit, [&] { return connecting->done; });
    std::optional<NfcError> error;
    {
        std::lock_guard lock(mDelegate->mutex);
        error = connecting->error;
    }
    if (!answered || error) {
        finish("Connection failed", false);
        throw std::runtime_error("could not connect to the tag" +
                                 (error ? ": " + error->description : std::string()));
    }
    mTag = tag;
    mUid = tag->identifier();
}

TagBlocks::~TagBlocks() {
    if (!mFinished && mSession) {
        mSession->invalidate("Stopped");
    }
}

void TagBlocks::finish(const std::string& message, bool success) {
    if (mFinished) {
        return;
    }
    mFinished = true;
    if (success) {
        mSession->setAlertMessage(message);
        mSession->invalidate();
    } else {
        mSession->invalidate(message);
    }
}

std::optional<int> TagBlocks::blockCount() {
    struct Answer {
        bool done = false;
        std::optional<TagSystemInfo> info;
    };
    auto answer = std::make_shared<Answer>();
    auto delegate = mDelegate;
    mTag->getSystemInfo(kBlockRequestFlags,
                        [answer, delegate](std::optional<TagSystemInfo> info, std::optional<NfcError>) {
                            std::lock_guard lock(delegate->mutex);
                            answer->done = true;
                            answer->info = info;
                            delegate->changed.notify_all();
                        });
    if (!mDelegate->waitFor(mOperationLimit, [&] { return answer->done; })) {
        return std::nullopt;
    }
    std::lock_guard lock(mDelegate->mutex);
    if (!answer->info || answer->info->blockSize != 4 || answer->info->blockCount < 1) {
        return std::nullopt;
    }
    return answer->info->blockCount;
}

BlockAccess::BlockRead TagBlocks::readBlock(int block) {
    struct Answer {
        bool done = false;
        BlockRead read;
    };
    auto answer = std::make_shared<Answer>();
    auto delegate = mDelegate;
    mTag->readMultipleBlocks(
        kBlockRequestFlags, BlockRange{block, 1},
        [answer, delegate](std::vector<Bytes> blocks, std::optional<NfcError> error) {
            std::lock_guard lock(delegate->mutex);
            answer->done = true;
            if (error) {
                answer->read.error = std::move(error);
            } else if (blocks.size() != 1) {
                answer->read.error = NfcError{NfcError::kTagResponseError, "the tag answered no block"};
            } else {
                answer->read.bytes = std::move(blocks.front());
            }
            delegate->changed.notify_all();
        });
    if (!mDelegate->waitFor(mOperationLimit, [&] { return answer->done; })) {
        return {{}, NfcError{NfcError::kTagConnectionLost, "the reader did not answer"}};
    }
    std::lock_guard lock(mDelegate->mutex);
    return answer->read;
}

std::optional<NfcError> TagBlocks::writeBlock(int block, const Bytes& bytes) {
    struct Answer {
        bool done = false;
        std::optional<NfcError> error;
    };
    auto answer = std::make_shared<Answer>();
    auto delegate = mDelegate;
    mTag->writeSingleBlock(kBlockRequestFlags, block, bytes,
                           [answer, delegate](std::optional<NfcError> error) {
                               std::lock_guard lock(delegate->mutex);
                               answer->done = true;
                               answer->error = std::move(error);
                               delegate->changed.notify_all();
                           });
    if (!mDelegate->waitFor(mOperationLimit, [&] { return answer->done; })) {
        return NfcError{NfcError::kTagConnectionLost, "the reader did not answer"};
    }
    std::lock_guard lock(mDelegate->mutex);
    return answer->error;
}

} // namespace wynfc::cli
