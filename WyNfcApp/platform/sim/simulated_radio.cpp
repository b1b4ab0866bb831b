#include "platform/sim/simulated_radio.h"

#include "platform/sim/radio_core.h"
#include "platform/sim/simulated_central.h"

#include <algorithm>
#include <cctype>

namespace wynfc {

bool sameUuid(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
    });
}

DeviceEvents::~DeviceEvents() {
    for (auto& [device, connection] : ended_) {
        RadioCore::deliverDisconnected(*device, connection);
    }
}

// --- RadioCore ---

bool RadioCore::inRangeLocked(const SimulatedDevice& device) const {
    return std::any_of(devices.begin(), devices.end(), [&](const auto& d) { return d.get() == &device; });
}

std::shared_ptr<SimPeripheral> RadioCore::linkOfLocked(const SimulatedDevice& device) const {
    for (const auto& weakCentral : centrals) {
        const auto central = weakCentral.lock();
        if (!central) {
            continue;
        }
        for (const auto& peripheral : central->peripherals) {
            if (peripheral->state_ != PeripheralState::disconnected &&
                peripheral->device.lock().get() == &device) {
                return peripheral;
            }
        }
    }
    return nullptr;
}

void RadioCore::endConnectionLocked(SimPeripheral& peripheral, std::optional<BleError> error,
                                    DeviceEvents& events) {
    if (peripheral.state_ == PeripheralState::disconnected) {
        return;
    }
    const auto connection = peripheral.connection;
    peripheral.state_ = PeripheralState::disconnected;
    peripheral.connection = 0;
    // The objects of this connection are dead: nothing notifies through them any more.
    for (const auto& service : peripheral.services_) {
        for (const auto& characteristic : service->characteristics()) {
            std::static_pointer_cast<SimCharacteristic>(characteristic)->setNotifying(false);
        }
    }
    peripheral.services_.clear();
    if (auto device = peripheral.device.lock()) {
        events.disconnected(std::move(device), connection);
    }
    const auto central = peripheral.central.lock();
    if (central && central->alive) {
        auto self = peripheral.shared_from_this();
        central->postLocked([self, error = std::move(error)](CentralCore& core) -> CentralCore::Call {
            return [&core, self, error] { core.delegate.didDisconnectPeripheral(core.owner, self, error); };
        });
    }
}

void RadioCore::advertiseLocked(const SimulatedDevice& device) {
    if (state != CentralState::poweredOn || linkOfLocked(device)) {
        return; // a connected device does not advertise
    }
    const auto it =
        std::find_if(devices.begin(), devices.end(), [&](const auto& d) { return d.get() == &device; });
    if (it == devices.end()) {
        return;
    }
    for (const auto& weakCentral : centrals) {
        const auto central = weakCentral.lock();
        if (central && central->alive && central->scanning) {
            central->reportDiscoveryLocked(*it);
        }
    }
}

void RadioCore::attachLocked(const std::shared_ptr<RadioCore>& self, SimulatedDevice& device) {
    std::lock_guard lock(device.radioMutex_);
    device.radio_ = self;
}

void RadioCore::detachLocked(SimulatedDevice& device) {
    std::lock_guard lock(device.radioMutex_);
    device.radio_.reset();
}

// --- SimulatedDevice ---

SimulatedDevice::SimulatedDevice(std::string identifier, std::optional<std::string> name,
                                 AdvertisementData advertisement, std::vector<SimulatedGattService> services,
                                 int rssi)
    : identifier_(std::move(identifier)), name_(std::move(name)), advertisement_(std::move(advertisement)),
      services_(std::move(services)), rssi_(rssi) {}

SimulatedDevice::~SimulatedDevice() = default;

std::shared_ptr<RadioCore> SimulatedDevice::radio() const {
    std::lock_guard lock(radioMutex_);
    return radio_.lock();
}

bool SimulatedDevice::isConnected() const {
    return currentConnection().has_value();
}

std::optional<SimulatedDevice::ConnectionId> SimulatedDevice::currentConnection() const {
    const auto core = radio();
    if (!core) {
        return std::nullopt;
    }
    std::lock_guard lock(core->mutex);
    const auto peripheral = core->linkOfLocked(*this);
    if (!peripheral || peripheral->state_ != PeripheralState::connected) {
        return std::nullopt;
    }
    return peripheral->connection;
}

void SimulatedDevice::disconnect() {
    const auto core = radio();
    if (!core) {
        return;
    }
    DeviceEvents events; // delivered after the lock below is released
    std::lock_guard lock(core->mutex);
    if (const auto peripheral = core->linkOfLocked(*this)) {
        core->endConnectionLocked(
            *peripheral,
            BleError{static_cast<int>(SimulatedBleErrorCode::peerDisconnected), "The device disconnected."},
            events);
    }
}

