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

// Areas that every read fetches before looking at the capabilities.
const std::vector<std::string> kAlwaysRead = {kIdentificationArea, kProductPropertiesArea, kCapabilitiesArea,
                                              kDriverGtinArea};

struct CapabilityAreas {
    std::vector<std::string> areas;
    std::vector<std::string> secondChannel; // read too when warm and cold white is announced
};

// What each capability brings to a read. "support_ztv", "support_aux_power" and
// "support_serial_number" are read by no workflow step but name areas of this layout.
const std::map<std::string, CapabilityAreas> kAreasOfCapability = {
    {"support_aoc", {{"nfc_data_addr_dc_aoc"}, {}}},
    {"support_ztv", {{"nfc_data_addr_dc_ztv"}, {}}},
    {"support_clo", {{"nfc_data_addr_dc_clo"}, {"nfc_data_addr_dc_clo2"}}},
    {"support_dc_emergency", {{"nfc_data_addr_dc_diagnostics_set"}, {"nfc_data_addr_dc_diagnostics_set2"}}},
    {"support_lamp_on_time", {{"nfc_data_addr_dc_diagnostics_set"}, {"nfc_data_addr_dc_diagnostics_set2"}}},
    {"support_diagnostics_read",
     {{"nfc_data_addr_dc_diagnostics_read"}, {"nfc_data_addr_dc_diagnostics_read2"}}},
    {"support_dali_min_dim_level",
     {{"nfc_data_addr_dc_dim_percentage_limit"}, {"nfc_data_addr_dc_dim_percentage_limit2"}}},
    {"support_warm_and_cold_white", {{"nfc_data_addr_dc_ww_cw"}, {}}},
    {"support_dali_setting", {{"nfc_data_addr_dc_dali_setting"}, {"nfc_data_addr_dc_dali_setting2"}}},
    {"support_dali_addressing", {{"nfc_data_addr_dc_dali_addressing"}, {}}},
    {"support_corridor", {{"nfc_data_addr_dc_corridor"}, {}}},
    {"support_aux_power", {{"nfc_data_addr_dc_aux_power"}, {}}},
    {"support_start_up_time", {{"nfc_data_addr_dc_start_up_time"}, {}}},
    {"support_mb1", {{"nfc_data_addr_dc_memory_bank_01", "nfc_data_addr_mb1_light_distribution"}, {}}},
    {"support_mb207", {{"nfc_data_addr_dc_memory_bank_207"}, {}}},
    {"support_serial_number", {{"nfc_data_addr_serial_number"}, {}}},
};

std::set<std::string> announcedCapabilities(const DecodedSample& sample) {
    std::set<std::string> announced;
    for (const std::string& name : capabilityNames()) {
        if (sample.value(kCapabilitiesArea, name) == 1) {
            announced.insert(name);
        }
    }
    return announced;
}

// The areas a read of this driver decodes.
std::set<std::string> areasRead(const DecodedSample& sample) {
    std::set<std::string> areas(kAlwaysRead.begin(), kAlwaysRead.end());
    const std::set<std::string> announced = announcedCapabilities(sample);
    for (const std::string& capability : announced) {
        const auto found = kAreasOfCapability.find(capability);
        if (found == kAreasOfCapability.end()) {
            continue;
        }
        areas.insert(found->second.areas.begin(), found->second.areas.end());
        if (announced.count("support_warm_and_cold_white")) {
            areas.insert(found->second.secondChannel.begin(), found->second.secondChannel.end());
        }
    }
    return areas;
}

const Json* productEntryFor(const Json& table, long long type, long long subType) {
    for (const Json& entry : table.at("data")) {
        if (entry.at("driver_type") == type && entry.at("driver_subtype") == subType) {
            return &entry;
        }
    }
    return nullptr;
}

