#include "cli/write_request.h"

#include "cli/cli_options.h"
#include "data/nfc_data_handler.h"
#include "work/work_page.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <nlohmann/json.hpp>
#include <tuple>

namespace wynfc::cli {
namespace {

using nlohmann::json;

std::string trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return "";
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// A decimal or 0x-hexadecimal integer, sign allowed for decimals.
std::optional<std::int64_t> integer(const std::string& text) {
    return parseNumber<std::int64_t>(trim(text));
}

std::optional<std::uint64_t> unsignedDecimal(const std::string& text) {
    const std::string digits = trim(text);
    std::uint64_t number = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) {
        return std::nullopt;
    }
    return number;
}

// "0x01,2,ff" -> bytes; nothing when a piece is not a hexadecimal byte.
std::optional<Bytes> hexBytes(const std::string& text) {
    Bytes bytes;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t comma = std::min(text.find(',', start), text.size());
        std::string piece = trim(text.substr(start, comma - start));
        start = comma + 1;
        if (piece.empty() && comma == text.size() && !bytes.empty()) {
            break; // a trailing comma, as the library writes them
        }
        if (piece.size() > 2 && piece[0] == '0' && (piece[1] == 'x' || piece[1] == 'X')) {
            piece = piece.substr(2);
        }
        unsigned value = 0;
        const auto [end, error] = std::from_chars(piece.data(), piece.data() + piece.size(), value, 16);
        if (piece.empty() || error != std::errc() || end != piece.data() + piece.size() || value > 0xFF) {
            return std::nullopt;
        }
        bytes.push_back(static_cast<std::uint8_t>(value));
    }
    return bytes;
}

int integerWidth(const std::string& dataType) {
    if (dataType == "byte") {
        return 1;
    }
    if (dataType == "short") {
        return 2;
    }
    if (dataType == "smallint") {
        return 3;
    }
    if (dataType == "int") {
        return 4;
    }
    return 0;
}

size_t runLength(const MapItem& item) {
    return item.bytes.size() == 2 && item.bytes[1] >= item.bytes[0]
               ? static_cast<size_t>(item.bytes[1] - item.bytes[0] + 1)
               : 0;
}

// Checks one entry against the item's type; returns why it cannot be written, if so.
std::optional<std::string> entryProblem(const MapItem& item, const PropJsonType& entry, bool isBit) {
    if (isBit) {
        const int width = integerWidth(item.dataType);
        if (width == 0) {
            return "bits can only be set in integer items";
        }
        return entry.bitValue == 0 || entry.bitValue == 1 ? std::nullopt
                                                          : std::optional<std::string>("a bit is 0 or 1");
    }
    if (const int width = integerWidth(item.dataType)) {
        const auto value = static_cast<std::int64_t>(entry.value);
        const std::int64_t max = (std::int64_t{1} << (8 * width)) - 1;
        const std::int64_t min = width == 4 ? INT32_MIN : 0;
        if (value < min || value > max) {
            return "the " + item.dataType + " value " + std::to_string(value) + " is outside " +
                   std::to_string(min) + " to " + std::to_string(max);
        }
        return std::nullopt;
    }
    if (item.dataType == "bigint") {
        const size_t length = runLength(item);
        const auto number = entry.arrayValue ? unsignedDecimal(*entry.arrayValue) : std::nullopt;
        if (!number) {
            return "a bigint is written as unsigned decimal digits";
        }
        if (length < 8 && *number >> (8 * length) != 0) {
            return "the number does not fit the item's " + std::to_string(length) + " bytes";
        }
        return std::nullopt;
    }
    if (item.dataType == "array") {
        const auto bytes = entry.arrayValue ? hexBytes(*entry.arrayValue) : std::nullopt;
        if (!bytes || bytes->size() != runLength(item)) {
            return "an array of " + std::to_string(runLength(item)) + " bytes is written as that many " +
                   "comma-separated hexadecimal bytes";
        }
        return std::nullopt;
    }
    return "items of type \"" + item.dataType + "\" cannot be written";
}

struct ResolvedName {
    const MapItem* item;
    std::optional<std::string> bit;
};

