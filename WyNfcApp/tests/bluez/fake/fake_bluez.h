#pragma once

// A fake BlueZ on a private bus: org.bluez with its object manager, one adapter (hci0),
// devices and their GATT objects, served by GDBus on a thread of its own.
//
// Connections, services, notifications and writes are carried over to simulated devices
// (platform/sim) through a simulated central inside the fake, so a device backed by
// SimulatedFeigReader answers with the simulated reader's own frames and faults.
//
// What it does as BlueZ 5.66 does (Debian 12):
// - GetManagedObjects on "/"; InterfacesAdded/InterfacesRemoved; PropertiesChanged for
//   every change, one signal per notification (BlueZ flushes each Value change).
// - Adapter1: Powered (settable), PowerState ("on", "on-disabling" while the radio goes off,
//   "off"), Discovering; StartDiscovery/StopDiscovery per client (InProgress for a second
//   start, Failed for a stop without a start, NotReady while off); SetDiscoveryFilter.
//   Powering off drops the links first, then reports Powered false, and ends all discovery.
// - Device1 objects appear when a device is first heard in a discovery, with RSSI (n) while
//   heard, UUIDs (as) only once advertised, Name only when it has one and an Alias of its
//   address with dashes otherwise. Connect answers once Connected and ServicesResolved are
//   both true; Disconnect answers once the link is down, before Connected turns false. The
//   GATT objects of a device without a bond go with its link.
// - GattCharacteristic1: Flags, Notifying, Value; StartNotify (a second one from the same
//   client succeeds), StopNotify, WriteValue with option "type" "request" or "command"
//   (NotSupported when the flags do not allow it), ReadValue.
// - Leaving the bus drops every link and object; joining again shows the adapter alone, as a
//   restarted BlueZ does for devices without a bond.

#include "platform/bytes.h"
#include "platform/sim/simulated_radio.h"
#include "platform/timing.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace wynfc::test {

// A device in range of the fake adapter.
struct FakeDevice {
    std::string address; // "AA:BB:CC:DD:EE:01"
    std::optional<std::string> name;
    std::optional<std::vector<std::string>> uuids; // advertised service UUIDs; absent: none yet
    int rssi = -60;
    // Answers connections with its attribute table; without one every connection fails.
    std::shared_ptr<SimulatedDevice> gatt;
};

// A write BlueZ was asked for.
struct FakeWrite {
    std::string address;
    std::string characteristicUuid;
    Bytes value;
    std::string type; // "request" or "command"
};

// What the fake shows the test, as of its last change.
struct FakeState {
    bool onBus = false;
    bool powered = false;
    bool discovering = false;
    std::optional<std::string> discoveryTransport; // from the last SetDiscoveryFilter
    std::vector<std::string> connected;            // addresses
    std::vector<std::string> notifying;            // characteristic UUIDs with notifications on
    std::vector<FakeWrite> writes;
    int connectCalls = 0;
    int disconnectCalls = 0;
};

class FakeBluez {
public:
    // Joins the bus as org.bluez with hci0 powered on.
    explicit FakeBluez(const std::string& busAddress);
    // Leaves the bus and stops its thread.
    ~FakeBluez();

    FakeBluez(const FakeBluez&) = delete;
    FakeBluez& operator=(const FakeBluez&) = delete;

    // The air.
    void addDevice(FakeDevice device);
    // The device advertises these UUIDs from now on.
    void setUuids(const std::string& address, std::optional<std::vector<std::string>> uuids);
    // The device is heard again (a new RSSI signal while discovering).
    void advertise(const std::string& address, int rssi);
    // BlueZ forgets the device: its link ends and its object goes.
    void removeDevice(const std::string& address);

    // The adapter.
    void setPowered(bool powered);
    void removeAdapter();
    void addAdapter();

    // BlueZ itself.
    void leaveBus();
    void joinBus();

    // Faults. The next `count` Connect calls fail with the error (BlueZ's name and message).
    void failConnects(int count, std::string error = "org.bluez.Error.Failed",
                      std::string message = "le-connection-abort-by-local");
    // Every call of the method (Adapter1 or Device1) is refused with the error from now on.
    void refuse(const std::string& method, const std::string& error);
    // The next `count` notifications of any device are lost on the way.
    void loseNotifications(int count);
    // While held, a connection stays Connected without its services ever resolved.
    void holdServiceDiscovery(bool hold);
    // The device drops its link, as one walking out of range does.
    void dropLink(const std::string& address);

    FakeState state() const;
    // Waits until the condition holds of the fake's state; false after the limit.
    bool waitFor(const std::function<bool(const FakeState&)>& condition, Millis limit) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// A device with one characteristic that takes writes of both kinds and notifies every value
// written back, unchanged.
class EchoDevice final : public SimulatedDevice {
public:
    static constexpr const char* kServiceUuid = "0000ec00-0000-1000-8000-00805f9b34fb";
    static constexpr const char* kCharacteristicUuid = "0000ec01-0000-1000-8000-00805f9b34fb";

    explicit EchoDevice(std::string identifier);

protected:
    void onWrite(ConnectionId connection, const std::string& characteristicUuid, const Value& value) override;
};

} // namespace wynfc::test
