// Merging changed JSON values into the bytes last read from an area.

#include "item_layout.h"
#include "log.h"
#include "wy_nfc_api.h"

#include <charconv>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>
#include <string_view>

namespace wy_nfc_mapping {
namespace {

using nlohmann::json;

// A merge that cannot be carried out; the text names the cause.
class MergeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One changed value: a whole value ("propName" = item name) or a single bit
// ("propName" = item name, ".", bit name; "value" = the item's current value).
struct PropJsonType {
    std::string propName = "null";
    std::string arrayValue = "null";
    uint64_t value = 0;
    int64_t bitValue = 0;
};

std::string textOrNull(const json& entry, const char* key) {
    const auto it = entry.find(key);
    if (it == entry.end() || it->is_null()) {
        return "null";
    }
    if (!it->is_string()) {
        throw MergeError(std::string("\"") + key + "\" should be a text");
    }
    return it->get<std::string>();
}

// Whole JSON numbers; negative ones keep their two's-complement bits.
uint64_t wholeNumberOrZero(const json& entry, const char* key) {
    const auto it = entry.find(key);
    if (it == entry.end() || it->is_null()) {
        return 0;
    }
    if (!it->is_number_integer()) {
        throw MergeError(std::string("\"") + key + "\" should be a whole number");
    }
    return it->is_number_unsigned() ? it->get<uint64_t>() : static_cast<uint64_t>(it->get<int64_t>());
}

std::vector<PropJsonType> readEntries(const std::string& text) {
    json root;
    try {
        root = json::parse(text, nullptr, /*allow_exceptions=*/true, /*ignore_comments=*/false);
    } catch (const json::exception& error) {
        throw MergeError(std::string("the values are not valid JSON: ") + error.what());
    }
    if (!root.is_array()) {
        throw MergeError("the values should be a JSON list");
    }
    std::vector<PropJsonType> entries;
    for (const json& object : root) {
        if (!object.is_object()) {
            throw MergeError("every value entry should be a JSON object");
        }
        PropJsonType entry;
        entry.propName = textOrNull(object, "propName");
        entry.arrayValue = textOrNull(object, "arrayValue");
        entry.value = wholeNumberOrZero(object, "value");
        entry.bitValue = static_cast<int64_t>(wholeNumberOrZero(object, "bitValue"));
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

template <typename T> bool parseWhole(std::string_view digits, int base, T& number) {
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number, base);
    return !digits.empty() && error == std::errc() && end == digits.data() + digits.size();
}

uint8_t parseHexByte(const std::string& piece, const std::string& itemName) {
    std::string_view digits = trimmed(piece);
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits.remove_prefix(2);
    }
    unsigned number = 0;
    if (digits.empty() || digits.front() == '+' || digits.front() == '-' || !parseWhole(digits, 16, number) ||
        number > 0xFF) {
        throw MergeError("\"" + piece + "\" of " + itemName + " is not a hexadecimal byte");
    }
    return static_cast<uint8_t>(number);
}

uint64_t parseDecimal(const std::string& text, const std::string& itemName) {
    const std::string_view digits = trimmed(text);
    uint64_t number = 0;
    if (digits.empty() || digits.front() == '+' || digits.front() == '-' || !parseWhole(digits, 10, number)) {
        throw MergeError("\"" + text + "\" of " + itemName + " is not an unsigned decimal number");
    }
    return number;
}

// Applies the entries, in order, to a copy of the area's bytes.
class AreaMerge {
public:
    AreaMerge(const DataObj& area, Bytes bytes, bool fillReserveByte)
        : mArea(area), mBytes(std::move(bytes)), mFillReserveByte(fillReserveByte) {}

    void apply(const PropJsonType& entry) {
        const auto dot = entry.propName.find('.');
        if (dot == std::string::npos) {
            applyWholeValue(entry);
            return;
        }
        const std::vector<std::string> pieces = split(entry.propName, '.');
        if (pieces.size() >= 2) {
            applyBit(entry, pieces[0], pieces[1]);
        }
    }

    void fillPad() {
        for (size_t index = static_cast<size_t>(mArea.byteCount); index < mBytes.size(); ++index) {
            mBytes[index] = 0xFF;
        }
    }

    Bytes&& result() { return std::move(mBytes); }

private:
    void applyWholeValue(const PropJsonType& entry) {
        for (const DataValueItem& item : mArea.items) {
            if (mFillReserveByte && item.name == "reserve") {
                writeByte(item, item.bytes[0], 0xFF);
            }
            if (item.name != entry.propName) {
                continue;
            }
            const ItemKind kind = itemKindOf(item.dataType);
            if (isIntegerKind(kind)) {
                writeInteger(item, kind, static_cast<uint32_t>(entry.value));
            } else if (kind == ItemKind::BigInt && entry.arrayValue != "null") {
                writeBigInt(item, entry.arrayValue);
            } else if (kind == ItemKind::Array && entry.arrayValue != "null") {
                writeArray(item, entry.arrayValue);
            }
        }
    }