ResolvedName resolve(const MapArea& area, const std::string& propName, const std::string& context) {
    const size_t dot = propName.find('.');
    const std::string itemName = propName.substr(0, dot);
    const MapItem* item = area.item(itemName);
    if (item == nullptr) {
        throw UsageError(context + ": " + area.name + " has no item \"" + itemName + "\"");
    }
    if (dot == std::string::npos) {
        return {item, std::nullopt};
    }
    const std::string bit = propName.substr(dot + 1);
    const bool known =
        std::any_of(item->bits.begin(), item->bits.end(), [&](const auto& b) { return b.first == bit; });
    if (!known) {
        throw UsageError(context + ": " + itemName + " has no bit \"" + bit + "\"");
    }
    return {item, bit};
}

void addEntry(WriteList& list, const std::string& area, PropJsonType entry) {
    for (WriteValuesType& group : list) {
        if (group.name == area) {
            group.data.push_back(std::move(entry));
            return;
        }
    }
    list.push_back({area, {std::move(entry)}});
}

} // namespace

ReadValues ReadValues::fromEvents(const std::vector<PageEvent>& events) {
    ReadValues read;
    for (const PageEvent& event : events) {
        const size_t colon = event.payload.find(':');
        if (event.event != "UPDATE_EVENT" || colon == std::string::npos) {
            continue;
        }
        const std::string key = event.payload.substr(0, colon);
        const std::string text = event.payload.substr(colon + 1);
        if (key == "identification") {
            std::tie(read.deviceSubType, read.deviceType) =
                deviceIdsOf(decodeJsonDataItems(text).value_or(std::vector<JsonDataItem>{}));
        } else if (const auto area = areaForUpdateKey(key)) {
            read.areaJson[*area] = text;
        }
    }
    return read;
}

std::optional<std::string> ReadValues::valueText(const MapArea& area, const std::string& item,
                                                 const std::optional<std::string>& bit) const {
    const auto found = areaJson.find(area.name);
    if (found == areaJson.end()) {
        return std::nullopt;
    }
    const json values = json::parse(found->second, nullptr, false);
    if (!values.is_array()) {
        return std::nullopt;
    }
    // The list follows the map: each item's bits, then the item itself.
    size_t index = 0;
    for (const MapItem& mapItem : area.items) {
        const size_t itemIndex = index + mapItem.bits.size();
        if (itemIndex >= values.size()) {
            return std::nullopt;
        }
        if (mapItem.name == item) {
            if (bit) {
                for (size_t bitIndex = index; bitIndex < itemIndex; ++bitIndex) {
                    const json& bitValue = values[bitIndex];
                    if (bitValue.value("name", "") == *bit && bitValue.contains("value")) {
                        return bitValue["value"].dump();
                    }
                }
                return std::nullopt;
            }
            const json& value = values[itemIndex];
            if (value.contains("arrayValue")) {
                return value["arrayValue"].get<std::string>();
            }
            return value.contains("value") ? std::optional(value["value"].dump()) : std::nullopt;
        }
        index = itemIndex + 1;
    }
    return std::nullopt;
}

