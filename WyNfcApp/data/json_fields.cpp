#include "data/json_fields.h"

#include <limits>

namespace wynfc::json_fields {

const nlohmann::json& required(const nlohmann::json& object, const char* key) {
    if (!object.is_object()) {
        throw DecodeError("expected an object holding \"" + std::string(key) + "\"");
    }
    const auto it = object.find(key);
    if (it == object.end() || it->is_null()) {
        throw DecodeError("\"" + std::string(key) + "\" is missing");
    }
    return *it;
}

std::string text(const nlohmann::json& object, const char* key) {
    const nlohmann::json& value = required(object, key);
    if (!value.is_string()) {
        throw DecodeError("\"" + std::string(key) + "\" should be a text");
    }
    return value.get<std::string>();
}

std::optional<std::string> optionalText(const nlohmann::json& object, const char* key) {
    const auto it = object.find(key);
    if (it == object.end() || it->is_null()) {
        return std::nullopt;
    }
    if (!it->is_string()) {
        throw DecodeError("\"" + std::string(key) + "\" should be a text");
    }
    return it->get<std::string>();
}

std::int64_t integer(const nlohmann::json& object, const char* key) {
    const nlohmann::json& value = required(object, key);
    if (!value.is_number_integer() ||
        (value.is_number_unsigned() && value.get<std::uint64_t>() > std::uint64_t(INT64_MAX))) {
        throw DecodeError("\"" + std::string(key) + "\" should be a whole number");
    }
    return value.get<std::int64_t>();
}

std::uint64_t unsignedBits(const nlohmann::json& object, const char* key) {
    const nlohmann::json& value = required(object, key);
    if (!value.is_number_integer()) {
        throw DecodeError("\"" + std::string(key) + "\" should be a whole number");
    }
    return value.is_number_unsigned() ? value.get<std::uint64_t>()
                                      : static_cast<std::uint64_t>(value.get<std::int64_t>());
}

bool boolean(const nlohmann::json& object, const char* key) {
    const nlohmann::json& value = required(object, key);
    if (!value.is_boolean()) {
        throw DecodeError("\"" + std::string(key) + "\" should be true or false");
    }
    return value.get<bool>();
}

nlohmann::json parse(const std::string& text) {
    try {
        return nlohmann::json::parse(text, nullptr, true, false);
    } catch (const nlohmann::json::exception& error) {
        throw DecodeError(std::string("not valid JSON: ") + error.what());
    }
}

} // namespace wynfc::json_fields
