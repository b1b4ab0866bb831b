#pragma once

// Helpers of the Bluetooth tests: a delegate that records every callback, and a rig that
// connects a simulated central to a simulated reader. Frames are built and checked here
// by hand, from the reader's documented layout, with a CRC of the tests' own.

#include "platform/sim/event_loop.h"
#include "platform/sim/simulated_central.h"
#include "platform/sim/simulated_feig_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace wynfc::test {

using Events = std::vector<std::string>;

inline constexpr auto kPatience = std::chrono::seconds(5); // only ever reached by a failing test
inline const Timing kShortTiming{Millis{10}, 5};

// CRC-16/MCRF4XX, one bit at a time.
inline std::uint16_t referenceCrc(const Bytes& bytes) {
    std::uint16_t crc = 0xFFFF;
    for (const std::uint8_t byte : bytes) {
        for (int i = 0; i < 8; ++i) {
            const bool feedback = ((crc ^ (byte >> i)) & 1U) != 0;
            crc = static_cast<std::uint16_t>((crc >> 1) ^ (feedback ? 0x8408 : 0));
        }
    }
    return crc;
}

inline Bytes withCrc(Bytes frame) {
    const std::uint16_t crc = referenceCrc(frame);
    frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
    return frame;
}

// 0x02, length (high, low), 0x00, host command, CRC (low, high).
inline Bytes requestOf(const Bytes& hostCommand) {
    const std::size_t length = hostCommand.size() + 6;
    Bytes frame{0x02, static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length & 0xFF), 0x00};
    frame.insert(frame.end(), hostCommand.begin(), hostCommand.end());
    return withCrc(frame);
}

struct Response {
    std::uint8_t command = 0;
    std::uint8_t status = 0;
    Bytes data;
};

// Checks every field of a response frame; the test fails on a malformed one.
inline Response parseResponse(const Bytes& frame) {
    if (frame.size() < 8) {
        ADD_FAILURE() << "response of " << frame.size() << " bytes";
        return Response{0xEE, 0xEE, {}};
    }
    EXPECT_EQ(withCrc(Bytes(frame.begin(), frame.end() - 2)), frame);
    EXPECT_EQ(frame[0], 0x02);
    EXPECT_EQ((std::size_t{frame[1]} << 8) | frame[2], frame.size());
    EXPECT_EQ(frame[3], 0x00);
    return Response{frame[4], frame[5], Bytes(frame.begin() + 6, frame.end() - 2)};
}

inline std::string errorText(SimulatedBleErrorCode code) {
    return " error " + std::to_string(static_cast<int>(code));
}

// Records the callbacks of a central and of its peripherals as short texts, and what they
// carried. Fails the test when a callback runs off the main queue.
class BleRecorder : public CentralManagerDelegate, public PeripheralDelegate {
public:
    explicit BleRecorder(MainQueue& mainQueue) : queue_(mainQueue) {}

    Events events() const { return locked(events_); }
    std::vector<Bytes> notifications() const { return locked(notifications_); }
    std::shared_ptr<Peripheral> peripheral() const { return locked(peripheral_); }
    std::optional<AdvertisementData> lastAdvertisement() const { return locked(advertisement_); }
    std::shared_ptr<Characteristic> characteristic(std::string_view uuid) const {
        std::lock_guard lock(mutex_);
        const auto it = std::find_if(characteristics_.begin(), characteristics_.end(),
                                     [&](const auto& c) { return c->uuid() == uuid; });
        return it != characteristics_.end() ? *it : nullptr;
    }
    void clearEvents() {
        std::lock_guard lock(mutex_);
        events_.clear();
    }
    // Waits for notifications that add up to a whole response frame (its CRC matches) and
    // takes them; the test fails when none completes in time.
    Bytes takeFrame() {
        std::unique_lock lock(mutex_);
        Bytes frame;
        const bool complete = changed_.wait_for(lock, kPatience, [&] {
            frame.clear();
            for (std::size_t i = taken_; i < notifications_.size(); ++i) {
                frame.insert(frame.end(), notifications_[i].begin(), notifications_[i].end());
                if (frame.size() >= 8 && withCrc(Bytes(frame.begin(), frame.end() - 2)) == frame) {
                    taken_ = i + 1;
                    return true;
                }
            }
            return false;
        });
        EXPECT_TRUE(complete) << "no whole answer";
        return complete ? frame : Bytes{};
    }

