// The shipped address map against the layout rules of the tag memory.

#include "resource_files.h"

#include "wy_nfc_mapping/ApiHeader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

namespace wynfc::test {
namespace {

// Entries in "bytes" that each item type needs.
const std::map<std::string, std::size_t> kEntriesOfType = {
    {"byte", 1}, {"short", 2}, {"smallint", 3}, {"int", 4}, {"bigint", 2}, {"array", 2},
};

class AddressMapLayout : public ::testing::Test {
protected:
    Json map = readResourceJson("address_map.json");
    const Json& areas() const { return map.at("mapping"); }
};

TEST_F(AddressMapLayout, DefinesEveryRequestedAreaExactlyOnce) {
    std::map<std::string, int> seen;
    for (const Json& area : areas()) {
        ++seen[area.at("name").get<std::string>()];
    }
    for (const std::string& name : requestedAreaNames()) {
        EXPECT_EQ(seen[name], 1) << name;
    }
    for (const auto& [name, count] : seen) {
        EXPECT_EQ(count, 1) << name << " defined more than once";
    }
}

TEST_F(AddressMapLayout, AreasAreWholeBlocksBelowBlock256AndFitOneReaderRead) {
    for (const Json& area : areas()) {
        const std::string name = area.at("name");
        const int byteCount = area.at("byteCount").get<int>();
        EXPECT_EQ(startAddressOf(area) % kBlockSize, 0) << name << " does not start on a block";
        EXPECT_GT(byteCount, 0) << name;
        EXPECT_LE(blockSpanOf(area), kMaxAreaBlocks) << name;
        EXPECT_LT(firstBlockOf(area) + blockSpanOf(area) - 1, kBlockCount) << name;
    }
}

TEST_F(AddressMapLayout, NoTwoAreasShareABlock) {
    std::vector<std::pair<int, std::string>> byFirstBlock;
    for (const Json& area : areas()) {
        byFirstBlock.emplace_back(firstBlockOf(area), area.at("name").get<std::string>());
    }
    std::sort(byFirstBlock.begin(), byFirstBlock.end());
    for (std::size_t i = 1; i < byFirstBlock.size(); ++i) {
        const Json& previous = areaNamed(map, byFirstBlock[i - 1].second);
        const int previousLastBlock = firstBlockOf(previous) + blockSpanOf(previous) - 1;
        EXPECT_GT(byFirstBlock[i].first, previousLastBlock)
            << byFirstBlock[i].second << " overlaps " << byFirstBlock[i - 1].second;
    }
}

// Every value lies inside its area, uses the entries its type needs, is big-endian and
// contiguous, and no byte belongs to two values.
TEST_F(AddressMapLayout, ItemsFitTheirTypeAndTheirArea) {
    for (const Json& area : areas()) {
        const std::string areaName = area.at("name");
        const int byteCount = area.at("byteCount").get<int>();
        ASSERT_TRUE(area.contains("items") && !area.at("items").empty()) << areaName;
        std::set<int> usedBytes;
        std::set<std::string> itemNames;
        for (const Json& item : area.at("items")) {
            const std::string name = item.at("name");
            const std::string type = item.at("dataType");
            const std::vector<int> bytes = item.at("bytes").get<std::vector<int>>();
            const std::string where = areaName + "." + name;
            ASSERT_TRUE(kEntriesOfType.count(type)) << where << " has type " << type;
            ASSERT_EQ(bytes.size(), kEntriesOfType.at(type)) << where;

            std::vector<int> covered = bytes;
            if (type == "bigint" || type == "array") {
                ASSERT_LE(bytes[0], bytes[1]) << where;
                covered.clear();
                for (int i = bytes[0]; i <= bytes[1]; ++i) {
                    covered.push_back(i);
                }
            }
            if (type == "bigint") {
                // Decoding reads 5 to 8 bytes, but the update writes only 6 to 8.
                EXPECT_GE(covered.size(), 6u) << where;
                EXPECT_LE(covered.size(), 8u) << where;
            }
            for (std::size_t k = 1; k < bytes.size() && type != "bigint" && type != "array"; ++k) {
                EXPECT_EQ(bytes[k], bytes[k - 1] + 1) << where << " is not big-endian and contiguous";
            }
            for (const int index : covered) {
                EXPECT_GE(index, 0) << where;
                EXPECT_LT(index, byteCount) << where << " lies outside the area";
                EXPECT_TRUE(usedBytes.insert(index).second) << where << " shares byte " << index;
            }

            if (name == "reserve") {
                EXPECT_EQ(type, "byte") << where << ": a reserve fill touches only the first byte";
            } else {
                EXPECT_TRUE(itemNames.insert(name).second) << where << " appears twice";
            }

            const int width = type == "int" ? 31 : static_cast<int>(8 * bytes.size());
            std::set<std::string> bitNames;
            for (const Json& bit : item.value("bits", Json::array())) {
                const std::string bitName = bit.at("name");
                EXPECT_EQ(bit.at("dataType"), "binary") << where << "." << bitName;
                EXPECT_TRUE(type != "bigint" && type != "array") << where << " has bits";
                // An "int" keeps bit 31 clear: the application reads values as unsigned.
                EXPECT_GE(bit.at("bit").get<int>(), 0) << where << "." << bitName;
                EXPECT_LT(bit.at("bit").get<int>(), width) << where << "." << bitName;
                EXPECT_TRUE(bitNames.insert(bitName).second) << where << "." << bitName << " appears twice";
            }
        }
    }
}

TEST_F(AddressMapLayout, UsesEveryItemTypeNamedBitsAndReserveBytes) {
    std::set<std::string> types;
    int bits = 0;
    int reserves = 0;
    for (const Json& area : areas()) {
        for (const Json& item : area.at("items")) {
            types.insert(item.at("dataType").get<std::string>());
            bits += static_cast<int>(item.value("bits", Json::array()).size());
            reserves += item.at("name") == "reserve" ? 1 : 0;
        }
    }
    for (const auto& [type, entries] : kEntriesOfType) {
        EXPECT_TRUE(types.count(type)) << type << " is never used";
    }
    EXPECT_GT(bits, 0);
    EXPECT_GT(reserves, 0);
}

TEST_F(AddressMapLayout, IdentificationStaysAtTheStartOfTheTag) {
    const Json& area = areaNamed(map, kIdentificationArea);
    EXPECT_EQ(startAddressOf(area), 0);
    const Json& items = area.at("items");
    ASSERT_GE(items.size(), 2u);
    EXPECT_EQ(items[0], Json::parse(R"({"name": "device_type", "dataType": "byte", "bytes": [0]})"));
    EXPECT_EQ(items[1], Json::parse(R"({"name": "device_sub_type", "dataType": "byte", "bytes": [1]})"));
}

TEST_F(AddressMapLayout, CapabilityAreaCarriesEachCapabilityOnce) {
    std::map<std::string, int> found;
    for (const Json& item : areaNamed(map, kCapabilitiesArea).at("items")) {
        if (item.at("dataType") == "byte") {
            ++found[item.at("name").get<std::string>()];
        }
        for (const Json& bit : item.value("bits", Json::array())) {
            if (bit.at("dataType") == "binary") {
                ++found[bit.at("name").get<std::string>()];
            }
        }
    }
    for (const std::string& name : capabilityNames()) {
        EXPECT_EQ(found[name], 1) << name;
    }
    for (const auto& [name, count] : found) {
        const bool known = std::count(capabilityNames().begin(), capabilityNames().end(), name) == 1;
        EXPECT_TRUE(known || name.rfind("support_", 0) != 0) << "unknown capability " << name;
    }
}

TEST_F(AddressMapLayout, CheckingAreaHoldsTheFourCheckBytes) {
    const Json& area = areaNamed(map, kCheckingArea);
    std::set<int> indexes;
    for (const char* name : {"check_byte_01", "check_byte_02", "check_byte_03", "check_byte_04"}) {
        const auto& items = area.at("items");
        const auto item =
            std::find_if(items.begin(), items.end(), [&](const Json& i) { return i["name"] == name; });
        ASSERT_NE(item, items.end()) << name;
        EXPECT_EQ((*item)["dataType"], "byte") << name;
        indexes.insert((*item)["bytes"][0].get<int>());
    }
    EXPECT_EQ(indexes.size(), 4u);
}

// Each directory entry "block_X" of the two address tables names an area "nfc_data_addr_X".
TEST_F(AddressMapLayout, AddressTableEntriesNameExistingAreas) {
    int entries = 0;
    for (const char* table : {"nfc_data_addr_dc_address_table", "nfc_data_addr_address_table2"}) {
        for (const Json& item : areaNamed(map, table).at("items")) {
            const std::string name = item.at("name");
            if (name.rfind("block_", 0) == 0) {
                ++entries;
                EXPECT_NO_THROW(areaNamed(map, "nfc_data_addr_" + name.substr(6))) << table << "." << name;
            }
        }
    }
    // Every area but the first table itself and the identification has an entry.
    EXPECT_EQ(entries, static_cast<int>(requestedAreaNames().size()) - 2);
}

// The library accepts the map and places every area where the file says.
TEST_F(AddressMapLayout, LoadsIntoTheLibraryWithTheSameGeometry) {
    ApiHeader api;
    api.destroy();
    ASSERT_TRUE(api.loadAddressMapFile(readResourceText("address_map.json")));
    for (const Json& area : areas()) {
        const std::string name = area.at("name");
        const auto properties = api.getNFCProductPropertiesJsonByName(name);
        ASSERT_TRUE(properties.has_value()) << name;
        const Json described = Json::parse(*properties);
        EXPECT_EQ(described.at("startAddress").get<int>(), startAddressOf(area)) << name;
        EXPECT_EQ(described.at("byteCount"), area.at("byteCount")) << name;
        EXPECT_EQ(described.at("normBlockCount").get<int>(), blockSpanOf(area)) << name;
    }
    api.destroy();
}

// The write workflow seals every write with this pattern; it must land in the checking area.
TEST_F(AddressMapLayout, CheckPatternMergesIntoTheCheckingArea) {
    ApiHeader api;
    api.destroy();
    ASSERT_TRUE(api.loadAddressMapFile(readResourceText("address_map.json")));
    const std::string pattern =
        R"([{"propName":"check_byte_01","value":170},{"propName":"check_byte_02","value":85},)"
        R"({"propName":"check_byte_03","value":90},{"propName":"check_byte_04","value":165}])";
    const Json& area = areaNamed(map, kCheckingArea);
    const std::vector<int> old(static_cast<std::size_t>(blockSpanOf(area) * kBlockSize), 0);
    const auto merged = api.updateValuesFromOldDataByName(kCheckingArea, pattern, old, true, true);
    ASSERT_TRUE(merged.has_value());
    std::vector<int> bytes;
    for (const int b : *merged) {
        bytes.push_back(b & 0xFF);
    }
    EXPECT_EQ(bytes, (std::vector<int>{0xAA, 0x55, 0x5A, 0xA5}));
    api.destroy();
}

} // namespace
} // namespace wynfc::test