TEST(SampleImages, FilesFollowTheImageFormat) {
    for (const std::string& file : kSamples) {
        const Json image = readResourceJson("samples/" + file);
        const std::set<std::string> keys = {"name",      "description", "uid",
                                            "blockSize", "blockCount",  "memory"};
        std::set<std::string> present;
        for (const auto& [key, value] : image.items()) {
            present.insert(key);
        }
        EXPECT_EQ(present, keys) << file;
        EXPECT_TRUE(image.at("name").is_string()) << file;
        EXPECT_TRUE(image.at("description").is_string()) << file;
        EXPECT_EQ(image.at("blockSize"), kBlockSize) << file;
        EXPECT_EQ(image.at("blockCount"), kBlockCount) << file;

        // 8 bytes in reception order: least significant first, so the ISO 15693 E0 comes last.
        const std::string uid = image.at("uid");
        ASSERT_EQ(uid.size(), 16u) << file;
        EXPECT_EQ(parseHexMemory(uid).size(), 8u) << file;
        EXPECT_EQ(parseHexMemory(uid).back(), 0xE0) << file;

        EXPECT_EQ(parseHexMemory(image.at("memory")).size(), std::size_t{kBlockSize * kBlockCount}) << file;
    }
}

TEST(SampleImages, ParseHexMemoryRejectsMalformedText) {
    EXPECT_EQ(parseHexMemory("0a1B ff"), (std::vector<std::uint8_t>{0x0A, 0x1B, 0xFF}));
    EXPECT_THROW(parseHexMemory("0a1"), std::invalid_argument);
    EXPECT_THROW(parseHexMemory("0x10"), std::invalid_argument);
}

// Bytes that hold no value (reserve bytes, the tail of an area's last block, blocks outside
// every area) read 0xFF, as an erased tag and the library's fill leave them.
TEST(SampleImages, BytesOutsideValuesAreErased) {
    const Json map = readResourceJson("address_map.json");
    std::vector<bool> holdsValue(kBlockSize * kBlockCount, false);
    for (const Json& area : map.at("mapping")) {
        const int base = startAddressOf(area);
        for (const Json& item : area.at("items")) {
            if (item.at("name") == "reserve") {
                continue;
            }
            std::vector<int> bytes = item.at("bytes").get<std::vector<int>>();
            if (item.at("dataType") == "array" || item.at("dataType") == "bigint") {
                for (int i = bytes[0] + 1; i < bytes[1]; ++i) {
                    bytes.push_back(i);
                }
            }
            for (const int index : bytes) {
                holdsValue.at(static_cast<std::size_t>(base + index)) = true;
            }
        }
    }
    for (const std::string& file : kSamples) {
        const std::vector<std::uint8_t> memory =
            parseHexMemory(readResourceJson("samples/" + file).at("memory"));
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
        const long long type = sample.value(kIdentificationArea, "device_type");
        const long long subType = sample.value(kIdentificationArea, "device_sub_type");
        EXPECT_NE(productEntryFor(table, type, subType), nullptr) << file;
    }
    // The identification check matches type and sub type each on its own, so neither may appear.
    const DecodedSample unsupported("unsupported.json");
    const long long type = unsupported.value(kIdentificationArea, "device_type");
    const long long subType = unsupported.value(kIdentificationArea, "device_sub_type");
    for (const Json& entry : table.at("data")) {
        EXPECT_NE(entry.at("driver_type").get<long long>(), type);
        EXPECT_NE(entry.at("driver_subtype").get<long long>(), subType);
    }
}

TEST(SampleImages, ProductDescriptionAgreesWithTheProductTable) {
    const Json table = readResourceJson("product_features.json");
    for (const char* file : {"full_feature.json", "basic.json"}) {
        const DecodedSample sample(file);
        const Json* entry = productEntryFor(table, sample.value(kIdentificationArea, "device_type"),
                                            sample.value(kIdentificationArea, "device_sub_type"));
        ASSERT_NE(entry, nullptr) << file;
        EXPECT_EQ(sample.value(kProductPropertiesArea, "min_output_current"), entry->at("min_current"))
            << file;
        EXPECT_EQ(sample.value(kProductPropertiesArea, "max_output_current"), entry->at("max_current"))
            << file;
        EXPECT_EQ(sample.value(kProductPropertiesArea, "min_output_voltage"), entry->at("min_voltage"))
            << file;
        EXPECT_EQ(sample.value(kProductPropertiesArea, "max_output_voltage"), entry->at("max_voltage"))
            << file;
        EXPECT_EQ(sample.value(kProductPropertiesArea, "channel_count"),
                  entry->at("channel_02").is_null() ? 1 : 2)
            << file;
        EXPECT_EQ(sample.arrayValue(kDriverGtinArea, "gtin"), entry->at("gtin")) << file;
        if (sample.value(kCapabilitiesArea, "support_dali_min_dim_level") == 1) {
            // The logarithmic curve is in use; its physical minimum is the product's.
            EXPECT_EQ(sample.value("nfc_data_addr_dc_dim_percentage_limit", "physical_min_level"),
                      entry->at("log_min_level"))
                << file;
        }
    }
}

