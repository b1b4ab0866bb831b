#include "decoded_sample.h"

#include <stdexcept>

namespace wynfc::test {

DecodedSample::DecodedSample(const std::string& fileName)
    : mImage(readResourceJson("samples/" + fileName)), mMemory(parseHexMemory(mImage.at("memory"))) {
    // The library keeps one map per process; start from a clean one.
    mApi.destroy();
    if (!mApi.loadAddressMapFile(readResourceText("address_map.json"))) {
        throw std::runtime_error("the library rejects address_map.json");
    }
}

DecodedSample::~DecodedSample() {
    mApi.destroy();
}

std::vector<std::uint8_t> DecodedSample::areaBytes(const std::string& area) const {
    const auto properties = mApi.getNFCProductPropertiesJsonByName(area);
    if (!properties) {
        throw std::out_of_range("the library does not know " + area);
    }
    const Json described = Json::parse(*properties);
    const std::size_t first = described.at("startAddress").get<std::size_t>() / kBlockSize * kBlockSize;
    const std::size_t count = described.at("normBlockCount").get<std::size_t>() * kBlockSize;
    if (first + count > mMemory.size()) {
        throw std::out_of_range(area + " lies beyond the image");
    }
    return {mMemory.begin() + static_cast<std::ptrdiff_t>(first),
            mMemory.begin() + static_cast<std::ptrdiff_t>(first + count)};
}

Json DecodedSample::decode(const std::string& area) const {
    const std::vector<std::uint8_t> bytes = areaBytes(area);
    const auto text = mApi.getJsonValuesFromDataByName(area, std::vector<int>(bytes.begin(), bytes.end()));
    if (!text) {
        throw std::runtime_error("the library cannot decode " + area);
    }
    return Json::parse(*text);
}

Json DecodedSample::valueObject(const std::string& area, const std::string& name) const {
    for (const Json& object : decode(area)) {
        if (object.at("name") == name) {
            return object;
        }
    }
    throw std::out_of_range(area + " has no value " + name);
}

long long DecodedSample::value(const std::string& area, const std::string& name) const {
    return valueObject(area, name).at("value").get<long long>();
}

std::string DecodedSample::arrayValue(const std::string& area, const std::string& name) const {
    return valueObject(area, name).at("arrayValue").get<std::string>();
}

} // namespace wynfc::test
