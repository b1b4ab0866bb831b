#include "nfc_data.h"

#include "address_map.h"

namespace wy_nfc_mapping {

int NfcData::loadAddressMap(const std::string& json) {
    return AddressMap::load(mAreas, json);
}

const DataObj* NfcData::getAddressMapObjByName(const std::string& name) const {
    return AddressMap::getAddressMapByName(mAreas, name);
}

} // namespace wy_nfc_mapping
