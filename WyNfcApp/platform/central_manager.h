#pragma once

#include "platform/ble_peripheral.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace wynfc {

// The Bluetooth state of the machine, as the central sees it. Only poweredOn allows
// scanning and connections; unauthorized means the user refused this program Bluetooth.
enum class CentralState { unknown, resetting, unsupported, unauthorized, poweredOff, poweredOn };

// What one advertisement carried.
struct AdvertisementData {
    std::optional<std::string> localName;
    // The advertised service UUIDs as texts, absent when the advertisement lists none.
    // Entries are not checked: a device may send texts that are not UUIDs.
    std::optional<std::vector<std::string>> serviceUuids;
};

class CentralManager;

// Receives a central's callbacks, all on the main queue, in the order the events happened.
class CentralManagerDelegate {
public:
    virtual ~CentralManagerDelegate() = default;

    // Soon after the central is created, and after every change of its state().
    virtual void centralManagerDidUpdateState(CentralManager& central) = 0;

    // While scanning: an advertisement was heard. The same device may be reported
    // several times; it is the same Peripheral object each time.
    virtual void didDiscover(CentralManager& central, const std::shared_ptr<Peripheral>& peripheral,
                             const AdvertisementData& advertisementData, int rssi) = 0;

    // connect() succeeded.
    virtual void didConnect(CentralManager& central, const std::shared_ptr<Peripheral>& peripheral) = 0;

    // connect() failed. The application does nothing with it, so it need not be handled.
    virtual void didFailToConnect(CentralManager& /*central*/,
                                  const std::shared_ptr<Peripheral>& /*peripheral*/,
                                  const std::optional<BleError>& /*error*/) {}

    // A connection ended, once per connection: after cancelPeripheralConnection (no error),
    // or because the link was lost, the device dropped it or Bluetooth went off (with an
    // error; it then follows the state callback, and a later cancel reports nothing more).
    virtual void didDisconnectPeripheral(CentralManager& central,
                                         const std::shared_ptr<Peripheral>& peripheral,
                                         const std::optional<BleError>& error) = 0;
};

// The Bluetooth LE central of the machine. Operations may be called from any thread;
// callbacks go to the delegate given at creation, on the main queue. Operations that need
// Bluetooth powered on do nothing otherwise, as the platform does. Destroy a central on the
// main queue, or from a thread the main queue is not waiting for: once destroyed, no
// callback of it or of its peripherals runs.
class CentralManager {
public:
    virtual ~CentralManager() = default;

    // The state as last reported to the delegate: unknown until the first
    // centralManagerDidUpdateState, and inside that callback the state it reports.
    virtual CentralState state() const = 0;

    // Scans for every advertising device: no service filter, no options.
    virtual void scanForPeripherals() = 0;
    virtual void stopScan() = 0;
    virtual bool isScanning() const = 0;

    // Connects with no options; didConnect or didFailToConnect follows.
    virtual void connect(const std::shared_ptr<Peripheral>& peripheral) = 0;
    // Ends a connection or a connection attempt; didDisconnectPeripheral follows. Does
    // nothing for a peripheral that is not connected.
    virtual void cancelPeripheralConnection(const std::shared_ptr<Peripheral>& peripheral) = 0;
};

// How a host hands its Bluetooth backend (the simulation, or the machine's Bluetooth) to the
// code that needs a central: called once per central, with the delegate for its callbacks.
using CentralManagerFactory =
    std::function<std::unique_ptr<CentralManager>(CentralManagerDelegate& delegate)>;

} // namespace wynfc
