#include "cli/map_file.h"

#include "cli/cli_options.h"

#include <nlohmann/json.hpp>

namespace wynfc::cli {

const MapItem* MapArea::item(const std::string& itemName) const {
    for (const MapItem& candidate : items) {
        if (candidate.name == itemName) {
            return &candidate;
        }
    }
    return nullptr;
}

MapFile::MapFile(const std::string& json) {
    try {
        const auto root = nlohmann::json::parse(json);
        for (const auto& area : root.at("mapping")) {
            MapArea parsed;
            parsed.name = area.at("name").get<std::string>();
            parsed.startAddress = std::stoi(area.at("startAddress").get<std::string>(), nullptr, 16);
            parsed.byteCount = area.at("byteCount").get<int>();
            if (area.contains("items") && area["items"].is_array()) {
                for (const auto& item : area["items"]) {
                    MapItem parsedItem{item.at("name").get<std::string>(),
                                       item.at("dataType").get<std::string>(),
                                       item.at("bytes").get<std::vector<int>>(),
                                       {}};
                    if (item.contains("bits") && item["bits"].is_array()) {
                        for (const auto& bit : item["bits"]) {
                            parsedItem.bits.emplace_back(bit.at("name").get<std::string>(),
                                                         bit.at("bit").get<int>());
                        }
                    }
                    parsed.items.push_back(std::move(parsedItem));
                }
            }
            mAreas.push_back(std::move(parsed));
        }
    } catch (const std::exception& error) {
        throw UsageError(std::string("the address map is not valid: ") + error.what());
    }
}

const MapArea* MapFile::area(const std::string& name) const {
    for (const MapArea& candidate : mAreas) {
        if (candidate.name == name) {
            return &candidate;
        }
    }
    return nullptr;
}

} // namespace wynfc::cli
