#include "platform/sim/event_loop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <future>
#include <memory>
#include <numeric>
#include <thread>
#include <vector>

namespace wynfc {
namespace {

using std::chrono::steady_clock;

TEST(EventLoop, RunsTasksInOrderOnItsOwnThread) {
    EventLoop loop;
    std::vector<int> order; // touched only on the loop thread
    bool allOnLoop = true;
    for (int i = 0; i < 50; ++i) {
        loop.async([&, i] {
            order.push_back(i);
            allOnLoop = allOnLoop && loop.isMainThread();
        });
    }
    std::vector<int> expected(50);
    std::iota(expected.begin(), expected.end(), 0);
    loop.sync([&] { EXPECT_EQ(order, expected); });
    EXPECT_TRUE(allOnLoop);
    EXPECT_FALSE(loop.isMainThread());
}

TEST(EventLoop, SyncWaitsFromWorkersAndRunsInlineOnTheLoop) {
    EventLoop loop;
    int counter = 0; // touched only on the loop thread
    std::vector<std::thread> workers;
    for (int w = 0; w < 4; ++w) {
        workers.emplace_back([&] {
            for (int i = 0; i < 100; ++i) {
                EXPECT_TRUE(loop.sync([&] { ++counter; }));
            }
        });
    }
    for (auto& worker : workers) {
        worker.join();
    }
    // Queued instead of run inline, a sync from the loop itself would deadlock.
    bool inlineRan = false;
    ASSERT_TRUE(loop.sync([&] {
        EXPECT_EQ(counter, 400);
        EXPECT_TRUE(loop.sync([&] { inlineRan = true; }));
        EXPECT_TRUE(inlineRan);
    }));
}

TEST(EventLoop, AStoppedLoopRunsNothingMore) {
    auto loop = std::make_unique<EventLoop>();
    std::atomic<int> ran{0};
    loop->async([&] {
        loop->stop(); // from inside a task: the rest is dropped
        ++ran;
    });
    loop->async([&] { ++ran; });
    loop->waitIdle();
    EXPECT_FALSE(loop->sync([&] { ++ran; }));
    loop->async([&] { ++ran; });
    loop->after(Millis{0}, [&] { ++ran; });
    loop->waitIdle();
    loop.reset();
    EXPECT_EQ(ran, 1);
}

TEST(EventLoop, StopWhileACallerWaitsReleasesItWithFalse) {
    EventLoop loop;
    std::promise<void> blockerStarted;
    std::promise<void> releaseBlocker;
    loop.async([&, release = releaseBlocker.get_future().share()] {
        blockerStarted.set_value();
        release.wait();
    });
    blockerStarted.get_future().wait();

    std::atomic<bool> queuedRan{false};
    auto waiter = std::async(std::launch::async, [&] { return loop.sync([&] { queuedRan = true; }); });
    std::thread stopper([&] { loop.stop(); }); // joins, so it waits for the blocker
    // The waiter wakes once its task is dropped, while the blocker still runs.
    EXPECT_FALSE(waiter.get());
    releaseBlocker.set_value();
    stopper.join();
    EXPECT_FALSE(queuedRan);
}

TEST(EventLoop, TimersRunByDeadlineThenPostingOrderAndNotEarly) {
    EventLoop loop;
    std::vector<int> order; // touched only on the loop thread
    std::promise<steady_clock::time_point> lastRan;
    const auto start = steady_clock::now();
    loop.after(Millis{30}, [&] {
        order.push_back(3);
        lastRan.set_value(steady_clock::now());
    });
    loop.after(Millis{10}, [&] { order.push_back(1); });
    loop.after(Millis{10}, [&] { order.push_back(2); });
    loop.after(Millis{-5}, [&] { order.push_back(0); }); // a negative delay means now
    EXPECT_GE(lastRan.get_future().get() - start, Millis{30});
    loop.sync([&] { EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3})); });
}

TEST(EventLoop, WaitIdleIgnoresLaterTimersButWaitsForRunningWork) {
    EventLoop loop;
    std::atomic<bool> slowDone{false};
    std::atomic<bool> timerRan{false};
    loop.after(Millis::max(), [&] { timerRan = true; }); // clamped, and never due here
    loop.async([&] {
        std::this_thread::sleep_for(Millis{20});
        slowDone = true;
    });
    loop.waitIdle();
    EXPECT_TRUE(slowDone);
    EXPECT_FALSE(timerRan);
}

TEST(EventLoop, WaitAllIdleFollowsWorkBetweenLoops) {
    EventLoop first;
    EventLoop second;
    std::atomic<int> hops{0};
    std::function<void(int)> bounce = [&](int left) {
        ++hops;
        if (left > 0) {
            (left % 2 == 0 ? first : second).async([&bounce, left] { bounce(left - 1); });
        }
    };
    first.async([&] { bounce(20); });
    EventLoop::waitAllIdle({&first, &second});
    EXPECT_EQ(hops, 21);
}

// The last owner of a loop may be one of its own tasks (a reader released by its session's
// callback): the loop is then destroyed on its own thread.
TEST(EventLoop, CanBeDestroyedByItsOwnTask) {
    auto loop = std::make_shared<EventLoop>();
    EventLoop* raw = loop.get();
    std::promise<void> destroyed;
    raw->async([owner = std::move(loop), &destroyed]() mutable {
        owner.reset();
        destroyed.set_value();
    });
    EXPECT_EQ(destroyed.get_future().wait_for(std::chrono::seconds(5)), std::future_status::ready);
}

} // namespace
} // namespace wynfc
