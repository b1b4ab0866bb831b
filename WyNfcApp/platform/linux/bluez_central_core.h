#pragma once

// Shared state of a BlueZ central and its peripherals. Internal to the central: include it
// only from its .cpp files.
//
// Threads and locks: everything that talks to the bus, and every callback, runs on the main
// queue (GLib's default main context) under the core's delivery lock. It is recursive (a
// callback may call back into the central), and the destructor and setDelegate take it to
// know that no callback is running. The core's mutex guards what the getters read from other
// threads (state, scan flag), each peripheral's mutex its own (link state, name, services,
// delegate); neither is held while calling out. Order: delivery lock, core mutex, peripheral
// mutex.

#include "platform/ble_peripheral.h"
#include "platform/linux/bluez_central.h"
#include "platform/linux/bluez_objects.h"

#include <gio/gio.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace wynfc {

class BluezPeripheral;

class BluezCharacteristic final : public Characteristic {
public:
    BluezCharacteristic(std::string uuid, CharacteristicProperties properties, std::string objectPath)
        : Characteristic(std::move(uuid), properties), path(std::move(objectPath)) {}
    using Characteristic::setNotifying;
    using Characteristic::setValue;

    const std::string path;
    bool subscribing = false; // StartNotify sent, not answered yet (main queue only)
};

class BluezService final : public Service {
public:
    BluezService(std::string uuid, std::string objectPath)
        : Service(std::move(uuid)), path(std::move(objectPath)) {}
    using Service::setCharacteristics;

    const std::string path;
};

BleError bluezError(BluezErrorCode code, std::string message);

struct BluezCentralCore : std::enable_shared_from_this<BluezCentralCore> {
    using Task = std::function<void(BluezCentralCore&)>;
    // A call's answer: the result, or the error (the other is null).
    using Reply = std::function<void(GVariant* result, const GError* error)>;

    BluezCentralCore(CentralManager& central, CentralManagerDelegate& centralDelegate, MainQueue& mainQueue,
                     BluezCentral::Options centralOptions);
    ~BluezCentralCore();

    // Runs the task on the main queue under the delivery lock, unless the central is gone.
    void post(Task task);
    void postAfter(Millis delay, Task task);
    // Calls the BlueZ that owns the name now. The reply runs like a posted task, and not at
    // all once BlueZ has left the bus or the central is gone. Takes a floating parameters value.
    void call(const std::string& path, const char* interface, const char* method, GVariant* parameters,
              Millis timeout, Reply reply);

    void start();
    void shutdown();

    // The bus and BlueZ's presence on it.
    void onBus(GDBusConnection* bus);
    void onNameAppeared(const std::string& uniqueName);
    void onNameVanished();
    void onSignal(const char* sender, const char* path, const char* interface, const char* member,
                  GVariant* parameters);
    void onInterfacesAdded(const std::string& path, GVariant* interfaces);
    void onInterfacesRemoved(const std::string& path, GVariant* interfaces);
    void onPropertiesChanged(const std::string& path, const std::string& interface, GVariant* changed,
                             GVariant* invalidated);

    // State.
    void updateState();
    void setState(CentralState newState);
    // A request was refused by the bus policy or polkit.
    void refuse(const GError* error);
    std::string chooseAdapter() const;

    // Discovery.
    void syncDiscovery();
    void reportHeardDevices();
    void reportDiscovery(const std::string& path);

    // Connections.
    std::shared_ptr<BluezPeripheral> peripheralAt(const std::string& path) const;
    std::shared_ptr<BluezPeripheral> peripheralFor(const std::string& path);
    bool isOnAdapter(const std::string& devicePath) const;
    void updateName(BluezPeripheral& peripheral);
    void startConnection(const std::shared_ptr<BluezPeripheral>& peripheral, std::uint64_t connection);
    void sendConnect(const std::shared_ptr<BluezPeripheral>& peripheral, std::uint64_t connection);
    void checkLink(const std::shared_ptr<BluezPeripheral>& peripheral);
    void failConnection(const std::shared_ptr<BluezPeripheral>& peripheral, std::uint64_t connection,
                        BleError error, bool abortInBluez);
    // The link (or attempt) ended without a cancel of ours: reported with the error; a cancel
    // under way is reported as the cancel's end, without one.
    void endLink(const std::shared_ptr<BluezPeripheral>& peripheral, const BleError& error);
    void finishCancel(const std::shared_ptr<BluezPeripheral>& peripheral, std::uint64_t connection);
    void deliverValue(const std::string& path, const Bytes& value);

