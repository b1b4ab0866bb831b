#pragma once

// Shared helpers of the product-data tests: reading the shipped files, the tag geometry
// and the rules that several tests apply.

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <vector>

namespace wynfc::test {

using Json = nlohmann::json;

inline constexpr int kBlockSize = 4;
inline constexpr int kBlockCount = 256;
// One read of the Bluetooth reader carries at most 32 blocks.
inline constexpr int kMaxAreaBlocks = 32;

inline const char* const kIdentificationArea = "nfc_data_addr_dc_product_identification";
inline const char* const kCapabilitiesArea = "nfc_data_addr_dc_capabilities_options";
inline const char* const kProductPropertiesArea = "nfc_data_addr_led_product_properties";
inline const char* const kDriverGtinArea = "nfc_data_addr_driver_gtin";
inline const char* const kCheckingArea = "nfc_data_addr_dirty_bytes_checking";

// The text of a file below the resources folder, e.g. "samples/basic.json".
std::string readResourceText(const std::string& relativePath);
Json readResourceJson(const std::string& relativePath);

// The 29 memory areas the application asks for, in the application's order.
const std::vector<std::string>& requestedAreaNames();

// The 24 capability names, in the order of the read workflow's flags.
const std::vector<std::string>& capabilityNames();

// "startAddress" of an area object: hexadecimal text with or without "0x".
int startAddressOf(const Json& area);
int firstBlockOf(const Json& area);
int blockSpanOf(const Json& area); // blocks that hold "byteCount" bytes

const Json& areaNamed(const Json& addressMap, const std::string& name);

// A sample's "memory": hexadecimal digits, spaces allowed. Throws on anything else.
std::vector<std::uint8_t> parseHexMemory(const std::string& text);

// GTIN-8/12/13/14 given as decimal digits, check digit last.
bool hasValidGtinCheckDigit(const std::string& digits);

} // namespace wynfc::test
