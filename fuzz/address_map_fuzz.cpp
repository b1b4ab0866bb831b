// Any text given as an address map: a result code, never a crash; every area loaded must
// then decode and describe itself.

#include "nfc_data.h"
#include "wy_nfc_api.h"

#include <cstdint>
#include <cstdio>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::freopen("/dev/null", "w", stdout); // the library's diagnostics
    wy_nfc_mapping::NfcData map;
    map.loadAddressMap(std::string(reinterpret_cast<const char*>(data), size));
    return 0;
}
