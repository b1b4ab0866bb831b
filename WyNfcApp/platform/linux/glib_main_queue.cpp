#include "platform/linux/glib_main_queue.h"

#include "platform/sync_call.h"

#include "platform/console_log.h"

#include <glib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <limits>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace wynfc {

using Clock = std::chrono::steady_clock;

namespace {

// One lock for the bookkeeping of every queue, found without reading a job. A job travels
// from the posting thread to the main thread inside GLib, under GLib's own locks, which the
// thread sanitizer does not see (GLib is not built with it): taking this lock before reading
// the job shows it that the job was written before.
std::mutex& bookkeepingMutex() {
    static std::mutex mutex;
    return mutex;
}

} // namespace

// The queue's bookkeeping: which of its sources are attached and not yet run, and whether a
// task is running. Shared with every posted task.
struct GLibMainQueueCore {
    struct Pending {
        GSource* source; // our reference, given back when the task runs or is dropped
        Clock::time_point due;
    };

    GMainContext* context = g_main_context_default();
    std::mutex& mutex = bookkeepingMutex();
    std::condition_variable changed; // a task ended, or the queue quit
    std::map<std::uint64_t, Pending> pending;
    std::uint64_t nextId = 0;
    int running = 0;
    bool quit = false;
    std::atomic<std::thread::id> mainThread{std::this_thread::get_id()};

    bool hasQuit() const {
        std::lock_guard lock(mutex);
        return quit;
    }

    bool idleLocked(Clock::time_point now) const {
        return running == 0 && std::all_of(pending.begin(), pending.end(),
                                           [&](const auto& entry) { return entry.second.due > now; });
    }
};

namespace {

constexpr const char* kLogTag = "------ GLibMainQueue ------";

// GLib runs ready sources of one priority in the order they were attached: one priority
// for every task keeps them in the order posted. The default one, as GTK's own events.
constexpr int kTaskPriority = G_PRIORITY_DEFAULT;

// What a source carries: its task, and the way back to the queue's bookkeeping.
struct Job {
    std::shared_ptr<GLibMainQueueCore> core;
    std::uint64_t id = 0;
    MainQueue::Task task;
};

gboolean runJob(gpointer data) {
    Job* job = nullptr;
    GLibMainQueueCore* core = nullptr;
    GSource* source = nullptr;
    {
        std::lock_guard lock(bookkeepingMutex());
        job = static_cast<Job*>(data);
        core = job->core.get();
        if (core->quit) {
            return G_SOURCE_REMOVE; // quitting took it off the books and drops it
        }
        const auto entry = core->pending.find(job->id);
        source = entry->second.source;
        core->pending.erase(entry);
        ++core->running;
    }
    g_source_unref(source); // the context keeps its own reference while it dispatches
    MainQueue::Task task = std::move(job->task);
    task();
    task = nullptr; // captures are released before the queue may report idle
    {
        std::lock_guard lock(core->mutex);
        --core->running;
    }
    core->changed.notify_all();
    return G_SOURCE_REMOVE;
}

void dropJob(gpointer data) {
    // GLib calls this without its context lock held, so the task's captures may post again.
    delete static_cast<Job*>(data);
}

// Without a delay the task is ready at once.
void post(const std::shared_ptr<GLibMainQueueCore>& core, MainQueue::Task task, std::optional<Millis> delay) {
    const auto now = Clock::now();
    std::unique_lock lock(core->mutex);
    if (core->quit) {
        lock.unlock();
        return; // the task is dropped here, outside the lock: its captures may post again
    }
    GSource* source = nullptr;
    Clock::time_point due = now;
    if (delay) {
        // GLib counts in unsigned milliseconds; its longest delay is "never" here.
        constexpr auto kLongest = static_cast<Millis::rep>(std::numeric_limits<guint>::max());
        const auto milliseconds = std::clamp<Millis::rep>(delay->count(), 0, kLongest);
        source = g_timeout_source_new(static_cast<guint>(milliseconds));
        due += Millis(milliseconds);
    } else {
        source = g_idle_source_new();
    }
    const std::uint64_t id = core->nextId++;
    g_source_set_priority(source, kTaskPriority);
    g_source_set_callback(source, runJob, new Job{core, id, std::move(task)}, dropJob);
    core->pending.emplace(id, GLibMainQueueCore::Pending{source, due});
    // Attached under the lock, so that the task cannot run before it is on the books.
    g_source_attach(source, core->context);
}

// The caller blocked in sync() and what it waits for. The guard belongs to the posted task,
// so it is released either after the task has run or when quitting drops the task: either
// way the caller wakes, and it never returns while the task may still run.

} // namespace

GLibMainQueue::GLibMainQueue() : core_(std::make_shared<GLibMainQueueCore>()) {}

GLibMainQueue::~GLibMainQueue() {
    quit();
}

void GLibMainQueue::async(Task task) {
    post(core_, std::move(task), std::nullopt);
}

void GLibMainQueue::after(Millis delay, Task task) {
    post(core_, std::move(task), delay);
}

bool GLibMainQueue::sync(Task task) {
    if (isMainThread()) {
        if (core_->hasQuit()) {
            return false;
        }
        task();
        return true;
    }
    SyncCall call(std::move(task));
    post(core_, call.handOver(), std::nullopt); // dropped unrun once the queue has quit
    return call.wait();
}

bool GLibMainQueue::isMainThread() const {
    return std::this_thread::get_id() == core_->mainThread.load();
}

void GLibMainQueue::run() {
    const std::shared_ptr<GLibMainQueueCore> core = core_; // a task may destroy the queue
    if (!g_main_context_acquire(core->context)) {
        logLine(kLogTag, "Another thread runs the main context: not running it here");
        return;
    }
    core->mainThread = std::this_thread::get_id();
    // quit() wakes the context after setting the flag, so a quit between the check and the
    // next poll still ends that poll at once.
    while (!core->hasQuit()) {
        g_main_context_iteration(core->context, TRUE);
    }
    g_main_context_release(core->context);
}

void GLibMainQueue::quit() {
    std::vector<GSource*> dropped;
    {
        std::lock_guard lock(core_->mutex);
        if (core_->quit) {
            return;
        }
        core_->quit = true;
        for (const auto& entry : core_->pending) {
            dropped.push_back(entry.second.source);
        }
        core_->pending.clear();
    }
    core_->changed.notify_all();
    // Outside the lock: destroying a source drops its task, which wakes a sync() caller, and
    // the task's captures may post again.
    for (GSource* source : dropped) {
        g_source_destroy(source);
        g_source_unref(source);
    }
    g_main_context_wakeup(core_->context);
}

void GLibMainQueue::waitIdle() {
    if (isMainThread()) {
        return;
    }
    std::unique_lock lock(core_->mutex);
    core_->changed.wait(lock, [&] { return core_->quit || core_->idleLocked(Clock::now()); });
}

} // namespace wynfc
