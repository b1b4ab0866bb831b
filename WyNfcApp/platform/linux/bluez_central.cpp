#include "platform/linux/bluez_central.h"

#include "platform/console_log.h"
#include "platform/linux/bluez_central_core.h"

#include <algorithm>
#include <climits>
#include <utility>

namespace wynfc {

using namespace bluez;

namespace {

constexpr const char* kLogTag = "------ BluezCentral ------";

void log(const std::string& text) {
    logLine(kLogTag, text);
}

using CorePtr = std::shared_ptr<BluezCentralCore>;

// The core, as user data of a GLib callback; the callback's own copy keeps it alive while it
// runs.
CorePtr* holdCore(const CorePtr& core) {
    return new CorePtr(core);
}

void releaseCore(gpointer data) {
    delete static_cast<CorePtr*>(data);
}

gint timeoutOf(Millis timeout) {
    return static_cast<gint>(std::clamp<long long>(timeout.count(), 1, INT_MAX));
}

std::string remoteName(const GError* error) {
    gchar* name = g_dbus_error_get_remote_error(error);
    std::string text = name != nullptr ? name : "";
    g_free(name);
    return text;
}

bool isRefusal(const GError* error) {
    const std::string name = remoteName(error);
    return name == "org.freedesktop.DBus.Error.AccessDenied" || name == "org.bluez.Error.NotAuthorized" ||
           name == "org.bluez.Error.NotPermitted";
}

// A Connect that the radio aborted, or that met another attempt under way: worth another try.
bool isTransient(const GError* error) {
    const std::string name = remoteName(error);
    return name == "org.bluez.Error.Failed" || name == "org.bluez.Error.InProgress";
}

BleError errorOf(const GError* error) {
    const std::string name = remoteName(error);
    GError* copy = g_error_copy(error);
    g_dbus_error_strip_remote_error(copy);
    const std::string message = name.empty() ? copy->message : name + ": " + copy->message;
    g_error_free(copy);
    if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT) ||
        name == "org.freedesktop.DBus.Error.NoReply" || name == "org.freedesktop.DBus.Error.Timeout") {
        return bluezError(BluezErrorCode::timedOut, message);
    }
    if (isRefusal(error)) {
        return bluezError(BluezErrorCode::notAuthorized, message);
    }
    return bluezError(BluezErrorCode::failed, message);
}

// What an advertisement of a device carries; changes of anything else are not advertisements.
bool isAdvertised(const std::string& property) {
    static const char* const advertised[] = {"RSSI",    "UUIDs",      "Name",        "Alias",
                                             "TxPower", "Appearance", "ServiceData", "ManufacturerData"};
    return std::any_of(std::begin(advertised), std::end(advertised),
                       [&](const char* name) { return property == name; });
}

bool contains(const std::vector<std::string>& names, const char* name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// The name BlueZ gives a device without one: its address with dashes.
std::string dashed(std::string address) {
    std::replace(address.begin(), address.end(), ':', '-');
    return address;
}

// --- GLib callbacks: each takes the delivery lock and does nothing once the central is gone ---

struct PendingCall {
    CorePtr core;
    std::uint64_t epoch;
    BluezCentralCore::Reply reply;
};

void onCallDone(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<PendingCall> pending(static_cast<PendingCall*>(data));
    GError* error = nullptr;
    const Variant value =
        Variant::adopt(g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error));
    {
        std::lock_guard lock(pending->core->delivery);
        if (pending->core->alive && pending->core->epoch == pending->epoch && pending->reply) {
            pending->reply(value.get(), error);
        }
    }
    if (error != nullptr) {
        g_error_free(error);
    }
}

void ignoreReply(GObject* source, GAsyncResult* result, gpointer /*data*/) {
    GError* error = nullptr;
    if (GVariant* value = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error)) {
        g_variant_unref(value);
    }
    if (error != nullptr) {
        g_error_free(error);
    }
}

