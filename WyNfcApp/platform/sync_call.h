#pragma once

#include "platform/main_queue.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <utility>

namespace wynfc {

// A MainQueue::sync caller's wait on another thread. handOver() wraps the task in the one to
// post; the caller then waits, and hears whether the task ran: when it has run, or when the
// queue drops it unrun (the wrapper's last copy goes), the wait ends. The task's captures are
// released before the caller returns.
class SyncCall {
public:
    explicit SyncCall(MainQueue::Task task) : mGuard(std::make_shared<Guard>()) {
        mGuard->state = mState;
        mGuard->task = std::move(task);
    }

    // The task to post; once only.
    MainQueue::Task handOver() {
        return [guard = std::exchange(mGuard, nullptr)] {
            guard->task();
            guard->ran = true;
        };
    }

    // Blocks until the posted task has run or has been dropped; true when it ran. A task
    // never handed over counts as dropped.
    bool wait() {
        mGuard.reset();
        std::unique_lock lock(mState->mutex);
        mState->finished.wait(lock, [&] { return mState->done; });
        return mState->ran;
    }

private:
    struct State {
        std::mutex mutex;
        std::condition_variable finished;
        bool done = false;
        bool ran = false;
    };
    struct Guard {
        std::shared_ptr<State> state;
        MainQueue::Task task;
        bool ran = false;

        ~Guard() {
            task = nullptr; // its captures go before the caller returns
            std::lock_guard lock(state->mutex);
            state->ran = ran;
            state->done = true;
            state->finished.notify_all();
        }
    };

    std::shared_ptr<State> mState = std::make_shared<State>();
    std::shared_ptr<Guard> mGuard;
};

} // namespace wynfc
