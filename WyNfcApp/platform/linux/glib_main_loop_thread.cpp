#include "platform/linux/glib_main_loop_thread.h"

#include <future>
#include <stdexcept>

namespace wynfc {

GLibMainLoopThread::GLibMainLoopThread() {
    // The queue is made on the loop thread, so that this thread is its main thread from the
    // start, and handed out by its first task, so that the loop already owns the context
    // when anyone posts. The promise is shared: set_value may still be returning after get().
    auto made = std::make_shared<std::promise<std::shared_ptr<GLibMainQueue>>>();
    thread_ = std::thread([made] {
        auto queue = std::make_shared<GLibMainQueue>();
        queue->async([made, weak = std::weak_ptr<GLibMainQueue>(queue)] { made->set_value(weak.lock()); });
        queue->run();
    });
    try {
        queue_ = made->get_future().get();
    } catch (const std::future_error&) {
        // run() returned without running a task: the queue is gone and the promise with it.
        thread_.join();
        throw std::runtime_error("another thread runs the GLib main context");
    }
}

GLibMainLoopThread::~GLibMainLoopThread() {
    queue_->quit();
    if (thread_.get_id() == std::this_thread::get_id()) {
        thread_.detach(); // destroyed by one of the loop's own tasks: the thread ends after it
    } else {
        thread_.join();
    }
}

} // namespace wynfc