void onBusMade(GObject* /*source*/, GAsyncResult* result, gpointer data) {
    const CorePtr core = *static_cast<CorePtr*>(data);
    releaseCore(data);
    GError* error = nullptr;
    GDBusConnection* bus = core->options.busAddress ? g_dbus_connection_new_for_address_finish(result, &error)
                                                    : g_bus_get_finish(result, &error);
    std::lock_guard lock(core->delivery);
    if (!core->alive) {
        if (bus != nullptr) {
            g_object_unref(bus);
        }
    } else if (bus == nullptr) {
        log(std::string("Cannot reach the system bus: ") + error->message);
        core->busFailed = true;
        core->updateState();
    } else {
        // The system bus connection is shared: its end must not end the program.
        g_dbus_connection_set_exit_on_close(bus, FALSE);
        core->onBus(bus);
    }
    if (error != nullptr) {
        g_error_free(error);
    }
}

void onSignalReceived(GDBusConnection* /*bus*/, const gchar* sender, const gchar* path,
                      const gchar* interface, const gchar* member, GVariant* parameters, gpointer data) {
    const CorePtr core = *static_cast<CorePtr*>(data);
    std::lock_guard lock(core->delivery);
    if (core->alive) {
        core->onSignal(sender, path, interface, member, parameters);
    }
}

void onNameAppeared(GDBusConnection* /*bus*/, const gchar* /*name*/, const gchar* owner, gpointer data) {
    const CorePtr core = *static_cast<CorePtr*>(data);
    std::lock_guard lock(core->delivery);
    if (core->alive) {
        core->onNameAppeared(owner);
    }
}

void onNameVanished(GDBusConnection* /*bus*/, const gchar* /*name*/, gpointer data) {
    const CorePtr core = *static_cast<CorePtr*>(data);
    std::lock_guard lock(core->delivery);
    if (core->alive) {
        core->onNameVanished();
    }
}

} // namespace

BleError bluezError(BluezErrorCode code, std::string message) {
    return BleError{static_cast<int>(code), std::move(message)};
}

// --- BluezCentralCore ---

BluezCentralCore::BluezCentralCore(CentralManager& central, CentralManagerDelegate& centralDelegate,
                                   MainQueue& mainQueue, BluezCentral::Options centralOptions)
    : owner(central), delegate(centralDelegate), queue(mainQueue), options(std::move(centralOptions)),
      timing(options.timing) {
    if (options.connection != nullptr) {
        g_object_ref(options.connection);
    }
}

BluezCentralCore::~BluezCentralCore() {
    if (options.connection != nullptr) {
        g_object_unref(options.connection);
    }
    g_object_unref(cancellable);
}

void BluezCentralCore::post(Task task) {
    queue.async([self = shared_from_this(), task = std::move(task)] {
        std::lock_guard lock(self->delivery);
        if (self->alive) {
            task(*self);
        }
    });
}

void BluezCentralCore::postAfter(Millis delay, Task task) {
    queue.after(delay, [self = shared_from_this(), task = std::move(task)] {
        std::lock_guard lock(self->delivery);
        if (self->alive) {
            task(*self);
        }
    });
}

void BluezCentralCore::call(const std::string& path, const char* interface, const char* method,
                            GVariant* parameters, Millis timeout, Reply reply) {
    if (bus == nullptr || busOwner.empty()) {
        if (parameters != nullptr) {
            g_variant_unref(g_variant_ref_sink(parameters));
        }
        if (reply) {
            post([reply = std::move(reply), calledIn = epoch](BluezCentralCore& core) {
                if (core.epoch != calledIn) {
                    return;
                }
                GError* error =
                    g_error_new_literal(G_IO_ERROR, G_IO_ERROR_NOT_CONNECTED, "BlueZ is not on the bus");
                reply(nullptr, error);
                g_error_free(error);
            });
        }
        return;
    }
    g_dbus_connection_call(bus, busOwner.c_str(), path.c_str(), interface, method, parameters, nullptr,
                           G_DBUS_CALL_FLAGS_NO_AUTO_START, timeoutOf(timeout), cancellable, onCallDone,
                           new PendingCall{shared_from_this(), epoch, std::move(reply)});
}

void BluezCentralCore::start() {
    if (options.connection != nullptr) {
        onBus(G_DBUS_CONNECTION(g_object_ref(options.connection)));
    } else if (options.busAddress) {
        g_dbus_connection_new_for_address(
            options.busAddress->c_str(),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, cancellable, onBusMade, holdCore(shared_from_this()));
    } else {
        g_bus_get(G_BUS_TYPE_SYSTEM, cancellable, onBusMade, holdCore(shared_from_this()));
    }
}

