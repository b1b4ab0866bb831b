// The shipped product table against its file format and plausible driver values.

#include "resource_files.h"

#include <gtest/gtest.h>

#include <set>

namespace wynfc::test {
namespace {

TEST(ProductTable, EntriesHaveTheThirtyFourKeysWithTheirTypesAndDescribeDistinctDrivers) {
    // clang-format off
    const std::vector<std::string> texts = {
        "current_unit", "voltage_unit", "gtin", "chip_model", "product_model", "channel_01", "channel_02"};
    const std::vector<std::string> integers = {
        "driver_type", "driver_subtype", "min_current", "max_current", "min_voltage", "max_voltage",
        "log_min_level", "linear_min_level", "dt6_min_current", "dt6_max_current", "dt6_total_current"};
    const std::vector<std::string> booleans = {
        "support_aoc", "support_clo", "support_lamp_on_time", "support_dc_emergency", "support_diagnostics",
        "support_dimming_limit", "support_dali_percentage_limit", "support_tunable_white", "support_addressing",
        "support_dali_setting", "support_corridor", "support_vaux", "support_mb1", "support_mb207",
        "support_dtl", "support_owp"};
    // clang-format on
    const Json table = readResourceJson("product_features.json");
    ASSERT_TRUE(table.at("name").is_string());
    ASSERT_GE(table.at("data").size(), 3u);
    std::set<std::pair<int, int>> identities;
    for (const Json& entry : table.at("data")) {
        const std::string model = entry.value("product_model", "?");
        EXPECT_EQ(entry.size(), texts.size() + integers.size() + booleans.size()) << model;
        const auto expectKeys = [&](const std::vector<std::string>& keys, bool (*ofType)(const Json&)) {
            for (const std::string& key : keys) {
                EXPECT_TRUE(entry.contains(key) && ofType(entry.at(key))) << model << "." << key;
            }
        };
        expectKeys(texts, [](const Json& v) { return v.is_string() || v.is_null(); });
        expectKeys(integers, [](const Json& v) { return v.is_number_integer(); });
        expectKeys(booleans, [](const Json& v) { return v.is_boolean(); });
        EXPECT_TRUE(identities.emplace(entry.at("driver_type"), entry.at("driver_subtype")).second)
            << model << " repeats a type and sub type";
        EXPECT_TRUE(hasValidGtinCheckDigit(entry.at("gtin"))) << model;
        // A second channel exists exactly on the tunable-white products.
        EXPECT_EQ(entry.at("channel_02").is_string(), entry.at("support_tunable_white").get<bool>()) << model;
    }
}

} // namespace
} // namespace wynfc::test