WriteList writeListFromSets(const std::vector<std::string>& sets, const MapFile& map,
                            const ReadValues& read) {
    WriteList list;
    // What each integer item holds once the sets before have been written: a bit entry writes
    // its whole item from its "value", so two bits of one item must not undo each other.
    std::map<std::string, std::uint64_t> itemValues;
    for (const std::string& set : sets) {
        const size_t equals = set.find('=');
        const size_t dot = set.find('.');
        if (equals == std::string::npos || dot == std::string::npos || dot > equals) {
            throw UsageError("--set " + set + ": expected AREA.ITEM[.BIT]=VALUE");
        }
        const std::string areaName = set.substr(0, dot);
        const std::string propName = set.substr(dot + 1, equals - dot - 1);
        const std::string value = set.substr(equals + 1);
        const MapArea* area = map.area(areaName);
        if (area == nullptr) {
            throw UsageError("--set " + set + ": no memory area \"" + areaName + "\" (see: wynfc areas)");
        }
        const ResolvedName name = resolve(*area, propName, "--set " + set);

        PropJsonType entry{propName, 0, std::nullopt, std::nullopt};
        if (name.bit) {
            const auto bit = integer(value);
            const auto current = read.valueText(*area, name.item->name);
            if (!current) {
                throw UsageError("--set " + set + ": the driver did not show " + areaName +
                                 ", so the value of " + name.item->name + " is not known");
            }
            const std::string key = areaName + "." + name.item->name;
            const auto earlier = itemValues.find(key);
            entry.value = earlier != itemValues.end() ? earlier->second
                                                      : static_cast<std::uint64_t>(std::stoll(*current));
            // Anything but 0 and 1 is refused below; a wider number must not wrap into one.
            entry.bitValue = bit && (*bit == 0 || *bit == 1) ? static_cast<int>(*bit) : -1;
        } else if (integerWidth(name.item->dataType) != 0) {
            const auto number = integer(value);
            if (!number) {
                throw UsageError("--set " + set + ": \"" + value +
                                 "\" is not a decimal or 0x-hexadecimal number");
            }
            entry.value = static_cast<std::uint64_t>(*number);
        } else {
            entry.arrayValue = trim(value);
        }
        if (const auto problem = entryProblem(*name.item, entry, name.bit.has_value())) {
            throw UsageError("--set " + set + ": " + *problem);
        }
        if (integerWidth(name.item->dataType) != 0) {
            std::uint64_t written = entry.value;
            if (name.bit) {
                const auto& bits = name.item->bits;
                const auto found = std::find_if(bits.begin(), bits.end(),
                                                [&](const auto& b) { return b.first == *name.bit; });
                const std::uint64_t mask = std::uint64_t{1} << found->second;
                written = *entry.bitValue != 0 ? (written | mask) : (written & ~mask);
            }
            itemValues[areaName + "." + name.item->name] = written;
        }
        addEntry(list, areaName, std::move(entry));
    }
    return list;
}

WriteList writeListFromJson(const std::string& text, const MapFile& map) {
    std::string error;
    auto list = decodeWriteValues(text, &error);
    if (!list) {
        throw UsageError("the values are not a list of areas with their entries: " + error);
    }
    for (const WriteValuesType& group : *list) {
        const MapArea* area = map.area(group.name);
        if (area == nullptr) {
            throw UsageError("the values name no memory area \"" + group.name + "\"");
        }
        for (const PropJsonType& entry : group.data) {
            const ResolvedName name = resolve(*area, entry.propName, group.name);
            if (const auto problem = entryProblem(*name.item, entry, name.bit.has_value())) {
                throw UsageError(group.name + " " + entry.propName + ": " + *problem);
            }
        }
    }
    return *list;
}

std::string writeData(const ReadValues& identification, const WriteList& list) {
    json areas = json::array();
    for (const WriteValuesType& group : list) {
        areas.push_back({{"name", group.name}, {"data", json::parse(encodePropJsonList(group.data))}});
    }
    return std::to_string(identification.deviceType) + "," + std::to_string(identification.deviceSubType) +
           ":" + areas.dump();
}

std::vector<std::string> verify(const WriteList& list, const MapFile& map, const ReadValues& readBack) {
    std::vector<std::string> mismatches;
    for (const WriteValuesType& group : list) {
        const MapArea* area = map.area(group.name);
        for (const PropJsonType& entry : group.data) {
            const ResolvedName name = resolve(*area, entry.propName, group.name);
            const auto actual = readBack.valueText(*area, name.item->name, name.bit);
            std::string expected;
            bool same = false;
            if (name.bit) {
                expected = std::to_string(entry.bitValue.value_or(0));
                same = actual == expected;
            } else if (const int width = integerWidth(name.item->dataType)) {
                const std::uint64_t mask = (std::uint64_t{1} << (8 * width)) - 1;
                expected = std::to_string(entry.value & mask);
                same = actual &&
                       static_cast<std::uint64_t>(std::stoll(*actual)) % (mask + 1) == (entry.value & mask);
            } else if (name.item->dataType == "bigint") {
                expected = entry.arrayValue.value_or("");
                same = actual && unsignedDecimal(*actual) == unsignedDecimal(expected);
            } else {
                expected = entry.arrayValue.value_or("");
                same = actual && hexBytes(*actual) == hexBytes(expected);
            }
            if (!same) {
                mismatches.push_back(group.name + " " + entry.propName + ": wrote " + expected +
                                     ", read back " + actual.value_or("nothing (the area was not read)"));
            }
        }
    }
    return mismatches;
}

} // namespace wynfc::cli
