#include "fake_bluez.h"

#include "platform/central_manager.h"
#include "platform/main_queue.h"

#include <gio/gio.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <future>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>

namespace wynfc::test {
namespace {

constexpr const char* kAdapterPath = "/org/bluez/hci0";
constexpr const char* kAdapterAddress = "00:1A:7D:DA:71:00";
constexpr const char* kObjectManager = "org.freedesktop.DBus.ObjectManager";
constexpr const char* kProperties = "org.freedesktop.DBus.Properties";
constexpr const char* kAdapter = "org.bluez.Adapter1";
constexpr const char* kDevice = "org.bluez.Device1";
constexpr const char* kGattService = "org.bluez.GattService1";
constexpr const char* kGattCharacteristic = "org.bluez.GattCharacteristic1";

constexpr const char* kIntrospection = R"(<node>
  <interface name="org.freedesktop.DBus.ObjectManager">
    <method name="GetManagedObjects"><arg name="objects" type="a{oa{sa{sv}}}" direction="out"/></method>
    <signal name="InterfacesAdded"><arg name="object" type="o"/><arg name="interfaces" type="a{sa{sv}}"/></signal>
    <signal name="InterfacesRemoved"><arg name="object" type="o"/><arg name="interfaces" type="as"/></signal>
  </interface>
  <interface name="org.bluez.Adapter1">
    <method name="StartDiscovery"/>
    <method name="StopDiscovery"/>
    <method name="SetDiscoveryFilter"><arg name="filter" type="a{sv}" direction="in"/></method>
    <method name="RemoveDevice"><arg name="device" type="o" direction="in"/></method>
    <property name="Address" type="s" access="read"/>
    <property name="AddressType" type="s" access="read"/>
    <property name="Name" type="s" access="read"/>
    <property name="Alias" type="s" access="readwrite"/>
    <property name="Powered" type="b" access="readwrite"/>
    <property name="PowerState" type="s" access="read"/>
    <property name="Discoverable" type="b" access="readwrite"/>
    <property name="Pairable" type="b" access="readwrite"/>
    <property name="Discovering" type="b" access="read"/>
    <property name="UUIDs" type="as" access="read"/>
  </interface>
  <interface name="org.bluez.Device1">
    <method name="Connect"/>
    <method name="Disconnect"/>
    <property name="Address" type="s" access="read"/>
    <property name="AddressType" type="s" access="read"/>
    <property name="Name" type="s" access="read"/>
    <property name="Alias" type="s" access="readwrite"/>
    <property name="Paired" type="b" access="read"/>
    <property name="Trusted" type="b" access="readwrite"/>
    <property name="Blocked" type="b" access="readwrite"/>
    <property name="LegacyPairing" type="b" access="read"/>
    <property name="RSSI" type="n" access="read"/>
    <property name="Connected" type="b" access="read"/>
    <property name="UUIDs" type="as" access="read"/>
    <property name="Adapter" type="o" access="read"/>
    <property name="ServicesResolved" type="b" access="read"/>
  </interface>
  <interface name="org.bluez.GattService1">
    <property name="UUID" type="s" access="read"/>
    <property name="Primary" type="b" access="read"/>
    <property name="Device" type="o" access="read"/>
  </interface>
  <interface name="org.bluez.GattCharacteristic1">
    <method name="ReadValue"><arg name="options" type="a{sv}" direction="in"/><arg name="value" type="ay" direction="out"/></method>
    <method name="WriteValue"><arg name="value" type="ay" direction="in"/><arg name="options" type="a{sv}" direction="in"/></method>
    <method name="StartNotify"/>
    <method name="StopNotify"/>
    <property name="UUID" type="s" access="read"/>
    <property name="Service" type="o" access="read"/>
    <property name="Value" type="ay" access="read"/>
    <property name="Notifying" type="b" access="read"/>
    <property name="Flags" type="as" access="read"/>
  </interface>
</node>)";

GVariant* stringArray(const std::vector<std::string>& texts) {
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE_STRING_ARRAY);
    for (const auto& text : texts) {
        g_variant_builder_add(&builder, "s", text.c_str());
    }
    return g_variant_builder_end(&builder);
}

GVariant* byteArray(const Bytes& bytes) {
    return g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, bytes.data(), bytes.size(), 1);
}

// a{sv} built one entry at a time.
class Dictionary {
public:
    Dictionary() { g_variant_builder_init(&builder_, G_VARIANT_TYPE_VARDICT); }
    ~Dictionary() { g_variant_builder_clear(&builder_); }
    Dictionary& add(const char* name, GVariant* value) {
        g_variant_builder_add(&builder_, "{sv}", name, value);
        return *this;
    }
    GVariant* end() { return g_variant_builder_end(&builder_); }

private:
    GVariantBuilder builder_;
};

// A thread running a GLib main context of its own: the fake's bus side and its simulated
// central live there. Tasks are handed over under a lock of ours, which the thread sanitizer
// sees (GLib is not built with it).
class ContextThread final : public MainQueue {
public:
    ContextThread() : context_(g_main_context_new()), loop_(g_main_loop_new(context_, FALSE)) {
        std::promise<void> running;
        thread_ = std::thread([this, &running] {
            g_main_context_push_thread_default(context_);
            {
                std::lock_guard lock(mutex_);
                threadId_ = std::this_thread::get_id();
            }
            GSource* started = g_idle_source_new();
            g_source_set_callback(
                started,
                [](gpointer promise) {
                    static_cast<std::promise<void>*>(promise)->set_value();
                    return G_SOURCE_REMOVE;
                },
                &running, nullptr);
            g_source_attach(started, context_);
            g_source_unref(started);
            g_main_loop_run(loop_);
            g_main_context_pop_thread_default(context_);
        });
        running.get_future().wait();
    }

    ~ContextThread() override { stop(); }

    void stop() {
        if (!thread_.joinable()) {
            return;
        }
        g_main_loop_quit(loop_);
        thread_.join();
        g_main_loop_unref(loop_);
        g_main_context_unref(context_);
    }

