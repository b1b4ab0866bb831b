#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace wynfc {

// The library's description of a memory area: where it lies and how many bytes and 4-byte
// blocks it has.
struct PropDataInfo {
    std::string version;
    std::string name;
    std::int64_t startAddress = 0; // byte address in tag memory
    std::int64_t byteCount = 0;
    std::int64_t normBlockCount = 0;

    int firstBlock() const { return static_cast<int>(startAddress / 4); }
};

// Nothing when the text is not such a description (keys missing or of another type, or
// addresses and counts outside 0..INT_MAX); `error` then says why.
std::optional<PropDataInfo> decodePropDataInfo(const std::string& json, std::string* error = nullptr);

// The description of the named area of the loaded address map; nothing for an unknown area.
std::optional<PropDataInfo> propDataInfo(const std::string& name);

} // namespace wynfc