void BluezCentralCore::shutdown() {
    std::lock_guard deliveryLock(delivery);
    if (!alive) {
        return;
    }
    alive = false;
    std::vector<std::string> linked;
    {
        std::lock_guard lock(mutex);
        scanning = false;
    }
    for (const auto& peripheral : peripherals) {
        if (peripheral->link().state != PeripheralState::disconnected && !peripheral->path.empty()) {
            linked.push_back(peripheral->path);
        }
        peripheral->moveTo(PeripheralState::disconnected);
        peripheral->clearConnection();
    }
    if (bus != nullptr && !busOwner.empty()) {
        // What this central started ends with it. The calls hold the bus until they are answered.
        for (const auto& path : linked) {
            g_dbus_connection_call(bus, busOwner.c_str(), path.c_str(), kDeviceInterface, "Disconnect",
                                   nullptr, nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START,
                                   timeoutOf(timing.bluetoothCallTimeout), nullptr, ignoreReply, nullptr);
        }
        if (discoveryActive || discoveryPending) {
            g_dbus_connection_call(bus, busOwner.c_str(), adapterPath.c_str(), kAdapterInterface,
                                   "StopDiscovery", nullptr, nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START,
                                   timeoutOf(timing.bluetoothCallTimeout), nullptr, ignoreReply, nullptr);
        }
        // Out on the bus before this returns: a program that ends right after (wynfc) must not
        // take its Disconnect with it and leave the link to the next one.
        if (!linked.empty() || discoveryActive || discoveryPending) {
            g_dbus_connection_flush_sync(bus, nullptr, nullptr);
        }
    }
    g_cancellable_cancel(cancellable);
    if (bus != nullptr) {
        for (const guint id : subscriptions) {
            g_dbus_connection_signal_unsubscribe(bus, id);
        }
        subscriptions.clear();
    }
    if (nameWatch != 0) {
        g_bus_unwatch_name(nameWatch);
        nameWatch = 0;
    }
    if (bus != nullptr) {
        g_object_unref(bus);
        bus = nullptr;
    }
}

// --- the bus and BlueZ on it ---

void BluezCentralCore::onBus(GDBusConnection* connection) {
    bus = connection;
    const struct {
        const char* interface;
        const char* member;
    } signals[] = {{kObjectManagerInterface, "InterfacesAdded"},
                   {kObjectManagerInterface, "InterfacesRemoved"},
                   {kPropertiesInterface, "PropertiesChanged"}};
    for (const auto& signal : signals) {
        subscriptions.push_back(g_dbus_connection_signal_subscribe(
            bus, kBusName, signal.interface, signal.member, nullptr, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
            onSignalReceived, holdCore(shared_from_this()), releaseCore));
    }
    nameWatch =
        g_bus_watch_name_on_connection(bus, kBusName, G_BUS_NAME_WATCHER_FLAGS_NONE, wynfc::onNameAppeared,
                                       wynfc::onNameVanished, holdCore(shared_from_this()), releaseCore);
}

void BluezCentralCore::onNameAppeared(const std::string& uniqueName) {
    if (uniqueName == busOwner) {
        return;
    }
    if (!busOwner.empty()) {
        onNameVanished(); // another BlueZ took the name over
    }
    busOwner = uniqueName;
    ++epoch;
    refused = false;
    treeLoaded = false;
    call(kRootPath, kObjectManagerInterface, "GetManagedObjects", nullptr, timing.bluetoothCallTimeout,
         [this](GVariant* result, const GError* error) {
             treeLoaded = true;
             if (error != nullptr) {
                 log("Cannot read BlueZ's objects: " + errorOf(error).message);
                 if (isRefusal(error)) {
                     refused = true;
                 } else {
                     busOwner.clear(); // as good as absent
                 }
             } else {
                 GVariant* objects = g_variant_get_child_value(result, 0);
                 tree.load(objects);
                 g_variant_unref(objects);
                 adapterPath = chooseAdapter(); // the devices BlueZ knows already are on it
                 for (const auto& path : tree.pathsWith(kDeviceInterface)) {
                     if (const auto peripheral = peripheralFor(path)) {
                         updateName(*peripheral);
                     }
                 }
             }
             updateState();
             if (alive) {
                 syncDiscovery();
             }
         });
}

