#include "resource_files.h"

#include <cctype>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace wynfc::test {

std::string readResourceText(const std::string& relativePath) {
    const std::string path = std::string(WYNFC_RESOURCES_DIR) + "/" + relativePath;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot open " + path);
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

Json readResourceJson(const std::string& relativePath) {
    // Comments are rejected, as the library and the application reject them.
    return Json::parse(readResourceText(relativePath), nullptr, true, false);
}

const std::vector<std::string>& requestedAreaNames() {
    static const std::vector<std::string> names = {
        "nfc_data_addr_dc_product_identification",
        "nfc_data_addr_led_product_properties",
        "nfc_data_addr_dc_capabilities_options",
        "nfc_data_addr_dc_address_table",
        "nfc_data_addr_dc_aoc",
        "nfc_data_addr_dc_ztv",
        "nfc_data_addr_dc_clo",
        "nfc_data_addr_dc_diagnostics_set",
        "nfc_data_addr_dc_diagnostics_read",
        "nfc_data_addr_dc_dim_percentage_limit",
        "nfc_data_addr_dc_ww_cw",
        "nfc_data_addr_dc_dali_setting",
        "nfc_data_addr_dc_dali_addressing",
        "nfc_data_addr_dc_corridor",
        "nfc_data_addr_dc_aux_power",
        "nfc_data_addr_dc_start_up_time",
        "nfc_data_addr_address_table2",
        "nfc_data_addr_dirty_bytes_checking",
        "nfc_data_addr_dirty_bytes",
        "nfc_data_addr_driver_gtin",
        "nfc_data_addr_serial_number",
        "nfc_data_addr_dc_clo2",
        "nfc_data_addr_dc_diagnostics_set2",
        "nfc_data_addr_dc_diagnostics_read2",
        "nfc_data_addr_dc_dim_percentage_limit2",
        "nfc_data_addr_dc_dali_setting2",
        "nfc_data_addr_dc_memory_bank_01",
        "nfc_data_addr_dc_memory_bank_207",
        "nfc_data_addr_mb1_light_distribution",
    };
    return names;
}

const std::vector<std::string>& capabilityNames() {
    static const std::vector<std::string> names = {
        "support_aoc",
        "support_ztv",
        "support_clo",
        "support_dc_emergency",
        "support_lamp_on_time",
        "support_diagnostics_read",
        "support_dali_min_dim_level",
        "support_warm_and_cold_white",
        "support_dali_setting",
        "support_dali_addressing",
        "support_corridor",
        "support_aux_power",
        "support_start_up_time",
        "support_gtin",
        "support_mb1",
        "support_mb207",
        "support_dtl",
        "support_serial_number",
        "support_ltp",
        "support_amp",
        "support_eol",
        "support_nesm",
        "support_idps",
        "support_owp",
    };
    return names;
}

int startAddressOf(const Json& area) {
    const std::string text = area.at("startAddress").get<std::string>();
    std::size_t used = 0;
    const long value = std::stol(text, &used, 16);
    if (used != text.size()) {
        throw std::invalid_argument("startAddress is not hexadecimal: " + text);
    }
    return static_cast<int>(value);
}

int firstBlockOf(const Json& area) {
    return startAddressOf(area) / kBlockSize;
}

int blockSpanOf(const Json& area) {
    return (area.at("byteCount").get<int>() + kBlockSize - 1) / kBlockSize;
}

const Json& areaNamed(const Json& addressMap, const std::string& name) {
    for (const Json& area : addressMap.at("mapping")) {
        if (area.at("name") == name) {
            return area;
        }
    }
    throw std::out_of_range("no area " + name);
}

std::vector<std::uint8_t> parseHexMemory(const std::string& text) {
    std::string digits;
    for (const char c : text) {
        if (c == ' ') {
            continue;
        }
        if (!std::isxdigit(static_cast<unsigned char>(c))) {
            throw std::invalid_argument(std::string("not a hexadecimal digit: ") + c);
        }
        digits += c;
    }
    if (digits.size() % 2 != 0) {
        throw std::invalid_argument("odd number of hexadecimal digits");
    }
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

bool hasValidGtinCheckDigit(const std::string& digits) {
    if (digits.size() < 8 || digits.size() > 14) {
        return false;
    }
    int sum = 0;
    // Weights 3, 1, 3, ... from the digit left of the check digit.
    for (std::size_t k = 1; k < digits.size(); ++k) {
        const char c = digits[digits.size() - 1 - k];
        if (!std::isdigit(static_cast<unsigned char>(c))) {
            return false;
        }
        sum += (c - '0') * (k % 2 == 1 ? 3 : 1);
    }
    const char check = digits.back();
    return std::isdigit(static_cast<unsigned char>(check)) && (10 - sum % 10) % 10 == check - '0';
}

} // namespace wynfc::test
