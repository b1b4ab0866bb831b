#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace wy_nfc_mapping {

// One named bit of a value.
struct DataValueItemBits {
    std::string name;
    std::string dataType; // "binary" makes decoding report the bit
    int32_t bit = 0;      // 0 = least significant
};

// One value inside a memory area.
struct DataValueItem {
    static constexpr int kMaxByteIndexes = 8;

    std::string name;
    std::string dataType;
    int32_t byteIndexCount = 0;                   // entries given in "bytes"
    int32_t bitCount = 0;                         // entries given in "bits"
    std::array<int32_t, kMaxByteIndexes> bytes{}; // byte indexes into the area's data
    std::vector<DataValueItemBits> bits;
};

// One memory area of tag memory.
struct DataObj {
    std::string name;
    int32_t startAddress = 0; // byte address in tag memory
    int32_t byteCount = 0;
    std::vector<DataValueItem> items;
};

using Bytes = std::vector<uint8_t>;

} // namespace wy_nfc_mapping