    void async(Task task) override {
        {
            std::lock_guard lock(mutex_);
            ready_.push_back(std::move(task));
        }
        GSource* source = g_idle_source_new();
        g_source_set_callback(source, runReady, this, nullptr);
        g_source_attach(source, context_);
        g_source_unref(source);
    }

    bool sync(Task task) override {
        if (isMainThread()) {
            task();
            return true;
        }
        std::promise<void> done;
        async([&] {
            task();
            done.set_value();
        });
        done.get_future().wait();
        return true;
    }

    void after(Millis delay, Task task) override {
        std::uint64_t id = 0;
        {
            std::lock_guard lock(mutex_);
            id = ++lastTimer_;
            timers_[id] = std::move(task);
        }
        auto* timer = new std::pair<ContextThread*, std::uint64_t>(this, id);
        GSource* source = g_timeout_source_new(static_cast<guint>(std::max<long long>(delay.count(), 0)));
        g_source_set_callback(source, runTimer, timer, [](gpointer data) {
            delete static_cast<std::pair<ContextThread*, std::uint64_t>*>(data);
        });
        g_source_attach(source, context_);
        g_source_unref(source);
    }

    bool isMainThread() const override {
        std::lock_guard lock(mutex_);
        return std::this_thread::get_id() == threadId_;
    }

private:
    static gboolean runReady(gpointer data) {
        auto* self = static_cast<ContextThread*>(data);
        Task task;
        {
            std::lock_guard lock(self->mutex_);
            if (self->ready_.empty()) {
                return G_SOURCE_REMOVE;
            }
            task = std::move(self->ready_.front());
            self->ready_.pop_front();
        }
        task();
        return G_SOURCE_REMOVE;
    }

    static gboolean runTimer(gpointer data) {
        const auto [self, id] = *static_cast<std::pair<ContextThread*, std::uint64_t>*>(data);
        Task task;
        {
            std::lock_guard lock(self->mutex_);
            const auto found = self->timers_.find(id);
            if (found == self->timers_.end()) {
                return G_SOURCE_REMOVE;
            }
            task = std::move(found->second);
            self->timers_.erase(found);
        }
        task();
        return G_SOURCE_REMOVE;
    }

    GMainContext* context_;
    GMainLoop* loop_;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::thread::id threadId_;
    std::deque<Task> ready_;
    std::map<std::uint64_t, Task> timers_;
    std::uint64_t lastTimer_ = 0;
};

} // namespace

EchoDevice::EchoDevice(std::string identifier)
    : SimulatedDevice(
          std::move(identifier), "Echo", AdvertisementData{"Echo", std::vector<std::string>{kServiceUuid}},
          {{kServiceUuid, {{kCharacteristicUuid, CharacteristicProperties{false, true, true, true}}}}}) {}

void EchoDevice::onWrite(ConnectionId connection, const std::string& characteristicUuid, const Value& value) {
    notify(connection, characteristicUuid, {value});
}

// --- the fake ---

struct FakeBluez::Impl final : CentralManagerDelegate, PeripheralDelegate {
    struct Gatt {
        std::string path;
        std::string uuid;
        std::vector<std::string> flags;
        Bytes value;
        bool notifying = false;
        std::shared_ptr<wynfc::Characteristic> sim;
        std::deque<GDBusMethodInvocation*> writes;
        GDBusMethodInvocation* notify = nullptr;
    };
    struct GattService {
        std::string path;
        std::string uuid;
        std::vector<Gatt> characteristics;
    };
    struct Device {
        FakeDevice info;
        std::string path;
        bool inRange = true;
        bool exported = false;
        bool heard = false;
        bool connected = false;
        bool resolved = false;
        std::shared_ptr<Peripheral> sim;
        std::vector<GattService> services;
        int servicesPending = 0;
        GDBusMethodInvocation* connect = nullptr;
        std::vector<GDBusMethodInvocation*> disconnects;
    };

    explicit Impl(std::string address) : busAddress(std::move(address)) {
        GError* error = nullptr;
        introspection = g_dbus_node_info_new_for_xml(kIntrospection, &error);
        if (introspection == nullptr) {
            std::string message = error->message;
            g_error_free(error);
            throw std::runtime_error("fake BlueZ introspection: " + message);
        }
        thread.sync([this] {
            simCentral = radio.makeCentral(*this, thread);
            simCentral->scanForPeripherals();
            join();
        });
    }

    ~Impl() override {
        thread.sync([this] {
            leave();
            simCentral.reset();
        });
        thread.stop();
        g_dbus_node_info_unref(introspection);
    }

    // --- the bus ---

    void join() {
        if (bus != nullptr) {
            return;
        }
        GError* error = nullptr;
        bus = g_dbus_connection_new_for_address_sync(
            busAddress.c_str(),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, &error);
        if (bus == nullptr) {
            std::string message = error->message;
            g_error_free(error);
            throw std::runtime_error("fake BlueZ cannot join the bus: " + message);
        }
        registerObject("/", {kObjectManager});
        if (adapterPresent) {
            registerObject(kAdapterPath, {kAdapter});
        }
        GVariant* reply = g_dbus_connection_call_sync(
            bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
            g_variant_new("(su)", "org.bluez", 4U), G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, -1,
            nullptr, &error);
        if (reply == nullptr) {
            std::string message = error->message;
            g_error_free(error);
            throw std::runtime_error("fake BlueZ cannot own org.bluez: " + message);
        }
        g_variant_unref(reply);
        publish();
    }

    void leave() {
        if (bus == nullptr) {
            return;
        }
        for (auto& device : devices) {
            if (device->sim && device->sim->state() != PeripheralState::disconnected) {
                simCentral->cancelPeripheralConnection(device->sim);
            }
            dropInvocations(*device);
            device->exported = false;
            device->heard = false;
            device->connected = false;
            device->resolved = false;
            device->services.clear();
        }
        for (auto& [path, ids] : registrations) {
            for (const guint id : ids) {
                g_dbus_connection_unregister_object(bus, id);
            }
        }
        registrations.clear();
        sessions.clear();
        transport.reset();
        g_dbus_connection_close_sync(bus, nullptr, nullptr);
        g_object_unref(bus);
        bus = nullptr;
        publish();
    }

