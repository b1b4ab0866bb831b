#include "wy_nfc_api.h"

#include "log.h"

#include <cstdio>
#include <nlohmann/json.hpp>

namespace wy_nfc_mapping {

std::atomic<WyNfcAPI*> WyNfcAPI::mInstance{nullptr};

WyNfcAPI* WyNfcAPI::getInstance() {
    WyNfcAPI* instance = mInstance.load();
    if (instance == nullptr) {
        instance = new WyNfcAPI();
        mInstance.store(instance);
    }
    return instance;
}

void WyNfcAPI::destroy() {
    mNfcData.reset();
    if (mInstance.load() == this) {
        mInstance.store(nullptr);
    }
    delete this;
    std::printf("Destroy Instance!\n");
    std::fflush(stdout);
}

int WyNfcAPI::loadAddressMapFile(const std::string& json) {
    if (!mNfcData) {
        mNfcData = std::make_unique<NfcData>();
    }
    return mNfcData->loadAddressMap(json);
}

const DataObj* WyNfcAPI::findArea(const std::string& name, const SourcePlace& caller) const {
    const DataObj* area = mNfcData ? mNfcData->getAddressMapObjByName(name) : nullptr;
    if (area == nullptr) {
        WY_LOG_ERROR_AT(caller, "NOT Found Address mapping of %s.\n%s", name.c_str());
    }
    return area;
}

std::optional<std::string> WyNfcAPI::getNFCProductPropertiesJsonByName(const std::string& name) {
    const DataObj* area = findArea(name, WY_HERE);
    if (area == nullptr) {
        return std::nullopt;
    }
    // nlohmann's object keeps its keys sorted, which gives the documented key order.
    const nlohmann::json properties = {
        {"byteCount", area->byteCount},
        {"name", area->name},
        {"normBlockCount", NfcData::normalizeByteCountToBlockCount(area->byteCount)},
        {"startAddress", area->startAddress},
        {"version", kVersion},
    };
    return properties.dump();
}

} // namespace wy_nfc_mapping
