#pragma once

// Helpers of the Bluetooth transport tests: timings, a log a test can wait on, recording
// receivers, and a bench that connects a BleReader to a simulated Bluetooth NFC reader.

#include "platform/console_log.h"
#include "platform/sim/event_loop.h"
#include "platform/sim/feig_frame.h"
#include "platform/sim/simulated_feig_reader.h"
#include "platform/sim/simulated_radio.h"
#include "platform/sim/virtual_tag.h"
#include "readers/ble_reader.h"
#include "readers/shared_api.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <future>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

namespace wynfc::ble_test {

inline constexpr std::chrono::seconds kWaitLimit{5}; // only a failing test waits this long

// Sound exchanges never wait for the countdown: a long tick keeps slow runs from timing out.
inline Timing patientTiming() {
    Timing timing;
    timing.countdownTick = Millis{200};
    return timing;
}

// For tests that wait for the timeout: the whole countdown takes 30 ms.
inline Timing quickTiming() {
    Timing timing;
    timing.countdownTick = Millis{5};
    return timing;
}

inline void loadShippedAddressMap() {
    std::ifstream file(std::string(WYNFC_RESOURCES_DIR) + "/address_map.json");
    std::stringstream text;
    text << file.rdbuf();
    ASSERT_TRUE(sharedApi().loadAddressMapFile(text.str()));
}

inline std::shared_ptr<VirtualTag> sampleTag() {
    return VirtualTag::load(std::string(WYNFC_RESOURCES_DIR) + "/samples/basic.json");
}

// Collects the log lines written while it lives.
class LogWatch {
public:
    LogWatch() {
        mPrevious = setLogSink([this](const std::string& line) {
            std::lock_guard lock(mMutex);
            mLines.push_back(line);
            mChanged.notify_all();
        });
    }
    ~LogWatch() { setLogSink(std::move(mPrevious)); }
    LogWatch(const LogWatch&) = delete;
    LogWatch& operator=(const LogWatch&) = delete;

    int count(const std::string& text) const {
        std::lock_guard lock(mMutex);
        return countLocked(text);
    }
    // The lines that contain one of the texts, each given as that text, in the order logged.
    std::vector<std::string> sequence(const std::vector<std::string>& texts) const {
        std::lock_guard lock(mMutex);
        std::vector<std::string> found;
        for (const std::string& line : mLines) {
            const auto text = std::find_if(texts.begin(), texts.end(), [&](const std::string& t) {
                return line.find(t) != std::string::npos;
            });
            if (text != texts.end()) {
                found.push_back(*text);
            }
        }
        return found;
    }
    bool waitFor(const std::string& text) const {
        std::unique_lock lock(mMutex);
        return mChanged.wait_for(lock, kWaitLimit, [&] { return countLocked(text) > 0; });
    }

private:
    int countLocked(const std::string& text) const {
        return static_cast<int>(std::count_if(mLines.begin(), mLines.end(), [&](const std::string& line) {
            return line.find(text) != std::string::npos;
        }));
    }

    mutable std::mutex mMutex;
    mutable std::condition_variable mChanged;
    std::vector<std::string> mLines;
    LogSink mPrevious;
};

// Records statuses and discoveries; fails the test when called off the main queue.
class Receivers final : public BleStatusDelegateProtocol, public BleScanDelegate {
public:
    explicit Receivers(MainQueue& mainQueue) : mQueue(mainQueue) {}

    void onBleStatus(BLEStatusEnum status) override {
        EXPECT_TRUE(mQueue.isMainThread());
        std::lock_guard lock(mMutex);
        mStatuses.push_back(status);
    }
    void addDiscoveredPeripheral(const std::shared_ptr<Peripheral>& peripheral) override {
        EXPECT_TRUE(mQueue.isMainThread());
        std::lock_guard lock(mMutex);
        mDiscovered.push_back(peripheral);
    }
    std::vector<BLEStatusEnum> statuses() const {
        std::lock_guard lock(mMutex);
        return mStatuses;
    }
    std::vector<std::shared_ptr<Peripheral>> discovered() const {
        std::lock_guard lock(mMutex);
        return mDiscovered;
    }

private:
    MainQueue& mQueue;
    mutable std::mutex mMutex;
    std::vector<BLEStatusEnum> mStatuses;
    std::vector<std::shared_ptr<Peripheral>> mDiscovered;
};

// A BleReader, bound, and a simulated reader in range of a powered radio. The BleReader is
// created on the main queue with its receivers in place before the first state callback.
// Members go in reverse: the BleReader (and its central) first, the main queue last.
struct ReaderBench {
    explicit ReaderBench(Timing timing = patientTiming(), FeigReaderIdentity identity = {})
        : feig(std::make_shared<SimulatedFeigReader>(timing, std::move(identity))) {
        radio.addDevice(feig);
        loop.sync([&] {
            reader = std::make_unique<BleReader>(radio.centralFactory(loop), loop, timing);
            reader->bluetoothManager().setBLEStatusDelegate(receivers);
            reader->setScanDelegate(receivers);
            reader->startScan({}, false);
        });
        loop.waitIdle();
    }

    BluetoothManager& manager() { return reader->bluetoothManager(); }

    // Connects to the simulated reader the scan found, notifications on.
    void connect() {
        const auto found = manager().discoveredPeripherals.get();
        ASSERT_EQ(found.size(), 1u);
        manager().connect(found.front());
        loop.waitIdle();
        ASSERT_TRUE(manager().isConnected.get() && manager().hasTransferCharacteristic());
    }

    void presentTag(const std::shared_ptr<VirtualTag>& tag) {
        feig->putTag(tag);
        ASSERT_TRUE(reader->readByName(kScanNfc).isOk());
    }

    // Runs the job on a worker, as the work page does; the reader answers the job's first
    // request with the frame the test gives.
    template <typename Job> auto answeredBy(const Bytes& answer, Job job) {
        const std::size_t request = feig->requests().size() + 1;
        feig->planNextAnswer(FeigAnswerPlan::dropped());
        auto result = std::async(std::launch::async, std::move(job));
        EXPECT_TRUE(feig->waitForRequests(request, kWaitLimit));
        feig->sendNotification(answer);
        return result.get();
    }

    EventLoop loop;
    SimulatedRadio radio;
    std::shared_ptr<SimulatedFeigReader> feig;
    std::shared_ptr<Receivers> receivers = std::make_shared<Receivers>(loop);
    std::unique_ptr<BleReader> reader;
};

// A sound read-blocks answer: DB-N, DB-SIZE, then per block a status byte and the block
// reversed.
inline Bytes readAnswer(const std::vector<Bytes>& blocks, std::uint8_t declaredBlocks) {
    Bytes data{declaredBlocks, static_cast<std::uint8_t>(blocks.front().size())};
    for (const Bytes& block : blocks) {
        data.push_back(0x00);
        data.insert(data.end(), block.rbegin(), block.rend());
    }
    return feig::responseFrame(feig::kIsoHostCommand, feig::kStatusOk, data);
}

} // namespace wynfc::ble_test