    // Calls still waiting when BlueZ goes get what the bus gives a caller whose peer left.
    static void dropInvocations(Device& device) {
        const auto drop = [](GDBusMethodInvocation* invocation) {
            g_dbus_method_invocation_return_dbus_error(
                invocation, "org.freedesktop.DBus.Error.NoReply",
                "Message recipient disconnected from message bus without replying");
        };
        for (auto& service : device.services) {
            for (auto& characteristic : service.characteristics) {
                std::for_each(characteristic.writes.begin(), characteristic.writes.end(), drop);
                characteristic.writes.clear();
                if (characteristic.notify != nullptr) {
                    drop(std::exchange(characteristic.notify, nullptr));
                }
            }
        }
        if (device.connect != nullptr) {
            drop(std::exchange(device.connect, nullptr));
        }
        std::for_each(device.disconnects.begin(), device.disconnects.end(), drop);
        device.disconnects.clear();
    }

    void registerObject(const std::string& path, const std::vector<const char*>& interfaces) {
        static const GDBusInterfaceVTable vtable = {onMethodCall, onGetProperty, onSetProperty, {}};
        for (const char* interface : interfaces) {
            GDBusInterfaceInfo* info = g_dbus_node_info_lookup_interface(introspection, interface);
            const guint id =
                g_dbus_connection_register_object(bus, path.c_str(), info, &vtable, this, nullptr, nullptr);
            registrations[path].push_back(id);
        }
        if (path != "/") {
            GVariantBuilder added;
            g_variant_builder_init(&added, G_VARIANT_TYPE("a{sa{sv}}"));
            addInterfaces(&added, path, interfaces);
            emit("/", kObjectManager, "InterfacesAdded",
                 g_variant_new("(o@a{sa{sv}})", path.c_str(), g_variant_builder_end(&added)));
        }
    }

    void unregisterObject(const std::string& path, const std::vector<const char*>& interfaces) {
        const auto found = registrations.find(path);
        if (bus == nullptr || found == registrations.end()) {
            return;
        }
        for (const guint id : found->second) {
            g_dbus_connection_unregister_object(bus, id);
        }
        registrations.erase(found);
        std::vector<std::string> names{"org.freedesktop.DBus.Introspectable", kProperties};
        names.insert(names.end(), interfaces.begin(), interfaces.end());
        emit("/", kObjectManager, "InterfacesRemoved",
             g_variant_new("(o@as)", path.c_str(), stringArray(names)));
    }

    void addInterfaces(GVariantBuilder* builder, const std::string& path,
                       const std::vector<const char*>& interfaces) {
        g_variant_builder_add(builder, "{s@a{sv}}", "org.freedesktop.DBus.Introspectable",
                              Dictionary().end());
        g_variant_builder_add(builder, "{s@a{sv}}", kProperties, Dictionary().end());
        for (const char* interface : interfaces) {
            g_variant_builder_add(builder, "{s@a{sv}}", interface, propertiesOf(path, interface));
        }
    }

    void emit(const std::string& path, const char* interface, const char* member, GVariant* parameters) {
        if (bus == nullptr) {
            g_variant_unref(g_variant_ref_sink(parameters));
            return;
        }
        g_dbus_connection_emit_signal(bus, nullptr, path.c_str(), interface, member, parameters, nullptr);
    }

    // PropertiesChanged for an exported object; nothing for one that is not on the bus.
    void changed(const std::string& path, const char* interface, GVariant* values,
                 const std::vector<std::string>& invalidated = {}) {
        if (registrations.count(path) == 0) {
            g_variant_unref(g_variant_ref_sink(values));
            return;
        }
        emit(path, kProperties, "PropertiesChanged",
             g_variant_new("(s@a{sv}@as)", interface, values, stringArray(invalidated)));
    }

    // --- properties ---

    GVariant* propertiesOf(const std::string& path, const std::string& interface) {
        if (interface == kAdapter && path == kAdapterPath) {
            return Dictionary()
                .add("Address", g_variant_new_string(kAdapterAddress))
                .add("AddressType", g_variant_new_string("public"))
                .add("Name", g_variant_new_string("fake"))
                .add("Alias", g_variant_new_string("fake"))
                .add("Powered", g_variant_new_boolean(powered))
                .add("PowerState", g_variant_new_string(powerState.c_str()))
                .add("Discoverable", g_variant_new_boolean(FALSE))
                .add("Pairable", g_variant_new_boolean(TRUE))
                .add("Discovering", g_variant_new_boolean(!sessions.empty()))
                .add("UUIDs", stringArray({}))
                .end();
        }
        for (const auto& device : devices) {
            if (interface == kDevice && path == device->path) {
                // A device without a name has its address, with dashes, as its alias.
                std::string alias = device->info.address;
                std::replace(alias.begin(), alias.end(), ':', '-');
                alias = device->info.name.value_or(alias);
                Dictionary properties;
                properties.add("Address", g_variant_new_string(device->info.address.c_str()))
                    .add("AddressType", g_variant_new_string("public"))
                    .add("Alias", g_variant_new_string(alias.c_str()))
                    .add("Paired", g_variant_new_boolean(FALSE))
                    .add("Trusted", g_variant_new_boolean(FALSE))
                    .add("Blocked", g_variant_new_boolean(FALSE))
                    .add("LegacyPairing", g_variant_new_boolean(FALSE))
                    .add("Connected", g_variant_new_boolean(device->connected))
                    .add("Adapter", g_variant_new_object_path(kAdapterPath))
                    .add("ServicesResolved", g_variant_new_boolean(device->resolved));
                if (device->info.name) {
                    properties.add("Name", g_variant_new_string(device->info.name->c_str()));
                }
                if (device->info.uuids) {
                    properties.add("UUIDs", stringArray(*device->info.uuids));
                }
                if (device->heard) {
                    properties.add("RSSI", g_variant_new_int16(static_cast<gint16>(device->info.rssi)));
                }
                return properties.end();
            }
            for (const auto& service : device->services) {
                if (interface == kGattService && path == service.path) {
                    return Dictionary()
                        .add("UUID", g_variant_new_string(service.uuid.c_str()))
                        .add("Primary", g_variant_new_boolean(TRUE))
                        .add("Device", g_variant_new_object_path(device->path.c_str()))
                        .end();
                }
                for (const auto& characteristic : service.characteristics) {
                    if (interface == kGattCharacteristic && path == characteristic.path) {
                        return Dictionary()
                            .add("UUID", g_variant_new_string(characteristic.uuid.c_str()))
                            .add("Service", g_variant_new_object_path(service.path.c_str()))
                            .add("Value", byteArray(characteristic.value))
                            .add("Notifying", g_variant_new_boolean(characteristic.notifying))
                            .add("Flags", stringArray(characteristic.flags))
                            .end();
                    }
                }
            }
        }
        return nullptr;
    }

