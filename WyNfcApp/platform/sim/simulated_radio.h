#pragma once

#include "platform/central_manager.h"
#include "platform/main_queue.h"
#include "platform/timing.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace wynfc {

struct RadioCore;

// One characteristic of a simulated device's attribute table.
struct SimulatedGattCharacteristic {
    std::string uuid;
    CharacteristicProperties properties;
};

struct SimulatedGattService {
    std::string uuid;
    std::vector<SimulatedGattCharacteristic> characteristics;
};

// The far end of simulated Bluetooth links: a remote device with its advertisement and
// attribute table. While in range of a radio and not connected it advertises; one central
// at a time may connect to it. Subclasses give it behaviour (the simulated reader).
class SimulatedDevice {
public:
    using ConnectionId = std::uint64_t;
    using Value = Bytes;

    SimulatedDevice(std::string identifier, std::optional<std::string> name, AdvertisementData advertisement,
                    std::vector<SimulatedGattService> services, int rssi = -55);
    virtual ~SimulatedDevice();

    SimulatedDevice(const SimulatedDevice&) = delete;
    SimulatedDevice& operator=(const SimulatedDevice&) = delete;

    const std::string& identifier() const { return identifier_; }
    const std::optional<std::string>& name() const { return name_; }
    const AdvertisementData& advertisement() const { return advertisement_; }
    const std::vector<SimulatedGattService>& services() const { return services_; }
    int rssi() const { return rssi_; }

    // True while a central is connected to this device.
    bool isConnected() const;

    // The device ends its connection, as a reader switched off or walked out of range
    // would: the central sees didDisconnectPeripheral with an error. No-op when unconnected.
    void disconnect();

protected:
    // A connected central wrote the value to one of this device's writable characteristics.
    // Runs on the writer's thread, after the write has been acknowledged; no radio lock is
    // held, so the device may notify or disconnect from here.
    virtual void onWrite(ConnectionId connection, const std::string& characteristicUuid,
                         const Value& value) = 0;

    // The connection ended, whoever ended it.
    virtual void onDisconnected(ConnectionId /*connection*/) {}

    // Sends the values as notifications of the characteristic, in order, once the delay
    // has passed. They reach the central only if the connection is still up by then and the
    // central has switched notifications on for that characteristic, as on a real link.
    void notify(ConnectionId connection, const std::string& characteristicUuid, std::vector<Value> values,
                Millis delay = Millis{0});

    // The connection now up, if any.
    std::optional<ConnectionId> currentConnection() const;

private:
    friend struct RadioCore;

    std::shared_ptr<RadioCore> radio() const;

    const std::string identifier_;
    const std::optional<std::string> name_;
    const AdvertisementData advertisement_;
    const std::vector<SimulatedGattService> services_;
    const int rssi_;

    mutable std::mutex radioMutex_;
    std::weak_ptr<RadioCore> radio_; // set while in range of a radio
};

// The air and the machine's Bluetooth adapter in one: which devices are in range, and the
// state every central on this machine sees (switch Bluetooth off and on, refuse the
// permission). Centrals created here report to their delegates on the given main queue.
class SimulatedRadio {
public:
    explicit SimulatedRadio(CentralState state = CentralState::poweredOn);
    // Drops every connection and lets go of the devices. Centrals may outlive the radio.
    ~SimulatedRadio();

    SimulatedRadio(const SimulatedRadio&) = delete;
    SimulatedRadio& operator=(const SimulatedRadio&) = delete;

    CentralState state() const;
    // Every central reports the new state. Leaving poweredOn stops all scans and ends all
    // connections: each connected peripheral's didDisconnectPeripheral follows the state
    // callback, with an error.
    void setState(CentralState state);
    void powerOn() { setState(CentralState::poweredOn); }
    void powerOff() { setState(CentralState::poweredOff); }
    // The user refuses this program Bluetooth; powerOn() grants it again.
    void refusePermission() { setState(CentralState::unauthorized); }

    // The device comes into range and advertises: scanning centrals discover it.
    void addDevice(std::shared_ptr<SimulatedDevice> device);
    // The device goes out of range; its connection is lost.
    void removeDevice(const std::shared_ptr<SimulatedDevice>& device);
    // The device advertises once more: every scanning central discovers it again.
    void advertise(const SimulatedDevice& device);

    // A central on this radio. The main queue must outlive it.
    std::unique_ptr<CentralManager> makeCentral(CentralManagerDelegate& delegate, MainQueue& mainQueue) const;
    CentralManagerFactory centralFactory(MainQueue& mainQueue) const;

private:
    friend class SimulatedCentral;

    std::shared_ptr<RadioCore> core_;
};

} // namespace wynfc
