#pragma once

#include <optional>
#include <string>
#include <vector>

namespace wynfc::cli {

// The address map as the command line needs it: areas, items and their types, to list the
// areas and to turn "--set AREA.ITEM[.BIT]=VALUE" into the library's entries.
struct MapItem {
    std::string name;
    std::string dataType;
    std::vector<int> bytes;
    std::vector<std::pair<std::string, int>> bits; // name, bit number
};

struct MapArea {
    std::string name;
    int startAddress = 0;
    int byteCount = 0;
    std::vector<MapItem> items;

    int firstBlock() const { return startAddress / 4; }
    int blockCount() const { return (byteCount + 3) / 4; }
    const MapItem* item(const std::string& itemName) const;
};

class MapFile {
public:
    // Throws UsageError for a text that is not an address map.
    explicit MapFile(const std::string& json);

    const std::vector<MapArea>& areas() const { return mAreas; }
    const MapArea* area(const std::string& name) const;

private:
    std::vector<MapArea> mAreas;
};

} // namespace wynfc::cli
