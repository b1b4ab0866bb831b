#pragma once

#include "records.h"

#include <optional>
#include <string>

namespace wy_nfc_mapping {

// How an item's bytes encode its value, shared by decoding and update.
enum class ItemKind { Byte, Short, SmallInt, Int, BigInt, Array, Other };

ItemKind itemKindOf(const std::string& dataType);

// Number of "bytes" entries the kind needs (0 for Other).
int byteIndexCountOf(ItemKind kind);

// Integer kinds: big-endian over the item's byte indexes, most significant first.
bool isIntegerKind(ItemKind kind);

// Bit numbers that address a bit of the item's 32-bit value.
inline bool isValidBitNumber(int32_t bit) {
    return bit >= 0 && bit < 32;
}

// First and last index of an "array" or "bigint" run; nothing when the last lies before
// the first.
struct ByteRun {
    int32_t first;
    int32_t last;
    size_t length() const { return static_cast<size_t>(last - first) + 1; }
};
std::optional<ByteRun> byteRunOf(const DataValueItem& item);

} // namespace wy_nfc_mapping
