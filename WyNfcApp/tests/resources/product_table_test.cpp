// The shipped product table against its file format and plausible driver values.

#include "resource_files.h"

#include <gtest/gtest.h>

#include <set>

namespace wynfc::test {
namespace {

enum class Kind { Text, Integer, Boolean };

// The 34 keys of a product entry, in the file's order.
const std::vector<std::pair<std::string, Kind>> kProductKeys = {
    {"current_unit", Kind::Text},
    {"voltage_unit", Kind::Text},
    {"gtin", Kind::Text},
    {"driver_type", Kind::Integer},
    {"driver_subtype", Kind::Integer},
    {"chip_model", Kind::Text},
    {"product_model", Kind::Text},
    {"min_current", Kind::Integer},
    {"max_current", Kind::Integer},
    {"min_voltage", Kind::Integer},
    {"max_voltage", Kind::Integer},
    {"channel_01", Kind::Text},
    {"channel_02", Kind::Text},
    {"support_aoc", Kind::Boolean},
    {"support_clo", Kind::Boolean},
    {"support_lamp_on_time", Kind::Boolean},
    {"support_dc_emergency", Kind::Boolean},
    {"support_diagnostics", Kind::Boolean},
    {"log_min_level", Kind::Integer},
    {"linear_min_level", Kind::Integer},
    {"support_dimming_limit", Kind::Boolean},
    {"support_dali_percentage_limit", Kind::Boolean},
    {"dt6_min_current", Kind::Integer},
    {"dt6_max_current", Kind::Integer},
    {"dt6_total_current", Kind::Integer},
    {"support_tunable_white", Kind::Boolean},
    {"support_addressing", Kind::Boolean},
    {"support_dali_setting", Kind::Boolean},
    {"support_corridor", Kind::Boolean},
    {"support_vaux", Kind::Boolean},
    {"support_mb1", Kind::Boolean},
    {"support_mb207", Kind::Boolean},
    {"support_dtl", Kind::Boolean},
    {"support_owp", Kind::Boolean},
};

class ProductTable : public ::testing::Test {
protected:
    Json table = readResourceJson("product_features.json");
};

TEST_F(ProductTable, EveryEntryHasTheThirtyFourKeysWithTheirTypes) {
    ASSERT_EQ(kProductKeys.size(), 34u);
    ASSERT_TRUE(table.at("name").is_string());
    const Json& entries = table.at("data");
    ASSERT_TRUE(entries.is_array());
    ASSERT_GE(entries.size(), 3u);
    for (const Json& entry : entries) {
        const std::string model = entry.value("product_model", "?");
        EXPECT_EQ(entry.size(), kProductKeys.size()) << model << " has keys outside the format";
        for (const auto& [key, kind] : kProductKeys) {
            ASSERT_TRUE(entry.contains(key)) << model << " lacks " << key;
            const Json& value = entry.at(key);
            switch (kind) {
            case Kind::Text:
                EXPECT_TRUE(value.is_string() || value.is_null()) << model << "." << key;
                break;
            case Kind::Integer:
                // Signed 64-bit integers: no fractions, no texts.
                EXPECT_TRUE(value.is_number_integer()) << model << "." << key;
                break;
            case Kind::Boolean:
                EXPECT_TRUE(value.is_boolean()) << model << "." << key;
                break;
            }
        }
    }
}

TEST_F(ProductTable, EntriesDescribeDistinctPlausibleDrivers) {
    std::set<std::pair<int, int>> identities;
    for (const Json& entry : table.at("data")) {
        const std::string model = entry.at("product_model");
        const int type = entry.at("driver_type");
        const int subType = entry.at("driver_subtype");
        EXPECT_GE(type, 0) << model;
        EXPECT_GE(subType, 0) << model;
        EXPECT_TRUE(identities.emplace(type, subType).second) << model << " repeats a type and sub type";

        EXPECT_LT(entry.at("min_current").get<int>(), entry.at("max_current").get<int>()) << model;
        EXPECT_LT(entry.at("min_voltage").get<int>(), entry.at("max_voltage").get<int>()) << model;
        EXPECT_LE(entry.at("dt6_min_current").get<int>(), entry.at("dt6_max_current").get<int>()) << model;
        EXPECT_LE(entry.at("dt6_total_current").get<int>(), entry.at("max_current").get<int>()) << model;
        for (const char* level : {"log_min_level", "linear_min_level"}) {
            EXPECT_GE(entry.at(level).get<int>(), 1) << model << "." << level;
            EXPECT_LE(entry.at(level).get<int>(), 254) << model << "." << level;
        }
        EXPECT_TRUE(hasValidGtinCheckDigit(entry.at("gtin"))) << model;
        // A second channel exists exactly on the tunable-white products.
        EXPECT_EQ(entry.at("channel_02").is_string(), entry.at("support_tunable_white").get<bool>()) << model;
    }
}

TEST(GtinCheckDigit, AcceptsValidAndRejectsAlteredNumbers) {
    EXPECT_TRUE(hasValidGtinCheckDigit("4006381333931"));
    EXPECT_TRUE(hasValidGtinCheckDigit("96385074"));
    EXPECT_FALSE(hasValidGtinCheckDigit("4006381333932"));
    EXPECT_FALSE(hasValidGtinCheckDigit("4006381333913"));
    EXPECT_FALSE(hasValidGtinCheckDigit("40063813339x1"));
    EXPECT_FALSE(hasValidGtinCheckDigit("1234567"));
}

} // namespace
} // namespace wynfc::test
