#include "cli/stop_signals.h"

#include <pthread.h>
#include <system_error>

namespace wynfc::cli {

StopSignals::StopSignals() {
    sigemptyset(&mSignals);
    sigaddset(&mSignals, SIGINT);
    sigaddset(&mSignals, SIGTERM);
    if (const int error = pthread_sigmask(SIG_BLOCK, &mSignals, nullptr); error != 0) {
        throw std::system_error(error, std::generic_category(), "cannot block SIGINT and SIGTERM");
    }
    mThread = std::thread([this] { run(); });
}

StopSignals::~StopSignals() {
    mEnding = true;
    // The signal thread's own SIGTERM wakes its wait; it is not taken as a request.
    pthread_kill(mThread.native_handle(), SIGTERM);
    mThread.join();
}

void StopSignals::run() {
    while (true) {
        int received = 0;
        if (sigwait(&mSignals, &received) != 0) {
            continue;
        }
        if (mEnding) {
            return;
        }
        if (mRequested.exchange(true)) {
            continue; // a second Ctrl-C: the stop is under way
        }
        mSignal = received;
        takeAction();
    }
}

void StopSignals::onStop(std::function<void()> action) {
    {
        std::lock_guard lock(mMutex);
        mAction = std::move(action);
    }
    if (mRequested) {
        takeAction();
    }
}

void StopSignals::takeAction() {
    std::function<void()> action;
    {
        std::lock_guard lock(mMutex);
        if (mActionTaken || !mAction) {
            return;
        }
        mActionTaken = true;
        action = mAction;
    }
    action();
}

} // namespace wynfc::cli
