// A C++ program built against the installed library through its CMake package: the ApiHeader
// front end on the installed address map. Prints what went wrong; exits 1 then.

#include <wy_nfc_mapping/ApiHeader.h>

#include <fstream>
#include <iostream>
#include <sstream>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: " << argv[0] << " ADDRESS_MAP\n";
        return 1;
    }
    std::ifstream file(argv[1]);
    std::stringstream map;
    map << file.rdbuf();
    ApiHeader api;
    if (!file || !api.loadAddressMapFile(map.str())) {
        std::cerr << "the address map " << argv[1] << " did not load\n";
        return 1;
    }
    int status = 0;
    const auto values = api.getJsonValuesFromDataByName("nfc_data_addr_dc_aoc", {0x01, 0xFF, 0x03, 0x6B});
    if (!values || values->find("875") == std::string::npos) {
        std::cerr << "the output current did not decode: " << values.value_or("(none)") << '\n';
        status = 1;
    }
    const auto command =
        api.getNFCReadMemoryDataByNameCmd("nfc_data_addr_dc_aoc", {0xE0, 0x04, 1, 2, 3, 4, 5, 6}, true);
    if (!command || command->empty()) {
        std::cerr << "no Bluetooth read command for an area of the map\n";
        status = 1;
    }
    if (api.getNFCProductPropertiesJsonByName("no_such_area")) {
        std::cerr << "an unknown area was described\n";
        status = 1;
    }
    std::cout << api.getVersion() << '\n';
    api.destroy();
    return status;
}
