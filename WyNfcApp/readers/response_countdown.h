#pragma once

#include "platform/console_log.h"
#include "platform/timing.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

namespace wynfc {

// A transport's wait for an answer. It ticks every Timing::countdownTick, logging
// "Current Countdown Number: 5", 4, 3, 2, 1; the tick after that declares the timeout
// (about six seconds with the product's timing). The waiting thread sleeps on the
// answer's condition variable, so an answer wakes it at once.
class ResponseCountdown {
public:
    enum class Outcome { Answered, TimedOut };

    ResponseCountdown(const Timing& timing, std::string logTag) : mTiming(timing), mTag(std::move(logTag)) {}

    // Waits, holding `lock` whenever it looks, until answered() is true or the countdown
    // ends. An answer that has come is always taken, even on the timeout's tick.
    template <typename Answered>
    Outcome wait(std::unique_lock<std::mutex>& lock, std::condition_variable& answer,
                 Answered answered) const {
        int countdown = mTiming.countdownStart;
        auto nextTick = std::chrono::steady_clock::now() + mTiming.countdownTick;
        while (!answer.wait_until(lock, nextTick, answered)) {
            if (countdown <= 0) {
                return Outcome::TimedOut;
            }
            logLine(mTag, "Current Countdown Number: " + std::to_string(countdown));
            --countdown;
            nextTick += mTiming.countdownTick;
        }
        return Outcome::Answered;
    }

private:
    Timing mTiming;
    std::string mTag;
};

} // namespace wynfc