    static GVariant* onGetProperty(GDBusConnection*, const gchar*, const gchar* path, const gchar* interface,
                                   const gchar* name, GError** error, gpointer data) {
        GVariant* all = static_cast<Impl*>(data)->propertiesOf(path, interface);
        GVariant* value = nullptr;
        if (all != nullptr) {
            g_variant_ref_sink(all);
            value = g_variant_lookup_value(all, name, nullptr);
            g_variant_unref(all);
        }
        if (value == nullptr) {
            g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_INVALID_ARGS, "No such property '%s'", name);
        }
        return value;
    }

    static gboolean onSetProperty(GDBusConnection*, const gchar*, const gchar* path, const gchar* interface,
                                  const gchar* name, GVariant* value, GError** error, gpointer data) {
        if (std::string(interface) == kAdapter && std::string(path) == kAdapterPath &&
            std::string(name) == "Powered" && g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN)) {
            static_cast<Impl*>(data)->power(g_variant_get_boolean(value) != FALSE);
            return TRUE;
        }
        g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_PROPERTY_READ_ONLY, "Not settable here");
        return FALSE;
    }

    // --- methods ---

    static void onMethodCall(GDBusConnection*, const gchar* sender, const gchar* path, const gchar* interface,
                             const gchar* method, GVariant* parameters, GDBusMethodInvocation* invocation,
                             gpointer data) {
        static_cast<Impl*>(data)->methodCall(sender, path, interface, method, parameters, invocation);
    }

    void methodCall(const std::string& sender, const std::string& path, const std::string& interface,
                    const std::string& method, GVariant* parameters, GDBusMethodInvocation* invocation) {
        const auto refusal = refusals.find(method);
        if (refusal != refusals.end() && (interface == kAdapter || interface == kDevice)) {
            g_dbus_method_invocation_return_dbus_error(invocation, refusal->second.c_str(), "Not Authorized");
            return;
        }
        if (interface == kObjectManager) {
            g_dbus_method_invocation_return_value(invocation,
                                                  g_variant_new("(@a{oa{sa{sv}}})", managedObjects()));
        } else if (interface == kAdapter) {
            adapterCall(sender, method, parameters, invocation);
        } else if (Device* device = deviceAt(path); device != nullptr && interface == kDevice) {
            deviceCall(*device, method, invocation);
        } else if (Gatt* characteristic = characteristicAt(path); characteristic != nullptr) {
            characteristicCall(*deviceOwning(path), *characteristic, method, parameters, invocation);
        } else {
            g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.UnknownObject",
                                                       "No such object");
        }
    }

    GVariant* managedObjects() {
        GVariantBuilder objects;
        g_variant_builder_init(&objects, G_VARIANT_TYPE("a{oa{sa{sv}}}"));
        const auto add = [&](const std::string& path, const std::vector<const char*>& interfaces) {
            GVariantBuilder own;
            g_variant_builder_init(&own, G_VARIANT_TYPE("a{sa{sv}}"));
            addInterfaces(&own, path, interfaces);
            g_variant_builder_add(&objects, "{o@a{sa{sv}}}", path.c_str(), g_variant_builder_end(&own));
        };
        if (adapterPresent) {
            add(kAdapterPath, {kAdapter});
        }
        for (const auto& device : devices) {
            if (!device->exported) {
                continue;
            }
            add(device->path, {kDevice});
            for (const auto& service : device->services) {
                add(service.path, {kGattService});
                for (const auto& characteristic : service.characteristics) {
                    add(characteristic.path, {kGattCharacteristic});
                }
            }
        }
        return g_variant_builder_end(&objects);
    }

    void adapterCall(const std::string& sender, const std::string& method, GVariant* parameters,
                     GDBusMethodInvocation* invocation) {
        if (method == "SetDiscoveryFilter") {
            GVariant* filter = g_variant_get_child_value(parameters, 0);
            const gchar* value = nullptr;
            if (g_variant_lookup(filter, "Transport", "&s", &value)) {
                transport = value;
            }
            g_variant_unref(filter);
            g_dbus_method_invocation_return_value(invocation, nullptr);
        } else if (method == "StartDiscovery") {
            if (!powered) {
                g_dbus_method_invocation_return_dbus_error(invocation, "org.bluez.Error.NotReady",
                                                           "Resource Not Ready");
                return;
            }
            if (!sessions.insert(sender).second) {
                g_dbus_method_invocation_return_dbus_error(invocation, "org.bluez.Error.InProgress",
                                                           "Operation already in progress");
                return;
            }
            g_dbus_method_invocation_return_value(invocation, nullptr);
            if (sessions.size() == 1) {
                changed(kAdapterPath, kAdapter,
                        Dictionary().add("Discovering", g_variant_new_boolean(TRUE)).end());
                for (auto& device : devices) {
                    hear(*device);
                }
            }
        } else if (method == "StopDiscovery") {
            if (sessions.erase(sender) == 0) {
                g_dbus_method_invocation_return_dbus_error(invocation, "org.bluez.Error.Failed",
                                                           "No discovery started");
                return;
            }
            g_dbus_method_invocation_return_value(invocation, nullptr);
            if (sessions.empty()) {
                endDiscovery();
            }
        } else if (method == "RemoveDevice") {
            const gchar* path = nullptr;
            g_variant_get(parameters, "(&o)", &path);
            Device* device = deviceAt(path);
            if (device == nullptr) {
                g_dbus_method_invocation_return_dbus_error(invocation, "org.bluez.Error.DoesNotExist",
                                                           "Does Not Exist");
                return;
            }
            forget(*device);
            g_dbus_method_invocation_return_value(invocation, nullptr);
        }
        publish();
    }

    void deviceCall(Device& device, const std::string& method, GDBusMethodInvocation* invocation) {
        if (method == "Connect") {
            ++connectCalls;
            publish();
            if (!powered) {
                g_dbus_method_invocation_return_dbus_error(invocation, "org.bluez.Error.NotReady",
                                                           "Resource Not Ready");
            } else if (device.connected && device.resolved) {
                g_dbus_method_invocation_return_value(invocation, nullptr);
            } else if (device.connect != nullptr) {
                g_dbus_method_invocation_return_dbus_error(invocation, "org.bluez.Error.InProgress",
                                                           "In Progress");
            } else if (connectFailures > 0) {
                --connectFailures;
                g_dbus_method_invocation_return_dbus_error(invocation, connectError.c_str(),
                                                           connectMessage.c_str());
            } else if (!device.info.gatt || !simPeripherals.count(device.info.gatt->identifier())) {
                g_dbus_method_invocation_return_dbus_error(invocation, "org.bluez.Error.Failed",
                                                           "le-connection-abort-by-local");
            } else {
                device.connect = invocation;
                device.sim = simPeripherals[device.info.gatt->identifier()];
                simCentral->connect(device.sim);
            }
        } else if (method == "Disconnect") {
            ++disconnectCalls;
            publish();
            if (!device.connected && device.connect == nullptr) {
                g_dbus_method_invocation_return_dbus_error(invocation, "org.bluez.Error.NotConnected",
                                                           "Not Connected");
                return;
            }
            device.disconnects.push_back(invocation);
            simCentral->cancelPeripheralConnection(device.sim);
        }
    }

    void characteristicCall(Device& device, Gatt& characteristic, const std::string& method,
                            GVariant* parameters, GDBusMethodInvocation* invocation) {
        const auto allows = [&](const char* flag) {
            return std::find(characteristic.flags.begin(), characteristic.flags.end(), flag) !=
                   characteristic.flags.end();
        };
        if (method == "ReadValue") {
            g_dbus_method_invocation_return_value(invocation,
                                                  g_variant_new("(@ay)", byteArray(characteristic.value)));
        } else if (method == "WriteValue") {
            GVariant* value = g_variant_get_child_value(parameters, 0);
            GVariant* options = g_variant_get_child_value(parameters, 1);
            gsize size = 0;
            const auto* data = static_cast<const std::uint8_t*>(g_variant_get_fixed_array(value, &size, 1));
            const gchar* type = "request";
            g_variant_lookup(options, "type", "&s", &type);
            const std::string kind = type;
            writes.push_back(
                FakeWrite{device.info.address, characteristic.uuid, Bytes(data, data + size), kind});
            g_variant_unref(value);
            g_variant_unref(options);
            publish();
            const bool command = kind == "command";
            if (!device.connected) {
                g_dbus_method_invocation_return_dbus_error(invocation, "org.bluez.Error.Failed",
                                                           "Not connected");
            } else if (!allows(command ? "write-without-response" : "write")) {
                g_dbus_method_invocation_return_dbus_error(invocation, "org.bluez.Error.NotSupported",
                                                           "Operation is not supported");
            } else if (command) {
                g_dbus_method_invocation_return_value(invocation, nullptr);
                device.sim->writeValue(writes.back().value, characteristic.sim, WriteType::withoutResponse);
            } else {
                characteristic.writes.push_back(invocation);
                device.sim->writeValue(writes.back().value, characteristic.sim, WriteType::withResponse);
            }
        } else if (method == "StartNotify" || method == "StopNotify") {
            const bool start = method == "StartNotify";
            if (!device.connected) {
                g_dbus_method_invocation_return_dbus_error(invocation, "org.bluez.Error.Failed",
                                                           "Not connected");
            } else if (!allows("notify")) {
                g_dbus_method_invocation_return_dbus_error(invocation, "org.bluez.Error.NotSupported",
                                                           "Operation is not supported");
            } else if (characteristic.notifying == start) {
                if (start) {
                    g_dbus_method_invocation_return_value(invocation, nullptr);
                } else {
                    g_dbus_method_invocation_return_dbus_error(invocation, "org.bluez.Error.Failed",
                                                               "No notify session started");
                }
            } else if (characteristic.notify != nullptr) {
                g_dbus_method_invocation_return_dbus_error(invocation, "org.bluez.Error.InProgress",
                                                           "In Progress");
            } else {
                characteristic.notify = invocation;
                device.sim->setNotifyValue(start, characteristic.sim);
            }
        }
    }

    // --- discovery ---

    // The device is heard by a discovery under way: its object appears, or its RSSI changes.
    void hear(Device& device) {
        if (sessions.empty() || !powered || !adapterPresent || !device.inRange || device.connected ||
            bus == nullptr) {
            return;
        }
        device.heard = true;
        if (!device.exported) {
            device.exported = true;
            registerObject(device.path, {kDevice});
        } else {
            changed(
                device.path, kDevice,
                Dictionary().add("RSSI", g_variant_new_int16(static_cast<gint16>(device.info.rssi))).end());
        }
    }

    void endDiscovery() {
        changed(kAdapterPath, kAdapter, Dictionary().add("Discovering", g_variant_new_boolean(FALSE)).end());
        for (auto& device : devices) {
            if (device->heard) {
                device->heard = false;
                changed(device->path, kDevice, Dictionary().end(), {"RSSI"});
            }
        }
    }

    void forget(Device& device) {
        if (device.sim && device.sim->state() != PeripheralState::disconnected) {
            simCentral->cancelPeripheralConnection(device.sim);
        }
        unexportGatt(device);
        if (device.exported) {
            device.exported = false;
            device.heard = false;
            unregisterObject(device.path, {kDevice});
        }
    }

    // --- the adapter ---

    void power(bool on) {
        if (on == powered) {
            return;
        }
        if (on) {
            powered = true;
            powerState = "on";
            changed(kAdapterPath, kAdapter,
                    Dictionary()
                        .add("Powered", g_variant_new_boolean(TRUE))
                        .add("PowerState", g_variant_new_string("on"))
                        .end());
            publish();
            return;
        }
        // The radio going off: the state says so first, then the links drop, then the adapter
        // reports itself off and every discovery ends.
        powerState = "on-disabling";
        changed(kAdapterPath, kAdapter,
                Dictionary().add("PowerState", g_variant_new_string("on-disabling")).end());
        for (auto& device : devices) {
            if (device->sim && device->sim->state() != PeripheralState::disconnected) {
                simCentral->cancelPeripheralConnection(device->sim);
            }
        }
        thread.async([this] {
            powered = false;
            powerState = "off";
            const bool wasDiscovering = !sessions.empty();
            sessions.clear();
            Dictionary values;
            values.add("Powered", g_variant_new_boolean(FALSE))
                .add("PowerState", g_variant_new_string("off"));
            if (wasDiscovering) {
                values.add("Discovering", g_variant_new_boolean(FALSE));
            }
            changed(kAdapterPath, kAdapter, values.end());
            for (auto& device : devices) {
                if (device->heard) {
                    device->heard = false;
                    changed(device->path, kDevice, Dictionary().end(), {"RSSI"});
                }
            }
            publish();
        });
    }

    void removeAdapterNow() {
        if (!adapterPresent) {
            return;
        }
        for (auto& device : devices) {
            forget(*device);
        }
        adapterPresent = false;
        sessions.clear();
        unregisterObject(kAdapterPath, {kAdapter});
        publish();
    }

    void addAdapterNow() {
        if (adapterPresent) {
            return;
        }
        adapterPresent = true;
        powered = true;
        powerState = "on";
        if (bus != nullptr) {
            registerObject(kAdapterPath, {kAdapter});
        }
        publish();
    }

    // --- the simulated side ---

    Device* deviceAt(const std::string& path) {
        for (auto& device : devices) {
            if (device->path == path) {
                return device.get();
            }
        }
        return nullptr;
    }

    Device* deviceOf(const Peripheral& sim) {
        for (auto& device : devices) {
            if (device->sim.get() == &sim) {
                return device.get();
            }
        }
        return nullptr;
    }

    Device* deviceOwning(const std::string& path) {
        for (auto& device : devices) {
            if (path.rfind(device->path + "/", 0) == 0) {
                return device.get();
            }
        }
        return nullptr;
    }

    Gatt* characteristicAt(const std::string& path) {
        for (auto& device : devices) {
            for (auto& service : device->services) {
                for (auto& characteristic : service.characteristics) {
                    if (characteristic.path == path) {
                        return &characteristic;
                    }
                }
            }
        }
        return nullptr;
    }

    Gatt* characteristicOf(Device& device, const wynfc::Characteristic& sim) {
        for (auto& service : device.services) {
            for (auto& characteristic : service.characteristics) {
                if (characteristic.sim.get() == &sim) {
                    return &characteristic;
                }
            }
        }
        return nullptr;
    }

    void unexportGatt(Device& device) {
        if (device.resolved) {
            device.resolved = false;
            changed(device.path, kDevice,
                    Dictionary().add("ServicesResolved", g_variant_new_boolean(FALSE)).end());
        }
        for (auto& service : device.services) {
            for (auto& characteristic : service.characteristics) {
                for (GDBusMethodInvocation* write : characteristic.writes) {
                    g_dbus_method_invocation_return_dbus_error(write, "org.bluez.Error.Failed",
                                                               "Not connected");
                }
                characteristic.writes.clear();
                if (characteristic.notify != nullptr) {
                    g_dbus_method_invocation_return_dbus_error(std::exchange(characteristic.notify, nullptr),
                                                               "org.bluez.Error.Failed", "Not connected");
                }
                unregisterObject(characteristic.path, {kGattCharacteristic});
            }
            unregisterObject(service.path, {kGattService});
        }
        device.services.clear();
    }

    void centralManagerDidUpdateState(CentralManager& central) override {
        if (central.state() == CentralState::poweredOn) {
            central.scanForPeripherals();
        }
    }

    void didDiscover(CentralManager&, const std::shared_ptr<Peripheral>& peripheral, const AdvertisementData&,
                     int) override {
        simPeripherals[peripheral->identifier()] = peripheral;
    }

    void didConnect(CentralManager&, const std::shared_ptr<Peripheral>& peripheral) override {
        Device* device = deviceOf(*peripheral);
        if (device == nullptr) {
            return;
        }
        device->connected = true;
        changed(device->path, kDevice, Dictionary().add("Connected", g_variant_new_boolean(TRUE)).end());
        publish();
        peripheral->setDelegate(this);
        peripheral->discoverServices(std::nullopt);
    }

    void didFailToConnect(CentralManager&, const std::shared_ptr<Peripheral>& peripheral,
                          const std::optional<BleError>&) override {
        if (Device* device = deviceOf(*peripheral); device != nullptr && device->connect != nullptr) {
            g_dbus_method_invocation_return_dbus_error(std::exchange(device->connect, nullptr),
                                                       "org.bluez.Error.Failed",
                                                       "le-connection-abort-by-local");
        }
    }

    void didDisconnectPeripheral(CentralManager&, const std::shared_ptr<Peripheral>& peripheral,
                                 const std::optional<BleError>&) override {
        Device* device = deviceOf(*peripheral);
        if (device == nullptr) {
            return;
        }
        if (device->connect != nullptr) {
            g_dbus_method_invocation_return_dbus_error(std::exchange(device->connect, nullptr),
                                                       "org.bluez.Error.Failed",
                                                       "Software caused connection abort");
        }
        unexportGatt(*device);
        for (GDBusMethodInvocation* disconnect : device->disconnects) {
            g_dbus_method_invocation_return_value(disconnect, nullptr);
        }
        device->disconnects.clear();
        if (device->connected) {
            device->connected = false;
            changed(device->path, kDevice, Dictionary().add("Connected", g_variant_new_boolean(FALSE)).end());
            // A reader advertises again once its link has ended: a discovery under way hears it.
            hear(*device);
        }
        publish();
    }

    void didDiscoverServices(Peripheral& peripheral, const std::optional<BleError>&) override {
        Device* device = deviceOf(peripheral);
        if (device == nullptr || holdServices) {
            return;
        }
        const auto services = peripheral.services();
        device->servicesPending = static_cast<int>(services.size());
        for (const auto& service : services) {
            peripheral.discoverCharacteristics(std::nullopt, service);
        }
        if (services.empty()) {
            resolve(*device, peripheral);
        }
    }

    void didDiscoverCharacteristicsFor(Peripheral& peripheral, const std::shared_ptr<Service>&,
                                       const std::optional<BleError>&) override {
        Device* device = deviceOf(peripheral);
        if (device != nullptr && --device->servicesPending == 0) {
            resolve(*device, peripheral);
        }
    }

    // Every service known: their objects appear, then ServicesResolved, then Connect answers.
    void resolve(Device& device, Peripheral& peripheral) {
        int handle = 0x0a;
        char name[32];
        for (const auto& simService : peripheral.services()) {
            GattService service;
            std::snprintf(name, sizeof name, "/service%04x", handle++);
            service.path = device.path + name;
            service.uuid = simService->uuid();
            for (const auto& simCharacteristic : simService->characteristics()) {
                Gatt characteristic;
                std::snprintf(name, sizeof name, "/char%04x", handle++);
                characteristic.path = service.path + name;
                characteristic.uuid = simCharacteristic->uuid();
                characteristic.sim = simCharacteristic;
                const auto& properties = simCharacteristic->properties();
                const std::pair<bool, const char*> flags[] = {
                    {properties.read, "read"},
                    {properties.writeWithoutResponse, "write-without-response"},
                    {properties.write, "write"},
                    {properties.notify, "notify"}};
                for (const auto& [has, flag] : flags) {
                    if (has) {
                        characteristic.flags.emplace_back(flag);
                    }
                }
                service.characteristics.push_back(std::move(characteristic));
            }
            device.services.push_back(std::move(service));
        }
        for (const auto& service : device.services) {
            registerObject(service.path, {kGattService});
            for (const auto& characteristic : service.characteristics) {
                registerObject(characteristic.path, {kGattCharacteristic});
            }
        }
        device.resolved = true;
        changed(device.path, kDevice,
                Dictionary().add("ServicesResolved", g_variant_new_boolean(TRUE)).end());
        if (device.connect != nullptr) {
            g_dbus_method_invocation_return_value(std::exchange(device.connect, nullptr), nullptr);
        }
        publish();
    }

    void didUpdateNotificationStateFor(Peripheral& peripheral,
                                       const std::shared_ptr<wynfc::Characteristic>& simCharacteristic,
                                       const std::optional<BleError>& error) override {
        Device* device = deviceOf(peripheral);
        Gatt* characteristic = device != nullptr ? characteristicOf(*device, *simCharacteristic) : nullptr;
        if (characteristic == nullptr) {
            return;
        }
        GDBusMethodInvocation* invocation = std::exchange(characteristic->notify, nullptr);
        if (error) {
            if (invocation != nullptr) {
                g_dbus_method_invocation_return_dbus_error(invocation, "org.bluez.Error.Failed",
                                                           error->message.c_str());
            }
            return;
        }
        if (characteristic->notifying != simCharacteristic->isNotifying()) {
            characteristic->notifying = simCharacteristic->isNotifying();
            changed(characteristic->path, kGattCharacteristic,
                    Dictionary().add("Notifying", g_variant_new_boolean(characteristic->notifying)).end());
        }
        if (invocation != nullptr) {
            g_dbus_method_invocation_return_value(invocation, nullptr);
        }
        publish();
    }

    void didUpdateValueFor(Peripheral& peripheral,
                           const std::shared_ptr<wynfc::Characteristic>& simCharacteristic,
                           const std::optional<BleError>&) override {
        Device* device = deviceOf(peripheral);
        Gatt* characteristic = device != nullptr ? characteristicOf(*device, *simCharacteristic) : nullptr;
        if (characteristic == nullptr) {
            return;
        }
        if (lostNotifications > 0) {
            --lostNotifications;
            return;
        }
        characteristic->value = simCharacteristic->value().value_or(Bytes{});
        changed(characteristic->path, kGattCharacteristic,
                Dictionary().add("Value", byteArray(characteristic->value)).end());
    }

    void didWriteValueFor(Peripheral& peripheral,
                          const std::shared_ptr<wynfc::Characteristic>& simCharacteristic,
                          const std::optional<BleError>& error) override {
        Device* device = deviceOf(peripheral);
        Gatt* characteristic = device != nullptr ? characteristicOf(*device, *simCharacteristic) : nullptr;
        if (characteristic == nullptr || characteristic->writes.empty()) {
            return;
        }
        GDBusMethodInvocation* invocation = characteristic->writes.front();
        characteristic->writes.pop_front();
        if (error) {
            g_dbus_method_invocation_return_dbus_error(invocation, "org.bluez.Error.Failed",
                                                       error->message.c_str());
        } else {
            g_dbus_method_invocation_return_value(invocation, nullptr);
        }
    }

    // --- what the test sees ---

    void publish() {
        FakeState now;
        now.onBus = bus != nullptr;
        now.powered = powered && adapterPresent;
        now.discovering = !sessions.empty();
        now.discoveryTransport = transport;
        for (const auto& device : devices) {
            if (device->connected) {
                now.connected.push_back(device->info.address);
            }
            for (const auto& service : device->services) {
                for (const auto& characteristic : service.characteristics) {
                    if (characteristic.notifying) {
                        now.notifying.push_back(characteristic.uuid);
                    }
                }
            }
        }
        now.writes = writes;
        now.connectCalls = connectCalls;
        now.disconnectCalls = disconnectCalls;
        {
            std::lock_guard lock(observedMutex);
            observed = std::move(now);
        }
        observedChanged.notify_all();
    }

    // Members: the thread first, so that it is stopped (by the destructor) before the rest goes.
    ContextThread thread;
    const std::string busAddress;
    GDBusNodeInfo* introspection = nullptr;
    SimulatedRadio radio;
    std::unique_ptr<CentralManager> simCentral;
    std::map<std::string, std::shared_ptr<Peripheral>> simPeripherals; // by identifier

    GDBusConnection* bus = nullptr;
    std::map<std::string, std::vector<guint>> registrations; // by object path
    std::vector<std::unique_ptr<Device>> devices;
    bool adapterPresent = true;
    bool powered = true;
    std::string powerState = "on";
    std::set<std::string> sessions; // clients discovering
    std::optional<std::string> transport;
    int connectFailures = 0;
    std::string connectError;
    std::string connectMessage;
    std::map<std::string, std::string> refusals; // method → error
    int lostNotifications = 0;
    bool holdServices = false;
    std::vector<FakeWrite> writes;
    int connectCalls = 0;
    int disconnectCalls = 0;

    mutable std::mutex observedMutex;
    mutable std::condition_variable observedChanged;
    FakeState observed;
};

