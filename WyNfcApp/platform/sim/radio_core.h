#pragma once

// Shared state of a simulated radio, its centrals and their peripherals. Internal to the
// simulation: include it only from its .cpp files.
//
// Locking: one mutex per radio guards all of this state. A central's callbacks run on its
// main queue under that central's delivery mutex (recursive: a callback may call back into
// the central), which is always taken before the radio mutex. No device code and no
// delegate ever runs with the radio mutex held; a device may hold its own lock while it
// calls into the radio.

#include "platform/sim/simulated_central.h"
#include "platform/sim/simulated_radio.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace wynfc {

class SimPeripheral;

bool sameUuid(std::string_view a, std::string_view b);

class SimCharacteristic final : public Characteristic {
public:
    using Characteristic::Characteristic;
    using Characteristic::setNotifying;
    using Characteristic::setValue;
};

class SimService final : public Service {
public:
    using Service::Service;
    using Service::setCharacteristics;
};

// Device callbacks collected under the radio lock and made after it is released.
class DeviceEvents {
public:
    DeviceEvents() = default;
    DeviceEvents(const DeviceEvents&) = delete;
    DeviceEvents& operator=(const DeviceEvents&) = delete;
    ~DeviceEvents();

    void disconnected(std::shared_ptr<SimulatedDevice> device, SimulatedDevice::ConnectionId connection) {
        ended_.emplace_back(std::move(device), connection);
    }

private:
    std::vector<std::pair<std::shared_ptr<SimulatedDevice>, SimulatedDevice::ConnectionId>> ended_;
};

struct RadioCore {
    explicit RadioCore(CentralState initial) : state(initial) {}

    std::mutex mutex;
    CentralState state;
    std::vector<std::shared_ptr<SimulatedDevice>> devices; // in range
    std::vector<std::weak_ptr<CentralCore>> centrals;
    SimulatedDevice::ConnectionId lastConnection = 0;

    bool inRangeLocked(const SimulatedDevice& device) const;
    // The peripheral connected or connecting to the device, on any central.
    std::shared_ptr<SimPeripheral> linkOfLocked(const SimulatedDevice& device) const;
    // Ends the peripheral's connection: its central hears of it with the error (none when
    // it asked for it), the device once the lock is released.
    void endConnectionLocked(SimPeripheral& peripheral, std::optional<BleError> error, DeviceEvents& events);
    // Every scanning central hears the device's advertisement once.
    void advertiseLocked(const SimulatedDevice& device);
    void detachLocked(SimulatedDevice& device);
    void attachLocked(const std::shared_ptr<RadioCore>& self, SimulatedDevice& device);

    // Entry points into devices, for the central side.
    static void deliverWrite(SimulatedDevice& device, SimulatedDevice::ConnectionId connection,
                             const std::string& characteristicUuid, const SimulatedDevice::Value& value) {
        device.onWrite(connection, characteristicUuid, value);
    }
    static void deliverDisconnected(SimulatedDevice& device, SimulatedDevice::ConnectionId connection) {
        device.onDisconnected(connection);
    }
};

struct CentralCore : std::enable_shared_from_this<CentralCore> {
    CentralCore(std::shared_ptr<RadioCore> radioCore, MainQueue& mainQueue,
                CentralManagerDelegate& centralDelegate, CentralManager& centralOwner)
        : radio(std::move(radioCore)), queue(mainQueue), delegate(centralDelegate), owner(centralOwner) {}

    const std::shared_ptr<RadioCore> radio;
    MainQueue& queue;
    // Both valid while alive: the central's destructor clears alive under the delivery mutex.
    CentralManagerDelegate& delegate;
    CentralManager& owner;
    std::recursive_mutex deliveryMutex;

    // Guarded by radio->mutex.
    bool alive = true;
    // The state as the main queue has been told it: it changes with each state callback,
    // so that a callback never sees a state whose own callback is still to come.
    CentralState state = CentralState::unknown;
    bool scanning = false;
    std::vector<std::shared_ptr<SimPeripheral>> peripherals; // one per device heard

    using Call = std::function<void()>;
    // Runs under the radio lock on the main queue, checks that the event still stands and
    // updates the state; returns the delegate call to make once the lock is released.
    using Prepare = std::function<Call(CentralCore&)>;

    // Schedules a callback. Only posts, so it may be called with the radio lock held.
    void postLocked(Prepare prepare);
    void reportStateLocked(CentralState newState);
    std::shared_ptr<SimPeripheral> peripheralForLocked(const std::shared_ptr<SimulatedDevice>& device);
    void reportDiscoveryLocked(const std::shared_ptr<SimulatedDevice>& device);
};

class SimPeripheral final : public Peripheral, public std::enable_shared_from_this<SimPeripheral> {
public:
    SimPeripheral(std::weak_ptr<CentralCore> central, std::shared_ptr<RadioCore> radio,
                  const std::shared_ptr<SimulatedDevice>& device);

    std::string identifier() const override { return identifier_; }
    std::optional<std::string> name() const override { return name_; }
    PeripheralState state() const override;
    void setDelegate(PeripheralDelegate* delegate) override;
    PeripheralDelegate* delegate() const override;
    std::vector<std::shared_ptr<Service>> services() const override;
    void discoverServices(const std::optional<std::vector<std::string>>& serviceUuids) override;
    void discoverCharacteristics(const std::optional<std::vector<std::string>>& characteristicUuids,
                                 const std::shared_ptr<Service>& service) override;
    void setNotifyValue(bool enabled, const std::shared_ptr<Characteristic>& characteristic) override;
    void writeValue(const Bytes& value, const std::shared_ptr<Characteristic>& characteristic,
                    WriteType type) override;

    // Guarded by the radio mutex.
    const std::weak_ptr<CentralCore> central;
    const std::weak_ptr<SimulatedDevice> device;
    PeripheralState state_ = PeripheralState::disconnected;
    SimulatedDevice::ConnectionId connection = 0;
    PeripheralDelegate* delegate_ = nullptr;
    std::vector<std::shared_ptr<SimService>> services_;

    bool connectedOnLocked(SimulatedDevice::ConnectionId id) const {
        return state_ == PeripheralState::connected && connection == id;
    }
    std::shared_ptr<SimService> ownServiceLocked(const Service* service) const;
    std::shared_ptr<SimCharacteristic> ownCharacteristicLocked(const Characteristic* characteristic) const;
    std::shared_ptr<SimCharacteristic> characteristicByUuidLocked(std::string_view uuid) const;

    // Schedules notifications of the characteristic on this connection, in order.
    void postNotificationsLocked(CentralCore& core, SimulatedDevice::ConnectionId id, const std::string& uuid,
                                 const std::vector<SimulatedDevice::Value>& values);

private:
    using PeripheralCall = std::function<void(PeripheralDelegate&)>;
    std::shared_ptr<CentralCore> liveCentralLocked() const;
    // Schedules a callback that stands only while the current connection lasts: prepare runs
    // under the radio lock on the main queue and returns the delegate call, if any.
    // A write's acknowledgement is delivered even if the connection ends after it was sent.
    void postOnConnectionLocked(CentralCore& core, std::function<PeripheralCall()> prepare,
                                bool evenAfterDisconnection = false);

    const std::shared_ptr<RadioCore> radio_;
    const std::string identifier_;
    const std::optional<std::string> name_;
};

} // namespace wynfc
