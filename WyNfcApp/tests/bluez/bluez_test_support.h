#pragma once

// The BlueZ central's tests run against a fake BlueZ on a dbus-daemon of their own, with the
// GLib main loop on a thread of its own; the test's thread acts as a worker would. Nothing
// here sleeps: every wait ends on the event it waits for, and only a failing test reaches
// its limit.

#include "fake_bluez.h"
#include "platform/console_log.h"
#include "platform/linux/bluez_central.h"
#include "platform/linux/glib_main_loop_thread.h"
#include "platform/published.h"
#include "platform/sim/simulated_feig_reader.h"
#include "private_bus.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace wynfc::test {

using Events = std::vector<std::string>;

inline constexpr Millis kPatience{10000}; // only a failing test waits this long

inline const std::string kReaderAddress = "C8:1F:66:00:00:01";
inline const std::string kReaderService = "2d8f4660-8acb-11ea-ab12-0800200c9a66";
inline const std::string kTransferUuid = "2d8f4661-8acb-11ea-ab12-0800200c9a66";
inline const std::string kSecondUuid = "2d8f4662-8acb-11ea-ab12-0800200c9a66";

// Short limits for the central: a failing call or connection ends in a fraction of a second.
inline Timing shortTiming() {
    Timing timing;
    timing.countdownTick = Millis{50};
    timing.scanLoopPeriod = Millis{10};
    timing.delayedEnding = Millis{20};
    timing.bluetoothCallTimeout = Millis{2000};
    timing.bluetoothConnectTimeout = Millis{2000};
    timing.bluetoothConnectRetryPause = Millis{10};
    return timing;
}

// Keeps the components' lines quiet unless WYNFC_TEST_LOG is set.
class QuietLog {
public:
    QuietLog() {
        if (std::getenv("WYNFC_TEST_LOG") == nullptr) {
            previous_ = setLogSink([](const std::string&) {});
        }
    }
    ~QuietLog() {
        if (std::getenv("WYNFC_TEST_LOG") == nullptr) {
            setLogSink(previous_);
        }
    }
    QuietLog(const QuietLog&) = delete;
    QuietLog& operator=(const QuietLog&) = delete;

private:
    LogSink previous_;
};

// Records a central's and its peripherals' callbacks as short texts ("state poweredOn",
// "discover C8:..", "disconnect error 4"); fails the test when one runs off the main queue.
class Recorder final : public CentralManagerDelegate, public PeripheralDelegate {
public:
    explicit Recorder(MainQueue& mainQueue) : queue_(mainQueue) {}