// --- FakeBluez ---

FakeBluez::FakeBluez(const std::string& busAddress) : impl_(std::make_unique<Impl>(busAddress)) {}

FakeBluez::~FakeBluez() = default;

void FakeBluez::addDevice(FakeDevice device) {
    impl_->thread.sync([&] {
        auto own = std::make_unique<Impl::Device>();
        std::string path = std::string(kAdapterPath) + "/dev_" + device.address;
        std::replace(path.begin(), path.end(), ':', '_');
        own->path = path;
        if (device.gatt) {
            impl_->radio.addDevice(device.gatt);
        }
        own->info = std::move(device);
        impl_->devices.push_back(std::move(own));
        impl_->hear(*impl_->devices.back());
    });
    impl_->thread.sync([] {}); // the simulated central has heard it
}

void FakeBluez::setUuids(const std::string& address, std::optional<std::vector<std::string>> uuids) {
    impl_->thread.sync([&] {
        for (auto& device : impl_->devices) {
            if (device->info.address != address) {
                continue;
            }
            device->info.uuids = std::move(uuids);
            if (device->info.uuids) {
                impl_->changed(device->path, kDevice,
                               Dictionary().add("UUIDs", stringArray(*device->info.uuids)).end());
            } else {
                impl_->changed(device->path, kDevice, Dictionary().end(), {"UUIDs"});
            }
        }
    });
}

