#pragma once

// Reading the shipped product data, and the names and geometry the tests hold it to.

#include <nlohmann/json.hpp>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace wynfc::test {

using Json = nlohmann::json;

inline constexpr int kBlockSize = 4;
inline constexpr int kBlockCount = 256;

inline const std::string kIdentificationArea = "nfc_data_addr_dc_product_identification";
inline const std::string kProductPropertiesArea = "nfc_data_addr_led_product_properties";
inline const std::string kCapabilitiesArea = "nfc_data_addr_dc_capabilities_options";
inline const std::string kCheckingArea = "nfc_data_addr_dirty_bytes_checking";

// clang-format off
// The 29 memory areas the application asks for.
inline const std::vector<std::string> kRequestedAreas = {
    "nfc_data_addr_dc_product_identification", "nfc_data_addr_led_product_properties",
    "nfc_data_addr_dc_capabilities_options", "nfc_data_addr_dc_address_table", "nfc_data_addr_dc_aoc",
    "nfc_data_addr_dc_ztv", "nfc_data_addr_dc_clo", "nfc_data_addr_dc_diagnostics_set",
    "nfc_data_addr_dc_diagnostics_read", "nfc_data_addr_dc_dim_percentage_limit", "nfc_data_addr_dc_ww_cw",
    "nfc_data_addr_dc_dali_setting", "nfc_data_addr_dc_dali_addressing", "nfc_data_addr_dc_corridor",
    "nfc_data_addr_dc_aux_power", "nfc_data_addr_dc_start_up_time", "nfc_data_addr_address_table2",
    "nfc_data_addr_dirty_bytes_checking", "nfc_data_addr_dirty_bytes", "nfc_data_addr_driver_gtin",
    "nfc_data_addr_serial_number", "nfc_data_addr_dc_clo2", "nfc_data_addr_dc_diagnostics_set2",
    "nfc_data_addr_dc_diagnostics_read2", "nfc_data_addr_dc_dim_percentage_limit2",
    "nfc_data_addr_dc_dali_setting2", "nfc_data_addr_dc_memory_bank_01", "nfc_data_addr_dc_memory_bank_207",
    "nfc_data_addr_mb1_light_distribution"};

// The 24 capability names the read workflow matches.
inline const std::vector<std::string> kCapabilities = {
    "support_aoc", "support_ztv", "support_clo", "support_dc_emergency", "support_lamp_on_time",
    "support_diagnostics_read", "support_dali_min_dim_level", "support_warm_and_cold_white",
    "support_dali_setting", "support_dali_addressing", "support_corridor", "support_aux_power",
    "support_start_up_time", "support_gtin", "support_mb1", "support_mb207", "support_dtl",
    "support_serial_number", "support_ltp", "support_amp", "support_eol", "support_nesm", "support_idps",
    "support_owp"};
// clang-format on

// The text of a file below the resources folder, e.g. "samples/basic.json".
inline std::string readResourceText(const std::string& relativePath) {
    std::ifstream in(std::string(WYNFC_RESOURCES_DIR) + "/" + relativePath, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot open " + relativePath);
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Comments are rejected, as the library and the application reject them.
inline Json readResourceJson(const std::string& relativePath) {
    return Json::parse(readResourceText(relativePath), nullptr, true, false);
}

// "startAddress" is hexadecimal text, with or without "0x".
inline int firstBlockOf(const Json& area) {
    const std::string text = area.at("startAddress");
    std::size_t used = 0;
    const int address = std::stoi(text, &used, 16);
    if (used != text.size() || address % kBlockSize != 0) {
        throw std::invalid_argument("startAddress is not a block's address: " + text);
    }
    return address / kBlockSize;
}
inline int blockSpanOf(const Json& area) {
    return (area.at("byteCount").get<int>() + kBlockSize - 1) / kBlockSize;
}

inline const Json& areaNamed(const Json& addressMap, const std::string& name) {
    for (const Json& area : addressMap.at("mapping")) {
        if (area.at("name") == name) {
            return area;
        }
    }
    throw std::out_of_range("no area " + name);
}

// Hexadecimal digits, spaces allowed; throws on anything else.
inline std::vector<std::uint8_t> parseHexMemory(std::string text) {
    std::erase(text, ' ');
    if (text.size() % 2 != 0 || text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        throw std::invalid_argument("not pairs of hexadecimal digits: " + text.substr(0, 32));
    }
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

// A GTIN given as decimal digits, check digit last.
inline bool hasValidGtinCheckDigit(const std::string& digits) {
    if (digits.size() < 8 || digits.size() > 14 ||
        digits.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    int sum = 0; // weights 3, 1, 3, ... from the digit left of the check digit
    for (std::size_t k = 1; k < digits.size(); ++k) {
        sum += (digits[digits.size() - 1 - k] - '0') * (k % 2 == 1 ? 3 : 1);
    }
    return (10 - sum % 10) % 10 == digits.back() - '0';
}

} // namespace wynfc::test
