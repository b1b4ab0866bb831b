#pragma once

// Helpers of the Bluetooth transport tests: timings, a log a test can wait on, receivers
// that record what they are given, and a bench that connects a BleReader to a simulated
// Bluetooth NFC reader on a simulated radio.

#include "platform/console_log.h"
#include "platform/sim/event_loop.h"
#include "platform/sim/feig_frame.h"
#include "platform/sim/simulated_feig_reader.h"
#include "platform/sim/simulated_radio.h"
#include "platform/sim/virtual_tag.h"
#include "platform/timing.h"
#include "readers/ble_reader.h"
#include "readers/bluetooth_manager.h"
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

// Only a failing test waits this long.
inline constexpr std::chrono::seconds kWaitLimit{5};

// Sound exchanges never wait for the countdown, so a long tick costs nothing and keeps slow
// (sanitized, loaded) runs from timing out by accident.
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

// Collects the log lines written while it lives; a test may wait for one.
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

    std::vector<std::string> lines() const {
        std::lock_guard lock(mMutex);
        return mLines;
    }
    int count(const std::string& text) const {
        std::lock_guard lock(mMutex);
        return countLocked(text);
    }
    // Lines containing any of the texts, in the order logged, as the text each contained.
    std::vector<std::string> sequence(const std::vector<std::string>& texts) const {
        std::vector<std::string> found;
        for (const std::string& line : lines()) {
            for (const std::string& text : texts) {
                if (line.find(text) != std::string::npos) {
                    found.push_back(text);
                    break;
                }
            }
        }
        return found;
    }
    bool waitFor(const std::string& text, int times = 1) const {
        std::unique_lock lock(mMutex);
        return mChanged.wait_for(lock, kWaitLimit, [&] { return countLocked(text) >= times; });
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

// Records what a receiver is given, and fails the test when it is called off the main queue.
template <typename T> class Recorded {
public:
    explicit Recorded(MainQueue& mainQueue) : mQueue(mainQueue) {}

    std::vector<T> items() const {
        std::lock_guard lock(mMutex);
        return mItems;
    }
    bool waitForCount(std::size_t count) const {
        std::unique_lock lock(mMutex);
        return mChanged.wait_for(lock, kWaitLimit, [&] { return mItems.size() >= count; });
    }

protected:
    void record(T item) {
        EXPECT_TRUE(mQueue.isMainThread());
        std::lock_guard lock(mMutex);
        mItems.push_back(std::move(item));
        mChanged.notify_all();
    }

private:
    MainQueue& mQueue;
    mutable std::mutex mMutex;
    mutable std::condition_variable mChanged;
    std::vector<T> mItems;
};

class StatusRecorder final : public BleStatusDelegateProtocol, public Recorded<BLEStatusEnum> {
public:
    using Recorded::Recorded;
    void onBleStatus(BLEStatusEnum status) override { record(status); }
};

class ScanRecorder final : public BleScanDelegate, public Recorded<std::shared_ptr<Peripheral>> {
public:
    using Recorded::Recorded;
    void addDiscoveredPeripheral(const std::shared_ptr<Peripheral>& peripheral) override {
        record(peripheral);
    }
};

// A data receiver that records notifications and discoveries alike, as texts.
class DataRecorder final : public BleDataCallbackDegelate, public Recorded<std::string> {
public:
    using Recorded::Recorded;
    void onDataReceived(const Bytes& bytes) override { record("data " + toHex(bytes)); }
    void onPeripheralDiscovered(const std::shared_ptr<Peripheral>& peripheral) override {
        record("discovered " + peripheral->identifier());
    }
};

inline std::shared_ptr<VirtualTag> sampleTag(const std::string& sample = "basic") {
    return VirtualTag::load(std::string(WYNFC_RESOURCES_DIR) + "/samples/" + sample + ".json");
}

// A BleReader and a simulated reader, in range on a powered radio. Members go in reverse:
// the BleReader (and its central) first, the main queue last.
struct ReaderBench {
    explicit ReaderBench(Timing timing = patientTiming(), FeigReaderIdentity identity = {})
        : feig(std::make_shared<SimulatedFeigReader>(timing, std::move(identity))),
          reader(std::make_unique<BleReader>(radio.centralFactory(loop), loop, timing)) {
        radio.addDevice(feig);
    }

    BluetoothManager& manager() { return reader->bluetoothManager(); }

    // Binds the reader, waits for the scan to list the simulated reader and connects to it,
    // with notifications on.
    void connect() {
        reader->startScan({}, false);
        loop.waitIdle();
        const auto found = manager().discoveredPeripherals.get();
        ASSERT_EQ(found.size(), 1u);
        manager().connect(found.front());
        loop.waitIdle();
        ASSERT_TRUE(manager().isConnected.get());
        ASSERT_TRUE(manager().hasTransferCharacteristic());
    }

    // Puts the tag in the field and runs the inventory.
    void presentTag(const std::shared_ptr<VirtualTag>& presented) {
        feig->putTag(presented);
        ASSERT_TRUE(reader->readByName(kScanNfc).isOk());
    }

    // Runs the job on a worker, as the work page's threads do, so the test can act meanwhile.
    template <typename Job> auto onWorker(Job job) { return std::async(std::launch::async, std::move(job)); }

    // Waits for the request number `count` to reach the simulated reader.
    void waitForRequest(std::size_t count) { ASSERT_TRUE(feig->waitForRequests(count, kWaitLimit)); }

    EventLoop loop;
    SimulatedRadio radio;
    std::shared_ptr<SimulatedFeigReader> feig;
    std::unique_ptr<BleReader> reader;
};

// A read-blocks answer: DB-N, DB-SIZE, then per block a status byte and the block reversed.
inline Bytes readAnswerData(const std::vector<Bytes>& blocks, std::uint8_t declaredBlocks) {
    Bytes data{declaredBlocks, static_cast<std::uint8_t>(blocks.empty() ? 4 : blocks.front().size())};
    for (const Bytes& block : blocks) {
        data.push_back(0x00);
        data.insert(data.end(), block.rbegin(), block.rend());
    }
    return data;
}

inline Bytes okAnswer(const Bytes& data) {
    return feig::responseFrame(feig::kIsoHostCommand, feig::kStatusOk, data);
}

} // namespace wynfc::ble_test