void BluezCentralCore::onNameVanished() {
    const bool wasThere = !busOwner.empty();
    busOwner.clear();
    ++epoch;
    treeLoaded = false;
    refused = false;
    discoveryActive = false;
    discoveryPending = false;
    tree.clear();
    if (wasThere) {
        log("BlueZ left the bus");
    }
    updateState(); // unsupported; the links end after the state callback
    for (const auto& peripheral : peripherals) {
        peripheral->path.clear();
    }
}

void BluezCentralCore::onSignal(const char* sender, const char* path, const char* interface,
                                const char* member, GVariant* parameters) {
    // Signals sent before BlueZ answered GetManagedObjects are in its answer already.
    if (!treeLoaded || busOwner.empty() || sender == nullptr || busOwner != sender) {
        return;
    }
    const std::string signal = std::string(interface) + "." + member;
    if (signal == "org.freedesktop.DBus.ObjectManager.InterfacesAdded" &&
        g_variant_is_of_type(parameters, G_VARIANT_TYPE("(oa{sa{sv}})"))) {
        const gchar* object = nullptr;
        GVariant* interfaces = nullptr;
        g_variant_get(parameters, "(&o@a{sa{sv}})", &object, &interfaces);
        onInterfacesAdded(object, interfaces);
        g_variant_unref(interfaces);
    } else if (signal == "org.freedesktop.DBus.ObjectManager.InterfacesRemoved" &&
               g_variant_is_of_type(parameters, G_VARIANT_TYPE("(oas)"))) {
        const gchar* object = nullptr;
        GVariant* interfaces = nullptr;
        g_variant_get(parameters, "(&o@as)", &object, &interfaces);
        onInterfacesRemoved(object, interfaces);
        g_variant_unref(interfaces);
    } else if (signal == "org.freedesktop.DBus.Properties.PropertiesChanged" &&
               g_variant_is_of_type(parameters, G_VARIANT_TYPE("(sa{sv}as)"))) {
        const gchar* changedInterface = nullptr;
        GVariant* changed = nullptr;
        GVariant* invalidated = nullptr;
        g_variant_get(parameters, "(&s@a{sv}@as)", &changedInterface, &changed, &invalidated);
        onPropertiesChanged(path, changedInterface, changed, invalidated);
        g_variant_unref(changed);
        g_variant_unref(invalidated);
    }
}

void BluezCentralCore::onInterfacesAdded(const std::string& path, GVariant* interfaces) {
    const auto added = tree.add(path, interfaces);
    if (contains(added, kAdapterInterface)) {
        updateState();
    }
    if (alive && contains(added, kDeviceInterface)) {
        if (const auto peripheral = peripheralFor(path)) {
            updateName(*peripheral);
            checkLink(peripheral);
            if (alive) {
                reportDiscovery(path);
            }
        }
    }
}

void BluezCentralCore::onInterfacesRemoved(const std::string& path, GVariant* interfaces) {
    const auto removed = tree.remove(path, interfaces);
    if (contains(removed, kDeviceInterface)) {
        if (const auto peripheral = peripheralAt(path)) {
            peripheral->path.clear();
            endLink(peripheral, bluezError(BluezErrorCode::deviceUnavailable, "The device is gone."));
        }
    }
    if (alive && contains(removed, kAdapterInterface)) {
        updateState();
    }
}

void BluezCentralCore::onPropertiesChanged(const std::string& path, const std::string& interface,
                                           GVariant* changed, GVariant* invalidated) {
    const auto names = tree.change(path, interface, changed, invalidated);
    if (names.empty()) {
        return;
    }
    if (interface == kAdapterInterface) {
        if (path == adapterPath && (contains(names, "Powered") || contains(names, "PowerState"))) {
            updateState();
        }
    } else if (interface == kDeviceInterface) {
        const auto peripheral = peripheralFor(path);
        if (!peripheral) {
            return;
        }
        if (contains(names, "Name") || contains(names, "Alias")) {
            updateName(*peripheral);
        }
        if (contains(names, "Connected") || contains(names, "ServicesResolved")) {
            checkLink(peripheral);
        }
        // An invalidated RSSI means the device is no longer heard: nothing to report.
        const bool advertised = std::any_of(names.begin(), names.end(), isAdvertised);
        if (alive && advertised && tree.int16(path, kDeviceInterface, "RSSI")) {
            reportDiscovery(path);
        }
    } else if (interface == kGattCharacteristicInterface) {
        // Each notification is one Value change, delivered as it came, even when it repeats
        // the last value.
        GVariant* value = g_variant_lookup_value(changed, "Value", G_VARIANT_TYPE_BYTESTRING);
        if (value != nullptr) {
            const auto bytes = bytesOf(value);
            g_variant_unref(value);
            if (bytes) {
                deliverValue(path, *bytes);
            }
        }
    }
}