    Events events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }
    // Takes the events so far.
    Events take() {
        std::lock_guard lock(mutex_);
        return std::exchange(events_, {});
    }
    // Waits for an event equal to the text (among those not taken) and takes every event up
    // to it; the test fails when none comes.
    Events takeUntil(const std::string& event, Millis limit = kPatience) {
        std::unique_lock lock(mutex_);
        const bool came = changed_.wait_for(
            lock, limit, [&] { return std::find(events_.begin(), events_.end(), event) != events_.end(); });
        EXPECT_TRUE(came) << "no \"" << event << "\" after " << testing::PrintToString(events_);
        const auto end = came ? std::find(events_.begin(), events_.end(), event) + 1 : events_.end();
        Events taken(events_.begin(), end);
        events_.erase(events_.begin(), end);
        return taken;
    }

    std::shared_ptr<Peripheral> peripheral(const std::string& identifier) const {
        std::lock_guard lock(mutex_);
        const auto found = std::find_if(discovered_.begin(), discovered_.end(),
                                        [&](const auto& p) { return p->identifier() == identifier; });
        return found != discovered_.end() ? *found : nullptr;
    }
    // What the last discovery of the device carried.
    AdvertisementData advertisement(const std::string& identifier) const {
        std::lock_guard lock(mutex_);
        for (auto it = advertisements_.rbegin(); it != advertisements_.rend(); ++it) {
            if (it->first == identifier) {
                return it->second;
            }
        }
        return {};
    }
    // The characteristic with the UUID found last.
    std::shared_ptr<Characteristic> characteristic(const std::string& uuid) const {
        std::lock_guard lock(mutex_);
        const auto found = std::find_if(characteristics_.rbegin(), characteristics_.rend(),
                                        [&](const auto& c) { return c->uuid() == uuid; });
        return found != characteristics_.rend() ? *found : nullptr;
    }
    std::vector<Bytes> notifications() const {
        std::lock_guard lock(mutex_);
        return notifications_;
    }
    // Waits until `count` notifications have arrived in all, and returns them.
    std::vector<Bytes> waitForNotifications(std::size_t count, Millis limit = kPatience) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, limit, [&] { return notifications_.size() >= count; });
        return notifications_;
    }

    void centralManagerDidUpdateState(CentralManager& central) override {
        static const char* const names[] = {"unknown",      "resetting",  "unsupported",
                                            "unauthorized", "poweredOff", "poweredOn"};
        record("state " + std::string(names[static_cast<int>(central.state())]));
    }
    void didDiscover(CentralManager&, const std::shared_ptr<Peripheral>& peripheral,
                     const AdvertisementData& advertisement, int) override {
        record("discover " + peripheral->identifier(), [&] {
            if (std::find(discovered_.begin(), discovered_.end(), peripheral) == discovered_.end()) {
                discovered_.push_back(peripheral);
            }
            advertisements_.emplace_back(peripheral->identifier(), advertisement);
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
               [&] { characteristics_.insert(characteristics_.end(), found.begin(), found.end()); });
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

    static std::string text(const std::optional<BleError>& error) {
        return error ? " error " + std::to_string(error->code) : "";
    }

private:
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
    std::condition_variable changed_;
    Events events_;
    std::vector<std::shared_ptr<Peripheral>> discovered_;
    std::vector<std::pair<std::string, AdvertisementData>> advertisements_;
    std::vector<std::shared_ptr<Characteristic>> characteristics_;
    std::vector<Bytes> notifications_;
};

inline std::string errorEvent(const char* event, BluezErrorCode code) {
    return std::string(event) + " error " + std::to_string(static_cast<int>(code));
}

// A private bus, a fake BlueZ on it, the GLib main loop and a central with its recorder.
// Members go in reverse: the central first, the bus last.
struct BluezRig {
    explicit BluezRig(PrivateBus::Options busOptions = {}, Timing centralTiming = shortTiming())
        : bus(busOptions), timing(centralTiming) {}
    ~BluezRig() { central.reset(); }

    BluezCentral::Options options() const {
        BluezCentral::Options options;
        options.busAddress = bus.address();
        options.timing = timing;
        return options;
    }

    // A central on the rig's bus, once it has reported its first state.
    void start() {
        central = std::make_unique<BluezCentral>(recorder, *loop.queue(), options());
        recorder.takeUntil(firstState());
    }
    std::string firstState() const {
        return fake.state().onBus ? (fake.state().powered ? "state poweredOn" : "state poweredOff")
                                  : "state unsupported";
    }

    // A simulated reader in range, with the reader's service advertised.
    std::shared_ptr<SimulatedFeigReader> addReader(const std::string& address = kReaderAddress) {
        auto reader =
            std::make_shared<SimulatedFeigReader>(timing, FeigReaderIdentity{address, "HF-BLE reader", {}});
        fake.addDevice(
            FakeDevice{address, "HF-BLE reader", std::vector<std::string>{kReaderService}, -52, reader});
        return reader;
    }

    // Scans until the device is heard, then connects and waits for the connection.
    std::shared_ptr<Peripheral> connect(const std::string& address) {
        central->scanForPeripherals();
        recorder.takeUntil("discover " + address);
        const auto peripheral = recorder.peripheral(address);
        central->stopScan();
        central->connect(peripheral);
        recorder.takeUntil("connect");
        return peripheral;
    }

    // Connects, finds the service and its characteristics, and switches notifications on.
    std::shared_ptr<Peripheral> connectAndSubscribe(const std::string& address, const std::string& service,
                                                    int characteristics) {
        const auto peripheral = connect(address);
        peripheral->discoverServices(std::vector<std::string>{service});
        recorder.takeUntil("services 1");
        peripheral->discoverCharacteristics(std::nullopt, peripheral->services().front());
        recorder.takeUntil("characteristics " + std::to_string(characteristics));
        for (const auto& characteristic : peripheral->services().front()->characteristics()) {
            peripheral->setNotifyValue(true, characteristic);
            recorder.takeUntil("notifying " + characteristic->uuid().substr(0, 8) + " on");
        }
        return peripheral;
    }

    QuietLog quiet;
    PrivateBus bus;
    FakeBluez fake{bus.address()};
    Timing timing;
    GLibMainLoopThread loop;
    Recorder recorder{*loop.queue()};
    std::unique_ptr<BluezCentral> central;
};

// Waits until the published value satisfies the predicate.
template <typename T, typename Predicate>
bool waitUntil(Published<T>& published, Predicate predicate, Millis limit = kPatience) {
    // Shared with the observer: a call already under way may end after this wait has.
    struct Signal {
        std::mutex mutex;
        std::condition_variable changed;
    };
    const auto signal = std::make_shared<Signal>();
    auto subscription = published.observe([signal](const T&) {
        std::lock_guard lock(signal->mutex);
        signal->changed.notify_all();
    });
    std::unique_lock lock(signal->mutex);
    return signal->changed.wait_for(lock, limit, [&] { return predicate(published.get()); });
}

} // namespace wynfc::test
