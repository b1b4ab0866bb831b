#pragma once

// BlueZ's names on the bus, and a copy of its object tree kept from its object manager's
// answers and signals.

#include "platform/bytes.h"

#include <gio/gio.h>

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace wynfc::bluez {

inline constexpr const char* kBusName = "org.bluez";
inline constexpr const char* kRootPath = "/";
inline constexpr const char* kAdapterInterface = "org.bluez.Adapter1";
inline constexpr const char* kDeviceInterface = "org.bluez.Device1";
inline constexpr const char* kGattServiceInterface = "org.bluez.GattService1";
inline constexpr const char* kGattCharacteristicInterface = "org.bluez.GattCharacteristic1";
inline constexpr const char* kObjectManagerInterface = "org.freedesktop.DBus.ObjectManager";
inline constexpr const char* kPropertiesInterface = "org.freedesktop.DBus.Properties";

// One reference to a GVariant (sunk if it was floating), released with the value.
class Variant {
public:
    Variant() = default;
    explicit Variant(GVariant* value) : value_(value != nullptr ? g_variant_ref_sink(value) : nullptr) {}
    // Takes over a reference the caller owns (a call's result).
    static Variant adopt(GVariant* owned) {
        Variant v;
        v.value_ = owned;
        return v;
    }
    Variant(const Variant& other) : value_(other.value_ != nullptr ? g_variant_ref(other.value_) : nullptr) {}
    Variant(Variant&& other) noexcept : value_(std::exchange(other.value_, nullptr)) {}
    Variant& operator=(Variant other) noexcept {
        std::swap(value_, other.value_);
        return *this;
    }
    ~Variant() {
        if (value_ != nullptr) {
            g_variant_unref(value_);
        }
    }

    GVariant* get() const { return value_; }
    explicit operator bool() const { return value_ != nullptr; }

private:
    GVariant* value_ = nullptr;
};

// The objects BlueZ exports, with their interfaces and properties. Values are checked for
// their D-Bus type when read: a property of another type counts as absent.
class ObjectTree {
public:
    using Properties = std::map<std::string, Variant>;
    using Interfaces = std::map<std::string, Properties>;

    void clear() { objects_.clear(); }

    // Replaces the tree with GetManagedObjects' answer, a{oa{sa{sv}}}.
    void load(GVariant* managedObjects);
    // InterfacesAdded: the interfaces (a{sa{sv}}) now on the object. Returns their names.
    std::vector<std::string> add(const std::string& path, GVariant* interfaces);
    // InterfacesRemoved: the interfaces (as) gone from the object. Returns those it had.
    std::vector<std::string> remove(const std::string& path, GVariant* interfaces);
    // PropertiesChanged: changed values (a{sv}) and invalidated names (as). Returns the names
    // of both; nothing when the object does not have the interface.
    std::vector<std::string> change(const std::string& path, const std::string& interface, GVariant* changed,
                                    GVariant* invalidated);

    bool has(const std::string& path, const std::string& interface) const;
    // The objects with the interface, in path order.
    std::vector<std::string> pathsWith(const std::string& interface) const;

    GVariant* property(const std::string& path, const std::string& interface, const std::string& name) const;
    std::optional<bool> boolean(const std::string& path, const std::string& interface,
                                const std::string& name) const;
    std::optional<std::string> string(const std::string& path, const std::string& interface,
                                      const std::string& name) const; // s or o
    std::optional<std::vector<std::string>> strings(const std::string& path, const std::string& interface,
                                                    const std::string& name) const;
    std::optional<int> int16(const std::string& path, const std::string& interface,
                             const std::string& name) const;

private:
    static void merge(Properties& properties, GVariant* values);

    std::map<std::string, Interfaces> objects_;
};

// The bytes of an ay value; nothing for another type.
std::optional<Bytes> bytesOf(GVariant* value);
// A new floating ay value.
GVariant* bytesVariant(const Bytes& bytes);

} // namespace wynfc::bluez
