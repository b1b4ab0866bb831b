#pragma once

#include "records.h"

#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

namespace wy_nfc_mapping {

// Owner of the loaded address map, and the tag's block geometry (4-byte blocks).
class NfcData {
public:
    static constexpr int kBlockSize = 4;

    // Appends the map's areas; returns AddressMap::load's result.
    int loadAddressMap(const std::string& json);

    // The first area of that name in load order, or null. Names are compared byte for byte.
    // Valid until the next load.
    const DataObj* getAddressMapObjByName(const std::string& name) const;

    // Block holding the byte address (truncated toward zero: 0x0B is block 2).
    static int normalizeAddressToBlockNum(int address) { return address / kBlockSize; }

    // Blocks needed for that many bytes (5 and 8 take 2, 0 takes 0).
    static int normalizeByteCountToBlockCount(int byteCount) {
        return byteCount / kBlockSize + (byteCount % kBlockSize != 0 ? 1 : 0);
    }

private:
    std::vector<DataObj> mAreas;
    // Each name's first area in mAreas. Reads and writes look areas up by name: a scan of the
    // list made every pass over a map's areas grow with the square of their number.
    std::unordered_map<std::string, std::size_t> mFirstAreaByName;
};

} // namespace wy_nfc_mapping
