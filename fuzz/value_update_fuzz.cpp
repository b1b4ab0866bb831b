// Any values text merged into an area of a fixed map, and any bytes decoded with it: the
// merge either changes the bytes or leaves them exactly as they were.

#include "wy_nfc_api.h"

#include <cstdint>
#include <cstdio>
#include <string>

namespace {

const char* const kMap = R"({"mapping": [{"name": "area", "byteCount": 14, "startAddress": "0x40", "items": [
  {"name": "g", "dataType": "bigint", "bytes": [0, 5]},
  {"name": "OUT", "dataType": "byte", "bytes": [6], "bits": [{"name": "A", "dataType": "binary", "bit": 3},
                                                             {"name": "X", "dataType": "binary", "bit": 40}]},
  {"name": "arr", "dataType": "array", "bytes": [7, 9]},
  {"name": "s", "dataType": "short", "bytes": [9, 8]},
  {"name": "m", "dataType": "smallint", "bytes": [10, 11, 12]},
  {"name": "i", "dataType": "int", "bytes": [12, 13, 14, 15]},
  {"name": "reserve", "dataType": "byte", "bytes": [13]},
  {"name": "far", "dataType": "byte", "bytes": [300]},
  {"name": "back", "dataType": "array", "bytes": [5, 2]}]}]})";

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace wy_nfc_mapping;
    static const bool loaded = [] {
        std::freopen("/dev/null", "w", stdout);
        return WyNfcAPI::getInstance()->loadAddressMapFile(kMap) == 0;
    }();
    if (!loaded) {
        __builtin_trap();
    }
    const std::string text(reinterpret_cast<const char*>(data), size);
    Bytes bytes(data, data + std::min<std::size_t>(size, 16));
    const Bytes before = bytes;
    if (WyNfcAPI::getInstance()->updateValuesFromOldDataByName("area", text, bytes, size % 2 == 0,
                                                               size % 3 == 0) != 0 &&
        bytes != before) {
        __builtin_trap(); // a failed merge must change nothing
    }
    WyNfcAPI::getInstance()->getJsonValuesFromDataByName("area", bytes);
    return 0;
}
