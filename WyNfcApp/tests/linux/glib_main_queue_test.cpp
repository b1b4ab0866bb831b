#include "platform/linux/glib_main_loop_thread.h"
#include "platform/linux/glib_main_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <numeric>
#include <thread>
#include <vector>

namespace wynfc {
namespace {

using std::chrono::steady_clock;

TEST(GLibMainQueue, RunsTasksInPostedOrderOnTheLoopThread) {
    GLibMainLoopThread loop;
    GLibMainQueue& queue = *loop.queue();
    std::vector<int> order; // touched only on the loop thread
    bool allOnLoop = true;
    const auto record = [&](int value) {
        order.push_back(value);
        allOnLoop = allOnLoop && queue.isMainThread();
    };
    for (int i = 0; i < 50; ++i) {
        queue.async([&, i] { record(i); });
    }
    // Posted from a task that runs while others wait: after everything posted before it.
    queue.sync([&] {
        queue.async([&] {
            record(50);
            queue.async([&] { record(53); });
        });
        queue.async([&] { record(51); });
        queue.after(Millis{0}, [&] { record(52); });
    });
    queue.waitIdle();
    std::vector<int> expected(54);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_TRUE(queue.sync([&] { EXPECT_EQ(order, expected); }));
    EXPECT_TRUE(allOnLoop);
    EXPECT_FALSE(queue.isMainThread());
}

TEST(GLibMainQueue, TimersRunByDeadlineThenPostingOrderAndNotEarly) {
    GLibMainLoopThread loop;
    GLibMainQueue& queue = *loop.queue();
    std::vector<int> order; // touched only on the loop thread
    std::promise<steady_clock::time_point> lastRan;
    const auto start = steady_clock::now();
    queue.after(Millis{30}, [&] {
        order.push_back(3);
        lastRan.set_value(steady_clock::now());
    });
    queue.after(Millis{10}, [&] { order.push_back(1); });
    queue.after(Millis{10}, [&] { order.push_back(2); });
    queue.after(Millis{-5}, [&] { order.push_back(0); }); // a negative delay means now
    EXPECT_GE(lastRan.get_future().get() - start, Millis{30});
    queue.sync([&] { EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3})); });
}

TEST(GLibMainQueue, SyncWaitsFromWorkersAndRunsInlineOnTheLoop) {
    GLibMainLoopThread loop;
    GLibMainQueue& queue = *loop.queue();
    int counter = 0; // touched only on the loop thread
    std::vector<std::thread> workers;
    for (int w = 0; w < 4; ++w) {
        workers.emplace_back([&] {
            for (int i = 0; i < 100; ++i) {
                EXPECT_TRUE(queue.sync([&] { ++counter; }));
            }
        });
    }
    for (auto& worker : workers) {
        worker.join();
    }
    // Queued instead of run inline, a sync from the loop itself would deadlock.
    bool inlineRan = false;
    ASSERT_TRUE(queue.sync([&] {
        EXPECT_EQ(counter, 400);
        EXPECT_TRUE(queue.sync([&] { inlineRan = true; }));
        EXPECT_TRUE(inlineRan);
    }));
}

TEST(GLibMainQueue, QuitDropsPendingWorkAndReleasesWaitingCallersWithFalse) {
    GLibMainLoopThread loop;
    GLibMainQueue& queue = *loop.queue();
    std::promise<void> blockerStarted;
    std::promise<void> releaseBlocker;
    std::atomic<int> ran{0};
    queue.async([&, release = releaseBlocker.get_future().share()] {
        blockerStarted.set_value();
        release.wait();
        EXPECT_FALSE(queue.sync([&] { ++ran; })); // inline on the main thread, after the quit
    });
    blockerStarted.get_future().wait();
    queue.after(Millis{1}, [&] { ++ran; });
    auto waiter = std::async(std::launch::async, [&] { return queue.sync([&] { ++ran; }); });

    queue.quit();
    // The waiter wakes once its task is dropped, while the blocker still runs.
    EXPECT_FALSE(waiter.get());
    releaseBlocker.set_value();
    EXPECT_FALSE(queue.sync([&] { ++ran; }));
    queue.async([&] { ++ran; });
    queue.waitIdle(); // at once on a queue that has quit
    EXPECT_EQ(ran, 0);
}

TEST(GLibMainQueue, WaitIdleWaitsForRunningWorkAndDueTimersButNotLaterOnes) {
    GLibMainLoopThread loop;
    GLibMainQueue& queue = *loop.queue();
    std::atomic<bool> followOnRan{false};
    std::atomic<bool> dueTimerRan{false};
    std::atomic<bool> laterTimerRan{false};
    queue.after(Millis::max(), [&] { laterTimerRan = true; }); // clamped, and never due here
    queue.after(Millis{0}, [&] { dueTimerRan = true; });
    queue.async([&] {
        std::this_thread::sleep_for(Millis{5});
        queue.async([&] { followOnRan = true; });
    });
    queue.waitIdle();
    EXPECT_TRUE(dueTimerRan);
    EXPECT_TRUE(followOnRan);
    EXPECT_FALSE(laterTimerRan);
}

// The last owner of a queue may be one of its own tasks: run() then ends by itself.
TEST(GLibMainQueue, CanBeDestroyedByItsOwnTask) {
    auto queue = std::make_shared<GLibMainQueue>();
    GLibMainQueue* raw = queue.get();
    std::atomic<bool> laterRan{false};
    raw->async([owner = std::move(queue)]() mutable { owner.reset(); });
    raw->async([&] { laterRan = true; });
    raw->run(); // returns once the task has destroyed the queue
    EXPECT_FALSE(laterRan);
}

} // namespace
} // namespace wynfc