// --- state ---

std::string BluezCentralCore::chooseAdapter() const {
    const auto adapters = tree.pathsWith(kAdapterInterface);
    if (!options.adapter) {
        return adapters.empty() ? std::string() : adapters.front();
    }
    const auto chosen = std::find_if(adapters.begin(), adapters.end(), [&](const std::string& path) {
        return path.substr(path.rfind('/') + 1) == *options.adapter;
    });
    return chosen != adapters.end() ? *chosen : std::string();
}

void BluezCentralCore::updateState() {
    if (!busFailed && bus == nullptr) {
        return; // still waiting for the bus
    }
    if (!busOwner.empty() && !treeLoaded) {
        return; // BlueZ is there; its objects are on their way
    }
    CentralState next = CentralState::unsupported;
    adapterPath.clear();
    if (!busOwner.empty()) {
        if (refused) {
            next = CentralState::unauthorized;
        } else if (adapterPath = chooseAdapter(); !adapterPath.empty()) {
            // Going off counts from the moment BlueZ starts to switch the radio off, so that the
            // links it drops on the way are reported after the state.
            const bool powered = tree.boolean(adapterPath, kAdapterInterface, "Powered").value_or(false);
            const auto powerState = tree.string(adapterPath, kAdapterInterface, "PowerState");
            next = powered && (!powerState || *powerState == "on") ? CentralState::poweredOn
                                                                   : CentralState::poweredOff;
        }
    }
    setState(next);
}

void BluezCentralCore::setState(CentralState newState) {
    {
        std::lock_guard lock(mutex);
        if (state == newState) {
            return;
        }
        state = newState;
        if (newState != CentralState::poweredOn) {
            scanning = false;
        }
    }
    delegate.centralManagerDidUpdateState(owner);
    if (!alive || newState == CentralState::poweredOn) {
        return;
    }
    if (newState == CentralState::unauthorized) {
        syncDiscovery(); // stops a discovery BlueZ may still run for us
    } else {
        discoveryActive = false; // BlueZ ends every discovery when the radio goes off
    }
    const BleError lost =
        bluezError(BluezErrorCode::bluetoothUnavailable,
                   newState == CentralState::poweredOff     ? "Bluetooth is off."
                   : newState == CentralState::unauthorized ? "This program may not use Bluetooth."
                                                            : "Bluetooth is not available.");
    const auto all = peripherals;
    for (const auto& peripheral : all) {
        endLink(peripheral, lost);
        if (!alive) {
            return;
        }
    }
}

void BluezCentralCore::refuse(const GError* error) {
    log("Bluetooth refused: " + errorOf(error).message);
    refused = true;
    updateState();
}

// --- discovery ---

