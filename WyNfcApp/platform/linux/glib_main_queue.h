#pragma once

#include "platform/main_queue.h"

#include <memory>

namespace wynfc {

struct GLibMainQueueCore;

// The main queue over GLib's default main context: its tasks run wherever that context
// runs, among GTK's events and D-Bus callbacks. Every task is a source of one priority, so
// tasks and due timers run in the order they were posted.
//
// The main thread is the thread that made the queue, until a thread calls run(). A GTK
// host makes the queue on the thread that runs the application and calls quit() when the
// application ends; a host without GTK lets run() iterate the context (GLibMainLoopThread
// does it on a thread of its own).
//
// quit() is final: pending and later tasks are dropped, and callers waiting in sync() get
// false. The queue may be destroyed by one of its own tasks.
class GLibMainQueue final : public MainQueue {
public:
    GLibMainQueue();
    // Quits.
    ~GLibMainQueue() override;

    GLibMainQueue(const GLibMainQueue&) = delete;
    GLibMainQueue& operator=(const GLibMainQueue&) = delete;

    void async(Task task) override;
    bool sync(Task task) override;
    void after(Millis delay, Task task) override;
    bool isMainThread() const override;

    // Iterates the default main context on the calling thread, which becomes the main thread,
    // until quit(). Returns at once after quit(), and when another thread owns the context.
    void run();

    // Stops the queue, from any thread, and makes run() return. Idempotent.
    void quit();

    // Blocks until none of this queue's tasks is running or ready to run; timers due later do
    // not count. Returns at once after quit() and on the main thread (where it could only
    // deadlock).
    void waitIdle();

private:
    std::shared_ptr<GLibMainQueueCore> core_; // shared with the posted tasks, which may outlive the queue
};

} // namespace wynfc
