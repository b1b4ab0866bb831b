#pragma once

#include "platform/ble_peripheral.h"
#include "platform/bytes.h"

#include <memory>
#include <string_view>

namespace wynfc {

// What the Bluetooth central tells its status receiver.
enum class BLEStatusEnum { CONNECTED, DISCONNECTED, UNAUTHORIZED, POWEROFF, POWERON };

inline std::string_view rawValue(BLEStatusEnum status) {
    switch (status) {
    case BLEStatusEnum::CONNECTED:
        return "CONNECTED";
    case BLEStatusEnum::DISCONNECTED:
        return "DISCONNECTED";
    case BLEStatusEnum::UNAUTHORIZED:
        return "UNAUTHORIZED";
    case BLEStatusEnum::POWEROFF:
        return "POWEROFF";
    case BLEStatusEnum::POWERON:
        return "POWERON";
    }
    return "UNKNOWN";
}

// The data receiver of a BluetoothManager (its BleReader). Called on the main queue.
class BleDataCallbackDegelate {
public:
    virtual ~BleDataCallbackDegelate() = default;
    // The bytes of one notification of the connected reader.
    virtual void onDataReceived(const Bytes& bytes) = 0;
    // A peripheral that advertises the reader service; called for every advertisement heard.
    virtual void onPeripheralDiscovered(const std::shared_ptr<Peripheral>& peripheral) = 0;
};

// The status receiver of a BluetoothManager (the work page). Called on the main queue.
class BleStatusDelegateProtocol {
public:
    virtual ~BleStatusDelegateProtocol() = default;
    virtual void onBleStatus(BLEStatusEnum status) = 0;
};

// Receives the readers a BleReader's scan finds (NfcDataHandler). Called on the main queue;
// the same reader may come several times.
class BleScanDelegate {
public:
    virtual ~BleScanDelegate() = default;
    virtual void addDiscoveredPeripheral(const std::shared_ptr<Peripheral>& peripheral) = 0;
};

} // namespace wynfc
