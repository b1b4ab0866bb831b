// The peripherals of the BlueZ central: services and characteristics read from BlueZ's
// object tree, notifications switched with StartNotify/StopNotify, writes with WriteValue.

#include "platform/console_log.h"
#include "platform/linux/bluez_central_core.h"

#include <algorithm>
#include <cctype>
#include <string_view>

namespace wynfc {

using namespace bluez;

namespace {

bool sameUuid(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

bool wanted(const std::optional<std::vector<std::string>>& filter, const std::string& uuid) {
    return !filter || std::any_of(filter->begin(), filter->end(),
                                  [&](const std::string& u) { return sameUuid(u, uuid); });
}

CharacteristicProperties propertiesOf(const std::vector<std::string>& flags) {
    const auto has = [&](const char* flag) {
        return std::find(flags.begin(), flags.end(), flag) != flags.end();
    };
    CharacteristicProperties properties;
    properties.read = has("read");
    properties.write = has("write");
    properties.writeWithoutResponse = has("write-without-response");
    properties.notify = has("notify") || has("indicate");
    return properties;
}

std::optional<BleError> errorOf(const GError* error) {
    if (error == nullptr) {
        return std::nullopt;
    }
    gchar* name = g_dbus_error_get_remote_error(error);
    GError* copy = g_error_copy(error);
    g_dbus_error_strip_remote_error(copy);
    std::string message = name != nullptr ? std::string(name) + ": " + copy->message : copy->message;
    const bool timedOut = g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT) ||
                          (name != nullptr && std::string_view(name) == "org.freedesktop.DBus.Error.NoReply");
    g_free(name);
    g_error_free(copy);
    return bluezError(timedOut ? BluezErrorCode::timedOut : BluezErrorCode::failed, std::move(message));
}

} // namespace

BluezPeripheral::BluezPeripheral(std::weak_ptr<BluezCentralCore> centralCore, std::string deviceAddress)
    : address(std::move(deviceAddress)), core(std::move(centralCore)) {}

std::optional<std::string> BluezPeripheral::name() const {
    std::lock_guard lock(mutex_);
    return name_;
}

PeripheralState BluezPeripheral::state() const {
    std::lock_guard lock(mutex_);
    return state_;
}

void BluezPeripheral::setDelegate(PeripheralDelegate* newDelegate) {
    // Taking the delivery lock first means no callback is still running into the old one.
    const auto central = core.lock();
    std::unique_lock<std::recursive_mutex> delivery;
    if (central) {
        delivery = std::unique_lock(central->delivery);
    }
    std::lock_guard lock(mutex_);
    delegate_ = newDelegate;
}

PeripheralDelegate* BluezPeripheral::delegate() const {
    std::lock_guard lock(mutex_);
    return delegate_;
}

std::vector<std::shared_ptr<Service>> BluezPeripheral::services() const {
    std::lock_guard lock(mutex_);
    return {services_.begin(), services_.end()};
}

BluezPeripheral::Link BluezPeripheral::link() const {
    std::lock_guard lock(mutex_);
    return {state_, connection_};
}

std::optional<std::uint64_t> BluezPeripheral::moveTo(PeripheralState to, std::optional<PeripheralState> from,
                                                     std::optional<std::uint64_t> connection) {
    std::lock_guard lock(mutex_);
    if ((from && state_ != *from) || (connection && connection_ != *connection)) {
        return std::nullopt;
    }
    state_ = to;
    return ++connection_;
}

bool BluezPeripheral::isOn(PeripheralState linkState, std::uint64_t connection) const {
    std::lock_guard lock(mutex_);
    return state_ == linkState && connection_ == connection;
}

void BluezPeripheral::setName(std::optional<std::string> newName) {
    std::lock_guard lock(mutex_);
    name_ = std::move(newName);
}

void BluezPeripheral::clearConnection() {
    std::vector<std::shared_ptr<BluezService>> ended;
    {
        std::lock_guard lock(mutex_);
        ended.swap(services_);
    }
    for (const auto& service : ended) {
        for (const auto& characteristic : service->characteristics()) {
            const auto own = std::static_pointer_cast<BluezCharacteristic>(characteristic);
            own->setNotifying(false);
            own->subscribing = false;
        }
    }
}

std::shared_ptr<BluezCharacteristic> BluezPeripheral::characteristicAt(const std::string& objectPath) const {
    std::lock_guard lock(mutex_);
    for (const auto& service : services_) {
        for (const auto& characteristic : service->characteristics()) {
            const auto own = std::static_pointer_cast<BluezCharacteristic>(characteristic);
            if (own->path == objectPath) {
                return own;
            }
        }
    }
    return nullptr;
}

std::shared_ptr<BluezService> BluezPeripheral::ownService(const Service* service) const {
    std::lock_guard lock(mutex_);
    for (const auto& own : services_) {
        if (own.get() == service) {
            return own;
        }
    }
    return nullptr;
}

std::shared_ptr<BluezCharacteristic>
BluezPeripheral::ownCharacteristic(const Characteristic* characteristic) const {
    std::lock_guard lock(mutex_);
    for (const auto& service : services_) {
        for (const auto& own : service->characteristics()) {
            if (own.get() == characteristic) {
                return std::static_pointer_cast<BluezCharacteristic>(own);
            }
        }
    }
    return nullptr;
}

void BluezPeripheral::onConnection(std::function<void(BluezCentralCore&, BluezPeripheral&)> task) {
    const auto central = core.lock();
    const Link now = link();
    if (!central || now.state != PeripheralState::connected) {
        return;
    }
    central->post([self = shared_from_this(), connection = now.connection,
                   task = std::move(task)](BluezCentralCore& c) {
        if (self->isOn(PeripheralState::connected, connection)) {
            task(c, *self);
        }
    });
}

void BluezPeripheral::discoverServices(const std::optional<std::vector<std::string>>& serviceUuids) {
    // BlueZ has resolved every service before the connection was reported: they are read
    // from its objects under the device.
    onConnection([serviceUuids](BluezCentralCore& central, BluezPeripheral& self) {
        std::vector<std::shared_ptr<BluezService>> found;
        {
            std::lock_guard lock(self.mutex_);
            found = self.services_;
        }
        for (const auto& object : central.tree.pathsWith(kGattServiceInterface)) {
            const auto device = central.tree.string(object, kGattServiceInterface, "Device");
            const auto uuid = central.tree.string(object, kGattServiceInterface, "UUID");
            const bool known =
                std::any_of(found.begin(), found.end(), [&](const auto& s) { return s->path == object; });
            if (device == self.path && uuid && wanted(serviceUuids, *uuid) && !known) {
                found.push_back(std::make_shared<BluezService>(*uuid, object));
            }
        }
        {
            std::lock_guard lock(self.mutex_);
            self.services_ = std::move(found);
        }
        if (PeripheralDelegate* target = self.delegate()) {
            target->didDiscoverServices(self, std::nullopt);
        }
    });
}

void BluezPeripheral::discoverCharacteristics(
    const std::optional<std::vector<std::string>>& characteristicUuids,
    const std::shared_ptr<Service>& service) {
    const auto own = ownService(service.get());
    if (!own) {
        return;
    }
    onConnection([characteristicUuids, own](BluezCentralCore& central, BluezPeripheral& self) {
        auto found = own->characteristics();
        for (const auto& object : central.tree.pathsWith(kGattCharacteristicInterface)) {
            const auto parent = central.tree.string(object, kGattCharacteristicInterface, "Service");
            const auto uuid = central.tree.string(object, kGattCharacteristicInterface, "UUID");
            const bool known = std::any_of(found.begin(), found.end(), [&](const auto& c) {
                return std::static_pointer_cast<BluezCharacteristic>(c)->path == object;
            });
            if (parent == own->path && uuid && wanted(characteristicUuids, *uuid) && !known) {
                const auto flags = central.tree.strings(object, kGattCharacteristicInterface, "Flags");
                found.push_back(std::make_shared<BluezCharacteristic>(
                    *uuid, propertiesOf(flags.value_or(std::vector<std::string>{})), object));
            }
        }
        own->setCharacteristics(std::move(found));
        if (PeripheralDelegate* target = self.delegate()) {
            target->didDiscoverCharacteristicsFor(self, own, std::nullopt);
        }
    });
}

void BluezPeripheral::setNotifyValue(bool enabled, const std::shared_ptr<Characteristic>& characteristic) {
    const auto own = ownCharacteristic(characteristic.get());
    if (!own) {
        return;
    }
    onConnection([enabled, own](BluezCentralCore& central, BluezPeripheral& self) {
        const auto report = [&self, own](const std::optional<BleError>& error) {
            if (PeripheralDelegate* target = self.delegate()) {
                target->didUpdateNotificationStateFor(self, own, error);
            }
        };
        if (own->isNotifying() == enabled && !own->subscribing) {
            report(std::nullopt); // already so: BlueZ would refuse a second StartNotify
            return;
        }
        own->subscribing = enabled;
        const auto connection = self.link().connection;
        central.call(
            own->path, kGattCharacteristicInterface, enabled ? "StartNotify" : "StopNotify", nullptr,
            central.timing.bluetoothCallTimeout,
            [self = self.shared_from_this(), own, enabled, connection](GVariant*, const GError* error) {
                if (!self->isOn(PeripheralState::connected, connection)) {
                    return;
                }
                own->subscribing = false;
                if (error == nullptr) {
                    own->setNotifying(enabled);
                }
                if (PeripheralDelegate* target = self->delegate()) {
                    target->didUpdateNotificationStateFor(*self, own, errorOf(error));
                }
            });
    });
}

void BluezPeripheral::writeValue(const Bytes& value, const std::shared_ptr<Characteristic>& characteristic,
                                 WriteType type) {
    const auto own = ownCharacteristic(characteristic.get());
    if (!own) {
        return;
    }
    onConnection([value, own, type](BluezCentralCore& central, BluezPeripheral& self) {
        const bool withResponse = type == WriteType::withResponse;
        GVariantBuilder options;
        g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
        g_variant_builder_add(&options, "{sv}", "type",
                              g_variant_new_string(withResponse ? "request" : "command"));
        const auto connection = self.link().connection;
        central.call(
            own->path, kGattCharacteristicInterface, "WriteValue",
            g_variant_new("(@aya{sv})", bytesVariant(value), &options), central.timing.bluetoothCallTimeout,
            [self = self.shared_from_this(), own, withResponse, connection](GVariant*, const GError* error) {
                if (!withResponse) {
                    if (error != nullptr) {
                        logLine("------ BluezCentral ------",
                                "Write without response: " + errorOf(error)->message);
                    }
                    return;
                }
                if (!self->isOn(PeripheralState::connected, connection)) {
                    return;
                }
                if (PeripheralDelegate* target = self->delegate()) {
                    target->didWriteValueFor(*self, own, errorOf(error));
                }
            });
    });
}

} // namespace wynfc
