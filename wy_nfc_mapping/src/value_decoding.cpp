// Decoding an area's bytes into its JSON values.

#include "item_layout.h"
#include "wy_nfc_api.h"

#include <cstdio>
#include <nlohmann/json.hpp>

namespace wy_nfc_mapping {
namespace {

using nlohmann::json;

// A byte of the area's data; indexes at or beyond the data read as 0.
uint8_t byteAt(ByteSpan data, int32_t index) {
    return index >= 0 && static_cast<size_t>(index) < data.size() ? data[static_cast<size_t>(index)] : 0;
}

// Value of an integer item: its bytes big-endian, in the order of its indexes.
uint32_t integerValue(const DataValueItem& item, ByteSpan data) {
    uint32_t value = 0;
    for (int i = 0; i < item.byteIndexCount; ++i) {
        value = (value << 8) | byteAt(data, item.bytes[static_cast<size_t>(i)]);
    }
    return value;
}

std::string runText(ItemKind kind, const ByteRun& run, ByteSpan data) {
    Bytes bytes;
    bytes.reserve(run.length());
    for (int32_t index = run.first; index <= run.last; ++index) {
        bytes.push_back(byteAt(data, index));
        if (index == run.last) {
            break; // run.last may be INT32_MAX
        }
    }
    if (kind == ItemKind::Array) {
        return dump(bytes);
    }
    if (bytes.size() < 5 || bytes.size() > 8) {
        return "0";
    }
    uint64_t number = 0;
    for (const uint8_t byte : bytes) {
        number = (number << 8) | byte;
    }
    return std::to_string(number);
}

// Fills the item object; returns the 32-bit value its bits are taken from.
uint32_t decodeItem(const DataValueItem& item, ByteSpan data, json& object) {
    const ItemKind kind = itemKindOf(item.dataType);
    if (kind == ItemKind::Other || item.byteIndexCount != byteIndexCountOf(kind)) {
        return 0;
    }
    if (isIntegerKind(kind)) {
        const uint32_t value = integerValue(item, data);
        if (kind == ItemKind::Int) {
            object["value"] = static_cast<int32_t>(value);
        } else {
            object["value"] = value;
        }
        return value;
    }
    if (const auto run = byteRunOf(item)) {
        object["value"] = 0;
        object["arrayValue"] = runText(kind, *run, data);
    }
    return 0;
}

} // namespace

std::string dump(ByteSpan bytes) {
    std::string text;
    text.reserve(bytes.size() * 5);
    char piece[8];
    for (const uint8_t byte : bytes) {
        std::snprintf(piece, sizeof piece, "0x%02X,", byte);
        text += piece;
    }
    return text;
}

std::optional<std::string> WyNfcAPI::getJsonValuesFromDataByName(const std::string& name, ByteSpan data) {
    const DataObj* area = findArea(name, WY_HERE);
    if (area == nullptr) {
        return std::nullopt;
    }
    json values; // stays null for an area without items
    for (const DataValueItem& item : area->items) {
        json object = {{"name", item.name}, {"dataType", item.dataType}};
        const uint32_t value = decodeItem(item, data, object);
        for (const DataValueItemBits& bit : item.bits) {
            json bitObject = {{"name", bit.name}, {"dataType", bit.dataType}};
            if (bit.dataType == "binary") {
                bitObject["value"] = isValidBitNumber(bit.bit) ? (value >> bit.bit) & 1U : 0U;
            }
            values.push_back(std::move(bitObject));
        }
        values.push_back(std::move(object));
    }
    return values.dump();
}

} // namespace wy_nfc_mapping
