// The shipped address map against the layout rules of the tag memory.

#include "decoded_sample.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

namespace wynfc::test {
namespace {

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
    for (const std::string& name : kRequestedAreas) {
        EXPECT_EQ(seen[name], 1) << name;
    }
    for (const auto& [name, count] : seen) {
        EXPECT_LE(count, 1) << name << " is defined more than once";
    }
}

// Whole blocks below block 256, at most 32 blocks (what one read of the Bluetooth reader
// carries), and no block shared, so writing one area never touches another.
TEST_F(AddressMapLayout, AreasAreWholeBlocksBelowBlock256AndShareNone) {
    std::map<int, std::string> ownerOfBlock;
    for (const Json& area : areas()) {
        const std::string name = area.at("name");
        const int first = firstBlockOf(area); // throws unless on a block boundary
        EXPECT_GT(area.at("byteCount").get<int>(), 0) << name;
        EXPECT_LE(blockSpanOf(area), 32) << name;
        EXPECT_LE(first + blockSpanOf(area), kBlockCount) << name;
        for (int block = first; block < first + blockSpanOf(area) && block < kBlockCount; ++block) {
            const auto [owner, fresh] = ownerOfBlock.emplace(block, name);
            EXPECT_TRUE(fresh) << name << " shares block " << block << " with " << owner->second;
        }
    }
    // The identification stays first in every layout revision, so any version can identify a driver.
    const Json& identification = areaNamed(map, kIdentificationArea);
    EXPECT_EQ(firstBlockOf(identification), 0);
    EXPECT_EQ(Json(identification.at("items").begin(), identification.at("items").begin() + 2),
              Json::parse(R"([{"name":"device_type","dataType":"byte","bytes":[0]},
                              {"name":"device_sub_type","dataType":"byte","bytes":[1]}])"));
}

// Every value lies inside its area with the entries its type needs, big-endian and
// contiguous; no byte belongs to two values and no name (item or bit) appears twice.
TEST_F(AddressMapLayout, ItemsFitTheirTypeAndTheirArea) {
    const std::map<std::string, std::size_t> entriesOfType = {{"byte", 1}, {"short", 2},  {"smallint", 3},
                                                              {"int", 4},  {"bigint", 2}, {"array", 2}};
    for (const Json& area : areas()) {
        std::set<int> usedBytes;
        std::set<std::string> names;
        for (const Json& item : area.at("items")) {
            const std::string type = item.at("dataType");
            const std::string where =
                area.at("name").get<std::string>() + "." + item.at("name").get<std::string>();
            const auto bytes = item.at("bytes").get<std::vector<int>>();
            ASSERT_TRUE(entriesOfType.count(type) && bytes.size() == entriesOfType.at(type)) << where;
            const bool range = type == "bigint" || type == "array"; // first and last byte
            const int last = range ? bytes[1] : bytes.back();
            for (std::size_t k = 1; k < bytes.size() && !range; ++k) {
                EXPECT_EQ(bytes[k], bytes[0] + static_cast<int>(k))
                    << where << " is not big-endian and contiguous";
            }
            if (type == "bigint") { // the library decodes 5 to 8 bytes but writes only 6 to 8
                EXPECT_TRUE(last - bytes[0] >= 5 && last - bytes[0] <= 7) << where;
            }
            EXPECT_LE(bytes[0], last) << where;
            for (int index = bytes[0]; index <= last; ++index) {
                EXPECT_TRUE(index >= 0 && index < area.at("byteCount").get<int>())
                    << where << " lies outside";
                EXPECT_TRUE(usedBytes.insert(index).second) << where << " shares byte " << index;
            }
            if (item.at("name") == "reserve") {
                EXPECT_EQ(type, "byte") << where << ": a reserve fill touches only the first byte";
            } else {
                EXPECT_TRUE(names.insert(item.at("name")).second) << where << " appears twice";
            }
            // An "int" keeps bit 31 clear: the application reads values as unsigned numbers.
            const int width = type == "int" ? 31 : 8 * static_cast<int>(bytes.size());
            for (const Json& bit : item.value("bits", Json::array())) {
                EXPECT_FALSE(range) << where << " has bits";
                EXPECT_EQ(bit.at("dataType"), "binary") << where;
                EXPECT_TRUE(bit.at("bit") >= 0 && bit.at("bit") < width) << where << "." << bit.at("name");
                EXPECT_TRUE(names.insert(bit.at("name")).second)
                    << where << "." << bit.at("name") << " appears twice";
            }
        }
    }
}

TEST_F(AddressMapLayout, CapabilityAreaCarriesEachCapabilityOnceAsABit) {
    std::map<std::string, int> found;
    for (const Json& item : areaNamed(map, kCapabilitiesArea).at("items")) {
        for (const Json& bit : item.value("bits", Json::array())) {
            ++found[bit.at("name").get<std::string>()];
        }
    }
    for (const std::string& name : kCapabilities) {
        EXPECT_EQ(found[name], 1) << name;
    }
    EXPECT_EQ(found.size(), kCapabilities.size()) << "bits that are no capability";
}

// The write workflow seals every write with this pattern; it must land in the checking area.
TEST_F(AddressMapLayout, CheckPatternMergesIntoTheCheckingArea) {
    ApiHeader api = libraryWithShippedMap();
    const auto merged = api.updateValuesFromOldDataByName(
        kCheckingArea,
        R"([{"propName":"check_byte_01","value":170},{"propName":"check_byte_02","value":85},)"
        R"({"propName":"check_byte_03","value":90},{"propName":"check_byte_04","value":165}])",
        std::vector<int>(4, 0), true, true);
    ASSERT_TRUE(merged.has_value());
    std::vector<int> bytes;
    for (const int b : *merged) {
        bytes.push_back(b & 0xFF);
    }
    EXPECT_EQ(bytes, (std::vector<int>{0xAA, 0x55, 0x5A, 0xA5}));
}

} // namespace
} // namespace wynfc::test