TEST(SampleImages, CapabilityListsAnnounceTheDocumentedSets) {
    const DecodedSample full("full_feature.json");
    EXPECT_EQ(announcedCapabilities(full).size(), capabilityNames().size());

    const DecodedSample basic("basic.json");
    EXPECT_EQ(announcedCapabilities(basic),
              (std::set<std::string>{"support_aoc", "support_dali_min_dim_level", "support_dali_setting",
                                     "support_dali_addressing", "support_gtin", "support_serial_number"}));

    for (const std::string& file : kSamples) {
        const DecodedSample sample(file);
        for (const std::string& name : capabilityNames()) {
            const long long value = sample.value(kCapabilitiesArea, name);
            EXPECT_TRUE(value == 0 || value == 1) << file << "." << name;
        }
    }
}

// Everything a read decodes is filled in, non-negative (the application reads values as
// unsigned numbers) and inside the ranges of its protocol.
TEST(SampleImages, AreasReadCarryUsableValues) {
    for (const std::string& file : kSamples) {
        const DecodedSample sample(file);
        const std::set<std::string> areas = areasRead(sample);
        for (const std::string& area : areas) {
            const std::vector<std::uint8_t> bytes = sample.areaBytes(area);
            EXPECT_TRUE(std::any_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b != 0xFF; }))
                << file << ": " << area << " is announced but blank";
            for (const Json& object : sample.decode(area)) {
                if (object.contains("value")) {
                    EXPECT_GE(object.at("value").get<long long>(), 0)
                        << file << ": " << area << "." << object;
                }
            }
        }

        const long long minCurrent = sample.value(kProductPropertiesArea, "min_output_current");
        const long long maxCurrent = sample.value(kProductPropertiesArea, "max_output_current");
        EXPECT_TRUE(hasValidGtinCheckDigit(sample.arrayValue(kDriverGtinArea, "gtin"))) << file;
        if (areas.count("nfc_data_addr_dc_aoc")) {
            const long long current = sample.value("nfc_data_addr_dc_aoc", "output_current");
            EXPECT_GE(current, minCurrent) << file;
            EXPECT_LE(current, maxCurrent) << file;
        }
        for (const char* area : {"nfc_data_addr_dc_dali_setting", "nfc_data_addr_dc_dali_setting2"}) {
            if (!areas.count(area)) {
                continue;
            }
            const long long maxLevel = sample.value(area, "max_level");
            const long long minLevel = sample.value(area, "min_level");
            EXPECT_LE(maxLevel, 254) << file << ": " << area;
            EXPECT_GE(minLevel, 1) << file << ": " << area;
            EXPECT_LE(minLevel, maxLevel) << file << ": " << area;
            EXPECT_LE(sample.value(area, "power_on_level"), 254) << file << ": " << area;
            EXPECT_LE(sample.value(area, "system_failure_level"), 254) << file << ": " << area;
            EXPECT_LE(sample.value(area, "fade_time"), 15) << file << ": " << area;
            EXPECT_GE(sample.value(area, "fade_rate"), 1) << file << ": " << area;
            EXPECT_LE(sample.value(area, "fade_rate"), 15) << file << ": " << area;
            EXPECT_LE(sample.value(area, "dimming_curve"), 1) << file << ": " << area;
        }
        if (areas.count("nfc_data_addr_dc_dali_addressing")) {
            const long long address = sample.value("nfc_data_addr_dc_dali_addressing", "short_address");
            EXPECT_TRUE(address <= 63 || address == 255) << file;
        }
        if (areas.count("nfc_data_addr_dc_memory_bank_01")) {
            EXPECT_TRUE(hasValidGtinCheckDigit(
                sample.arrayValue("nfc_data_addr_dc_memory_bank_01", "luminaire_gtin")))
                << file;
        }
    }
}

