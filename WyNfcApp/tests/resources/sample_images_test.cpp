// The sample driver images: their file format, their consistency with the address map and the
// product table, and the values resources/README.md documents, decoded through the library.

#include "decoded_sample.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <variant>

namespace wynfc::test {
namespace {

const std::vector<std::string> kSamples = {"full_feature.json", "basic.json", "unsupported.json"};

// Bytes that hold no value (reserve bytes, the tail of an area's last block, blocks outside
// every area) read 0xFF, as an erased tag and the library's fill leave them.
TEST(SampleImages, FilesFollowTheImageFormatAndBytesWithoutValueAreErased) {
    std::vector<bool> holdsValue(kBlockSize * kBlockCount, false);
    const Json map = readResourceJson("address_map.json");
    for (const Json& area : map.at("mapping")) {
        const int base = firstBlockOf(area) * kBlockSize;
        for (const Json& item : area.at("items")) {
            if (item.at("name") == "reserve") {
                continue;
            }
            const auto bytes = item.at("bytes").get<std::vector<int>>(); // contiguous, or first and last
            for (int index = bytes.front(); index <= bytes.back(); ++index) {
                holdsValue.at(static_cast<std::size_t>(base + index)) = true;
            }
        }
    }
    for (const std::string& file : kSamples) {
        const Json image = readResourceJson("samples/" + file);
        EXPECT_EQ(image.size(), 6u) << file;
        EXPECT_TRUE(image.at("name").is_string() && image.at("description").is_string()) << file;
        EXPECT_EQ(image.at("blockSize"), kBlockSize) << file;
        EXPECT_EQ(image.at("blockCount"), kBlockCount) << file;
        // 8 bytes as the tag reports them, least significant first: the ISO 15693 E0 comes last.
        const auto uid = parseHexMemory(image.at("uid"));
        EXPECT_TRUE(uid.size() == 8 && uid.back() == 0xE0) << file;
        const auto memory = parseHexMemory(image.at("memory"));
        ASSERT_EQ(memory.size(), holdsValue.size()) << file;
        for (std::size_t address = 0; address < memory.size(); ++address) {
            if (!holdsValue[address]) {
                EXPECT_EQ(memory[address], 0xFF) << file << " at byte address " << address;
            }
        }
    }
}

TEST(SampleImages, OnlyTheUnsupportedSampleIsMissingFromTheProductTable) {
    const Json table = readResourceJson("product_features.json");
    for (const char* file : {"full_feature.json", "basic.json"}) {
        const DecodedSample sample(file);
        const Json* entry = nullptr;
        for (const Json& candidate : table.at("data")) {
            if (candidate.at("driver_type") == sample.value(kIdentificationArea, "device_type") &&
                candidate.at("driver_subtype") == sample.value(kIdentificationArea, "device_sub_type")) {
                entry = &candidate;
            }
        }
        ASSERT_NE(entry, nullptr) << file;
        // The product table's ratings are the driver's own.
        for (const auto& [property, key] :
             std::vector<std::pair<std::string, std::string>>{{"min_output_current", "min_current"},
                                                              {"max_output_current", "max_current"},
                                                              {"min_output_voltage", "min_voltage"},
                                                              {"max_output_voltage", "max_voltage"}}) {
            EXPECT_EQ(sample.value(kProductPropertiesArea, property), entry->at(key))
                << file << ": " << property;
        }
        EXPECT_EQ(sample.arrayValue("nfc_data_addr_driver_gtin", "gtin"), entry->at("gtin")) << file;
    }
    // The identification check matches type and sub type each on its own, so neither may appear.
    const DecodedSample unsupported("unsupported.json");
    for (const Json& entry : table.at("data")) {
        EXPECT_NE(entry.at("driver_type"), unsupported.value(kIdentificationArea, "device_type"));
        EXPECT_NE(entry.at("driver_subtype"), unsupported.value(kIdentificationArea, "device_sub_type"));
    }
}

TEST(SampleImages, CapabilityListsAnnounceTheDocumentedSets) {
    const std::map<std::string, std::set<std::string>> documented = {
        {"full_feature.json", {kCapabilities.begin(), kCapabilities.end()}},
        {"basic.json",
         {"support_aoc", "support_dali_min_dim_level", "support_dali_setting", "support_dali_addressing",
          "support_gtin", "support_serial_number"}},
        {"unsupported.json",
         {"support_aoc", "support_clo", "support_diagnostics_read", "support_dali_min_dim_level",
          "support_dali_setting", "support_dali_addressing", "support_gtin", "support_serial_number",
          "support_dtl", "support_eol"}}};
    for (const auto& [file, expected] : documented) {
        const DecodedSample sample(file);
        std::set<std::string> announced;
        for (const std::string& name : kCapabilities) {
            if (sample.value(kCapabilitiesArea, name) == 1) {
                announced.insert(name);
            }
        }
        EXPECT_EQ(announced, expected) << file;
    }
    // The full-feature driver announces everything, so none of its areas may be blank.
    const DecodedSample full("full_feature.json");
    for (const std::string& area : kRequestedAreas) {
        const auto bytes = full.areaBytes(area);
        EXPECT_TRUE(std::any_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b != 0xFF; }))
            << area;
    }
}