void FakeBluez::advertise(const std::string& address, int rssi) {
    impl_->thread.sync([&] {
        for (auto& device : impl_->devices) {
            if (device->info.address == address) {
                device->info.rssi = rssi;
                impl_->hear(*device);
            }
        }
    });
}

void FakeBluez::removeDevice(const std::string& address) {
    impl_->thread.sync([&] {
        for (auto& device : impl_->devices) {
            if (device->info.address == address && device->inRange) {
                device->inRange = false;
                impl_->forget(*device);
                if (device->info.gatt) {
                    impl_->radio.removeDevice(device->info.gatt);
                }
            }
        }
        impl_->publish();
    });
}

void FakeBluez::setPowered(bool powered) {
    impl_->thread.sync([&] { impl_->power(powered); });
    impl_->thread.sync([] {}); // the links it dropped are down
}

void FakeBluez::removeAdapter() {
    impl_->thread.sync([&] { impl_->removeAdapterNow(); });
    impl_->thread.sync([] {});
}

void FakeBluez::addAdapter() {
    impl_->thread.sync([&] { impl_->addAdapterNow(); });
}

void FakeBluez::leaveBus() {
    impl_->thread.sync([&] { impl_->leave(); });
    impl_->thread.sync([] {});
}

void FakeBluez::joinBus() {
    impl_->thread.sync([&] { impl_->join(); });
}