    void applyBit(const PropJsonType& entry, const std::string& itemName, const std::string& bitName) {
        for (const DataValueItem& item : mArea.items) {
            if (item.name != itemName) {
                continue;
            }
            const ItemKind kind = itemKindOf(item.dataType);
            // The item's value once per entry; every matching bit changes it further.
            auto value = static_cast<uint32_t>(entry.value);
            for (const DataValueItemBits& bit : item.bits) {
                if (bit.name != bitName || !isValidBitNumber(bit.bit) || !isIntegerKind(kind)) {
                    continue;
                }
                const uint32_t mask = 1U << bit.bit;
                value = entry.bitValue != 0 ? (value | mask) : (value & ~mask);
                writeInteger(item, kind, value);
            }
        }
    }

    void writeInteger(const DataValueItem& item, ItemKind kind, uint32_t value) {
        const int count = byteIndexCountOf(kind);
        if (item.byteIndexCount != count) {
            WY_LOG_WARNING("%s of %s has %d byte indexes, a %s needs %d; not written.\n%s", item.name.c_str(),
                           mArea.name.c_str(), item.byteIndexCount, item.dataType.c_str(), count);
            return;
        }
        for (int i = 0; i < count; ++i) {
            writeByte(item, item.bytes[static_cast<size_t>(i)],
                      static_cast<uint8_t>(value >> (8 * (count - 1 - i))));
        }
    }

    void writeBigInt(const DataValueItem& item, const std::string& digits) {
        const ByteRun run = runOf(item);
        if (run.length() > 8) {
            throw MergeError(item.name + " spans " + std::to_string(run.length()) +
                             " bytes, a bigint holds 8 at most");
        }
        const uint64_t number = parseDecimal(digits, item.name);
        if (run.length() < 5) {
            return; // decoding shows such runs as "0"; nothing to write back
        }
        for (size_t i = 0; i < run.length(); ++i) {
            const size_t shift = 8 * (run.length() - 1 - i);
            writeByte(item, run.first + static_cast<int32_t>(i), static_cast<uint8_t>(number >> shift));
        }
    }

    void writeArray(const DataValueItem& item, const std::string& text) {
        const ByteRun run = runOf(item);
        const std::vector<std::string> pieces = split(text, ',');
        if (pieces.size() != run.length()) {
            throw MergeError(item.name + " has " + std::to_string(pieces.size()) + " bytes, its run holds " +
                             std::to_string(run.length()));
        }
        Bytes bytes;
        for (const std::string& piece : pieces) {
            bytes.push_back(parseHexByte(piece, item.name));
        }
        for (size_t i = 0; i < bytes.size(); ++i) {
            writeByte(item, run.first + static_cast<int32_t>(i), bytes[i]);
        }
    }

    static ByteRun runOf(const DataValueItem& item) {
        const auto run = item.byteIndexCount == 2 ? byteRunOf(item) : std::nullopt;
        if (!run) {
            throw MergeError(item.name + " has no valid byte run (two indexes, first to last)");
        }
        return *run;
    }

    void writeByte(const DataValueItem& item, int32_t index, uint8_t value) {
        if (static_cast<size_t>(index) >= mBytes.size()) {
            WY_LOG_WARNING("%s: byte index %d lies beyond the %zu bytes of %s; not written.\n%s",
                           item.name.c_str(), index, mBytes.size(), mArea.name.c_str());
            return;
        }
        mBytes[static_cast<size_t>(index)] = value;
    }

    const DataObj& mArea;
    Bytes mBytes;
    bool mFillReserveByte;
};

} // namespace

std::vector<std::string> split(const std::string& text, char delimiter) {
    std::vector<std::string> pieces;
    std::istringstream stream(text);
    std::string piece;
    while (std::getline(stream, piece, delimiter)) {
        pieces.push_back(piece);
    }
    return pieces;
}

int WyNfcAPI::updateValuesFromOldDataByName(const std::string& name, const std::string& json, Bytes& out,
                                            bool fillPadByte, bool fillReserveByte) {
    const DataObj* area = findArea(name, WY_HERE);
    if (area == nullptr) {
        return 1;
    }
    if (json == "[]") {
        WY_LOG_ERROR("Props are empty: %s\n%s", json.c_str());
        return 0;
    }
    try {
        AreaMerge merge(*area, out, fillReserveByte);
        for (const PropJsonType& entry : readEntries(json)) {
            merge.apply(entry);
        }
        if (fillPadByte) {
            merge.fillPad();
        }
        out = merge.result();
        return 0;
    } catch (const MergeError& error) {
        WY_LOG_ERROR("Cannot merge the values of %s: %s.\n%s", name.c_str(), error.what());
        return 1;
    }
}

} // namespace wy_nfc_mapping