void BluezCentralCore::syncDiscovery() {
    if (discoveryPending || busOwner.empty() || !treeLoaded || adapterPath.empty()) {
        return;
    }
    bool wanted = false;
    {
        std::lock_guard lock(mutex);
        wanted = scanning && state == CentralState::poweredOn;
    }
    const std::string adapter = adapterPath;
    if (wanted && !discoveryActive) {
        discoveryPending = true;
        GVariantBuilder filter;
        g_variant_builder_init(&filter, G_VARIANT_TYPE_VARDICT);
        g_variant_builder_add(&filter, "{sv}", "Transport", g_variant_new_string("le"));
        call(adapter, kAdapterInterface, "SetDiscoveryFilter", g_variant_new("(a{sv})", &filter),
             timing.bluetoothCallTimeout, [this, adapter](GVariant*, const GError* error) {
                 if (error != nullptr && isRefusal(error)) {
                     discoveryPending = false;
                     refuse(error);
                     return;
                 }
                 if (error != nullptr) {
                     // Without a filter BlueZ discovers every transport; LE devices are among them.
                     log("No discovery filter: " + errorOf(error).message);
                 }
                 call(adapter, kAdapterInterface, "StartDiscovery", nullptr, timing.bluetoothCallTimeout,
                      [this](GVariant*, const GError* startError) {
                          discoveryPending = false;
                          if (startError == nullptr ||
                              remoteName(startError) == "org.bluez.Error.InProgress") {
                              discoveryActive = true;
                          } else if (isRefusal(startError)) {
                              refuse(startError);
                              return;
                          } else {
                              log("Cannot scan: " + errorOf(startError).message);
                              std::lock_guard lock(mutex);
                              scanning = false;
                              return;
                          }
                          syncDiscovery(); // the scan may have been stopped meanwhile
                      });
             });
    } else if (!wanted && discoveryActive) {
        discoveryActive = false;
        call(adapter, kAdapterInterface, "StopDiscovery", nullptr, timing.bluetoothCallTimeout,
             [](GVariant*, const GError* error) {
                 if (error != nullptr) {
                     log("Stopping the scan: " + errorOf(error).message);
                 }
             });
    }
}

void BluezCentralCore::reportHeardDevices() {
    for (const auto& path : tree.pathsWith(kDeviceInterface)) {
        if (!alive) {
            return;
        }
        if (tree.int16(path, kDeviceInterface, "RSSI")) {
            reportDiscovery(path);
        }
    }
}

void BluezCentralCore::reportDiscovery(const std::string& path) {
    {
        std::lock_guard lock(mutex);
        if (!scanning || state != CentralState::poweredOn) {
            return;
        }
    }
    if (!isOnAdapter(path) || tree.boolean(path, kDeviceInterface, "Connected").value_or(false)) {
        return; // a connected device does not advertise
    }
    const auto peripheral = peripheralFor(path);
    if (!peripheral || peripheral->link().state != PeripheralState::disconnected) {
        return;
    }
    updateName(*peripheral);
    AdvertisementData advertisement;
    advertisement.localName = tree.string(path, kDeviceInterface, "Name");
    advertisement.serviceUuids = tree.strings(path, kDeviceInterface, "UUIDs");
    const int rssi = tree.int16(path, kDeviceInterface, "RSSI").value_or(127); // 127: not known
    delegate.didDiscover(owner, peripheral, advertisement, rssi);
}

// --- peripherals and connections ---

std::shared_ptr<BluezPeripheral> BluezCentralCore::peripheralAt(const std::string& path) const {
    for (const auto& peripheral : peripherals) {
        if (peripheral->path == path) {
            return peripheral;
        }
    }
    return nullptr;
}

bool BluezCentralCore::isOnAdapter(const std::string& devicePath) const {
    return !adapterPath.empty() &&
           tree.string(devicePath, kDeviceInterface, "Adapter").value_or(std::string()) == adapterPath;
}

std::shared_ptr<BluezPeripheral> BluezCentralCore::peripheralFor(const std::string& path) {
    if (!isOnAdapter(path)) {
        return nullptr;
    }
    const auto address = tree.string(path, kDeviceInterface, "Address");
    if (!address) {
        return nullptr;
    }
    for (const auto& peripheral : peripherals) {
        if (peripheral->address == *address) {
            peripheral->path = path;
            return peripheral;
        }
    }
    peripherals.push_back(std::make_shared<BluezPeripheral>(weak_from_this(), *address));
    peripherals.back()->path = path;
    return peripherals.back();
}

void BluezCentralCore::updateName(BluezPeripheral& peripheral) {
    // The alias is the user's name for the device, else its own; BlueZ makes one of the
    // address for a device without a name, which is no name.
    const auto alias = tree.string(peripheral.path, kDeviceInterface, "Alias");
    if (alias && *alias != dashed(peripheral.address)) {
        peripheral.setName(alias);
    } else if (auto name = tree.string(peripheral.path, kDeviceInterface, "Name")) {
        peripheral.setName(std::move(name));
    } else if (!peripheral.path.empty() && tree.has(peripheral.path, kDeviceInterface)) {
        peripheral.setName(std::nullopt);
    }
}

