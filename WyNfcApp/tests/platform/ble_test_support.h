#pragma once

// Helpers of the Bluetooth tests: a delegate that records every callback, and a rig that
// connects a simulated central to a simulated reader. Frames are built and checked here
// by hand, from the reader's documented layout, with a CRC of the tests' own.

#include "platform/central_manager.h"
#include "platform/sim/event_loop.h"
#include "platform/sim/simulated_central.h"
#include "platform/sim/simulated_feig_reader.h"
#include "platform/sim/simulated_radio.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace wynfc::test {

using namespace std::chrono_literals;

inline constexpr auto kPatience = std::chrono::seconds(5); // only ever reached by a failing test

inline Timing shortTiming() {
    Timing timing;
    timing.countdownTick = Millis{10};
    timing.countdownStart = 5;
    timing.scanLoopPeriod = Millis{10};
    timing.delayedEnding = Millis{10};
    return timing;
}

// CRC-16/MCRF4XX, one bit at a time.
inline std::uint16_t referenceCrc(const Bytes& bytes) {
    std::uint16_t crc = 0xFFFF;
    for (const std::uint8_t byte : bytes) {
        for (int i = 0; i < 8; ++i) {
            const bool feedback = ((crc ^ (byte >> i)) & 1U) != 0;
            crc = static_cast<std::uint16_t>(crc >> 1);
            if (feedback) {
                crc ^= 0x8408;
            }
        }
    }
    return crc;
}

inline void appendCrc(Bytes& frame) {
    const std::uint16_t crc = referenceCrc(frame);
    frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
}

// 0x02, length (high, low), 0x00, host command, CRC (low, high).
inline Bytes requestOf(const Bytes& hostCommand) {
    const std::size_t length = hostCommand.size() + 6;
    Bytes frame{0x02, static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length & 0xFF), 0x00};
    frame.insert(frame.end(), hostCommand.begin(), hostCommand.end());
    appendCrc(frame);
    return frame;
}

struct Response {
    std::uint8_t command = 0;
    std::uint8_t status = 0;
    Bytes data;
};

// Checks every field of a response frame; the test fails on a malformed one.
inline std::optional<Response> parseResponse(const Bytes& frame) {
    if (frame.size() < 8) {
        ADD_FAILURE() << "response of " << frame.size() << " bytes";
        return std::nullopt;
    }
    const Bytes body(frame.begin(), frame.end() - 2);
    const std::uint16_t crc = referenceCrc(body);
    EXPECT_EQ(frame[0], 0x02);
    EXPECT_EQ((std::size_t{frame[1]} << 8) | frame[2], frame.size());
    EXPECT_EQ(frame[3], 0x00);
    EXPECT_EQ(frame[frame.size() - 2], crc & 0xFF);
    EXPECT_EQ(frame[frame.size() - 1], crc >> 8);
    return Response{frame[4], frame[5], Bytes(frame.begin() + 6, frame.end() - 2)};
}

// Records the callbacks of a central and of its peripherals as short texts, and what they
// carried. Fails the test when a callback runs off the main queue.
class BleRecorder : public CentralManagerDelegate, public PeripheralDelegate {
public:
    explicit BleRecorder(MainQueue& mainQueue) : queue_(mainQueue) {}

    struct Notification {
        std::string characteristicUuid;
        Bytes value;
    };

