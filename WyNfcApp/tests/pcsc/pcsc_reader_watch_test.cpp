// The watch of the daemon's readers against the real daemon: it hears the daemon start, stop
// and come back with or without readers, and ends at once from any of its waits.

#include "pcsc_test_bench.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <optional>

namespace wynfc::test {
namespace {

// What the service answered at each call of the watch's function.
struct Look {
    bool running = false;
    std::vector<std::string> readers;
};

class WatchRecorder {
public:
    explicit WatchRecorder(PcscTagReaderService& service) : mService(service) {}

    std::function<void()> function() {
        return [this] {
            Look look{mService.serviceRunning(), mService.readerNames()};
            std::lock_guard lock(mMutex);
            mLooks.push_back(std::move(look));
            mChanged.notify_all();
        };
    }

    // Waits for a call after the first `after` at which the service answered so.
    bool waitFor(std::size_t after, bool running, std::size_t readers) {
        std::unique_lock lock(mMutex);
        return mChanged.wait_for(lock, kPatience, [&] {
            for (std::size_t i = after; i < mLooks.size(); ++i) {
                if (mLooks[i].running == running && mLooks[i].readers.size() == readers) {
                    return true;
                }
            }
            return false;
        });
    }
    std::size_t calls() const {
        std::lock_guard lock(mMutex);
        return mLooks.size();
    }

private:
    PcscTagReaderService& mService;
    mutable std::mutex mMutex;
    std::condition_variable mChanged;
    std::vector<Look> mLooks;
};

Timing watchTiming(Millis serviceRetry) {
    Timing timing;
    timing.pcscCancelRetry = Millis{20};
    timing.pcscServiceRetry = serviceRetry;
    return timing;
}

TEST(PcscReaderWatch, HearsTheDaemonStartStopAndComeBackWithOrWithoutReaders) {
    // No daemon yet: the first look finds none.
    PcscTagReaderService service(std::nullopt, watchTiming(Millis{30}));
    WatchRecorder recorder(service);
    auto watch = service.watchAvailability(recorder.function());
    ASSERT_NE(watch, nullptr);
    ASSERT_TRUE(recorder.waitFor(0, false, 0));

    // Counted before the daemon starts: the watch may see it before its start has returned.
    std::size_t before = recorder.calls();
    std::optional<PrivatePcscd> pcscd(std::in_place);
    ASSERT_TRUE(recorder.waitFor(before, true, 2)) << "the daemon's start is noticed";

    before = recorder.calls();
    pcscd->stop();
    ASSERT_TRUE(recorder.waitFor(before, false, 0)) << "the daemon's end wakes the watch";

    // Back without readers: running, but nothing to read with.
    pcscd.reset();
    before = recorder.calls();
    pcscd.emplace(PrivatePcscd::Readers::None);
    ASSERT_TRUE(recorder.waitFor(before, true, 0));
    EXPECT_FALSE(service.readingAvailable());

    before = recorder.calls();
    pcscd.reset();
    ASSERT_TRUE(recorder.waitFor(before, false, 0));
    before = recorder.calls();
    pcscd.emplace();
    ASSERT_TRUE(recorder.waitFor(before, true, 2));
    EXPECT_TRUE(service.readingAvailable());
}

TEST(PcscReaderWatch, ReportsOnlyTheChosenReaders) {
    PrivatePcscd pcscd;
    PcscTagReaderService second(kReaderName[1], watchTiming(Millis{30}));
    WatchRecorder recorder(second);
    auto watch = second.watchAvailability(recorder.function());
    ASSERT_TRUE(recorder.waitFor(0, true, 1));
}

// A watch must end without waiting for the daemon or for its retry period, whichever wait
// it is in, and also when it is dropped by its own function.
TEST(PcscReaderWatch, EndsAtOnceFromTheDaemonsWaitFromItsPauseAndFromItsOwnCall) {
    const Timing timing = watchTiming(Millis{3600000});
    const auto endsQuickly = [](std::unique_ptr<AvailabilityWatch> watch) {
        const auto start = std::chrono::steady_clock::now();
        watch.reset();
        return std::chrono::steady_clock::now() - start < std::chrono::seconds(2);
    };

    // Pausing: no daemon, and an hour before it would ask again.
    {
        PcscTagReaderService service(std::nullopt, timing);
        WatchRecorder recorder(service);
        auto watch = service.watchAvailability(recorder.function());
        ASSERT_TRUE(recorder.waitFor(0, false, 0));
        EXPECT_TRUE(endsQuickly(std::move(watch)));
    }

    PrivatePcscd pcscd;
    PcscTagReaderService service(std::nullopt, timing);
    // In the daemon's wait for a change of readers, which would last for ever.
    {
        WatchRecorder recorder(service);
        auto watch = service.watchAvailability(recorder.function());
        ASSERT_TRUE(recorder.waitFor(0, true, 2));
        EXPECT_TRUE(endsQuickly(std::move(watch)));
    }

    // Dropped by its own function, on its own thread.
    std::mutex mutex;
    std::condition_variable dropped;
    std::unique_ptr<AvailabilityWatch> watch;
    bool done = false;
    {
        std::lock_guard lock(mutex);
        watch = service.watchAvailability([&] {
            std::lock_guard inner(mutex);
            watch.reset();
            done = true;
            dropped.notify_all();
        });
    }
    std::unique_lock lock(mutex);
    EXPECT_TRUE(dropped.wait_for(lock, kPatience, [&] { return done; }));
}

} // namespace
} // namespace wynfc::test
