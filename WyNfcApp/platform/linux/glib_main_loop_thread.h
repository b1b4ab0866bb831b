#pragma once

#include "platform/linux/glib_main_queue.h"

#include <memory>
#include <thread>

namespace wynfc {

// Runs the GLib main loop on a thread of its own, for a host whose own thread drives the
// work as a worker would (the command line). The thread owns the default main context
// until the loop is quit.
class GLibMainLoopThread {
public:
    // Returns once the loop runs on its thread. Throws std::runtime_error when another thread
    // runs the default main context.
    GLibMainLoopThread();
    // Quits the loop and joins its thread.
    ~GLibMainLoopThread();

    GLibMainLoopThread(const GLibMainLoopThread&) = delete;
    GLibMainLoopThread& operator=(const GLibMainLoopThread&) = delete;

    const std::shared_ptr<GLibMainQueue>& queue() const { return queue_; }

private:
    std::shared_ptr<GLibMainQueue> queue_;
    std::thread thread_;
};

} // namespace wynfc
