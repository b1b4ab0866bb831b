#pragma once

#include "platform/timing.h"

#include <functional>

namespace wynfc {

// The main queue: views, page requests, script evaluation, Bluetooth callbacks and the
// delayed endings of jobs all run on it, one task at a time, in the order posted.
class MainQueue {
public:
    using Task = std::function<void()>;

    virtual ~MainQueue() = default;

    // Runs the task later on the main queue.
    virtual void async(Task task) = 0;

    // From another thread: runs the task on the main queue and waits until it has run.
    // On the main queue itself: runs it inline. Returns false, without running the task,
    // when the queue has stopped and will run nothing more.
    virtual bool sync(Task task) = 0;

    // Runs the task on the main queue once the delay has passed.
    virtual void after(Millis delay, Task task) = 0;

    // True on the thread that runs the main queue's tasks.
    virtual bool isMainThread() const = 0;
};

} // namespace wynfc