TEST(SampleImages, AddressTablesPointAtTheAreas) {
    const Json map = readResourceJson("address_map.json");
    for (const std::string& file : kSamples) {
        const DecodedSample sample(file);
        for (const char* table : {"nfc_data_addr_dc_address_table", "nfc_data_addr_address_table2"}) {
            for (const Json& object : sample.decode(table)) {
                const std::string name = object.at("name");
                if (name.rfind("block_", 0) == 0) {
                    EXPECT_EQ(object.at("value"),
                              firstBlockOf(areaNamed(map, "nfc_data_addr_" + name.substr(6))))
                        << file << ": " << table << "." << name;
                }
            }
        }
    }
}

TEST(SampleImages, DriversAreSealedWithoutPendingChanges) {
    for (const std::string& file : kSamples) {
        const DecodedSample sample(file);
        EXPECT_EQ(sample.value(kCheckingArea, "check_byte_01"), 0xAA) << file;
        EXPECT_EQ(sample.value(kCheckingArea, "check_byte_02"), 0x55) << file;
        EXPECT_EQ(sample.value(kCheckingArea, "check_byte_03"), 0x5A) << file;
        EXPECT_EQ(sample.value(kCheckingArea, "check_byte_04"), 0xA5) << file;
        EXPECT_EQ(sample.value("nfc_data_addr_dirty_bytes", "dirty_flags"), 0) << file;
    }
}

struct Documented {
    std::string area;
    std::string name;
    std::variant<long long, std::string> expected; // "value", or "arrayValue" text
};

void expectDocumentedValues(const std::string& file, const std::vector<Documented>& values) {
    const DecodedSample sample(file);
    for (const Documented& v : values) {
        SCOPED_TRACE(file + ": " + v.area + "." + v.name);
        if (std::holds_alternative<long long>(v.expected)) {
            EXPECT_EQ(sample.value(v.area, v.name), std::get<long long>(v.expected));
        } else {
            EXPECT_EQ(sample.arrayValue(v.area, v.name), std::get<std::string>(v.expected));
        }
    }
}