void FakeBluez::failConnects(int count, std::string error, std::string message) {
    impl_->thread.sync([&] {
        impl_->connectFailures = count;
        impl_->connectError = std::move(error);
        impl_->connectMessage = std::move(message);
    });
}

void FakeBluez::refuse(const std::string& method, const std::string& error) {
    impl_->thread.sync([&] { impl_->refusals[method] = error; });
}

void FakeBluez::loseNotifications(int count) {
    impl_->thread.sync([&] { impl_->lostNotifications = count; });
}

void FakeBluez::holdServiceDiscovery(bool hold) {
    impl_->thread.sync([&] { impl_->holdServices = hold; });
}

void FakeBluez::dropLink(const std::string& address) {
    impl_->thread.sync([&] {
        for (auto& device : impl_->devices) {
            if (device->info.address == address && device->info.gatt) {
                device->info.gatt->disconnect();
            }
        }
    });
}

FakeState FakeBluez::state() const {
    std::lock_guard lock(impl_->observedMutex);
    return impl_->observed;
}

bool FakeBluez::waitFor(const std::function<bool(const FakeState&)>& condition, Millis limit) const {
    std::unique_lock lock(impl_->observedMutex);
    return impl_->observedChanged.wait_for(lock, limit, [&] { return condition(impl_->observed); });
}

} // namespace wynfc::test
