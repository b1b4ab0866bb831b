#pragma once

#include <atomic>
#include <csignal>
#include <functional>
#include <mutex>
#include <thread>

namespace wynfc::cli {

// SIGINT and SIGTERM as a request to stop, heard by a thread of its own in sigwait: nothing
// runs in a signal handler. Make it before any other thread of the process: the signals are
// blocked in the thread that makes it, and threads made later inherit that. They stay blocked
// once it has gone (the process is ending): a signal that comes after the last check is not
// taken for the default action halfway through the summary.
class StopSignals {
public:
    StopSignals();
    ~StopSignals();

    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    bool requested() const { return mRequested.load(); }
    // The signal that asked to stop (SIGINT or SIGTERM), 0 while none has.
    int signal() const { return mSignal.load(); }
    // Called once, on the signal thread, when the first stop signal comes (at once when one
    // came already).
    void onStop(std::function<void()> action);

private:
    void run();
    void takeAction();

    sigset_t mSignals{};
    std::atomic<bool> mRequested{false};
    std::atomic<int> mSignal{0};
    std::atomic<bool> mEnding{false};
    std::mutex mMutex;
    std::function<void()> mAction;
    bool mActionTaken = false;
    std::thread mThread;
};

} // namespace wynfc::cli
