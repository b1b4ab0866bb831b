#include "platform/linux/pcsc/pcsc_reader_watch.h"

#include "platform/console_log.h"
#include "platform/linux/pcsc/pcsc_context.h"

#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace wynfc::pcsc_detail {
namespace {

constexpr const char* kLogTag = "------ PcscReaderWatch ------";

void log(const std::string& text) {
    logLine(kLogTag, text);
}

// What the watching thread and its owner share; outlives both.
struct WatchState {
    std::mutex mutex;
    std::condition_variable changed; // a stop asked for, or the thread finished
    SCARDCONTEXT context = 0;
    bool contextValid = false;
    bool stop = false;
    bool finished = false;

    bool stopping() {
        std::lock_guard lock(mutex);
        return stop;
    }
    // Sleeps for `pause` unless a stop is asked for first; true when it was.
    bool pauseUnlessStopped(Millis pause) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, pause, [&] { return stop; });
    }
    // The context the thread waits on from now on, for SCardCancel; false when a stop was
    // asked for already.
    bool useContext(const Context& used) {
        std::lock_guard lock(mutex);
        context = used.handle();
        contextValid = used.valid();
        return !stop;
    }
    void releaseContext(Context& used) {
        std::lock_guard lock(mutex);
        used.release();
        contextValid = false;
    }
};

// Lists the readers and waits for the daemon's next change to the list, over and over, until
// a stop or an error. Returns the error, or success when stopped.
LONG watchWhileAnswering(WatchState& state, const Context& context,
                         const std::optional<std::string>& readerName,
                         const std::function<void(std::optional<std::vector<std::string>>)>& look) {
    std::vector<std::string> readers;
    while (!state.stopping()) {
        if (const LONG rv = listReaders(context.handle(), readerName, readers); rv != SCARD_S_SUCCESS) {
            return rv;
        }
        look(readers);
        // The daemon marks the pseudo-reader changed when its count of readers differs from
        // the count when the wait began. A reader attached between the listing above and the
        // wait's start is therefore seen at the next change only; with USB plugging that gap
        // of microseconds does not matter.
        SCARD_READERSTATE pnp{};
        pnp.szReader = kPnpNotification;
        pnp.dwCurrentState = SCARD_STATE_UNAWARE;
        const LONG rv = SCardGetStatusChange(context.handle(), INFINITE, &pnp, 1);
        if (rv != SCARD_S_SUCCESS && rv != SCARD_E_CANCELLED && rv != SCARD_E_TIMEOUT) {
            return rv;
        }
    }
    return SCARD_S_SUCCESS;
}

void watchReaders(const std::shared_ptr<WatchState>& state, const std::optional<std::string>& readerName,
                  Millis serviceRetry, const std::function<void()>& changed) {
    // What was seen last: the readers, or nothing while the daemon does not answer.
    std::optional<std::vector<std::string>> seen;
    bool looked = false;
    const auto look = [&](std::optional<std::vector<std::string>> now) {
        if (looked && now == seen) {
            return;
        }
        if (looked && !seen) {
            log("The PC/SC service answers");
        }
        looked = true;
        seen = std::move(now);
        changed();
    };
    Context context;
    while (!state->stopping()) {
        LONG rv = context.establish();
        if (rv == SCARD_S_SUCCESS) {
            if (!state->useContext(context)) {
                break;
            }
            rv = watchWhileAnswering(*state, context, readerName, look);
            state->releaseContext(context);
            if (rv == SCARD_S_SUCCESS || state->stopping()) {
                break;
            }
            log("The PC/SC service stopped answering: " + pcscText(rv));
        }
        // The daemon may be started, or come back, at any time: it is asked again after a pause.
        // An error that leaves it answering is treated alike, so that it cannot spin.
        look(std::nullopt);
        if (state->pauseUnlessStopped(serviceRetry)) {
            break;
        }
    }
}

class ReaderListWatch final : public AvailabilityWatch {
public:
    ReaderListWatch(std::optional<std::string> readerName, Timing timing, std::function<void()> changed)
        : mCancelRetry(timing.pcscCancelRetry) {
        mThread = std::thread([state = mState, readerName = std::move(readerName),
                               retry = timing.pcscServiceRetry, changed = std::move(changed)] {
            watchReaders(state, readerName, retry, changed);
            std::lock_guard lock(state->mutex);
            state->finished = true;
            state->changed.notify_all();
        });
    }

    // The thread ends at its next turn; SCardCancel wakes it from the daemon's wait, and the
    // condition variable from its pause. A cancel that comes just before the wait begins is
    // lost, so it is repeated until the thread says it has finished. Dropped by its own thread
    // (from `changed`), the watch leaves the thread to end by itself.
    ~ReaderListWatch() override {
        std::unique_lock lock(mState->mutex);
        mState->stop = true;
        mState->changed.notify_all();
        if (mThread.get_id() == std::this_thread::get_id()) {
            mThread.detach();
            return;
        }
        while (!mState->finished) {
            if (mState->contextValid) {
                SCardCancel(mState->context);
            }
            mState->changed.wait_for(lock, mCancelRetry, [&] { return mState->finished; });
        }
        lock.unlock();
        mThread.join();
    }

private:
    const Millis mCancelRetry;
    const std::shared_ptr<WatchState> mState = std::make_shared<WatchState>();
    std::thread mThread;
};

} // namespace

std::unique_ptr<AvailabilityWatch> watchReaderList(std::optional<std::string> readerName, Timing timing,
                                                   std::function<void()> changed) {
    return std::make_unique<ReaderListWatch>(std::move(readerName), timing, std::move(changed));
}

} // namespace wynfc::pcsc_detail
