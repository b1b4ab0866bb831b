#include "library_fixture.h"

#include <gmock/gmock.h>
#include <nlohmann/json.hpp>

namespace wy_nfc_mapping::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::MatchesRegex;

const char* const kTwoAreas = R"({"mapping": [
  {"name": "nfc_data_addr_dc_aoc", "byteCount": 10, "startAddress": "0x10", "extra": true,
   "items": [
     {"name": "current", "dataType": "short", "bytes": [0, 1]},
     {"name": "flags", "dataType": "byte", "bytes": [2],
      "bits": [{"name": "enable", "dataType": "binary", "bit": 0},
               {"name": "mode", "dataType": "flag", "bit": 7}]}]},
  {"name": "plain", "byteCount": 4, "startAddress": "10"}
]})";

class AddressMapTest : public LibraryTest {};

TEST_F(AddressMapTest, LoadsAreasItemsAndBits) {
    const std::string output = load(kTwoAreas);
    EXPECT_THAT(output, HasSubstr("[WARNING] wy_nfc_mapping/src/address_map.cpp:load:"));
    EXPECT_THAT(output, HasSubstr(" flags have Bits property to read.\n\n"));

    NfcData data;
    ASSERT_EQ(data.loadAddressMap(kTwoAreas), 0);
    const DataObj* aoc = data.getAddressMapObjByName("nfc_data_addr_dc_aoc");
    ASSERT_NE(aoc, nullptr);
    EXPECT_EQ(aoc->startAddress, 16);
    EXPECT_EQ(aoc->byteCount, 10);
    ASSERT_EQ(aoc->items.size(), 2U);
    EXPECT_EQ(aoc->items[0].byteIndexCount, 2);
    EXPECT_EQ(aoc->items[0].bytes[1], 1);
    EXPECT_EQ(aoc->items[0].bytes[2], 0);
    EXPECT_EQ(aoc->items[0].bitCount, 0);
    ASSERT_EQ(aoc->items[1].bitCount, 2);
    EXPECT_EQ(aoc->items[1].bits[1].name, "mode");
    EXPECT_EQ(aoc->items[1].bits[1].bit, 7);

    // "10" without a prefix is hexadecimal too; an area without items is kept.
    const DataObj* plain = data.getAddressMapObjByName("plain");
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(plain->startAddress, 16);
    EXPECT_TRUE(plain->items.empty());

    EXPECT_EQ(data.getAddressMapObjByName("NFC_DATA_ADDR_DC_AOC"), nullptr);
}

TEST_F(AddressMapTest, AreaWithoutItemsIsReportedAndKept) {
    const std::string output =
        load(R"({"mapping": [{"name": "empty", "byteCount": 4, "startAddress": "0", "items": []}]})");
    EXPECT_THAT(output,
                MatchesRegex("\\[ERROR\\] wy_nfc_mapping/src/address_map\\.cpp:load:[0-9]+ \n"
                             "CHECKING!! The profile \\[\\[empty\\]\\] doesn't have items prop!\n\n"));
    EXPECT_TRUE(api().getNFCProductPropertiesJsonByName("empty").has_value());
}

TEST_F(AddressMapTest, EmptyOrMissingMappingLoadsNothing) {
    for (const char* json : {R"({"mapping": []})", R"({"areas": []})", R"({"mapping": {}})", "[]"}) {
        const std::string output = load(json, 1);
        EXPECT_THAT(output, MatchesRegex("\\[ERROR\\] wy_nfc_mapping/src/address_map\\.cpp:load:[0-9]+ "
                                         "The Mapping props count is ZERO\\.\n\n"))
            << json;
    }
}

TEST_F(AddressMapTest, EmptyBytesStopsTheLoadKeepingEarlierAreas) {
    const std::string output = load(R"({"mapping": [
      {"name": "first", "byteCount": 4, "startAddress": "0", "items": [{"name": "a", "dataType": "byte", "bytes": [0]}]},
      {"name": "second", "byteCount": 4, "startAddress": "4", "items": [
          {"name": "b", "dataType": "byte", "bytes": [0]}, {"name": "c", "dataType": "byte", "bytes": []}]},
      {"name": "third", "byteCount": 4, "startAddress": "8", "items": [{"name": "d", "dataType": "byte", "bytes": [0]}]}
    ]})",
                                    1);
    EXPECT_THAT(output, HasSubstr("mapping->items->bytes[] should not be empty!\n"));
    EXPECT_TRUE(api().getNFCProductPropertiesJsonByName("first").has_value());
    printedBy([&] {
        EXPECT_FALSE(api().getNFCProductPropertiesJsonByName("second").has_value());
        EXPECT_FALSE(api().getNFCProductPropertiesJsonByName("third").has_value());
    });
}

TEST_F(AddressMapTest, SecondLoadAppendsAndFirstDefinitionWins) {
    load(R"({"mapping": [{"name": "a", "byteCount": 4, "startAddress": "0x10", "items": []}]})");
    printedBy([] {
        EXPECT_EQ(
            api().loadAddressMapFile(R"({"mapping": [{"name": "a", "byteCount": 8, "startAddress": "0x20"},
                                                          {"name": "b", "byteCount": 8, "startAddress": "0x40"}]})"),
            0);
    });
    EXPECT_EQ(api().getNFCProductPropertiesJsonByName("a").value_or(""),
              R"({"byteCount":4,"name":"a","normBlockCount":1,"startAddress":16,"version":"CORE_1.1.0"})");
    EXPECT_TRUE(api().getNFCProductPropertiesJsonByName("b").has_value());
}

