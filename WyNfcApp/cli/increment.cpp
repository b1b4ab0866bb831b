#include "cli/increment.h"

#include "cli/cli_options.h"

#include <charconv>
#include <limits>
#include <nlohmann/json.hpp>

namespace wynfc::cli {
namespace {

using nlohmann::json;

// A decimal or 0x-hexadecimal number without a sign.
std::optional<std::uint64_t> unsignedNumber(const std::string& text) {
    return parseNumber<std::uint64_t>(text);
}

// The largest value of an item of the type, as the driver keeps it ("int" keeps bit 31
// clear: the application reads values as unsigned numbers); nothing for a type that is no
// number.
std::optional<std::uint64_t> typeMaximum(const MapItem& item) {
    if (item.dataType == "byte") {
        return 0xFF;
    }
    if (item.dataType == "short") {
        return 0xFFFF;
    }
    if (item.dataType == "smallint") {
        return 0xFFFFFF;
    }
    if (item.dataType == "int") {
        return 0x7FFFFFFF;
    }
    if (item.dataType == "bigint" && item.bytes.size() == 2 && item.bytes[1] >= item.bytes[0]) {
        const int length = item.bytes[1] - item.bytes[0] + 1;
        return length >= 8 ? std::numeric_limits<std::uint64_t>::max()
                           : (std::uint64_t{1} << (8 * length)) - 1;
    }
    return std::nullopt;
}

} // namespace

Increment::Increment(const std::string& text, const MapFile& map, const WriteList& profile,
                     const std::string& catalogueJson) {
    const std::string context = "--increment " + text;
    const size_t equals = text.find('=');
    const std::string path = text.substr(0, equals);
    const size_t dot = path.find('.');
    if (dot == std::string::npos || path.find('.', dot + 1) != std::string::npos) {
        throw UsageError(context + ": expected AREA.ITEM[=START] (a whole item, not a bit)");
    }
    mArea = path.substr(0, dot);
    mItem = path.substr(dot + 1);
    const MapArea* area = map.area(mArea);
    if (area == nullptr) {
        throw UsageError(context + ": no memory area \"" + mArea + "\" (see: wynfc areas)");
    }
    const MapItem* item = area->item(mItem);
    if (item == nullptr) {
        throw UsageError(context + ": " + mArea + " has no item \"" + mItem + "\"");
    }
    const auto typeMax = typeMaximum(*item);
    if (!typeMax) {
        throw UsageError(context + ": " + mItem + " is of type \"" + item->dataType +
                         "\"; only number items (byte, short, smallint, int, bigint) count up");
    }
    mBigint = item->dataType == "bigint";
    mMaximum = *typeMax;

    // The page's description of the item: read-only, and its range where it gives numbers.
    const json catalogue = json::parse(catalogueJson, nullptr, false);
    const json* areaEntry = nullptr;
    if (catalogue.is_object() && catalogue.contains("areas") && catalogue["areas"].contains(mArea)) {
        areaEntry = &catalogue["areas"][mArea];
    }
    if (areaEntry != nullptr) {
        const json itemEntry = areaEntry->contains("items")
                                   ? (*areaEntry)["items"].value(mItem, json::object())
                                   : json::object();
        if (areaEntry->value("readOnly", false) || itemEntry.value("readOnly", false)) {
            throw UsageError(context + ": " + path + " is read-only: the driver's own value");
        }
        if (itemEntry.contains("min") && itemEntry["min"].is_number_unsigned()) {
            mMinimum = std::max(mMinimum, itemEntry["min"].get<std::uint64_t>());
        }
        if (itemEntry.contains("max") && itemEntry["max"].is_number_unsigned()) {
            mMaximum = std::min(mMaximum, itemEntry["max"].get<std::uint64_t>());
        }
    }

    std::optional<std::uint64_t> start;
    if (equals != std::string::npos) {
        start = unsignedNumber(text.substr(equals + 1));
        if (!start) {
            throw UsageError(context + ": \"" + text.substr(equals + 1) +
                             "\" is not a decimal or 0x-hexadecimal number");
        }
    } else {
        for (const WriteValuesType& group : profile) {
            for (const PropJsonType& entry : group.data) {
                if (group.name == mArea && entry.propName == mItem) {
                    start =
                        mBigint ? unsignedNumber(entry.arrayValue.value_or("")) : std::optional(entry.value);
                }
            }
        }
    }
    mNext = start.value_or(mMinimum);
    if (*mNext < mMinimum || *mNext > mMaximum) {
        throw UsageError(context + ": the start " + std::to_string(*mNext) + " is outside " + path +
                         "'s range, " + std::to_string(mMinimum) + " to " + std::to_string(mMaximum));
    }
}

WriteList Increment::apply(const WriteList& profile) const {
    WriteList list = profile;
    if (!mNext) {
        return list;
    }
    PropJsonType value{mItem, 0, std::nullopt, std::nullopt};
    if (mBigint) {
        value.arrayValue = std::to_string(*mNext);
    } else {
        value.value = *mNext;
    }
    for (WriteValuesType& group : list) {
        if (group.name != mArea) {
            continue;
        }
        for (PropJsonType& entry : group.data) {
            if (entry.propName == mItem) {
                entry = value;
                return list;
            }
        }
        group.data.push_back(value);
        return list;
    }
    list.push_back({mArea, {value}});
    return list;
}

void Increment::consume() {
    if (mNext) {
        mNext = *mNext < mMaximum ? std::optional(*mNext + 1) : std::nullopt;
    }
}

} // namespace wynfc::cli
