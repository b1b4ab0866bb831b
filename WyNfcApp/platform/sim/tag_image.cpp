#include "platform/sim/tag_image.h"

#include "platform/file_replace.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>
#include <system_error>

namespace wynfc {
namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Parses hex digits separated by any whitespace; on failure returns the reason.
std::optional<Bytes> parseHexField(std::string_view text, std::string& reason) {
    Bytes bytes;
    int pending = -1;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (std::isspace(static_cast<unsigned char>(c))) {
            continue;
        }
        const int value = hexValue(c);
        if (value < 0) {
            reason = "holds '" + std::string(1, c) + "' at position " + std::to_string(i) +
                     ", which is not a hex digit";
            return std::nullopt;
        }
        if (pending < 0) {
            pending = value;
        } else {
            bytes.push_back(static_cast<std::uint8_t>(pending << 4 | value));
            pending = -1;
        }
    }
    if (pending >= 0) {
        reason = "has an odd number of hex digits";
        return std::nullopt;
    }
    return bytes;
}

[[noreturn]] void fail(const std::string& message) {
    throw TagImageError("tag image: " + message);
}

const nlohmann::json& requireField(const nlohmann::json& root, const char* key) {
    const auto it = root.find(key);
    if (it == root.end()) {
        fail(std::string("\"") + key + "\" is missing");
    }
    return *it;
}

std::string optionalText(const nlohmann::json& root, const char* key) {
    const auto it = root.find(key);
    if (it == root.end()) {
        return {};
    }
    if (!it->is_string()) {
        fail(std::string("\"") + key + "\" must be a text");
    }
    return it->get<std::string>();
}

long long requireInteger(const nlohmann::json& root, const char* key) {
    const auto& value = requireField(root, key);
    if (!value.is_number_integer()) {
        fail(std::string("\"") + key + "\" must be a whole number");
    }
    return value.get<long long>();
}

Bytes requireHex(const nlohmann::json& root, const char* key) {
    const auto& value = requireField(root, key);
    if (!value.is_string()) {
        fail(std::string("\"") + key + "\" must be a text of hex digits");
    }
    std::string reason;
    auto bytes = parseHexField(value.get_ref<const std::string&>(), reason);
    if (!bytes) {
        fail(std::string("\"") + key + "\" " + reason);
    }
    return std::move(*bytes);
}

} // namespace

TagImage TagImage::blank(Bytes uid, int blockCount) {
    TagImage image;
    image.uid = std::move(uid);
    image.blockCount = blockCount;
    image.memory.assign(static_cast<std::size_t>(std::max(blockCount, 0)) * kBlockSize, 0);
    image.validate();
    return image;
}

void TagImage::validate() const {
    if (uid.size() != kUidSize) {
        fail("\"uid\" must hold " + std::to_string(kUidSize) + " bytes (" + std::to_string(kUidSize * 2) +
             " hex digits), not " + std::to_string(uid.size()));
    }
    if (blockCount < 1 || blockCount > kMaxBlockCount) {
        fail("\"blockCount\" must be between 1 and " + std::to_string(kMaxBlockCount) + ", not " +
             std::to_string(blockCount));
    }
    const auto expected = static_cast<std::size_t>(blockCount) * kBlockSize;
    if (memory.size() != expected) {
        fail("\"memory\" must hold blockCount x blockSize = " + std::to_string(expected) + " bytes, not " +
             std::to_string(memory.size()));
    }
}

TagImage parseTagImage(std::string_view json) {
    nlohmann::json root;
    try {
        root = nlohmann::json::parse(json, nullptr, true, false);
    } catch (const nlohmann::json::exception& error) {
        // Syntax errors, and numbers too large for any number type (out_of_range 406).
        fail(std::string("not valid JSON: ") + error.what());
    }
    if (!root.is_object()) {
        fail("the top level must be an object");
    }
    TagImage image;
    image.name = optionalText(root, "name");
    image.description = optionalText(root, "description");
    image.uid = requireHex(root, "uid");
    const long long blockSize = requireInteger(root, "blockSize");
    if (blockSize != TagImage::kBlockSize) {
        fail("\"blockSize\" must be " + std::to_string(TagImage::kBlockSize) + ", not " +
             std::to_string(blockSize));
    }
    const long long blockCount = requireInteger(root, "blockCount");
    if (blockCount < 1 || blockCount > TagImage::kMaxBlockCount) {
        fail("\"blockCount\" must be between 1 and " + std::to_string(TagImage::kMaxBlockCount) + ", not " +
             std::to_string(blockCount));
    }
    image.blockCount = static_cast<int>(blockCount);
    image.memory = requireHex(root, "memory");
    image.validate();
    return image;
}

std::string formatTagImage(const TagImage& image) {
    image.validate();
    // One group of hex digits per block keeps a dump readable block by block.
    std::string memory;
    memory.reserve(image.memory.size() * 2 + static_cast<std::size_t>(image.blockCount));
    for (int block = 0; block < image.blockCount; ++block) {
        if (block > 0) {
            memory += ' ';
        }
        const auto begin = image.memory.begin() + block * TagImage::kBlockSize;
        memory += toHex(Bytes(begin, begin + TagImage::kBlockSize));
    }
    nlohmann::ordered_json root;
    root["name"] = image.name;
    root["description"] = image.description;
    root["uid"] = toHex(image.uid);
    root["blockSize"] = TagImage::kBlockSize;
    root["blockCount"] = image.blockCount;
    root["memory"] = memory;
    return root.dump(2) + "\n";
}

TagImage loadTagImage(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        throw TagImageError(file.string() + ": cannot be opened");
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) {
        throw TagImageError(file.string() + ": cannot be read");
    }
    try {
        return parseTagImage(text.str());
    } catch (const TagImageError& error) {
        throw TagImageError(file.string() + ": " + error.what());
    }
}

void saveTagImage(const TagImage& image, const std::filesystem::path& file) {
    // A failed save leaves the image that was there whole.
    if (const int error = replaceFileContents(file, formatTagImage(image)); error != 0) {
        throw TagImageError(file.string() + ": cannot be written (" + std::system_category().message(error) +
                            "); the file is as it was");
    }
}

std::string toHex(const Bytes& bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const std::uint8_t byte : bytes) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
    }
    return text;
}

std::optional<Bytes> parseHex(std::string_view text) {
    std::string reason;
    return parseHexField(text, reason);
}

} // namespace wynfc
