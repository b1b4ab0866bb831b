#pragma once

// A BleReader bound to a simulated Bluetooth NFC reader in range of a powered radio, and a
// receiver of what the Bluetooth side reports.

#include "platform/sim/event_loop.h"
#include "platform/sim/feig_frame.h"
#include "platform/sim/simulated_feig_reader.h"
#include "platform/sim/simulated_radio.h"
#include "reader_test_support.h"
#include "readers/ble_reader.h"

#include <future>
#include <memory>
#include <mutex>
#include <vector>

namespace wynfc::test {

// Records statuses and discoveries; fails the test when called off the main queue.
class Receivers final : public BleStatusDelegateProtocol, public BleScanDelegate {
public:
    explicit Receivers(MainQueue& mainQueue) : mQueue(mainQueue) {}

    void onBleStatus(BLEStatusEnum status) override { add(mStatuses, status); }
    void addDiscoveredPeripheral(const std::shared_ptr<Peripheral>& peripheral) override {
        add(mDiscovered, peripheral);
    }
    std::vector<BLEStatusEnum> statuses() const { return copy(mStatuses); }
    std::vector<std::shared_ptr<Peripheral>> discovered() const { return copy(mDiscovered); }

private:
    template <typename T> void add(std::vector<T>& list, T item) {
        EXPECT_TRUE(mQueue.isMainThread());
        std::lock_guard lock(mMutex);
        list.push_back(std::move(item));
    }
    template <typename T> std::vector<T> copy(const std::vector<T>& list) const {
        std::lock_guard lock(mMutex);
        return list;
    }

    MainQueue& mQueue;
    mutable std::mutex mMutex;
    std::vector<BLEStatusEnum> mStatuses;
    std::vector<std::shared_ptr<Peripheral>> mDiscovered;
};

// The BleReader is made on the main queue with its receivers in place before the first
// state callback. Members go in reverse: the BleReader (and its central) first, the main
// queue last.
struct ReaderBench {
    explicit ReaderBench(Timing timing = tickTiming(200), FeigReaderIdentity identity = {})
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

    // Connects to the reader the scan found, notifications on.
    void connect() {
        const auto found = manager().discoveredPeripherals.get();
        ASSERT_EQ(found.size(), 1u);
        manager().connect(found.front());
        loop.waitIdle();
        ASSERT_TRUE(manager().isConnected.get() && manager().hasTransferCharacteristic());
    }

    // Runs the job on a worker, as the work page does; the job's first request is answered
    // by these notifications instead of the simulated reader.
    template <typename Job> ResultObj answeredBy(const std::vector<Bytes>& notifications, Job job) {
        const std::size_t request = feig->requests().size() + 1;
        feig->planNextAnswer(FeigAnswerPlan::dropped());
        auto result = std::async(std::launch::async, std::move(job));
        EXPECT_TRUE(feig->waitForRequests(request, kPatience));
        for (const Bytes& notification : notifications) {
            feig->sendNotification(notification);
        }
        return result.get();
    }

    EventLoop loop;
    SimulatedRadio radio;
    std::shared_ptr<SimulatedFeigReader> feig;
    std::shared_ptr<Receivers> receivers = std::make_shared<Receivers>(loop);
    std::unique_ptr<BleReader> reader;
};

// A sound read-blocks answer: DB-N, DB-SIZE, then per block a status byte and the block reversed.
inline Bytes readAnswer(const std::vector<Bytes>& blocks, std::uint8_t declaredBlocks) {
    Bytes data{declaredBlocks, static_cast<std::uint8_t>(blocks.front().size())};
    for (const Bytes& block : blocks) {
        data.push_back(0x00);
        data.insert(data.end(), block.rbegin(), block.rend());
    }
    return feig::responseFrame(feig::kIsoHostCommand, feig::kStatusOk, data);
}

} // namespace wynfc::test
