#pragma once

#include "cli/map_file.h"
#include "cli/page_host.h"
#include "data/json_records.h"

#include <charconv>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
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

// A whole decimal or 0x-hexadecimal number of type T, nothing around it (a minus sign only where
// T has one); nothing when the text is not one or T cannot hold it.
template <typename T> std::optional<T> parseNumber(std::string_view text) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    T number{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number, base);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return number;
}

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
