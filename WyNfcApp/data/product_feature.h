#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace wynfc {

// One product of the product table. Text keys may be absent; the integer and boolean
// keys are required. Only driver_type and driver_subtype take part in the product check.
struct ProductFeatureData {
    std::optional<std::string> current_unit;
    std::optional<std::string> voltage_unit;
    std::optional<std::string> gtin;
    std::int64_t driver_type = 0;
    std::int64_t driver_subtype = 0;
    std::optional<std::string> chip_model;
    std::optional<std::string> product_model;
    std::int64_t min_current = 0;
    std::int64_t max_current = 0;
    std::int64_t min_voltage = 0;
    std::int64_t max_voltage = 0;
    std::optional<std::string> channel_01;
    std::optional<std::string> channel_02;
    bool support_aoc = false;
    bool support_clo = false;
    bool support_lamp_on_time = false;
    bool support_dc_emergency = false;
    bool support_diagnostics = false;
    std::int64_t log_min_level = 0;
    std::int64_t linear_min_level = 0;
    bool support_dimming_limit = false;
    bool support_dali_percentage_limit = false;
    std::int64_t dt6_min_current = 0;
    std::int64_t dt6_max_current = 0;
    std::int64_t dt6_total_current = 0;
    bool support_tunable_white = false;
    bool support_addressing = false;
    bool support_dali_setting = false;
    bool support_corridor = false;
    bool support_vaux = false;
    bool support_mb1 = false;
    bool support_mb207 = false;
    bool support_dtl = false;
    bool support_owp = false;
};

// The product table, the resource "product_features.json".
struct ProductFeature {
    std::string name;
    std::vector<ProductFeatureData> data;

    // Device type and sub type are matched independently; negative codes never match.
    bool supportsDeviceType(std::int64_t deviceType) const;
    bool supportsDeviceSubType(std::int64_t deviceSubType) const;
};

// Nothing when the text is not a product table; `error` then names the cause.
std::optional<ProductFeature> decodeProductFeature(const std::string& json, std::string* error = nullptr);

} // namespace wynfc