void BluezCentralCore::startConnection(const std::shared_ptr<BluezPeripheral>& peripheral,
                                       std::uint64_t connection) {
    if (!peripheral->isOn(PeripheralState::connecting, connection)) {
        return;
    }
    if (peripheral->path.empty() || !isOnAdapter(peripheral->path)) {
        failConnection(peripheral, connection,
                       bluezError(BluezErrorCode::deviceUnavailable, "BlueZ does not know the device now."),
                       false);
        return;
    }
    peripheral->attempt = 0;
    peripheral->sawLinked = false;
    postAfter(timing.bluetoothConnectTimeout, [peripheral, connection](BluezCentralCore& core) {
        core.failConnection(peripheral, connection,
                            bluezError(BluezErrorCode::timedOut, "The connection took too long."), true);
    });
    sendConnect(peripheral, connection);
    checkLink(peripheral); // another program may have connected it already
}

void BluezCentralCore::sendConnect(const std::shared_ptr<BluezPeripheral>& peripheral,
                                   std::uint64_t connection) {
    if (!peripheral->isOn(PeripheralState::connecting, connection)) {
        return;
    }
    ++peripheral->attempt;
    peripheral->connectAnswered = false;
    call(peripheral->path, kDeviceInterface, "Connect", nullptr, timing.bluetoothConnectTimeout,
         [this, peripheral, connection](GVariant*, const GError* error) {
             if (!peripheral->isOn(PeripheralState::connecting, connection)) {
                 return;
             }
             if (error == nullptr || remoteName(error) == "org.bluez.Error.AlreadyConnected") {
                 peripheral->connectAnswered = true;
                 checkLink(peripheral);
                 return;
             }
             log("Connect: " + errorOf(error).message);
             if (isTransient(error) && peripheral->attempt < timing.bluetoothConnectAttempts) {
                 postAfter(timing.bluetoothConnectRetryPause,
                           [peripheral, connection](BluezCentralCore& core) {
                               core.sendConnect(peripheral, connection);
                           });
                 return;
             }
             failConnection(peripheral, connection, errorOf(error), false);
             if (alive && isRefusal(error)) {
                 refuse(error);
             }
         });
}

void BluezCentralCore::checkLink(const std::shared_ptr<BluezPeripheral>& peripheral) {
    if (peripheral->path.empty()) {
        return;
    }
    const bool linked = tree.boolean(peripheral->path, kDeviceInterface, "Connected").value_or(false);
    const bool resolved =
        linked && tree.boolean(peripheral->path, kDeviceInterface, "ServicesResolved").value_or(false);
    const auto link = peripheral->link();
    if (link.state == PeripheralState::connecting) {
        if (resolved) {
            if (peripheral->moveTo(PeripheralState::connected, PeripheralState::connecting,
                                   link.connection)) {
                delegate.didConnect(owner, peripheral);
            }
        } else if (linked) {
            peripheral->sawLinked = true;
        } else if (peripheral->sawLinked && peripheral->connectAnswered) {
            failConnection(
                peripheral, link.connection,
                bluezError(BluezErrorCode::connectionLost, "The link dropped while it was set up."), false);
        }
    } else if (link.state == PeripheralState::connected && !linked) {
        endLink(peripheral, bluezError(BluezErrorCode::connectionLost, "The connection was lost."));
    }
}

void BluezCentralCore::failConnection(const std::shared_ptr<BluezPeripheral>& peripheral,
                                      std::uint64_t connection, BleError error, bool abortInBluez) {
    if (!peripheral->moveTo(PeripheralState::disconnected, PeripheralState::connecting, connection)) {
        return;
    }
    peripheral->clearConnection();
    if (abortInBluez && !peripheral->path.empty()) {
        call(peripheral->path, kDeviceInterface, "Disconnect", nullptr, timing.bluetoothCallTimeout, {});
    }
    delegate.didFailToConnect(owner, peripheral, error);
}

void BluezCentralCore::endLink(const std::shared_ptr<BluezPeripheral>& peripheral, const BleError& error) {
    const auto before = peripheral->link().state;
    if (before == PeripheralState::disconnected) {
        return;
    }
    peripheral->moveTo(PeripheralState::disconnected);
    peripheral->clearConnection();
    delegate.didDisconnectPeripheral(
        owner, peripheral,
        before == PeripheralState::disconnecting ? std::nullopt : std::optional<BleError>(error));
}

