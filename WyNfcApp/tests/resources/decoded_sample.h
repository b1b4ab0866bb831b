#pragma once

// A sample tag image read area by area as the phone transport reads it: the library
// describes the area, its whole blocks are cut out of the image, and the library decodes them.

#include "resource_files.h"

#include "wy_nfc_mapping/ApiHeader.h"

#include <stdexcept>
#include <string>
#include <vector>

namespace wynfc::test {

// The library keeps one map per process: this replaces whatever map an earlier test left.
inline ApiHeader libraryWithShippedMap() {
    ApiHeader api;
    api.destroy();
    if (!api.loadAddressMapFile(readResourceText("address_map.json"))) {
        throw std::runtime_error("the library rejects address_map.json");
    }
    return api;
}

class DecodedSample {
public:
    explicit DecodedSample(const std::string& fileName)
        : memory_(parseHexMemory(readResourceJson("samples/" + fileName).at("memory"))) {}

    std::vector<std::uint8_t> areaBytes(const std::string& area) const {
        const auto properties = api_.getNFCProductPropertiesJsonByName(area);
        if (!properties) {
            throw std::out_of_range("the library does not know " + area);
        }
        const Json described = Json::parse(*properties);
        const std::size_t first = described.at("startAddress").get<std::size_t>() / kBlockSize * kBlockSize;
        const std::size_t count = described.at("normBlockCount").get<std::size_t>() * kBlockSize;
        if (first + count > memory_.size()) {
            throw std::out_of_range(area + " lies beyond the image");
        }
        return std::vector<std::uint8_t>(memory_.begin() + static_cast<std::ptrdiff_t>(first),
                                         memory_.begin() + static_cast<std::ptrdiff_t>(first + count));
    }

    // The library's value list of the area.
    Json decode(const std::string& area) const {
        const std::vector<std::uint8_t> bytes = areaBytes(area);
        const auto text =
            api_.getJsonValuesFromDataByName(area, std::vector<int>(bytes.begin(), bytes.end()));
        if (!text) {
            throw std::runtime_error("the library cannot decode " + area);
        }
        return Json::parse(*text);
    }

    // The decoded object of the item or bit; throws when the area has none.
    Json valueObject(const std::string& area, const std::string& name) const {
        for (const Json& object : decode(area)) {
            if (object.at("name") == name) {
                return object;
            }
        }
        throw std::out_of_range(area + " has no value " + name);
    }
    long long value(const std::string& area, const std::string& name) const {
        return valueObject(area, name).at("value").get<long long>();
    }
    std::string arrayValue(const std::string& area, const std::string& name) const {
        return valueObject(area, name).at("arrayValue").get<std::string>();
    }

private:
    mutable ApiHeader api_ = libraryWithShippedMap();
    std::vector<std::uint8_t> memory_;
};

} // namespace wynfc::test
