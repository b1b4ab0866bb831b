#include "platform/linux/bluez_objects.h"

namespace wynfc::bluez {

void ObjectTree::merge(Properties& properties, GVariant* values) {
    GVariantIter iter;
    const gchar* name = nullptr;
    GVariant* value = nullptr;
    g_variant_iter_init(&iter, values);
    while (g_variant_iter_next(&iter, "{&sv}", &name, &value)) {
        properties[name] = Variant::adopt(value);
    }
}

void ObjectTree::load(GVariant* managedObjects) {
    objects_.clear();
    if (managedObjects == nullptr || !g_variant_is_of_type(managedObjects, G_VARIANT_TYPE("a{oa{sa{sv}}}"))) {
        return;
    }
    GVariantIter iter;
    const gchar* path = nullptr;
    GVariant* interfaces = nullptr;
    g_variant_iter_init(&iter, managedObjects);
    while (g_variant_iter_next(&iter, "{&o@a{sa{sv}}}", &path, &interfaces)) {
        add(path, interfaces);
        g_variant_unref(interfaces);
    }
}

std::vector<std::string> ObjectTree::add(const std::string& path, GVariant* interfaces) {
    std::vector<std::string> added;
    if (interfaces == nullptr || !g_variant_is_of_type(interfaces, G_VARIANT_TYPE("a{sa{sv}}"))) {
        return added;
    }
    GVariantIter iter;
    const gchar* name = nullptr;
    GVariant* properties = nullptr;
    g_variant_iter_init(&iter, interfaces);
    while (g_variant_iter_next(&iter, "{&s@a{sv}}", &name, &properties)) {
        Properties& own = objects_[path][name];
        own.clear();
        merge(own, properties);
        g_variant_unref(properties);
        added.emplace_back(name);
    }
    return added;
}

std::vector<std::string> ObjectTree::remove(const std::string& path, GVariant* interfaces) {
    std::vector<std::string> removed;
    const auto object = objects_.find(path);
    if (object == objects_.end() || interfaces == nullptr ||
        !g_variant_is_of_type(interfaces, G_VARIANT_TYPE_STRING_ARRAY)) {
        return removed;
    }
    GVariantIter iter;
    const gchar* name = nullptr;
    g_variant_iter_init(&iter, interfaces);
    while (g_variant_iter_next(&iter, "&s", &name)) {
        if (object->second.erase(name) > 0) {
            removed.emplace_back(name);
        }
    }
    if (object->second.empty()) {
        objects_.erase(object);
    }
    return removed;
}

std::vector<std::string> ObjectTree::change(const std::string& path, const std::string& interface,
                                            GVariant* changed, GVariant* invalidated) {
    std::vector<std::string> names;
    const auto object = objects_.find(path);
    if (object == objects_.end()) {
        return names;
    }
    const auto own = object->second.find(interface);
    if (own == object->second.end()) {
        return names;
    }
    if (changed != nullptr && g_variant_is_of_type(changed, G_VARIANT_TYPE_VARDICT)) {
        GVariantIter iter;
        const gchar* name = nullptr;
        GVariant* value = nullptr;
        g_variant_iter_init(&iter, changed);
        while (g_variant_iter_next(&iter, "{&sv}", &name, &value)) {
            own->second[name] = Variant::adopt(value);
            names.emplace_back(name);
        }
    }
    if (invalidated != nullptr && g_variant_is_of_type(invalidated, G_VARIANT_TYPE_STRING_ARRAY)) {
        GVariantIter iter;
        const gchar* name = nullptr;
        g_variant_iter_init(&iter, invalidated);
        while (g_variant_iter_next(&iter, "&s", &name)) {
            own->second.erase(name);
            names.emplace_back(name);
        }
    }
    return names;
}

bool ObjectTree::has(const std::string& path, const std::string& interface) const {
    const auto object = objects_.find(path);
    return object != objects_.end() && object->second.count(interface) > 0;
}

std::vector<std::string> ObjectTree::pathsWith(const std::string& interface) const {
    std::vector<std::string> paths;
    for (const auto& [path, interfaces] : objects_) {
        if (interfaces.count(interface) > 0) {
            paths.push_back(path);
        }
    }
    return paths;
}

GVariant* ObjectTree::property(const std::string& path, const std::string& interface,
                               const std::string& name) const {
    const auto object = objects_.find(path);
    if (object == objects_.end()) {
        return nullptr;
    }
    const auto own = object->second.find(interface);
    if (own == object->second.end()) {
        return nullptr;
    }
    const auto value = own->second.find(name);
    return value != own->second.end() ? value->second.get() : nullptr;
}

std::optional<bool> ObjectTree::boolean(const std::string& path, const std::string& interface,
                                        const std::string& name) const {
    GVariant* value = property(path, interface, name);
    if (value == nullptr || !g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN)) {
        return std::nullopt;
    }
    return g_variant_get_boolean(value) != FALSE;
}

std::optional<std::string> ObjectTree::string(const std::string& path, const std::string& interface,
                                              const std::string& name) const {
    GVariant* value = property(path, interface, name);
    if (value == nullptr || !(g_variant_is_of_type(value, G_VARIANT_TYPE_STRING) ||
                              g_variant_is_of_type(value, G_VARIANT_TYPE_OBJECT_PATH))) {
        return std::nullopt;
    }
    return std::string(g_variant_get_string(value, nullptr));
}

std::optional<std::vector<std::string>>
ObjectTree::strings(const std::string& path, const std::string& interface, const std::string& name) const {
    GVariant* value = property(path, interface, name);
    if (value == nullptr || !g_variant_is_of_type(value, G_VARIANT_TYPE_STRING_ARRAY)) {
        return std::nullopt;
    }
    std::vector<std::string> texts;
    GVariantIter iter;
    const gchar* text = nullptr;
    g_variant_iter_init(&iter, value);
    while (g_variant_iter_next(&iter, "&s", &text)) {
        texts.emplace_back(text);
    }
    return texts;
}

std::optional<int> ObjectTree::int16(const std::string& path, const std::string& interface,
                                     const std::string& name) const {
    GVariant* value = property(path, interface, name);
    if (value == nullptr || !g_variant_is_of_type(value, G_VARIANT_TYPE_INT16)) {
        return std::nullopt;
    }
    return g_variant_get_int16(value);
}

std::optional<Bytes> bytesOf(GVariant* value) {
    if (value == nullptr || !g_variant_is_of_type(value, G_VARIANT_TYPE_BYTESTRING)) {
        return std::nullopt;
    }
    gsize size = 0;
    const auto* data = static_cast<const std::uint8_t*>(g_variant_get_fixed_array(value, &size, 1));
    return Bytes(data, data + size);
}

GVariant* bytesVariant(const Bytes& bytes) {
    return g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, bytes.data(), bytes.size(), 1);
}

} // namespace wynfc::bluez