    std::vector<std::string> events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }
    void clearEvents() {
        std::lock_guard lock(mutex_);
        events_.clear();
    }
    std::vector<Notification> notifications() const {
        std::lock_guard lock(mutex_);
        return notifications_;
    }
    std::shared_ptr<Peripheral> peripheral() const {
        std::lock_guard lock(mutex_);
        return peripheral_;
    }
    std::shared_ptr<Characteristic> characteristic(std::string_view uuid) const {
        std::lock_guard lock(mutex_);
        for (const auto& c : characteristics_) {
            if (c->uuid() == uuid) {
                return c;
            }
        }
        return nullptr;
    }
    std::optional<AdvertisementData> lastAdvertisement() const {
        std::lock_guard lock(mutex_);
        return advertisement_;
    }

    // Waits until the predicate holds over the events; false after kPatience.
    bool waitUntil(const std::function<bool(const std::vector<std::string>&)>& predicate) const {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kPatience, [&] { return predicate(events_); });
    }
    bool waitForEvent(const std::string& event) const {
        return waitUntil([&](const auto& events) {
            return std::find(events.begin(), events.end(), event) != events.end();
        });
    }

    // Waits for notifications that add up to a whole response frame (its CRC matches) and
    // takes them; nullopt when none completes in time.
    std::optional<Bytes> takeFrame() {
        std::unique_lock lock(mutex_);
        Bytes frame;
        const bool complete = changed_.wait_for(lock, kPatience, [&] {
            frame.clear();
            for (std::size_t i = taken_; i < notifications_.size(); ++i) {
                const Bytes& value = notifications_[i].value;
                frame.insert(frame.end(), value.begin(), value.end());
                if (frame.size() >= 8 && referenceCrc(Bytes(frame.begin(), frame.end() - 2)) ==
                                             (frame[frame.size() - 2] | (frame[frame.size() - 1] << 8))) {
                    taken_ = i + 1;
                    return true;
                }
            }
            return false;
        });
        return complete ? std::optional<Bytes>(frame) : std::nullopt;
    }

    void centralManagerDidUpdateState(CentralManager& central) override {
        static const char* const names[] = {"unknown",      "resetting",  "unsupported",
                                            "unauthorized", "poweredOff", "poweredOn"};
        record("state " + std::string(names[static_cast<int>(central.state())]));
    }
    void didDiscover(CentralManager&, const std::shared_ptr<Peripheral>& peripheral,
                     const AdvertisementData& advertisementData, int) override {
        {
            std::lock_guard lock(mutex_);
            peripheral_ = peripheral;
            advertisement_ = advertisementData;
        }
        record("discover " + peripheral->identifier());
    }
    void didConnect(CentralManager&, const std::shared_ptr<Peripheral>& peripheral) override {
        peripheral->setDelegate(this);
        record("connect");
    }
    void didFailToConnect(CentralManager&, const std::shared_ptr<Peripheral>&,
                          const std::optional<BleError>& error) override {
        record("fail" + errorText(error));
    }
    void didDisconnectPeripheral(CentralManager&, const std::shared_ptr<Peripheral>&,
                                 const std::optional<BleError>& error) override {
        record("disconnect" + errorText(error));
    }

    void didDiscoverServices(Peripheral& peripheral, const std::optional<BleError>& error) override {
        record("services " + std::to_string(peripheral.services().size()) + errorText(error));
    }
    void didDiscoverCharacteristicsFor(Peripheral&, const std::shared_ptr<Service>& service,
                                       const std::optional<BleError>& error) override {
        const auto found = service->characteristics();
        {
            std::lock_guard lock(mutex_);
            characteristics_ = found;
        }
        record("characteristics " + std::to_string(found.size()) + errorText(error));
    }
    void didUpdateNotificationStateFor(Peripheral&, const std::shared_ptr<Characteristic>& characteristic,
                                       const std::optional<BleError>& error) override {
        record("notifying " + characteristic->uuid().substr(0, 8) +
               (characteristic->isNotifying() ? " on" : " off") + errorText(error));
    }
    void didUpdateValueFor(Peripheral&, const std::shared_ptr<Characteristic>& characteristic,
                           const std::optional<BleError>&) override {
        {
            std::lock_guard lock(mutex_);
            notifications_.push_back({characteristic->uuid(), characteristic->value().value_or(Bytes{})});
        }
        record("value " + characteristic->uuid().substr(0, 8));
    }
    void didWriteValueFor(Peripheral&, const std::shared_ptr<Characteristic>& characteristic,
                          const std::optional<BleError>& error) override {
        record("written " + characteristic->uuid().substr(0, 8) + errorText(error));
    }

private:
    static std::string errorText(const std::optional<BleError>& error) {
        return error ? " error " + std::to_string(error->code) : "";
    }

    void record(std::string event) {
        EXPECT_TRUE(queue_.isMainThread()) << event;
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
        changed_.notify_all();
    }

    MainQueue& queue_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<std::string> events_;
    std::vector<Notification> notifications_;
    std::size_t taken_ = 0;
    std::shared_ptr<Peripheral> peripheral_;
    std::vector<std::shared_ptr<Characteristic>> characteristics_;
    std::optional<AdvertisementData> advertisement_;
};

// A main queue, a radio with a reader in range, and a central: the members are destroyed
// central first, main queue last.
struct ReaderRig {
    explicit ReaderRig(Timing timing = shortTiming())
        : reader(std::make_shared<SimulatedFeigReader>(timing)), central(radio.makeCentral(recorder, loop)) {
        radio.addDevice(reader);
    }

    // Scan, connect, discover the reader service and both characteristics, notifications on.
    void connect() {
        central->scanForPeripherals();
        loop.waitIdle();
        ASSERT_TRUE(recorder.peripheral());
        central->connect(recorder.peripheral());
        ASSERT_TRUE(recorder.waitForEvent("connect"));
        const auto peripheral = recorder.peripheral();
        peripheral->discoverServices(
            std::vector<std::string>{std::string(SimulatedFeigReader::kServiceUuid)});
        loop.waitIdle();
        ASSERT_EQ(peripheral->services().size(), 1u);
        peripheral->discoverCharacteristics(std::nullopt, peripheral->services()[0]);
        loop.waitIdle();
        ASSERT_TRUE(transfer() && second());
        peripheral->setNotifyValue(true, transfer());
        peripheral->setNotifyValue(true, second());
        loop.waitIdle();
        recorder.clearEvents();
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
    std::optional<Response> exchange(const Bytes& frame) {
        send(frame);
        const auto answer = recorder.takeFrame();
        if (!answer) {
            ADD_FAILURE() << "no answer";
            return std::nullopt;
        }
        return parseResponse(*answer);
    }

    EventLoop loop;
    SimulatedRadio radio;
    BleRecorder recorder{loop};
    std::shared_ptr<SimulatedFeigReader> reader;
    std::unique_ptr<CentralManager> central;
};

inline std::shared_ptr<VirtualTag> blankTag(std::uint8_t lastUidByte = 0x01, int blockCount = 64) {
    return std::make_shared<VirtualTag>(
        TagImage::blank(Bytes{lastUidByte, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0xE0}, blockCount));
}

} // namespace wynfc::test
