// The configuration page's field catalogue against the address map: every entry names a value
// the map defines, its bounds and named values fit the value's type, channel 2 is described as
// channel 1, and every value the page shows has a label and a help text.

#include "resource_files.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <set>

namespace wynfc::test {
namespace {

// clang-format off
// The areas the page shows: the description read on every driver, and the areas a read reports.
const std::vector<std::string> kPageAreas = {
    "nfc_data_addr_dc_product_identification", "nfc_data_addr_led_product_properties",
    "nfc_data_addr_dc_capabilities_options", "nfc_data_addr_driver_gtin", "nfc_data_addr_dc_memory_bank_01",
    "nfc_data_addr_dc_memory_bank_207", "nfc_data_addr_mb1_light_distribution", "nfc_data_addr_dc_aoc",
    "nfc_data_addr_dc_clo", "nfc_data_addr_dc_clo2", "nfc_data_addr_dc_corridor",
    "nfc_data_addr_dc_dim_percentage_limit", "nfc_data_addr_dc_dim_percentage_limit2",
    "nfc_data_addr_dc_diagnostics_set", "nfc_data_addr_dc_diagnostics_set2",
    "nfc_data_addr_dc_diagnostics_read", "nfc_data_addr_dc_diagnostics_read2", "nfc_data_addr_dc_dali_setting",
    "nfc_data_addr_dc_dali_setting2", "nfc_data_addr_dc_dali_addressing", "nfc_data_addr_dc_ww_cw",
    "nfc_data_addr_dc_start_up_time"};
// clang-format on

// The largest value of a numeric type ("int" keeps bit 31 clear); none for "bigint" and
// "array", which hold no number the page can bound.
std::optional<long long> largestValueOf(const std::string& type) {
    static const std::map<std::string, long long> largest = {
        {"byte", 0xFF}, {"short", 0xFFFF}, {"smallint", 0xFFFFFF}, {"int", 0x7FFFFFFF}};
    const auto found = largest.find(type);
    return found == largest.end() ? std::nullopt : std::optional<long long>(found->second);
}

// A key of "choices" or "special": decimal digits only, as the page compares it with the value.
std::optional<long long> valueOfKey(const std::string& key) {
    if (key.empty() || key.size() > 12 || key.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    return std::stoll(key);
}

bool isText(const Json& value) {
    return value.is_string() && !value.get<std::string>().empty();
}

class FieldCatalogue : public ::testing::Test {
protected:
    FieldCatalogue() {
        for (const Json& area : map.at("mapping")) {
            auto& items = itemsOfArea[area.at("name").get<std::string>()];
            for (const Json& item : area.at("items")) {
                if (item.at("name") != "reserve") {
                    items.emplace(item.at("name").get<std::string>(), &item);
                }
            }
        }
    }

    // The map's value of that name in the area ("reserve" bytes are none), or null.
    const Json* mapItem(const std::string& area, const std::string& item) const {
        const auto inArea = itemsOfArea.find(area);
        if (inArea == itemsOfArea.end()) {
            return nullptr;
        }
        const auto found = inArea->second.find(item);
        return found == inArea->second.end() ? nullptr : found->second;
    }
    const Json* mapItemAt(const std::string& path) const {
        const auto dot = path.find('.');
        return dot == std::string::npos ? nullptr : mapItem(path.substr(0, dot), path.substr(dot + 1));
    }

    // Calls check(area, itemName, entry, mapItem) for each item entry whose value the map defines.
    template <typename Check> void forEachDescribedItem(Check check) const {
        for (const auto& area : catalogue.at("areas").items()) {
            const Json items = area.value().value("items", Json::object());
            for (const auto& item : items.items()) {
                if (const Json* defined = mapItem(area.key(), item.key())) {
                    check(area.key(), item.key(), item.value(), *defined);
                }
            }
        }
    }

    Json map = readResourceJson("address_map.json");
    Json catalogue = readResourceJson("field_catalogue.json");
    std::map<std::string, std::map<std::string, const Json*>> itemsOfArea;
};

TEST_F(FieldCatalogue, GroupsAreDistinctAndTitledAndEachHoldsAnArea) {
    std::set<std::string> ids;
    for (const Json& group : catalogue.at("groups")) {
        const std::string id = group.value("id", "");
        EXPECT_FALSE(id.empty()) << "a group without an id: " << group.dump();
        EXPECT_TRUE(ids.insert(id).second) << "group " << id << " appears twice";
        EXPECT_TRUE(isText(group.value("title", Json()))) << "group " << id << " has no title";
        EXPECT_TRUE(isText(group.value("description", Json()))) << "group " << id << " has no description";
    }
    std::set<std::string> used;
    for (const auto& area : catalogue.at("areas").items()) {
        const std::string group = area.value().value("group", "");
        EXPECT_TRUE(ids.count(group))
            << area.key() << " is in group \"" << group << "\", which is not listed";
        used.insert(group);
        EXPECT_TRUE(isText(area.value().value("title", Json()))) << area.key() << " has no title";
    }
    for (const std::string& id : ids) {
        EXPECT_TRUE(used.count(id)) << "group " << id << " holds no area";
    }
}

// Each entry names a value (or a named bit of it) that its area defines in the map, and reads
// as the page shows it: a label in human words (no raw names) and a help text.
TEST_F(FieldCatalogue, EntriesNameValuesAndBitsOfTheirAreaAndAreWorded) {
    const auto expectWorded = [](const Json& entry, const std::string& where) {
        const std::string label = entry.value("label", "");
        EXPECT_FALSE(label.empty()) << where << " has no label";
        EXPECT_EQ(label.find('_'), std::string::npos) << where << " is labelled with a raw name: " << label;
        EXPECT_TRUE(isText(entry.value("help", Json()))) << where << " has no help text";
    };
    for (const auto& area : catalogue.at("areas").items()) {
        if (!itemsOfArea.count(area.key())) {
            ADD_FAILURE() << "the address map has no area " << area.key();
            continue;
        }
        for (const auto& item : area.value().at("items").items()) {
            const std::string where = area.key() + "." + item.key();
            const Json* defined = mapItem(area.key(), item.key());
            if (defined == nullptr) {
                ADD_FAILURE() << "the address map has no value " << where;
                continue;
            }
            expectWorded(item.value(), where);
            std::set<std::string> bitsOfItem;
            for (const Json& bit : defined->value("bits", Json::array())) {
                bitsOfItem.insert(bit.at("name").get<std::string>());
            }
            const Json bits = item.value().value("bits", Json::object());
            for (const auto& bit : bits.items()) {
                EXPECT_TRUE(bitsOfItem.count(bit.key()))
                    << "the address map has no bit " << where << "." << bit.key();
                expectWorded(bit.value(), where + "." + bit.key());
            }
        }
    }
}

// Bounds, named values, text and display hints are what the value's type can carry: the page
// offers nothing the driver cannot store.
TEST_F(FieldCatalogue, BoundsAndNamedValuesFitTheValueType) {
    forEachDescribedItem([](const std::string& area, const std::string& name, const Json& entry,
                            const Json& defined) {
        const std::string where = area + "." + name;
        const std::string type = defined.at("dataType");
        const std::optional<long long> largest = largestValueOf(type);
        std::optional<long long> low, high;
        for (const char* bound : {"min", "max"}) {
            if (!entry.contains(bound)) {
                continue;
            }
            const Json& value = entry.at(bound);
            EXPECT_TRUE(largest) << where << " is of type " << type << " and takes no " << bound;
            if (value.is_number_integer() && largest) {
                EXPECT_TRUE(value.get<long long>() >= 0 && value.get<long long>() <= *largest)
                    << where << "." << bound << " " << value << " lies outside type " << type;
                (std::string(bound) == "min" ? low : high) = value.get<long long>();
            } else {
                EXPECT_TRUE(value.is_string())
                    << where << "." << bound << " is neither a whole number nor a path";
            }
        }
        if (low && high) {
            EXPECT_LE(*low, *high) << where << ": min exceeds max";
        }
        for (const char* named : {"choices", "special"}) {
            if (!entry.contains(named)) {
                continue;
            }
            EXPECT_TRUE(largest) << where << " is of type " << type << " and takes no " << named;
            EXPECT_FALSE(entry.at(named).empty()) << where << "." << named << " is empty";
            for (const auto& choice : entry.at(named).items()) {
                const std::optional<long long> value = valueOfKey(choice.key());
                EXPECT_TRUE(value && largest && *value <= *largest)
                    << where << "." << named << " \"" << choice.key() << "\" is no value of type " << type;
                EXPECT_TRUE(isText(choice.value()))
                    << where << "." << named << " " << choice.key() << " has no name";
                // A special value inside the range would hide a valid number behind a name.
                if (std::string(named) == "special" && value && low && high) {
                    EXPECT_TRUE(*value < *low || *value > *high)
                        << where << ": special value " << *value << " lies inside min..max";
                }
            }
        }
        if (entry.contains("text")) {
            EXPECT_EQ(type, "array") << where << " holds text but is no array";
            EXPECT_EQ(entry.at("text"), "ascii") << where;
        }
        if (entry.contains("check")) {
            EXPECT_TRUE(entry.at("check") == "gtin" && type == "bigint")
                << where << ": only a bigint GTIN is checked";
        }
        if (entry.contains("profile")) {
            EXPECT_EQ(entry.at("profile"), false)
                << where << ": \"profile\" only keeps a value out of profiles";
            EXPECT_FALSE(entry.value("readOnly", false))
                << where << " is read-only and never in a profile anyway";
        }
        if (entry.contains("display")) {
            const Json& display = entry.at("display");
            EXPECT_TRUE(largest) << where << " is of type " << type << " and has no number to display";
            if (display.contains("format")) {
                const std::string format = display.at("format");
                EXPECT_TRUE(format == "hex" || (format == "version" && type == "short"))
                    << where << " cannot be shown in format " << format;
            } else {
                EXPECT_TRUE(display.at("scale").is_number() && display.at("scale") != 0) << where;
                EXPECT_TRUE(!display.contains("offset") || display.at("offset").is_number()) << where;
                EXPECT_TRUE(!display.contains("decimals") || display.at("decimals").is_number_unsigned())
                    << where;
            }
        }
    });
}

// A bound given as "AREA.ITEM" takes another value's reading: that value must exist and be a number.
TEST_F(FieldCatalogue, PathBoundsNameNumericValues) {
    forEachDescribedItem([this](const std::string& area, const std::string& name, const Json& entry,
                                const Json&) {
        for (const char* bound : {"min", "max"}) {
            if (!entry.contains(bound) || !entry.at(bound).is_string()) {
                continue;
            }
            const std::string path = entry.at(bound);
            const Json* target = mapItemAt(path);
            EXPECT_TRUE(target != nullptr && largestValueOf(target->at("dataType")))
                << area << "." << name << "." << bound << " names " << path << ", which is no numeric value";
        }
    });
}

// Channel 2 areas hold channel 1's values, so they read the same; only their group differs, and a
// path bound stays on its own channel (the second channel's minimum level is bounded by its own
// physical minimum and maximum level).
TEST_F(FieldCatalogue, ChannelTwoAreasAreDescribedAsChannelOne) {
    const Json& areas = catalogue.at("areas");
    std::map<std::string, std::string> secondOf;
    for (const auto& area : itemsOfArea) {
        const std::string& name = area.first;
        const std::string first = name.substr(0, name.size() - 1);
        if (name.back() == '2' && itemsOfArea.count(first)) {
            secondOf[first] = name;
        }
    }
    ASSERT_FALSE(secondOf.empty());
    for (const auto& [first, second] : secondOf) {
        if (!areas.contains(first)) {
            continue;
        }
        ASSERT_TRUE(areas.contains(second)) << first << " is described, " << second << " is not";
        Json expected = areas.at(first);
        for (auto& item : expected.at("items")) {
            for (const char* bound : {"min", "max"}) {
                if (item.contains(bound) && item.at(bound).is_string()) {
                    std::string path = item.at(bound);
                    const std::string pathArea = path.substr(0, path.find('.'));
                    if (secondOf.count(pathArea)) {
                        item[bound] = secondOf.at(pathArea) + path.substr(pathArea.size());
                    }
                }
            }
        }
        Json actual = areas.at(second);
        EXPECT_NE(actual.value("group", ""), expected.value("group", ""))
            << second << " shares the group of " << first;
        for (const auto& value : itemsOfArea.at(second)) {
            const std::string& name = value.first;
            EXPECT_EQ(actual.at("items").value(name, Json()), expected.at("items").value(name, Json()))
                << second << "." << name << " is not described as in " << first;
        }
        for (Json* area : {&actual, &expected}) {
            area->erase("group");
            area->erase("items");
        }
        EXPECT_EQ(actual, expected) << second << " has another title or read-only mark than " << first;
    }
}

// Every value and named bit of the areas the page shows has an entry ("reserve" bytes are shown
// by their raw name); so has every value of any other area the catalogue describes.
TEST_F(FieldCatalogue, EveryValueAndBitOfThePageIsDescribed) {
    const Json& areas = catalogue.at("areas");
    std::set<std::string> described(kPageAreas.begin(), kPageAreas.end());
    for (const auto& area : areas.items()) {
        described.insert(area.key());
    }
    for (const std::string& area : described) {
        if (!areas.contains(area) || !itemsOfArea.count(area)) {
            ADD_FAILURE() << area << " is not in both the catalogue and the address map";
            continue;
        }
        const Json& entries = areas.at(area).at("items");
        for (const auto& [name, defined] : itemsOfArea.at(area)) {
            if (!entries.contains(name)) {
                ADD_FAILURE() << "the catalogue does not describe " << area << "." << name;
                continue;
            }
            const Json bits = entries.at(name).value("bits", Json::object());
            for (const Json& bit : defined->value("bits", Json::array())) {
                EXPECT_TRUE(bits.contains(bit.at("name")))
                    << "the catalogue does not describe bit " << area << "." << name << "."
                    << bit.at("name").get<std::string>();
            }
        }
    }
}

} // namespace
} // namespace wynfc::test
