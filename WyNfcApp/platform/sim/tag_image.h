#pragma once

#include "platform/nfc_tag.h"

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace wynfc {

// A driver tag image file could not be read, parsed or written. The message says which
// file and what is wrong with it.
class TagImageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The content of a driver's tag, as kept in the sample image files:
//   {"name", "description", "uid": 16 hex digits in the order the tag reports them,
//    "blockSize": 4, "blockCount", "memory": hex digits of every byte, spaces allowed}
struct TagImage {
    static constexpr int kBlockSize = 4;
    static constexpr int kMaxBlockCount = 65536;
    static constexpr std::size_t kUidSize = 8;

    std::string name;
    std::string description;
    Bytes uid; // kUidSize bytes
    int blockCount = 0;
    Bytes memory; // blockCount * kBlockSize bytes

    // A tag of blockCount zeroed blocks.
    static TagImage blank(Bytes uid, int blockCount = 256);

    // Throws TagImageError when the fields do not fit together.
    void validate() const;
};

// Throws TagImageError, naming the field at fault.
TagImage parseTagImage(std::string_view json);
std::string formatTagImage(const TagImage& image);

// The file is replaced only once the new content is complete.
TagImage loadTagImage(const std::filesystem::path& file);
void saveTagImage(const TagImage& image, const std::filesystem::path& file);

// Hex digits of the bytes, upper case, without separators.
std::string toHex(const Bytes& bytes);
// Hex digits with any whitespace between them; nullopt for anything else or an odd count.
std::optional<Bytes> parseHex(std::string_view text);

} // namespace wynfc
