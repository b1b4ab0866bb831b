// Prints the mapping library's version: a quick check that the library builds and loads.

#include "wy_nfc_mapping/ApiHeader.h"
#include "wy_nfc_mapping/wy_nfc_mapping.h"

#include <cstdio>

int main() {
    std::printf("wy_nfc_mapping %s (interface %.1f)\n", ApiHeader().getVersion().c_str(),
                wy_nfc_mappingVersionNumber);
    return 0;
}