    void centralManagerDidUpdateState(CentralManager& central) override {
        static const char* const names[] = {"unknown",      "resetting",  "unsupported",
                                            "unauthorized", "poweredOff", "poweredOn"};
        record("state " + std::string(names[static_cast<int>(central.state())]));
    }
    void didDiscover(CentralManager&, const std::shared_ptr<Peripheral>& peripheral,
                     const AdvertisementData& advertisementData, int) override {
        record("discover " + peripheral->identifier(), [&] {
            peripheral_ = peripheral;
            advertisement_ = advertisementData;
        });
    }
    void didConnect(CentralManager&, const std::shared_ptr<Peripheral>& peripheral) override {
        peripheral->setDelegate(this);
        record("connect");
    }
    void didFailToConnect(CentralManager&, const std::shared_ptr<Peripheral>&,
                          const std::optional<BleError>& error) override {
        record("fail" + text(error));
    }
    void didDisconnectPeripheral(CentralManager&, const std::shared_ptr<Peripheral>&,
                                 const std::optional<BleError>& error) override {
        record("disconnect" + text(error));
    }
    void didDiscoverServices(Peripheral& peripheral, const std::optional<BleError>& error) override {
        record("services " + std::to_string(peripheral.services().size()) + text(error));
    }
    void didDiscoverCharacteristicsFor(Peripheral&, const std::shared_ptr<Service>& service,
                                       const std::optional<BleError>& error) override {
        const auto found = service->characteristics();
        record("characteristics " + std::to_string(found.size()) + text(error),
               [&] { characteristics_ = found; });
    }
    void didUpdateNotificationStateFor(Peripheral&, const std::shared_ptr<Characteristic>& characteristic,
                                       const std::optional<BleError>& error) override {
        record("notifying " + characteristic->uuid().substr(0, 8) +
               (characteristic->isNotifying() ? " on" : " off") + text(error));
    }
    void didUpdateValueFor(Peripheral&, const std::shared_ptr<Characteristic>& characteristic,
                           const std::optional<BleError>&) override {
        record("value " + characteristic->uuid().substr(0, 8),
               [&] { notifications_.push_back(characteristic->value().value_or(Bytes{})); });
    }
    void didWriteValueFor(Peripheral&, const std::shared_ptr<Characteristic>& characteristic,
                          const std::optional<BleError>& error) override {
        record("written " + characteristic->uuid().substr(0, 8) + text(error));
    }

private:
    static std::string text(const std::optional<BleError>& error) {
        return error ? " error " + std::to_string(error->code) : "";
    }
    template <class T> T locked(const T& member) const {
        std::lock_guard lock(mutex_);
        return member;
    }
    // Stores what the callback carried and the event, under the lock.
    void record(std::string event, const std::function<void()>& store = {}) {
        EXPECT_TRUE(queue_.isMainThread()) << event;
        std::lock_guard lock(mutex_);
        if (store) {
            store();
        }
        events_.push_back(std::move(event));
        changed_.notify_all();
    }

    MainQueue& queue_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    Events events_;
    std::vector<Bytes> notifications_;
    std::size_t taken_ = 0;
    std::shared_ptr<Peripheral> peripheral_;
    std::vector<std::shared_ptr<Characteristic>> characteristics_;
    std::optional<AdvertisementData> advertisement_;
};

// A main queue, a radio with a reader in range, and a central: the members are destroyed
// central first, main queue last.
struct ReaderRig {
    ReaderRig() { radio.addDevice(reader); }

    // Scan, connect, discover the reader service and both characteristics, notifications on.
    void connect() {
        central->scanForPeripherals();
        loop.waitIdle();
        const auto peripheral = recorder.peripheral();
        ASSERT_TRUE(peripheral);
        recorder.clearEvents();
        central->connect(peripheral);
        loop.waitIdle();
        // UUIDs match regardless of case.
        peripheral->discoverServices(std::vector<std::string>{"2D8F4660-8ACB-11EA-AB12-0800200C9A66"});
        loop.waitIdle();
        ASSERT_EQ(peripheral->services().size(), 1u);
        peripheral->discoverCharacteristics(std::nullopt, peripheral->services()[0]);
        loop.waitIdle();
        ASSERT_TRUE(transfer() && second());
        peripheral->setNotifyValue(true, transfer());
        peripheral->setNotifyValue(true, second());
        loop.waitIdle();
        EXPECT_EQ(recorder.events(), (Events{"connect", "services 1", "characteristics 2",
                                             "notifying 2d8f4661 on", "notifying 2d8f4662 on"}));
        recorder.clearEvents();
    }

    // Runs the action and returns the events it caused, once the main queue is idle.
    Events eventsOf(const std::function<void()>& action) {
        loop.waitIdle();
        recorder.clearEvents();
        action();
        loop.waitIdle();
        return recorder.events();
    }

    std::shared_ptr<Characteristic> transfer() const {
        return recorder.characteristic(SimulatedFeigReader::kTransferCharacteristicUuid);
    }
    std::shared_ptr<Characteristic> second() const {
        return recorder.characteristic(SimulatedFeigReader::kSecondCharacteristicUuid);
    }
    void send(const Bytes& frame) {
        recorder.peripheral()->writeValue(frame, transfer(), WriteType::withResponse);
    }

    // Sends the frame and returns the parsed answer.
    Response exchange(const Bytes& frame) {
        send(frame);
        return parseResponse(recorder.takeFrame());
    }

    EventLoop loop;
    SimulatedRadio radio;
    BleRecorder recorder{loop};
    std::shared_ptr<SimulatedFeigReader> reader = std::make_shared<SimulatedFeigReader>(kShortTiming);
    std::unique_ptr<CentralManager> central = radio.makeCentral(recorder, loop);
};

inline std::shared_ptr<VirtualTag> blankTag(std::uint8_t firstUidByte = 0x01, int blockCount = 64) {
    return std::make_shared<VirtualTag>(
        TagImage::blank(Bytes{firstUidByte, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0xE0}, blockCount));
}

} // namespace wynfc::test
