#include "platform/sim/simulated_central.h"

#include "platform/sim/radio_core.h"

#include <algorithm>

namespace wynfc {

namespace {

BleError notSupported() {
    return BleError{static_cast<int>(SimulatedBleErrorCode::notSupported), "The request is not supported."};
}

bool wanted(const std::optional<std::vector<std::string>>& filter, const std::string& uuid) {
    return !filter ||
           std::any_of(filter->begin(), filter->end(), [&](const auto& u) { return sameUuid(u, uuid); });
}

} // namespace

// --- CentralCore ---

void CentralCore::postLocked(Prepare prepare) {
    queue.async([self = shared_from_this(), prepare = std::move(prepare)] {
        std::lock_guard delivery(self->deliveryMutex);
        Call call;
        {
            std::lock_guard lock(self->radio->mutex);
            if (!self->alive) {
                return;
            }
            call = prepare(*self);
        }
        if (call) {
            call();
        }
    });
}

void CentralCore::reportStateLocked(CentralState newState) {
    postLocked([newState](CentralCore& core) -> Call {
        core.state = newState;
        return [&core] { core.delegate.centralManagerDidUpdateState(core.owner); };
    });
}

std::shared_ptr<SimPeripheral>
CentralCore::peripheralForLocked(const std::shared_ptr<SimulatedDevice>& device) {
    for (const auto& peripheral : peripherals) {
        if (peripheral->device.lock() == device) {
            return peripheral;
        }
    }
    peripherals.push_back(std::make_shared<SimPeripheral>(weak_from_this(), radio, device));
    return peripherals.back();
}

void CentralCore::reportDiscoveryLocked(const std::shared_ptr<SimulatedDevice>& device) {
    auto peripheral = peripheralForLocked(device);
    postLocked([peripheral, advertisement = device->advertisement(),
                rssi = device->rssi()](CentralCore& core) -> Call {
        if (!core.scanning) {
            return {}; // heard before the scan stopped, reported after: dropped, as a platform does
        }
        return [&core, peripheral, advertisement, rssi] {
            core.delegate.didDiscover(core.owner, peripheral, advertisement, rssi);
        };
    });
}

// --- SimulatedCentral ---

SimulatedCentral::SimulatedCentral(const SimulatedRadio& radio, CentralManagerDelegate& delegate,
                                   MainQueue& mainQueue)
    : SimulatedCentral(radio.core_, delegate, mainQueue) {}

SimulatedCentral::SimulatedCentral(std::shared_ptr<RadioCore> radio, CentralManagerDelegate& delegate,
                                   MainQueue& mainQueue)
    : core_(std::make_shared<CentralCore>(std::move(radio), mainQueue, delegate, *this)) {
    std::lock_guard lock(core_->radio->mutex);
    std::erase_if(core_->radio->centrals, [](const auto& c) { return c.expired(); });
    core_->radio->centrals.push_back(core_);
    core_->reportStateLocked(core_->radio->state);
}

SimulatedCentral::~SimulatedCentral() {
    DeviceEvents events;
    // Waits for a callback running on another thread; from inside a callback it is ours.
    std::lock_guard delivery(core_->deliveryMutex);
    std::lock_guard lock(core_->radio->mutex);
    core_->alive = false;
    core_->scanning = false;
    for (const auto& peripheral : core_->peripherals) {
        core_->radio->endConnectionLocked(*peripheral, std::nullopt, events);
    }
    std::erase_if(core_->radio->centrals, [&](const auto& c) { return c.expired() || c.lock() == core_; });
}

CentralState SimulatedCentral::state() const {
    std::lock_guard lock(core_->radio->mutex);
    return core_->state;
}

void SimulatedCentral::scanForPeripherals() {
    std::lock_guard lock(core_->radio->mutex);
    if (core_->radio->state != CentralState::poweredOn) {
        return;
    }
    core_->scanning = true;
    for (const auto& device : core_->radio->devices) {
        if (!core_->radio->linkOfLocked(*device)) {
            core_->reportDiscoveryLocked(device);
        }
    }
}

void SimulatedCentral::stopScan() {
    std::lock_guard lock(core_->radio->mutex);
    core_->scanning = false;
}

bool SimulatedCentral::isScanning() const {
    std::lock_guard lock(core_->radio->mutex);
    return core_->scanning;
}

void SimulatedCentral::connect(const std::shared_ptr<Peripheral>& peripheral) {
    std::lock_guard lock(core_->radio->mutex);
    RadioCore& radio = *core_->radio;
    const auto it = std::find_if(core_->peripherals.begin(), core_->peripherals.end(),
                                 [&](const auto& p) { return p.get() == peripheral.get(); });
    if (radio.state != CentralState::poweredOn || it == core_->peripherals.end() ||
        (*it)->state_ != PeripheralState::disconnected) {
        return;
    }
    std::shared_ptr<SimPeripheral> own = *it;
    const auto device = own->device.lock();
    if (!device || !radio.inRangeLocked(*device) || radio.linkOfLocked(*device)) {
        core_->postLocked([own](CentralCore& core) -> CentralCore::Call {
            return [&core, own] {
                core.delegate.didFailToConnect(
                    core.owner, own,
                    BleError{static_cast<int>(SimulatedBleErrorCode::deviceUnavailable),
                             "The device is not available."});
            };
        });
        return;
    }
    const auto connection = ++radio.lastConnection;
    own->state_ = PeripheralState::connecting;
    own->connection = connection;
    core_->postLocked([own, connection](CentralCore& core) -> CentralCore::Call {
        if (own->state_ != PeripheralState::connecting || own->connection != connection) {
            return {}; // cancelled meanwhile
        }
        own->state_ = PeripheralState::connected;
        return [&core, own] { core.delegate.didConnect(core.owner, own); };
    });
}

void SimulatedCentral::cancelPeripheralConnection(const std::shared_ptr<Peripheral>& peripheral) {
    DeviceEvents events;
    std::lock_guard lock(core_->radio->mutex);
    for (const auto& own : core_->peripherals) {
        if (own.get() == peripheral.get()) {
            core_->radio->endConnectionLocked(*own, std::nullopt, events);
        }
    }
}

// --- SimPeripheral ---

SimPeripheral::SimPeripheral(std::weak_ptr<CentralCore> centralCore, std::shared_ptr<RadioCore> radio,
                             const std::shared_ptr<SimulatedDevice>& simulatedDevice)
    : central(std::move(centralCore)), device(simulatedDevice), radio_(std::move(radio)),
      identifier_(simulatedDevice->identifier()), name_(simulatedDevice->name()) {}

PeripheralState SimPeripheral::state() const {
    std::lock_guard lock(radio_->mutex);
    return state_;
}

void SimPeripheral::setDelegate(PeripheralDelegate* newDelegate) {
    // Taking the delivery lock first means no callback is still running into the old one.
    const auto core = central.lock();
    std::unique_lock<std::recursive_mutex> delivery;
    if (core) {
        delivery = std::unique_lock(core->deliveryMutex);
    }
    std::lock_guard lock(radio_->mutex);
    delegate_ = newDelegate;
}

PeripheralDelegate* SimPeripheral::delegate() const {
    std::lock_guard lock(radio_->mutex);
    return delegate_;
}

std::vector<std::shared_ptr<Service>> SimPeripheral::services() const {
    std::lock_guard lock(radio_->mutex);
    return {services_.begin(), services_.end()};
}

std::shared_ptr<CentralCore> SimPeripheral::liveCentralLocked() const {
    auto core = central.lock();
    if (!core || !core->alive || state_ != PeripheralState::connected) {
        return nullptr;
    }
    return core;
}

void SimPeripheral::postOnConnectionLocked(CentralCore& core, std::function<PeripheralCall()> prepare,
                                           bool evenAfterDisconnection) {
    core.postLocked([self = shared_from_this(), id = connection, prepare = std::move(prepare),
                     evenAfterDisconnection](CentralCore&) -> CentralCore::Call {
        if (!evenAfterDisconnection && !self->connectedOnLocked(id)) {
            return {};
        }
        PeripheralCall call = prepare();
        PeripheralDelegate* target = self->delegate_;
        if (!call || !target) {
            return {};
        }
        return [target, call] { call(*target); };
    });
}

void SimPeripheral::discoverServices(const std::optional<std::vector<std::string>>& serviceUuids) {
    std::lock_guard lock(radio_->mutex);
    const auto core = liveCentralLocked();
    if (!core) {
        return;
    }
    postOnConnectionLocked(*core, [this, serviceUuids]() -> PeripheralCall {
        const auto remote = device.lock();
        if (!remote) {
            return {};
        }
        for (const auto& service : remote->services()) {
            const bool known = std::any_of(services_.begin(), services_.end(),
                                           [&](const auto& s) { return sameUuid(s->uuid(), service.uuid); });
            if (wanted(serviceUuids, service.uuid) && !known) {
                services_.push_back(std::make_shared<SimService>(service.uuid));
            }
        }
        return [self = shared_from_this()](PeripheralDelegate& target) {
            target.didDiscoverServices(*self, std::nullopt);
        };
    });
}

void SimPeripheral::discoverCharacteristics(
    const std::optional<std::vector<std::string>>& characteristicUuids,
    const std::shared_ptr<Service>& service) {
    std::lock_guard lock(radio_->mutex);
    const auto core = liveCentralLocked();
    const auto own = ownServiceLocked(service.get());
    if (!core || !own) {
        return;
    }
    postOnConnectionLocked(*core, [this, own, characteristicUuids]() -> PeripheralCall {
        const auto remote = device.lock();
        if (!remote) {
            return {};
        }
        auto found = own->characteristics();
        for (const auto& remoteService : remote->services()) {
            if (!sameUuid(remoteService.uuid, own->uuid())) {
                continue;
            }
            for (const auto& characteristic : remoteService.characteristics) {
                const bool known = std::any_of(found.begin(), found.end(), [&](const auto& c) {
                    return sameUuid(c->uuid(), characteristic.uuid);
                });
                if (wanted(characteristicUuids, characteristic.uuid) && !known) {
                    found.push_back(
                        std::make_shared<SimCharacteristic>(characteristic.uuid, characteristic.properties));
                }
            }
        }
        own->setCharacteristics(std::move(found));
        return [self = shared_from_this(), own](PeripheralDelegate& target) {
            target.didDiscoverCharacteristicsFor(*self, own, std::nullopt);
        };
    });
}

void SimPeripheral::setNotifyValue(bool enabled, const std::shared_ptr<Characteristic>& characteristic) {
    std::lock_guard lock(radio_->mutex);
    const auto core = liveCentralLocked();
    const auto own = ownCharacteristicLocked(characteristic.get());
    if (!core || !own) {
        return;
    }
    postOnConnectionLocked(*core, [this, own, enabled]() -> PeripheralCall {
        std::optional<BleError> error;
        if (own->properties().notify) {
            own->setNotifying(enabled);
        } else {
            error = notSupported();
        }
        return [self = shared_from_this(), own, error](PeripheralDelegate& target) {
            target.didUpdateNotificationStateFor(*self, own, error);
        };
    });
}

void SimPeripheral::writeValue(const Bytes& value, const std::shared_ptr<Characteristic>& characteristic,
                               WriteType type) {
    std::shared_ptr<SimulatedDevice> remote;
    SimulatedDevice::ConnectionId id = 0;
    {
        std::lock_guard lock(radio_->mutex);
        const auto core = liveCentralLocked();
        const auto own = ownCharacteristicLocked(characteristic.get());
        if (!core || !own) {
            return;
        }
        const bool withResponse = type == WriteType::withResponse;
        const bool allowed = withResponse ? own->properties().write : own->properties().writeWithoutResponse;
        std::optional<BleError> error;
        if (allowed) {
            remote = device.lock();
            id = connection;
        } else {
            error = notSupported();
        }
        if (withResponse) {
            // Posted before the device sees the bytes, so the acknowledgement comes before
            // any answer the device notifies.
            postOnConnectionLocked(
                *core,
                [this, own, error]() -> PeripheralCall {
                    return [self = shared_from_this(), own, error](PeripheralDelegate& target) {
                        target.didWriteValueFor(*self, own, error);
                    };
                },
                true);
        }
    }
    if (remote) {
        RadioCore::deliverWrite(*remote, id, characteristic->uuid(), value);
    }
}

void SimPeripheral::postNotificationsLocked(CentralCore& core, SimulatedDevice::ConnectionId id,
                                            const std::string& uuid,
                                            const std::vector<SimulatedDevice::Value>& values) {
    for (const auto& value : values) {
        core.postLocked([self = shared_from_this(), id, uuid, value](CentralCore&) -> CentralCore::Call {
            if (!self->connectedOnLocked(id)) {
                return {};
            }
            const auto characteristic = self->characteristicByUuidLocked(uuid);
            if (!characteristic || !characteristic->isNotifying()) {
                return {}; // nobody subscribed: the notification is lost on the air
            }
            characteristic->setValue(value);
            PeripheralDelegate* target = self->delegate_;
            if (!target) {
                return {};
            }
            return [target, self, characteristic] {
                target->didUpdateValueFor(*self, characteristic, std::nullopt);
            };
        });
    }
}

std::shared_ptr<SimService> SimPeripheral::ownServiceLocked(const Service* service) const {
    for (const auto& own : services_) {
        if (own.get() == service) {
            return own;
        }
    }
    return nullptr;
}

std::shared_ptr<SimCharacteristic>
SimPeripheral::ownCharacteristicLocked(const Characteristic* characteristic) const {
    for (const auto& service : services_) {
        for (const auto& own : service->characteristics()) {
            if (own.get() == characteristic) {
                return std::static_pointer_cast<SimCharacteristic>(own);
            }
        }
    }
    return nullptr;
}

std::shared_ptr<SimCharacteristic> SimPeripheral::characteristicByUuidLocked(std::string_view uuid) const {
    for (const auto& service : services_) {
        for (const auto& own : service->characteristics()) {
            if (sameUuid(own->uuid(), uuid)) {
                return std::static_pointer_cast<SimCharacteristic>(own);
            }
        }
    }
    return nullptr;
}

} // namespace wynfc