void SimulatedDevice::notify(ConnectionId connection, const std::string& characteristicUuid,
                             std::vector<Value> values, Millis delay) {
    const auto core = radio();
    if (!core) {
        return;
    }
    std::lock_guard lock(core->mutex);
    const auto peripheral = core->linkOfLocked(*this);
    if (!peripheral || !peripheral->connectedOnLocked(connection)) {
        return;
    }
    const auto central = peripheral->central.lock();
    if (!central || !central->alive) {
        return;
    }
    if (delay <= Millis{0}) {
        peripheral->postNotificationsLocked(*central, connection, characteristicUuid, values);
        return;
    }
    // One timer for the whole answer keeps its notifications in order.
    central->queue.after(
        delay, [central, peripheral, connection, characteristicUuid, values = std::move(values)] {
            std::lock_guard delayedLock(central->radio->mutex);
            if (central->alive) {
                peripheral->postNotificationsLocked(*central, connection, characteristicUuid, values);
            }
        });
}

// --- SimulatedRadio ---

SimulatedRadio::SimulatedRadio(CentralState state) : core_(std::make_shared<RadioCore>(state)) {}

SimulatedRadio::~SimulatedRadio() {
    std::vector<std::shared_ptr<SimulatedDevice>> released; // outlives the lock
    DeviceEvents events;
    std::lock_guard lock(core_->mutex);
    for (const auto& device : core_->devices) {
        if (const auto peripheral = core_->linkOfLocked(*device)) {
            core_->endConnectionLocked(
                *peripheral,
                BleError{static_cast<int>(SimulatedBleErrorCode::connectionLost), "The connection was lost."},
                events);
        }
        core_->detachLocked(*device);
    }
    released.swap(core_->devices);
}

CentralState SimulatedRadio::state() const {
    std::lock_guard lock(core_->mutex);
    return core_->state;
}

void SimulatedRadio::setState(CentralState state) {
    DeviceEvents events;
    std::lock_guard lock(core_->mutex);
    if (core_->state == state) {
        return;
    }
    core_->state = state;
    const bool poweredOn = state == CentralState::poweredOn;
    for (const auto& weakCentral : core_->centrals) {
        const auto central = weakCentral.lock();
        if (!central || !central->alive) {
            continue;
        }
        central->reportStateLocked(state);
        if (poweredOn) {
            continue;
        }
        central->scanning = false;
        for (const auto& peripheral : central->peripherals) {
            core_->endConnectionLocked(*peripheral,
                                       BleError{static_cast<int>(SimulatedBleErrorCode::bluetoothUnavailable),
                                                "Bluetooth is not available."},
                                       events);
        }
    }
}

void SimulatedRadio::addDevice(std::shared_ptr<SimulatedDevice> device) {
    if (!device) {
        return;
    }
    std::lock_guard lock(core_->mutex);
    if (core_->inRangeLocked(*device)) {
        return;
    }
    core_->devices.push_back(device);
    core_->attachLocked(core_, *device);
    core_->advertiseLocked(*device);
}

void SimulatedRadio::removeDevice(const std::shared_ptr<SimulatedDevice>& device) {
    if (!device) {
        return;
    }
    DeviceEvents events;
    std::lock_guard lock(core_->mutex);
    if (!core_->inRangeLocked(*device)) {
        return;
    }
    if (const auto peripheral = core_->linkOfLocked(*device)) {
        core_->endConnectionLocked(
            *peripheral,
            BleError{static_cast<int>(SimulatedBleErrorCode::connectionLost), "The connection was lost."},
            events);
    }
    core_->detachLocked(*device);
    // The caller still holds the device, so erasing it here destroys nothing.
    std::erase(core_->devices, device);
}

void SimulatedRadio::advertise(const SimulatedDevice& device) {
    std::lock_guard lock(core_->mutex);
    core_->advertiseLocked(device);
}

std::unique_ptr<CentralManager> SimulatedRadio::makeCentral(CentralManagerDelegate& delegate,
                                                            MainQueue& mainQueue) const {
    return std::unique_ptr<CentralManager>(new SimulatedCentral(core_, delegate, mainQueue));
}

CentralManagerFactory SimulatedRadio::centralFactory(MainQueue& mainQueue) const {
    return [core = core_, &mainQueue](CentralManagerDelegate& delegate) {
        return std::unique_ptr<CentralManager>(new SimulatedCentral(core, delegate, mainQueue));
    };
}

} // namespace wynfc
