// Address maps and tag images for the growth benchmarks; see map_generator.h.

#include "map_generator.h"

#include <algorithm>
#include <cstdio>
#include <set>
#include <stdexcept>

namespace wynfc::bench {
namespace {

using nlohmann::json;

constexpr int kBlockSize = 4;
// 65536 blocks of 4 bytes: the most an ISO 15693 command can address, as the library allows.
constexpr int kTagAddressSpace = 65536 * kBlockSize;

int startOf(const json& area) {
    return std::stoi(area.at("startAddress").get<std::string>(), nullptr, 16);
}

std::string hexAddress(int address) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", address);
    return text;
}

const json& areaNamed(const json& map, const std::string& name) {
    for (const json& area : map.at("mapping")) {
        if (area.at("name") == name) {
            return area;
        }
    }
    throw std::invalid_argument("no area " + name + " in the map");
}

} // namespace

int mapSpan(const json& map) {
    int end = 0;
    for (const json& area : map.at("mapping")) {
        end = std::max(end, startOf(area) + area.at("byteCount").get<int>());
    }
    return (end + kBlockSize - 1) / kBlockSize * kBlockSize;
}

json scaledMap(const json& map, int factor) {
    if (factor < 1) {
        throw std::invalid_argument("a map cannot be scaled by less than 1");
    }
    const int span = mapSpan(map);
    if (static_cast<long>(span) * factor > kTagAddressSpace) {
        throw std::invalid_argument("the copies would leave the tag's address space");
    }
    json areas = json::array();
    for (int copy = 1; copy < factor; ++copy) {
        for (json area : map.at("mapping")) {
            area["name"] = area.at("name").get<std::string>() + "_copy" + std::to_string(copy);
            area["startAddress"] = hexAddress(startOf(area) + copy * span);
            areas.push_back(std::move(area));
        }
    }
    for (const json& area : map.at("mapping")) {
        areas.push_back(area);
    }
    json scaled = map;
    scaled["mapping"] = std::move(areas);
    return scaled;
}

std::vector<std::string> areaNames(const json& map) {
    std::vector<std::string> names;
    for (const json& area : map.at("mapping")) {
        names.push_back(area.at("name"));
    }
    return names;
}

std::vector<uint8_t> tagMemory(const json& tagImage) {
    const std::string text = tagImage.at("memory");
    std::vector<uint8_t> bytes;
    std::string digits;
    for (const char c : text) {
        if (c != ' ') {
            digits += c;
        }
    }
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2) {
        bytes.push_back(static_cast<uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

json tagAnnouncing(const json& tagImage, const json& map, const std::string& capabilityArea,
                   const std::vector<std::string>& announced) {
    const json& area = areaNamed(map, capabilityArea);
    std::vector<uint8_t> memory = tagMemory(tagImage);
    std::set<std::string> unknown(announced.begin(), announced.end());
    for (const json& item : area.at("items")) {
        if (!item.contains("bits")) {
            continue;
        }
        const auto address = static_cast<std::size_t>(startOf(area) + item.at("bytes").at(0).get<int>());
        if (address >= memory.size()) {
            throw std::invalid_argument("the capability list lies beyond the tag's memory");
        }
        for (const json& bit : item.at("bits")) {
            const int number = bit.at("bit").get<int>();
            if (number < 0 || number > 7) {
                throw std::invalid_argument("a capability bit lies outside its byte");
            }
            const auto mask = static_cast<uint8_t>(1U << number);
            const bool on = unknown.erase(bit.at("name").get<std::string>()) > 0;
            memory[address] = static_cast<uint8_t>(on ? (memory[address] | mask) : (memory[address] & ~mask));
        }
    }
    if (!unknown.empty()) {
        throw std::invalid_argument("the capability list has no bit " + *unknown.begin());
    }
    std::string text;
    char block[12];
    for (std::size_t i = 0; i + kBlockSize <= memory.size(); i += kBlockSize) {
        std::snprintf(block, sizeof block, "%s%02X%02X%02X%02X", i == 0 ? "" : " ", memory[i], memory[i + 1],
                      memory[i + 2], memory[i + 3]);
        text += block;
    }
    json image = tagImage;
    image["memory"] = text;
    return image;
}

} // namespace wynfc::bench
