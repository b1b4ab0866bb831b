#include "platform/sim/event_loop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace wynfc {
namespace {

using std::chrono::steady_clock;

TEST(EventLoop, RunsTasksInOrderOnItsOwnThread) {
    EventLoop loop;
    std::mutex mutex;
    std::vector<int> order;
    std::vector<bool> onLoop;
    for (int i = 0; i < 50; ++i) {
        loop.async([&, i] {
            std::lock_guard lock(mutex);
            order.push_back(i);
            onLoop.push_back(loop.isMainThread());
        });
    }
    loop.waitIdle();
    std::lock_guard lock(mutex);
    ASSERT_EQ(order.size(), 50u);
    for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
    }
    EXPECT_EQ(std::count(onLoop.begin(), onLoop.end(), false), 0);
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
    int seen = 0;
    EXPECT_TRUE(loop.sync([&] { seen = counter; }));
    EXPECT_EQ(seen, 400);

    // A sync from a task of the loop itself would deadlock if it were queued.
    bool inlineRan = false;
    bool inlineResult = false;
    ASSERT_TRUE(loop.sync([&] {
        inlineResult = loop.sync([&] { inlineRan = true; });
        EXPECT_TRUE(inlineRan); // already ran, not merely queued
    }));
    EXPECT_TRUE(inlineResult);
}

TEST(EventLoop, SyncOnAStoppedLoopReturnsFalseWithoutRunning) {
    EventLoop loop;
    loop.stop();
    bool ran = false;
    EXPECT_FALSE(loop.sync([&] { ran = true; }));
    loop.async([&] { ran = true; });
    loop.after(Millis{0}, [&] { ran = true; });
    loop.waitIdle();
    EXPECT_FALSE(ran);
}

TEST(EventLoop, StopWhileACallerWaitsReleasesItWithFalse) {
    EventLoop loop;
    std::promise<void> blockerStarted;
    std::promise<void> releaseBlocker;
    auto release = releaseBlocker.get_future().share();
    loop.async([&, release] {
        blockerStarted.set_value();
        release.wait();
    });
    blockerStarted.get_future().wait();

    // Queued behind the blocker; the loop is stopped before it can run.
    std::atomic<bool> queuedRan{false};
    auto waiter = std::async(std::launch::async, [&] { return loop.sync([&] { queuedRan = true; }); });

    std::thread stopper([&] { loop.stop(); }); // joins, so it waits for the blocker
    // The waiter must wake once the stop drops its task, even while the blocker still runs.
    EXPECT_FALSE(waiter.get());
    releaseBlocker.set_value();
    stopper.join();
    EXPECT_FALSE(queuedRan);
}

TEST(EventLoop, StopFromInsideATaskDropsTheRest) {
    auto loop = std::make_unique<EventLoop>();
    std::atomic<int> ran{0};
    loop->async([&] {
        loop->stop();
        ++ran;
    });
    loop->async([&] { ++ran; });
    loop->waitIdle();
    loop.reset();
    EXPECT_EQ(ran, 1);
}

TEST(EventLoop, TimersRunByDeadlineThenPostingOrderAndNotEarly) {
    EventLoop loop;
    std::mutex mutex;
    std::vector<int> order;
    const auto record = [&](int value) {
        std::lock_guard lock(mutex);
        order.push_back(value);
    };
    std::promise<steady_clock::time_point> lastRan;
    const auto start = steady_clock::now();
    loop.after(Millis{30}, [&] {
        record(3);
        lastRan.set_value(steady_clock::now());
    });
    loop.after(Millis{10}, [&] { record(1); });
    loop.after(Millis{10}, [&] { record(2); });
    loop.after(Millis{-5}, [&] { record(0); }); // a negative delay means now
    const auto end = lastRan.get_future().get();
    EXPECT_GE(end - start, Millis{30});
    std::lock_guard lock(mutex);
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3}));
}

TEST(EventLoop, WaitIdleIgnoresLaterTimersButWaitsForRunningWork) {
    EventLoop loop;
    std::atomic<bool> slowDone{false};
    std::atomic<bool> timerRan{false};
    loop.after(Millis::max(), [&] { timerRan = true; }); // far away: must not block waitIdle
    loop.async([&] {
        std::this_thread::sleep_for(Millis{20});
        slowDone = true;
    });
    loop.waitIdle();
    EXPECT_TRUE(slowDone);
    EXPECT_FALSE(timerRan);
    // Destruction drops the pending timer without waiting for it.
}

TEST(EventLoop, WaitAllIdleFollowsWorkBetweenLoops) {
    EventLoop first;
    EventLoop second;
    std::atomic<int> hops{0};
    std::function<void(int)> bounce = [&](int left) {
        ++hops;
        if (left == 0) {
            return;
        }
        EventLoop& next = (left % 2 == 0) ? first : second;
        next.async([&bounce, left] { bounce(left - 1); });
    };
    first.async([&] { bounce(20); });
    EventLoop::waitAllIdle({&first, &second});
    EXPECT_EQ(hops, 21);
}

// The last owner of a loop may be one of the loop's own tasks (a reader released by its
// session's callback, say): the loop is then destroyed on its own thread.
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
