// Any text given as the product table (product_features.json, --products): nothing and a
// reason, or a table with one product per entry of "data", never a crash. A product's own
// codes are supported unless negative; the product check never matches a negative code.

#include "data/product_feature.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "product_table: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace wynfc;
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string error;
    const auto table = decodeProductFeature(text, &error);
    if (!table) {
        if (error.empty()) {
            fail("a table was refused without a reason");
        }
        return 0;
    }
    const auto entries = nlohmann::json::parse(text).at("data").size();
    if (table->data.size() != entries) {
        fail("the table does not hold one product per entry");
    }
    for (const ProductFeatureData& product : table->data) {
        if (table->supportsDeviceType(product.driver_type) != (product.driver_type >= 0) ||
            table->supportsDeviceSubType(product.driver_subtype) != (product.driver_subtype >= 0)) {
            fail("a product's own codes are not matched as documented");
        }
    }
    if (table->supportsDeviceType(-1) || table->supportsDeviceSubType(-1)) {
        fail("a negative code matched");
    }
    return 0;
}