    CentralManager& owner;
    CentralManagerDelegate& delegate;
    MainQueue& queue;
    const BluezCentral::Options options;
    const Timing timing;

    std::recursive_mutex delivery;
    bool alive = true; // under the delivery lock

    mutable std::mutex mutex;
    CentralState state = CentralState::unknown;
    bool scanning = false;

    // Main queue only (under the delivery lock).
    GDBusConnection* bus = nullptr;
    GCancellable* cancellable = g_cancellable_new();
    guint nameWatch = 0;
    std::vector<guint> subscriptions;
    bool busFailed = false;
    std::string busOwner;    // BlueZ's unique name, empty while it is not on the bus
    std::uint64_t epoch = 0; // changes whenever BlueZ joins or leaves
    bool treeLoaded = false;
    bool refused = false;
    bluez::ObjectTree tree;
    std::string adapterPath;
    bool discoveryActive = false;
    bool discoveryPending = false;
    std::vector<std::shared_ptr<BluezPeripheral>> peripherals; // one per address, never dropped
};

class BluezPeripheral final : public Peripheral, public std::enable_shared_from_this<BluezPeripheral> {
public:
    BluezPeripheral(std::weak_ptr<BluezCentralCore> core, std::string address);

    std::string identifier() const override { return address; }
    std::optional<std::string> name() const override;
    PeripheralState state() const override;
    void setDelegate(PeripheralDelegate* newDelegate) override;
    PeripheralDelegate* delegate() const override;
    std::vector<std::shared_ptr<Service>> services() const override;
    void discoverServices(const std::optional<std::vector<std::string>>& serviceUuids) override;
    void discoverCharacteristics(const std::optional<std::vector<std::string>>& characteristicUuids,
                                 const std::shared_ptr<Service>& service) override;
    void setNotifyValue(bool enabled, const std::shared_ptr<Characteristic>& characteristic) override;
    void writeValue(const Bytes& value, const std::shared_ptr<Characteristic>& characteristic,
                    WriteType type) override;

    // For the core.
    struct Link {
        PeripheralState state;
        std::uint64_t connection;
    };
    Link link() const;
    // Moves to the state and starts a new connection number; with `from`, only out of it.
    std::optional<std::uint64_t> moveTo(PeripheralState to,
                                        std::optional<PeripheralState> from = std::nullopt,
                                        std::optional<std::uint64_t> connection = std::nullopt);
    bool isOn(PeripheralState linkState, std::uint64_t connection) const;
    void setName(std::optional<std::string> newName);
    // The objects of a connection that ended: no longer notifying, no longer listed.
    void clearConnection();
    std::shared_ptr<BluezCharacteristic> characteristicAt(const std::string& path) const;

    const std::string address;
    const std::weak_ptr<BluezCentralCore> core;

    // Main queue only (under the delivery lock).
    std::string path; // the device's object, empty while BlueZ does not list it
    int attempt = 0;
    bool connectAnswered = false;
    bool sawLinked = false;

private:
    std::shared_ptr<BluezService> ownService(const Service* service) const;
    std::shared_ptr<BluezCharacteristic> ownCharacteristic(const Characteristic* characteristic) const;
    // Runs the task on the main queue while this connection is still up.
    void onConnection(std::function<void(BluezCentralCore&, BluezPeripheral&)> task);

    mutable std::mutex mutex_;
    PeripheralState state_ = PeripheralState::disconnected;
    std::uint64_t connection_ = 0;
    std::optional<std::string> name_;
    std::vector<std::shared_ptr<BluezService>> services_;
    PeripheralDelegate* delegate_ = nullptr;
};

} // namespace wynfc
