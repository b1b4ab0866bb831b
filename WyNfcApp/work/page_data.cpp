#include "work/page_data.h"

#include "platform/console_log.h"

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

namespace wynfc {
namespace {

constexpr const char* kTag = "------ PageData ------";

nlohmann::json resourceJson(const Bundle& bundle, const std::string& name) {
    const auto path = bundle.pathForResource(name, "json");
    if (!path) {
        logLine(kTag, "No " + name + ".json among the resources");
        return nullptr;
    }
    std::ifstream file(*path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    nlohmann::json parsed = nlohmann::json::parse(text.str(), nullptr, false);
    if (!file || parsed.is_discarded()) {
        logLine(kTag, "Could not read " + path->string() + " as JSON");
        return nullptr;
    }
    return parsed;
}

} // namespace

std::string pageDataPayload(const Bundle& bundle) {
    const nlohmann::json payload = {{"catalogue", resourceJson(bundle, "field_catalogue")},
                                    {"map", resourceJson(bundle, "address_map")}};
    // Replaces what is not UTF-8 rather than throwing: the page gets what can be shown.
    return payload.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

} // namespace wynfc