void BluezCentralCore::finishCancel(const std::shared_ptr<BluezPeripheral>& peripheral,
                                    std::uint64_t connection) {
    if (!peripheral->moveTo(PeripheralState::disconnected, PeripheralState::disconnecting, connection)) {
        return;
    }
    peripheral->clearConnection();
    delegate.didDisconnectPeripheral(owner, peripheral, std::nullopt);
}

void BluezCentralCore::deliverValue(const std::string& path, const Bytes& value) {
    for (const auto& peripheral : peripherals) {
        if (peripheral->link().state != PeripheralState::connected) {
            continue;
        }
        const auto characteristic = peripheral->characteristicAt(path);
        if (!characteristic || !(characteristic->isNotifying() || characteristic->subscribing)) {
            continue; // not subscribed by this central: not ours to report
        }
        characteristic->setValue(value);
        if (PeripheralDelegate* target = peripheral->delegate()) {
            target->didUpdateValueFor(*peripheral, characteristic, std::nullopt);
        }
        return;
    }
}

// --- BluezCentral ---

BluezCentral::BluezCentral(CentralManagerDelegate& delegate, MainQueue& mainQueue, Options options)
    : core_(std::make_shared<BluezCentralCore>(*this, delegate, mainQueue, std::move(options))) {
    core_->post([](BluezCentralCore& core) { core.start(); });
}

BluezCentral::~BluezCentral() {
    core_->shutdown();
}

CentralState BluezCentral::state() const {
    std::lock_guard lock(core_->mutex);
    return core_->state;
}

void BluezCentral::scanForPeripherals() {
    {
        std::lock_guard lock(core_->mutex);
        if (core_->state != CentralState::poweredOn) {
            return;
        }
        core_->scanning = true;
    }
    core_->post([](BluezCentralCore& core) {
        core.syncDiscovery();
        core.reportHeardDevices();
    });
}

void BluezCentral::stopScan() {
    {
        std::lock_guard lock(core_->mutex);
        core_->scanning = false;
    }
    core_->post([](BluezCentralCore& core) { core.syncDiscovery(); });
}

bool BluezCentral::isScanning() const {
    std::lock_guard lock(core_->mutex);
    return core_->scanning;
}

void BluezCentral::connect(const std::shared_ptr<Peripheral>& peripheral) {
    const auto own = std::dynamic_pointer_cast<BluezPeripheral>(peripheral);
    if (!own || own->core.lock() != core_) {
        return;
    }
    std::optional<std::uint64_t> connection;
    {
        std::lock_guard lock(core_->mutex);
        if (core_->state != CentralState::poweredOn) {
            return;
        }
        connection = own->moveTo(PeripheralState::connecting, PeripheralState::disconnected);
    }
    if (connection) {
        core_->post([own, id = *connection](BluezCentralCore& core) { core.startConnection(own, id); });
    }
}

void BluezCentral::cancelPeripheralConnection(const std::shared_ptr<Peripheral>& peripheral) {
    const auto own = std::dynamic_pointer_cast<BluezPeripheral>(peripheral);
    if (!own || own->core.lock() != core_) {
        return;
    }
    std::optional<std::uint64_t> connection =
        own->moveTo(PeripheralState::disconnecting, PeripheralState::connecting);
    if (!connection) {
        connection = own->moveTo(PeripheralState::disconnecting, PeripheralState::connected);
    }
    if (!connection) {
        return;
    }
    core_->post([own, id = *connection](BluezCentralCore& core) {
        if (own->path.empty()) {
            core.finishCancel(own, id);
            return;
        }
        // BlueZ answers once the link is down (or the attempt given up), whatever the answer.
        core.call(own->path, kDeviceInterface, "Disconnect", nullptr, core.timing.bluetoothCallTimeout,
                  [&core, own, id](GVariant*, const GError*) { core.finishCancel(own, id); });
    });
}

CentralManagerFactory BluezCentral::factory(MainQueue& mainQueue, Options options) {
    return [&mainQueue, options](CentralManagerDelegate& delegate) -> std::unique_ptr<CentralManager> {
        return std::make_unique<BluezCentral>(delegate, mainQueue, options);
    };
}

} // namespace wynfc
