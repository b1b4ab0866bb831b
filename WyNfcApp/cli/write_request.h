#pragma once

#include "cli/map_file.h"
#include "cli/page_host.h"
#include "data/json_records.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace wynfc::cli {

// What a read showed: the driver's identification and the decoded values of each area read.
struct ReadValues {
    std::int64_t deviceType = -1; // -1 when the identification did not name it
    std::int64_t deviceSubType = -1;
    std::map<std::string, std::string> areaJson; // area name -> value list as JSON text

    static ReadValues fromEvents(const std::vector<PageEvent>& events);
    // The decoded value (or, for "array" and "bigint", its text) of an item or a bit.
    std::optional<std::string> valueText(const MapArea& area, const std::string& item,
                                         const std::optional<std::string>& bit = std::nullopt) const;
};

// The values to write, grouped per area in the order first named.
using WriteList = std::vector<WriteValuesType>;

// "--set AREA.ITEM[.BIT]=VALUE" entries: checked against the map (names, value ranges) and
// built as the page would build them (a bit entry carries the item's value just read).
// Throws UsageError naming the faulty entry.
WriteList writeListFromSets(const std::vector<std::string>& sets, const MapFile& map, const ReadValues& read);

// A "--values" file: the page's values list. Throws UsageError.
WriteList writeListFromJson(const std::string& json, const MapFile& map);

// The "WRITE_DATA" data: "<device type>,<device sub type>:<values list>".
std::string writeData(const ReadValues& identification, const WriteList& list);

// Every value of the list that does not read back as written, as readable lines.
std::vector<std::string> verify(const WriteList& list, const MapFile& map, const ReadValues& readBack);

} // namespace wynfc::cli
