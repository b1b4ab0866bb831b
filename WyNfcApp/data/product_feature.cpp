#include "data/product_feature.h"

#include "data/json_fields.h"

#include <algorithm>

namespace wynfc {
namespace {

using nlohmann::json;
namespace fields = json_fields;

ProductFeatureData productOf(const json& entry) {
    ProductFeatureData product;
    product.current_unit = fields::optionalText(entry, "current_unit");
    product.voltage_unit = fields::optionalText(entry, "voltage_unit");
    product.gtin = fields::optionalText(entry, "gtin");
    product.driver_type = fields::integer(entry, "driver_type");
    product.driver_subtype = fields::integer(entry, "driver_subtype");
    product.chip_model = fields::optionalText(entry, "chip_model");
    product.product_model = fields::optionalText(entry, "product_model");
    product.min_current = fields::integer(entry, "min_current");
    product.max_current = fields::integer(entry, "max_current");
    product.min_voltage = fields::integer(entry, "min_voltage");
    product.max_voltage = fields::integer(entry, "max_voltage");
    product.channel_01 = fields::optionalText(entry, "channel_01");
    product.channel_02 = fields::optionalText(entry, "channel_02");
    product.support_aoc = fields::boolean(entry, "support_aoc");
    product.support_clo = fields::boolean(entry, "support_clo");
    product.support_lamp_on_time = fields::boolean(entry, "support_lamp_on_time");
    product.support_dc_emergency = fields::boolean(entry, "support_dc_emergency");
    product.support_diagnostics = fields::boolean(entry, "support_diagnostics");
    product.log_min_level = fields::integer(entry, "log_min_level");
    product.linear_min_level = fields::integer(entry, "linear_min_level");
    product.support_dimming_limit = fields::boolean(entry, "support_dimming_limit");
    product.support_dali_percentage_limit = fields::boolean(entry, "support_dali_percentage_limit");
    product.dt6_min_current = fields::integer(entry, "dt6_min_current");
    product.dt6_max_current = fields::integer(entry, "dt6_max_current");
    product.dt6_total_current = fields::integer(entry, "dt6_total_current");
    product.support_tunable_white = fields::boolean(entry, "support_tunable_white");
    product.support_addressing = fields::boolean(entry, "support_addressing");
    product.support_dali_setting = fields::boolean(entry, "support_dali_setting");
    product.support_corridor = fields::boolean(entry, "support_corridor");
    product.support_vaux = fields::boolean(entry, "support_vaux");
    product.support_mb1 = fields::boolean(entry, "support_mb1");
    product.support_mb207 = fields::boolean(entry, "support_mb207");
    product.support_dtl = fields::boolean(entry, "support_dtl");
    product.support_owp = fields::boolean(entry, "support_owp");
    return product;
}

} // namespace

bool ProductFeature::supportsDeviceType(std::int64_t deviceType) const {
    return std::any_of(data.begin(), data.end(), [&](const ProductFeatureData& product) {
        return product.driver_type >= 0 && product.driver_type == deviceType;
    });
}

bool ProductFeature::supportsDeviceSubType(std::int64_t deviceSubType) const {
    return std::any_of(data.begin(), data.end(), [&](const ProductFeatureData& product) {
        return product.driver_subtype >= 0 && product.driver_subtype == deviceSubType;
    });
}

std::optional<ProductFeature> decodeProductFeature(const std::string& text, std::string* error) {
    try {
        const json root = fields::parse(text);
        ProductFeature table;
        table.name = fields::text(root, "name");
        const json& products = fields::required(root, "data");
        if (!products.is_array()) {
            throw fields::DecodeError("\"data\" should be a list");
        }
        for (size_t i = 0; i < products.size(); ++i) {
            try {
                table.data.push_back(productOf(products[i]));
            } catch (const fields::DecodeError& failure) {
                throw fields::DecodeError("product " + std::to_string(i + 1) + ": " + failure.what());
            }
        }
        return table;
    } catch (const fields::DecodeError& failure) {
        if (error != nullptr) {
            *error = failure.what();
        }
        return std::nullopt;
    }
}

} // namespace wynfc
