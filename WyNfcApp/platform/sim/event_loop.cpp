#include "platform/sim/event_loop.h"

#include "platform/sync_call.h"

#include <algorithm>
#include <sys/prctl.h>

namespace wynfc {

// What a caller blocked in sync() waits for. The guard is owned by the posted task, so it
// is released either after the task has run or when a stopping loop drops the task:
// either way the caller wakes, and it never returns while the task may still run.

struct EventLoop::Core {
    mutable std::mutex mutex_;
    std::condition_variable wake_;    // the loop thread: work arrived, a timer changed, stop
    std::condition_variable changed_; // waiters: a task finished, the loop stopped
    std::deque<Task> ready_;
    // Deadline, then posting order, so that equal deadlines run in the order posted.
    std::map<std::pair<Clock::time_point, std::uint64_t>, Task> timers_;
    std::uint64_t timerSequence_ = 0;
    std::uint64_t tasksRun_ = 0;
    bool running_ = false;
    bool stopped_ = false;
    std::thread::id loopThreadId_;

    void run();
    bool idleLocked(Clock::time_point now) const;
    void moveDueTimersLocked(Clock::time_point now);
};

EventLoop::EventLoop() : core_(std::make_shared<Core>()) {
    // Held until the thread id is stored: the loop thread takes the lock before running
    // anything, so no task can observe the id unset.
    std::lock_guard lock(core_->mutex_);
    thread_ = std::thread([core = core_] {
        // The simulation's timers model radio links to the microsecond; the kernel's default
        // slack would let each one fire up to 50 µs late, on every exchange of a job.
        prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
        core->run();
    });
    core_->loopThreadId_ = thread_.get_id();
}

EventLoop::~EventLoop() {
    stop();
    std::lock_guard joinLock(joinMutex_);
    if (thread_.joinable()) {
        thread_.detach(); // destroyed by one of its own tasks: the thread ends after it
    }
}

void EventLoop::async(Task task) {
    {
        std::lock_guard lock(core_->mutex_);
        if (!core_->stopped_) {
            core_->ready_.push_back(std::move(task));
            core_->wake_.notify_one();
            return;
        }
    }
    // A stopped loop drops the task; it is destroyed here, outside the lock, because its
    // captures may post again.
}

bool EventLoop::sync(Task task) {
    if (isMainThread()) {
        {
            std::lock_guard lock(core_->mutex_);
            if (core_->stopped_) {
                return false;
            }
        }
        task();
        return true;
    }
    SyncCall call(std::move(task));
    {
        std::lock_guard lock(core_->mutex_);
        if (core_->stopped_) {
            return false;
        }
        core_->ready_.push_back(call.handOver());
        core_->wake_.notify_one();
    }
    return call.wait();
}

namespace {

// Delays are clamped so that an absurd one cannot overflow the clock; a year is "never" here.
constexpr std::chrono::hours kLongestDelay{24 * 365};

} // namespace

void EventLoop::after(Millis delay, Task task) {
    // Clamped before it is counted in microseconds, where Millis::max() would overflow.
    afterMicroseconds(std::clamp(delay, Millis{0}, Millis{kLongestDelay}), std::move(task));
}

void EventLoop::afterMicroseconds(std::chrono::microseconds delay, Task task) {
    const auto deadline = Clock::now() + std::clamp(delay, std::chrono::microseconds{0},
                                                    std::chrono::microseconds{kLongestDelay});
    std::lock_guard lock(core_->mutex_);
    if (core_->stopped_) {
        return;
    }
    core_->timers_.emplace(std::make_pair(deadline, core_->timerSequence_++), std::move(task));
    core_->wake_.notify_one();
}

bool EventLoop::isMainThread() const {
    return std::this_thread::get_id() == core_->loopThreadId_;
}

void EventLoop::stop() {
    std::deque<Task> droppedTasks;
    decltype(core_->timers_) droppedTimers;
    {
        std::lock_guard lock(core_->mutex_);
        if (!core_->stopped_) {
            core_->stopped_ = true;
            droppedTasks.swap(core_->ready_);
            droppedTimers.swap(core_->timers_);
        }
    }
    core_->wake_.notify_all();
    core_->changed_.notify_all();
    // Destroyed outside the lock: dropping a sync() task wakes its caller.
    droppedTasks.clear();
    droppedTimers.clear();
    if (!isMainThread()) {
        std::lock_guard joinLock(joinMutex_);
        if (thread_.joinable()) {
            thread_.join();
        }
    }
}

void EventLoop::waitIdle() {
    if (isMainThread()) {
        return;
    }
    std::unique_lock lock(core_->mutex_);
    core_->changed_.wait(lock, [&] { return core_->stopped_ || core_->idleLocked(Clock::now()); });
}

void EventLoop::waitAllIdle(std::initializer_list<EventLoop*> loops) {
    const auto tasksRun = [&] {
        std::uint64_t total = 0;
        for (EventLoop* loop : loops) {
            std::lock_guard lock(loop->core_->mutex_);
            total += loop->core_->tasksRun_;
        }
        return total;
    };
    // Idle together means: a whole pass in which each loop was found idle and no task
    // ran anywhere, so none of them can have posted work to another.
    for (;;) {
        const std::uint64_t before = tasksRun();
        for (EventLoop* loop : loops) {
            loop->waitIdle();
        }
        if (tasksRun() == before) {
            return;
        }
    }
}

bool EventLoop::Core::idleLocked(Clock::time_point now) const {
    const bool timerDue = !timers_.empty() && timers_.begin()->first.first <= now;
    return ready_.empty() && !running_ && !timerDue;
}

void EventLoop::Core::moveDueTimersLocked(Clock::time_point now) {
    while (!timers_.empty() && timers_.begin()->first.first <= now) {
        ready_.push_back(std::move(timers_.begin()->second));
        timers_.erase(timers_.begin());
    }
}

void EventLoop::Core::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        if (stopped_) {
            return;
        }
        moveDueTimersLocked(Clock::now());
        if (!ready_.empty()) {
            Task task = std::move(ready_.front());
            ready_.pop_front();
            running_ = true;
            lock.unlock();
            task();
            task = nullptr; // captures are released before the loop reports idle
            lock.lock();
            running_ = false;
            ++tasksRun_;
            changed_.notify_all();
            continue;
        }
        if (timers_.empty()) {
            wake_.wait(lock);
        } else {
            // A copy: wait_until reads the deadline again after waking, and by then a
            // stop() may have freed the timer it came from.
            const Clock::time_point deadline = timers_.begin()->first.first;
            wake_.wait_until(lock, deadline);
        }
    }
}

} // namespace wynfc
