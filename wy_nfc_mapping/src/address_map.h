#pragma once

#include "records.h"

#include <string>
#include <vector>

namespace wy_nfc_mapping {

// Parses address-map JSON texts into memory areas.
class AddressMap {
public:
    // Appends the text's areas to `areas`. Returns 0 on success and 1 when the text is not
    // a valid map; areas appended before the faulty one stay.
    static int load(std::vector<DataObj>& areas, const std::string& json);
};

} // namespace wy_nfc_mapping