// Maps the loader must refuse with an error line and the result 1, without crashing.
TEST_F(AddressMapTest, RefusesInvalidMaps) {
    const std::string area = R"("name": "x", "byteCount": 4, "startAddress": "0")";
    const std::vector<std::string> invalid = {
        "",
        "{not json",
        R"({"mapping": [{)" + area + R"(}]} // comment)",
        R"({"mapping": [{"name": 5, "byteCount": 4, "startAddress": "0"}]})",
        R"({"mapping": [{"name": "x", "byteCount": "4", "startAddress": "0"}]})",
        R"({"mapping": [{"name": "x", "byteCount": -4, "startAddress": "0"}]})",
        R"({"mapping": [{"name": "x", "startAddress": "0"}]})",
        R"({"mapping": [{"name": "x", "byteCount": 4, "startAddress": "0xZZ"}]})",
        R"({"mapping": [{"name": "x", "byteCount": 4, "startAddress": "12 "}]})",
        R"({"mapping": [{"name": "x", "byteCount": 4, "startAddress": "-10"}]})",
        R"({"mapping": [{"name": "x", "byteCount": 4, "startAddress": 16}]})",
        R"({"mapping": [{"name": "x", "byteCount": 4, "startAddress": "0x100000"}]})",
        R"({"mapping": [{)" + area + R"(, "items": "none"}]})",
        R"({"mapping": [{)" + area +
            R"(, "items": [{"name": "i", "dataType": "array", "bytes": [0,1,2,3,4,5,6,7,8]}]}]})",
        R"({"mapping": [{)" + area + R"(, "items": [{"name": "i", "dataType": "byte", "bytes": [-1]}]}]})",
        R"({"mapping": [{)" + area + R"(, "items": [{"name": "i", "dataType": "byte", "bytes": ["0"]}]}]})",
        R"({"mapping": [{)" + area + R"(, "items": [{"name": "i", "dataType": "byte", "bytes": 0}]}]})",
        R"({"mapping": [{)" + area + R"(, "items": [{"name": "i", "bytes": [0]}]}]})",
        R"({"mapping": [{)" + area +
            R"(, "items": [{"name": "i", "dataType": "byte", "bytes": [0], "bits": 3}]}]})",
        R"({"mapping": [{)" + area +
            R"(, "items": [{"name": "i", "dataType": "byte", "bytes": [0], "bits": [{"name": "b", "dataType": "binary"}]}]}]})",
        R"({"mapping": [7]})",
    };
    for (const std::string& json : invalid) {
        EXPECT_THAT(load(json, 1), HasSubstr("[ERROR] ")) << json;
    }
}

TEST_F(AddressMapTest, InvalidAreaKeepsTheAreasBeforeIt) {
    load(R"({"mapping": [{"name": "good", "byteCount": 4, "startAddress": "0", "items": []},
                         {"name": "bad", "byteCount": 4, "startAddress": "zz"}]})",
         1);
    EXPECT_TRUE(api().getNFCProductPropertiesJsonByName("good").has_value());
}

// Areas are found by name through an index: every area of a map loaded in several parts must be
// found at its own place, the first of a name winning within a load as across loads.
TEST_F(AddressMapTest, EveryAreaIsFoundByNameAcrossLoads) {
    const auto area = [](const std::string& name, int start, int byteCount) {
        return nlohmann::json{
            {"name", name}, {"byteCount", byteCount}, {"startAddress", std::to_string(start)}};
    };
    nlohmann::json first = nlohmann::json::array();
    // "area7" again, and one name twice within this load.
    nlohmann::json second = {area("area7", 0, 8), area("twice", 1, 4), area("twice", 2, 8)};
    for (int index = 0; index < 300; ++index) {
        (index < 150 ? first : second).push_back(area("area" + std::to_string(index), index, 4));
    }
    NfcData data;
    printedBy([&] {
        ASSERT_EQ(data.loadAddressMap(nlohmann::json{{"mapping", first}}.dump()), 0);
        ASSERT_EQ(data.loadAddressMap(nlohmann::json{{"mapping", second}}.dump()), 0);
    });
    for (int index = 0; index < 300; ++index) {
        const DataObj* found = data.getAddressMapObjByName("area" + std::to_string(index));
        ASSERT_NE(found, nullptr) << index;
        // Start addresses are read as hexadecimal.
        EXPECT_EQ(found->startAddress, std::stoi(std::to_string(index), nullptr, 16)) << index;
        EXPECT_EQ(found->byteCount, 4) << index;
    }
    ASSERT_NE(data.getAddressMapObjByName("twice"), nullptr);
    EXPECT_EQ(data.getAddressMapObjByName("twice")->startAddress, 1);
    EXPECT_EQ(data.getAddressMapObjByName("area300"), nullptr);
}

TEST(BlockGeometryTest, NormalisesAddressesAndCounts) {
    const std::pair<int, int> counts[] = {{0, 0}, {1, 1}, {4, 1}, {5, 2}, {8, 2}};
    for (const auto& [bytes, blocks] : counts) {
        EXPECT_EQ(NfcData::normalizeByteCountToBlockCount(bytes), blocks) << bytes;
    }
    const std::pair<int, int> addresses[] = {{0, 0}, {3, 0}, {4, 1}, {11, 2}};
    for (const auto& [address, block] : addresses) {
        EXPECT_EQ(NfcData::normalizeAddressToBlockNum(address), block) << address;
    }
}

} // namespace
} // namespace wy_nfc_mapping::testing
