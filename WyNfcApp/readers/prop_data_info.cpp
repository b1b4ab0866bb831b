#include "readers/prop_data_info.h"

#include "readers/shared_api.h"

#include <nlohmann/json.hpp>

#include <limits>

namespace wynfc {
namespace {

std::optional<std::int64_t> count(const nlohmann::json& object, const char* key) {
    const auto it = object.find(key);
    if (it == object.end() || !it->is_number_integer()) {
        return std::nullopt;
    }
    const auto max = static_cast<std::uint64_t>(std::numeric_limits<int>::max());
    if (it->is_number_unsigned()
            ? it->get<std::uint64_t>() > max
            : (it->get<std::int64_t>() < 0 || it->get<std::int64_t>() > std::int64_t(max))) {
        return std::nullopt;
    }
    return it->get<std::int64_t>();
}

std::optional<std::string> text(const nlohmann::json& object, const char* key) {
    const auto it = object.find(key);
    return it != object.end() && it->is_string() ? std::optional(it->get<std::string>()) : std::nullopt;
}

} // namespace

std::optional<PropDataInfo> decodePropDataInfo(const std::string& json, std::string* error) {
    // Invalid JSON, including text that is not UTF-8, gives a discarded value, not an exception.
    const nlohmann::json object = nlohmann::json::parse(json, nullptr, false, false);
    const auto version = object.is_object() ? text(object, "version") : std::nullopt;
    const auto name = object.is_object() ? text(object, "name") : std::nullopt;
    const auto startAddress = object.is_object() ? count(object, "startAddress") : std::nullopt;
    const auto byteCount = object.is_object() ? count(object, "byteCount") : std::nullopt;
    const auto blockCount = object.is_object() ? count(object, "normBlockCount") : std::nullopt;
    if (!version || !name || !startAddress || !byteCount || !blockCount) {
        if (error != nullptr) {
            *error = "not an area description: " + json;
        }
        return std::nullopt;
    }
    return PropDataInfo{*version, *name, *startAddress, *byteCount, *blockCount};
}

std::optional<PropDataInfo> propDataInfo(const std::string& name) {
    const auto description = sharedApi().getNFCProductPropertiesJsonByName(name);
    return description ? decodePropDataInfo(*description) : std::nullopt;
}

} // namespace wynfc
