#pragma once

#include "platform/bytes.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace wynfc {

// An error reported by the Bluetooth platform with a callback. Absent means success.
struct BleError {
    int code = 0;
    std::string message;
};

// What a characteristic allows; a backend fills it from the remote table.
struct CharacteristicProperties {
    bool read = false;
    bool write = false;
    bool writeWithoutResponse = false;
    bool notify = false;
};

// A characteristic of a connected peripheral's service. The object stays the same for the
// whole connection; a new connection discovers new objects. The getters are safe from any
// thread; only the backend changes the value and the notifying state.
class Characteristic {
public:
    Characteristic(std::string uuid, CharacteristicProperties properties)
        : uuid_(std::move(uuid)), properties_(properties) {}
    virtual ~Characteristic() = default;

    Characteristic(const Characteristic&) = delete;
    Characteristic& operator=(const Characteristic&) = delete;

    // Text form of the UUID, as the peripheral gives it.
    const std::string& uuid() const { return uuid_; }
    const CharacteristicProperties& properties() const { return properties_; }

    // The latest value read or notified; absent until one arrived. In a value-updated
    // callback it is the value that callback reports.
    std::optional<Bytes> value() const {
        std::lock_guard lock(mutex_);
        return value_;
    }

    bool isNotifying() const {
        std::lock_guard lock(mutex_);
        return notifying_;
    }

protected:
    void setValue(Bytes value) {
        std::lock_guard lock(mutex_);
        value_ = std::move(value);
    }

    void setNotifying(bool notifying) {
        std::lock_guard lock(mutex_);
        notifying_ = notifying;
    }

private:
    const std::string uuid_;
    const CharacteristicProperties properties_;
    mutable std::mutex mutex_;
    std::optional<Bytes> value_;
    bool notifying_ = false;
};

// A service of a connected peripheral. Its characteristics are filled in by a
// characteristic discovery.
class Service {
public:
    explicit Service(std::string uuid) : uuid_(std::move(uuid)) {}
    virtual ~Service() = default;

    Service(const Service&) = delete;
    Service& operator=(const Service&) = delete;

    const std::string& uuid() const { return uuid_; }

    std::vector<std::shared_ptr<Characteristic>> characteristics() const {
        std::lock_guard lock(mutex_);
        return characteristics_;
    }

protected:
    void setCharacteristics(std::vector<std::shared_ptr<Characteristic>> characteristics) {
        std::lock_guard lock(mutex_);
        characteristics_ = std::move(characteristics);
    }

private:
    const std::string uuid_;
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<Characteristic>> characteristics_;
};

enum class PeripheralState { disconnected, connecting, connected, disconnecting };

enum class WriteType { withResponse, withoutResponse };

class Peripheral;

// Receives a peripheral's callbacks, on the main queue. Each callback answers one
// operation of Peripheral; an absent error means it succeeded.
class PeripheralDelegate {
public:
    virtual ~PeripheralDelegate() = default;

    // After discoverServices: the peripheral's services() now hold what was found.
    virtual void didDiscoverServices(Peripheral& peripheral, const std::optional<BleError>& error) = 0;

    // After discoverCharacteristics: the service's characteristics() now hold what was found.
    virtual void didDiscoverCharacteristicsFor(Peripheral& peripheral,
                                               const std::shared_ptr<Service>& service,
                                               const std::optional<BleError>& error) = 0;

    // After setNotifyValue: the characteristic's isNotifying() tells the new state.
    virtual void didUpdateNotificationStateFor(Peripheral& peripheral,
                                               const std::shared_ptr<Characteristic>& characteristic,
                                               const std::optional<BleError>& error) = 0;

    // A notification (or read) arrived: the characteristic's value() holds its bytes.
    virtual void didUpdateValueFor(Peripheral& peripheral,
                                   const std::shared_ptr<Characteristic>& characteristic,
                                   const std::optional<BleError>& error) = 0;

    // The peripheral acknowledged (or refused) a write with response.
    virtual void didWriteValueFor(Peripheral& peripheral,
                                  const std::shared_ptr<Characteristic>& characteristic,
                                  const std::optional<BleError>& error) = 0;
};

// A remote device found by a central. The same device is the same object for the whole
// life of the central that found it, so objects may be compared by address; identifier()
// names the device across centrals. Every operation may be called from any thread;
// operations that need a connection do nothing without one, as the platform does.
class Peripheral {
public:
    virtual ~Peripheral() = default;

    // Stable identity of the remote device.
    virtual std::string identifier() const = 0;
    // Advertised or cached name, if the device has one.
    virtual std::optional<std::string> name() const = 0;
    virtual PeripheralState state() const = 0;

    // The delegate receives this peripheral's callbacks. It is not owned: clear it, or
    // destroy the central that found this peripheral, before the delegate goes away. Once
    // this returns, no callback is running into the old delegate on another thread.
    virtual void setDelegate(PeripheralDelegate* delegate) = 0;
    virtual PeripheralDelegate* delegate() const = 0;

    // Services found by the last service discovery of this connection.
    virtual std::vector<std::shared_ptr<Service>> services() const = 0;

    // Absent UUID lists mean "all". UUIDs are compared without regard to letter case.
    virtual void discoverServices(const std::optional<std::vector<std::string>>& serviceUuids) = 0;
    virtual void discoverCharacteristics(const std::optional<std::vector<std::string>>& characteristicUuids,
                                         const std::shared_ptr<Service>& service) = 0;

    virtual void setNotifyValue(bool enabled, const std::shared_ptr<Characteristic>& characteristic) = 0;

    // Sends the bytes as one value; a value longer than one packet is the platform's
    // long write. With response, didWriteValueFor follows.
    virtual void writeValue(const Bytes& value, const std::shared_ptr<Characteristic>& characteristic,
                            WriteType type) = 0;
};

} // namespace wynfc