TEST(SampleImages, AddressTablesPointAtTheAreasAndDriversAreSealedWithoutPendingChanges) {
    const Json map = readResourceJson("address_map.json");
    for (const std::string& file : kSamples) {
        const DecodedSample sample(file);
        std::size_t entries = 0;
        for (const char* table : {"nfc_data_addr_dc_address_table", "nfc_data_addr_address_table2"}) {
            for (const Json& object : sample.decode(table)) {
                const std::string name = object.at("name");
                if (name.rfind("block_", 0) == 0) {
                    ++entries;
                    EXPECT_EQ(object.at("value"),
                              firstBlockOf(areaNamed(map, "nfc_data_addr_" + name.substr(6))))
                        << file << ": " << name;
                }
            }
        }
        // Every area but the identification and the first table itself has an entry.
        EXPECT_EQ(entries, kRequestedAreas.size() - 2) << file;
        EXPECT_EQ(sample.areaBytes(kCheckingArea), (std::vector<std::uint8_t>{0xAA, 0x55, 0x5A, 0xA5}))
            << file;
        EXPECT_EQ(sample.value("nfc_data_addr_dirty_bytes", "dirty_flags"), 0) << file;
    }
}

// A representative handful per sample: every item type, bits, both channels.
TEST(SampleImages, DecodeToTheDocumentedValues) {
    struct Documented {
        std::string file;
        std::string area;
        std::string name;
        std::variant<long long, std::string> expected; // "value", or "arrayValue" text
    };
    const std::string full = "full_feature.json";
    const std::string basic = "basic.json";
    const std::string unsupported = "unsupported.json";
    const std::string addressing = "nfc_data_addr_dc_dali_addressing";
    const std::vector<Documented> values = {
        {full, kIdentificationArea, "device_type", 18LL},
        {full, kIdentificationArea, "firmware_version", 0x0203LL},
        {full, kProductPropertiesArea, "model_name", "0x57,0x59,0x54,0x2D,0x35,0x30,0x54,0x57,"},
        {full, "nfc_data_addr_dc_ww_cw", "cold_white_limit", 6500LL},
        {full, addressing, "random_address", 0x3A7F12LL},
        {full, addressing, "group_3", 1LL},
        {full, addressing, "group_1", 0LL},
        {full, "nfc_data_addr_dc_clo2", "clo_time_8", 70LL},
        {full, "nfc_data_addr_dc_dali_setting2", "power_on_level", 229LL},
        {full, "nfc_data_addr_dc_diagnostics_read", "energy_consumption", 361920LL},
        {full, "nfc_data_addr_dc_memory_bank_01", "luminaire_gtin", "7612345670010"},
        {full, "nfc_data_addr_dc_memory_bank_01", "luminaire_identification_number", "2406100731"},
        {full, "nfc_data_addr_mb1_light_distribution", "ugr", 19LL},
        {basic, kIdentificationArea, "device_sub_type", 2LL},
        {basic, "nfc_data_addr_driver_gtin", "gtin", "4069871004025"},
        {basic, "nfc_data_addr_dc_aoc", "output_current", 500LL},
        {basic, addressing, "random_address", 0xFFFFFFLL},
        {basic, "nfc_data_addr_dc_dali_setting", "min_level", 85LL},
        {basic, "nfc_data_addr_dc_dim_percentage_limit", "min_dim_permille", 10LL},
        {unsupported, kIdentificationArea, "device_sub_type", 33LL},
        {unsupported, "nfc_data_addr_driver_gtin", "gtin", "4069871200335"},
        {unsupported, "nfc_data_addr_dc_aoc", "output_current", 1400LL},
        {unsupported, "nfc_data_addr_dc_dali_setting", "min_level", 170LL},
    };
    std::map<std::string, DecodedSample> samples;
    for (const Documented& v : values) {
        SCOPED_TRACE(v.file + ": " + v.area + "." + v.name);
        const DecodedSample& sample = samples.try_emplace(v.file, v.file).first->second;
        if (const auto* number = std::get_if<long long>(&v.expected)) {
            EXPECT_EQ(sample.value(v.area, v.name), *number);
        } else {
            EXPECT_EQ(sample.arrayValue(v.area, v.name), std::get<std::string>(v.expected));
        }
    }
}

} // namespace
} // namespace wynfc::test