TEST(SampleImages, FullFeatureDecodesToTheDocumentedValues) {
    expectDocumentedValues(
        "full_feature.json",
        {
            {kIdentificationArea, "device_type", 18LL},
            {kIdentificationArea, "device_sub_type", 16LL},
            {kIdentificationArea, "firmware_version", 0x0203LL},
            {kProductPropertiesArea, "rated_output_power", 50LL},
            {kProductPropertiesArea, "d4i", 1LL},
            {kProductPropertiesArea, "model_name", std::string("0x57,0x59,0x54,0x2D,0x35,0x30,0x54,0x57,")},
            {kDriverGtinArea, "gtin", std::string("4069871010163")},
            {"nfc_data_addr_serial_number", "serial_number",
             std::string("0x12,0x10,0x18,0x06,0x00,0x00,0x4E,0x21,")},
            {"nfc_data_addr_dc_aoc", "output_current", 700LL},
            {"nfc_data_addr_dc_ztv", "ztv_off_voltage", 600LL},
            {"nfc_data_addr_dc_ww_cw", "warm_white_limit", 2700LL},
            {"nfc_data_addr_dc_ww_cw", "cold_white_limit", 6500LL},
            {"nfc_data_addr_dc_corridor", "hold_time", 60LL},
            {"nfc_data_addr_dc_corridor", "absence_level", 10LL},
            {"nfc_data_addr_dc_aux_power", "aux_voltage", 12000LL},
            {"nfc_data_addr_dc_start_up_time", "start_up_time", 250LL},
            {"nfc_data_addr_dc_dali_addressing", "short_address", 5LL},
            {"nfc_data_addr_dc_dali_addressing", "random_address", 0x3A7F12LL},
            {"nfc_data_addr_dc_dali_addressing", "group_membership", 9LL},
            {"nfc_data_addr_dc_dali_addressing", "group_3", 1LL},
            {"nfc_data_addr_dc_dali_addressing", "group_1", 0LL},
            {"nfc_data_addr_dc_dali_addressing", "scene_1", 200LL},
            {"nfc_data_addr_dc_clo", "clo_enable", 1LL},
            {"nfc_data_addr_dc_clo", "clo_level_1", 85LL},
            {"nfc_data_addr_dc_clo2", "clo_time_8", 70LL},
            {"nfc_data_addr_dc_dim_percentage_limit", "min_dim_permille", 1LL},
            {"nfc_data_addr_dc_dim_percentage_limit2", "max_dim_percent", 90LL},
            {"nfc_data_addr_dc_dali_setting", "fade_time", 2LL},
            {"nfc_data_addr_dc_dali_setting2", "power_on_level", 229LL},
            {"nfc_data_addr_dc_diagnostics_set", "lamp_life_time", 50000LL},
            {"nfc_data_addr_dc_diagnostics_set2", "dc_emergency_level", 15LL},
            {"nfc_data_addr_dc_diagnostics_read", "operating_time", 12480LL},
            {"nfc_data_addr_dc_diagnostics_read", "driver_temperature", 105LL},
            {"nfc_data_addr_dc_diagnostics_read2", "output_current_measured", 288LL},
            {"nfc_data_addr_dc_memory_bank_01", "luminaire_gtin", std::string("7612345670010")},
            {"nfc_data_addr_dc_memory_bank_01", "luminaire_identification_number", std::string("2406100731")},
            {"nfc_data_addr_dc_memory_bank_01", "light_output", 6200LL},
            {"nfc_data_addr_dc_memory_bank_01", "colour_temperature", 0xFFFELL},
            {"nfc_data_addr_dc_memory_bank_01", "colour_rendering_index", 90LL},
            {"nfc_data_addr_mb1_light_distribution", "ugr", 19LL},
            {"nfc_data_addr_dc_memory_bank_207", "maintenance_interval", 20000LL},
        });
}

TEST(SampleImages, BasicDecodesToTheDocumentedValues) {
    expectDocumentedValues("basic.json",
                           {
                               {kIdentificationArea, "device_type", 17LL},
                               {kIdentificationArea, "device_sub_type", 2LL},
                               {kProductPropertiesArea, "channel_count", 1LL},
                               {kDriverGtinArea, "gtin", std::string("4069871004025")},
                               {"nfc_data_addr_serial_number", "serial_number",
                                std::string("0x11,0x02,0x19,0x0B,0x00,0x01,0x86,0xA5,")},
                               {"nfc_data_addr_dc_aoc", "output_current", 500LL},
                               {"nfc_data_addr_dc_dali_addressing", "short_address", 255LL},
                               {"nfc_data_addr_dc_dali_addressing", "random_address", 0xFFFFFFLL},
                               {"nfc_data_addr_dc_dali_addressing", "group_membership", 0LL},
                               {"nfc_data_addr_dc_dali_setting", "min_level", 85LL},
                               {"nfc_data_addr_dc_dim_percentage_limit", "dim_limit_enable", 0LL},
                               {"nfc_data_addr_dc_dim_percentage_limit", "min_dim_permille", 10LL},
                           });
}

TEST(SampleImages, UnsupportedDecodesToTheDocumentedValues) {
    const std::vector<Documented> values = {
        {kIdentificationArea, "device_type", 20LL},
        {kIdentificationArea, "device_sub_type", 33LL},
        {kDriverGtinArea, "gtin", std::string("4069871200335")},
        {"nfc_data_addr_dc_aoc", "output_current", 1400LL},
        {"nfc_data_addr_dc_dali_setting", "min_level", 170LL},
    };
    expectDocumentedValues("unsupported.json", values);
}

} // namespace
} // namespace wynfc::test
