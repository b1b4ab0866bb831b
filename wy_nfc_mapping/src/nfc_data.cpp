#include "nfc_data.h"

#include "address_map.h"

namespace wy_nfc_mapping {

int NfcData::loadAddressMap(const std::string& json) {
    const std::size_t loadedBefore = mAreas.size();
    const int result = AddressMap::load(mAreas, json);
    // Areas appended before a fault stay, so they are indexed whatever the result; an earlier
    // area of the same name keeps its place.
    for (std::size_t index = loadedBefore; index < mAreas.size(); ++index) {
        mFirstAreaByName.try_emplace(mAreas[index].name, index);
    }
    return result;
}

const DataObj* NfcData::getAddressMapObjByName(const std::string& name) const {
    const auto found = mFirstAreaByName.find(name);
    return found == mFirstAreaByName.end() ? nullptr : &mAreas[found->second];
}

} // namespace wy_nfc_mapping
