#pragma once

#include <chrono>

namespace wynfc {

using Millis = std::chrono::milliseconds;

// Every duration of the product, in one value, so that tests can run the real state
// machines with short ticks. The defaults are the product's.
struct Timing {
    // A transport's wait for an answer: a tick every countdownTick, counting
    // countdownStart down to 1; the tick after that declares the timeout.
    Millis countdownTick{1000};
    int countdownStart = 5;

    // One turn of the work page's scan loop.
    Millis scanLoopPeriod{1000};

    // The delayed endings of jobs (popup closed, "Waiting to read..." shown again).
    Millis delayedEnding{1500};

    // The machine's Bluetooth service (BlueZ): the longest wait for the answer to one of its
    // calls, and for a connection until the device's services are known. A connection attempt
    // that the radio aborts is made bluetoothConnectAttempts times in all, a pause apart.
    Millis bluetoothCallTimeout{10000};
    Millis bluetoothConnectTimeout{30000};
    int bluetoothConnectAttempts = 3;
    Millis bluetoothConnectRetryPause{500};
    // How long a host without a device sheet (wynfc) looks for a Bluetooth reader.
    Millis bluetoothScanLimit{15000};

    // A PC/SC session's thread sleeps in the daemon's wait for reader changes; its end is asked
    // for by cancelling that wait, again every pcscCancelRetry until the thread has ended (a
    // cancel that comes just before the wait begins is lost). How long a host without a
    // sheet (wynfc) waits for a tag to be presented to a real reader.
    Millis pcscCancelRetry{50};
    Millis tagPresentLimit{30000};
    // A watch of the readers that finds the PC/SC daemon not answering (not started yet,
    // stopped, restarted) asks again after this pause, until it answers.
    Millis pcscServiceRetry{2000};

    // Longest the whole countdown can take before it declares the timeout.
    Millis countdownLimit() const { return countdownTick * (countdownStart + 1); }
};

} // namespace wynfc
