#pragma once

#include "platform/main_queue.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

namespace wynfc {

// A serial queue with its own thread: tasks run one at a time, in the order posted, on
// the thread the constructor starts. Serves as the main queue of the process and as any
// other serial queue (a tag session's callbacks, a simulated device).
//
// Timers use the steady clock. Stopping drops every pending task and timer; a caller
// waiting in sync() on a stopped loop gets false instead of waiting forever.
class EventLoop : public MainQueue {
public:
    EventLoop();
    // Stops the loop and joins its thread. From one of the loop's own tasks (the last
    // owner of something that owns the loop may be such a task), the thread is left to
    // finish that task and end by itself.
    ~EventLoop() override;

    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    void async(Task task) override;
    bool sync(Task task) override;
    void after(Millis delay, Task task) override;
    // As after, to the microsecond: what the simulation models takes a few milliseconds.
    void afterMicroseconds(std::chrono::microseconds delay, Task task);
    bool isMainThread() const override;

    // Stops taking and running tasks, drops the pending ones and, unless called from the
    // loop's own thread, waits for the task that is running to finish. Idempotent.
    void stop();

    // Blocks until no task is running and none is ready to run; timers due later do not
    // count. Returns at once on a stopped loop and on the loop's own thread (where it
    // could only deadlock).
    void waitIdle();

    // Waits until every loop is idle at the same time: tasks on one loop may post to the
    // others, so a single pass over them is not enough.
    static void waitAllIdle(std::initializer_list<EventLoop*> loops);

private:
    using Clock = std::chrono::steady_clock;
    // Everything the loop thread touches. Shared with the thread, so that a loop destroyed
    // from its own thread leaves the thread a valid state to finish with.
    struct Core;

    std::shared_ptr<Core> core_;
    std::mutex joinMutex_; // two threads may stop the loop at once
    std::thread thread_;
};

} // namespace wynfc
