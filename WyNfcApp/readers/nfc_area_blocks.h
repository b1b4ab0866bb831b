#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace wynfc {

// Where a memory area lies, in the tag's 4-byte blocks.
struct NfcAreaBlocks {
    int firstBlock = 0;
    int blockCount = 0;
};

// From the library's area description ({"startAddress": byte address, "normBlockCount",
// ...}). Nothing when the text is not such an object, or holds negative or oversized numbers.
std::optional<NfcAreaBlocks> decodeNfcAreaBlocks(const std::string& description);

// The named area of the loaded address map; nothing when the library does not know it.
std::optional<NfcAreaBlocks> nfcAreaBlocks(const std::string& name);

} // namespace wynfc
