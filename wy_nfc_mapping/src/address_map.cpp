#include "address_map.h"

#include "log.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string_view>

namespace wy_nfc_mapping {
namespace {

using nlohmann::json;

// A map that cannot be used; the text says why.
class InvalidMap : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Every line of the loader names the function `load`, whichever helper writes it.
#define LOAD_ERROR(fmt, ...)                                                                                 \
    WY_LOG_ERROR_AT((SourcePlace{__FILE__, "load", __LINE__}), fmt __VA_OPT__(, ) __VA_ARGS__)

// Addresses, byte counts and byte indexes stay inside the tag's address space: 65536
// blocks of 4 bytes, the most an ISO 15693 command can address.
constexpr int64_t kTagAddressSpace = 65536 * 4;

const json& member(const json& object, const char* key) {
    static const json null;
    auto it = object.find(key);
    return it == object.end() ? null : *it;
}

std::string textOf(const json& object, const char* key, const std::string& where) {
    const json& value = member(object, key);
    if (!value.is_string()) {
        throw InvalidMap(where + " \"" + key + "\" should be a text");
    }
    return value.get<std::string>();
}

// The JSON integer as an int32 within [min, INT32_MAX], or nothing.
std::optional<int32_t> int32In(const json& value, int64_t min,
                               int64_t max = std::numeric_limits<int32_t>::max()) {
    if (!value.is_number_integer()) {
        return std::nullopt;
    }
    const int64_t number = value.is_number_unsigned()
                               ? int64_t(std::min<uint64_t>(value.get<uint64_t>(), max + 1))
                               : value.get<int64_t>();
    if (number < min || number > max) {
        return std::nullopt;
    }
    return static_cast<int32_t>(number);
}

int32_t intOf(const json& object, const char* key, const std::string& where, int64_t min,
              int64_t max = std::numeric_limits<int32_t>::max()) {
    const auto number = int32In(member(object, key), min, max);
    if (!number) {
        throw InvalidMap(where + " \"" + key + "\" should be a whole number from " + std::to_string(min) +
                         " to " + std::to_string(max));
    }
    return *number;
}

// "startAddress": hexadecimal digits, with or without a "0x" prefix, nothing else.
int32_t hexAddressOf(const json& area, const std::string& where) {
    const std::string text = textOf(area, "startAddress", where);
    std::string_view digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits.remove_prefix(2);
    }
    int32_t address = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), address, 16);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() || address < 0 ||
        address >= kTagAddressSpace) {
        throw InvalidMap(where + " \"startAddress\" is not a hexadecimal address inside the tag: " + text);
    }
    return address;
}

DataValueItemBits readBit(const json& bitObject, const std::string& where) {
    if (!bitObject.is_object()) {
        throw InvalidMap(where + " has a bit that is not an object");
    }
    DataValueItemBits bit;
    bit.name = textOf(bitObject, "name", where + " bit");
    bit.dataType = textOf(bitObject, "dataType", where + " bit " + bit.name);
    bit.bit = intOf(bitObject, "bit", where + " bit " + bit.name, std::numeric_limits<int32_t>::min());
    return bit;
}

// Returns false when the item has no byte indexes: the caller stops the load there.
bool readItem(const json& itemObject, const std::string& areaName, DataValueItem& item) {
    const std::string where = "area " + areaName + " item";
    if (!itemObject.is_object()) {
        throw InvalidMap(where + " is not an object");
    }
    item.name = textOf(itemObject, "name", where);
    const std::string itemWhere = where + " " + item.name;
    item.dataType = textOf(itemObject, "dataType", itemWhere);

    const json& bytes = member(itemObject, "bytes");
    if (bytes.empty()) {
        LOAD_ERROR("mapping->items->bytes[] should not be empty!%s");
        return false;
    }
    if (!bytes.is_array()) {
        throw InvalidMap(itemWhere + " \"bytes\" should be a list of byte indexes");
    }
    if (bytes.size() > DataValueItem::kMaxByteIndexes) {
        throw InvalidMap(itemWhere + " has more than 8 byte indexes");
    }
    for (const json& index : bytes) {
        const auto byteIndex = int32In(index, 0, kTagAddressSpace - 1);
        if (!byteIndex) {
            throw InvalidMap(itemWhere + " has a byte index outside 0 to " +
                             std::to_string(kTagAddressSpace - 1));
        }
        item.bytes[static_cast<size_t>(item.byteIndexCount++)] = *byteIndex;
    }

    const json& bits = member(itemObject, "bits");
    if (!bits.is_null() && !bits.is_array()) {
        throw InvalidMap(itemWhere + " \"bits\" should be a list");
    }
    if (!bits.empty()) {
        WY_LOG_LINE_AT("[WARNING]", Console::warningColor(), __FILE__, "load", __LINE__,
                       "%s have Bits property to read.\n%s", item.name.c_str());
        item.bitCount = static_cast<int32_t>(bits.size());
        for (const json& bitObject : bits) {
            item.bits.push_back(readBit(bitObject, itemWhere));
        }
    }
    return true;
}

int loadAreas(std::vector<DataObj>& areas, const json& root) {
    const json& mapping = root.is_object() ? member(root, "mapping") : json();
    if (!mapping.is_array() || mapping.empty()) {
        LOAD_ERROR("The Mapping props count is ZERO.\n%s");
        return 1;
    }
    for (const json& areaObject : mapping) {
        if (!areaObject.is_object()) {
            throw InvalidMap("an area is not an object");
        }
        DataObj area;
        area.name = textOf(areaObject, "name", "area");
        const std::string where = "area " + area.name;
        area.byteCount = intOf(areaObject, "byteCount", where, 0, kTagAddressSpace);
        area.startAddress = hexAddressOf(areaObject, where);

        const json& items = member(areaObject, "items");
        if (items.empty()) {
            LOAD_ERROR("\nCHECKING!! The profile [[%s]] doesn't have items prop!\n%s", area.name.c_str());
        } else if (!items.is_array()) {
            throw InvalidMap(where + " \"items\" should be a list");
        } else {
            for (const json& itemObject : items) {
                DataValueItem item;
                if (!readItem(itemObject, area.name, item)) {
                    return 1;
                }
                area.items.push_back(std::move(item));
            }
        }
        areas.push_back(std::move(area));
    }
    return 0;
}

} // namespace

int AddressMap::load(std::vector<DataObj>& areas, const std::string& text) {
    try {
        const json root = json::parse(text, nullptr, /*allow_exceptions=*/true, /*ignore_comments=*/false);
        return loadAreas(areas, root);
    } catch (const json::exception& error) {
        WY_LOG_ERROR("The address map is not valid JSON: %s\n%s", error.what());
    } catch (const InvalidMap& error) {
        WY_LOG_ERROR("The address map is invalid: %s.\n%s", error.what());
    }
    return 1;
}

} // namespace wy_nfc_mapping
