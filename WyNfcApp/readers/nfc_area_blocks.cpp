#include "readers/nfc_area_blocks.h"

#include "readers/shared_api.h"

#include <nlohmann/json.hpp>

#include <limits>

namespace wynfc {
namespace {

std::optional<int> smallNonNegative(const nlohmann::json& object, const char* key) {
    const auto it = object.find(key);
    if (it == object.end() || !it->is_number_integer()) {
        return std::nullopt;
    }
    if (it->is_number_unsigned()) {
        const auto value = it->get<std::uint64_t>();
        if (value > static_cast<std::uint64_t>(std::numeric_limits<int>::max())) {
            return std::nullopt;
        }
        return static_cast<int>(value);
    }
    const auto value = it->get<std::int64_t>();
    if (value < 0 || value > std::numeric_limits<int>::max()) {
        return std::nullopt;
    }
    return static_cast<int>(value);
}

} // namespace

std::optional<NfcAreaBlocks> decodeNfcAreaBlocks(const std::string& description) {
    // Invalid JSON, including text that is not UTF-8, gives a discarded value, not an exception.
    const nlohmann::json object = nlohmann::json::parse(description, nullptr, false, false);
    if (!object.is_object()) {
        return std::nullopt;
    }
    const auto startAddress = smallNonNegative(object, "startAddress");
    const auto blockCount = smallNonNegative(object, "normBlockCount");
    if (!startAddress || !blockCount) {
        return std::nullopt;
    }
    return NfcAreaBlocks{*startAddress / 4, *blockCount};
}

std::optional<NfcAreaBlocks> nfcAreaBlocks(const std::string& name) {
    const auto description = sharedApi().getNFCProductPropertiesJsonByName(name);
    if (!description) {
        return std::nullopt;
    }
    return decodeNfcAreaBlocks(*description);
}

} // namespace wynfc
