#include "library_fixture.h"

#include <gmock/gmock.h>

namespace wy_nfc_mapping::testing {
namespace {

using ::testing::HasSubstr;

class ValueDecodingTest : public LibraryTest {
protected:
    // Loads one area "area" with the given items and decodes the data with it.
    static std::string decode(const std::string& items, const Bytes& data) {
        load(R"({"mapping": [{"name": "area", "byteCount": 8, "startAddress": "0", "items": )" + items +
             "}]}");
        std::optional<std::string> json;
        const std::string printed =
            printedBy([&] { json = api().getJsonValuesFromDataByName("area", data); });
        EXPECT_TRUE(json.has_value()) << printed;
        return json.value_or("");
    }
};

TEST_F(ValueDecodingTest, IntegerTypesAreBigEndianOverTheirIndexes) {
    const Bytes data = bytes({0x01, 0x02, 0x12, 0x34, 0xFF, 0xFF, 0xFF, 0xFF});
    EXPECT_EQ(decode(R"([{"name": "s", "dataType": "short", "bytes": [3, 2]}])", data),
              R"([{"dataType":"short","name":"s","value":13330}])");
    EXPECT_EQ(decode(R"([{"name": "b", "dataType": "byte", "bytes": [4]}])", data),
              R"([{"dataType":"byte","name":"b","value":255}])");
    EXPECT_EQ(decode(R"([{"name": "m", "dataType": "smallint", "bytes": [0, 1, 2]}])", data),
              R"([{"dataType":"smallint","name":"m","value":66066}])");
    EXPECT_EQ(decode(R"([{"name": "i", "dataType": "int", "bytes": [0, 1, 2, 3]}])", data),
              R"([{"dataType":"int","name":"i","value":16912948}])");
}

TEST_F(ValueDecodingTest, IntIsSignedAndItsBitsSpanAll32) {
    EXPECT_EQ(decode(R"([{"name": "i", "dataType": "int", "bytes": [4, 5, 6, 7], "bits": [
                          {"name": "low", "dataType": "binary", "bit": 0},
                          {"name": "top", "dataType": "binary", "bit": 31}]}])",
                     bytes({0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF})),
              R"([{"dataType":"binary","name":"low","value":1},{"dataType":"binary","name":"top","value":1},)"
              R"({"dataType":"int","name":"i","value":-1}])");
}

TEST_F(ValueDecodingTest, BitsComeBeforeTheirItemInMapOrder) {
    EXPECT_EQ(decode(R"([{"name": "OUT", "dataType": "byte", "bytes": [0], "bits": [
                          {"name": "A", "dataType": "binary", "bit": 3},
                          {"name": "B", "dataType": "label", "bit": 0}]}])",
                     bytes({0x08})),
              R"([{"dataType":"binary","name":"A","value":1},{"dataType":"label","name":"B"},)"
              R"({"dataType":"byte","name":"OUT","value":8}])");
}

TEST_F(ValueDecodingTest, ItemsThatDoNotFitTheirTypeKeepNameAndTypeOnly) {
    // A wrong entry count, an unknown word, and runs whose last index lies before the first.
    EXPECT_EQ(
        decode(R"([{"name": "w", "dataType": "short", "bytes": [0], "bits": [
                             {"name": "A", "dataType": "binary", "bit": 0}]},
                         {"name": "f", "dataType": "float", "bytes": [0, 1, 2, 3]},
                         {"name": "r", "dataType": "array", "bytes": [3, 1]},
                         {"name": "g", "dataType": "bigint", "bytes": [7, 0]}])",
               bytes({0xFF, 0xFF, 0xFF, 0xFF})),
        R"([{"dataType":"binary","name":"A","value":0},{"dataType":"short","name":"w"},)"
        R"({"dataType":"float","name":"f"},{"dataType":"array","name":"r"},{"dataType":"bigint","name":"g"}])");
}

TEST_F(ValueDecodingTest, BitNumbersOutside0To31ReadAsZero) {
    EXPECT_EQ(decode(R"([{"name": "i", "dataType": "int", "bytes": [0, 1, 2, 3], "bits": [
                          {"name": "a", "dataType": "binary", "bit": 32},
                          {"name": "b", "dataType": "binary", "bit": -1}]}])",
                     bytes({0xFF, 0xFF, 0xFF, 0xFF})),
              R"([{"dataType":"binary","name":"a","value":0},{"dataType":"binary","name":"b","value":0},)"
              R"({"dataType":"int","name":"i","value":-1}])");
}

TEST_F(ValueDecodingTest, ArraysAndBigIntsAreTexts) {
    EXPECT_EQ(decode(R"([{"name": "a", "dataType": "array", "bytes": [2, 4]}])",
                     bytes({0x00, 0x11, 0x22, 0x33, 0x44})),
              R"([{"arrayValue":"0x22,0x33,0x44,","dataType":"array","name":"a","value":0}])");
    EXPECT_EQ(decode(R"([{"name": "g", "dataType": "bigint", "bytes": [0, 4]}])", bytes({1, 2, 3, 4, 5})),
              R"([{"arrayValue":"4328719365","dataType":"bigint","name":"g","value":0}])");
    EXPECT_EQ(decode(R"([{"name": "g", "dataType": "bigint", "bytes": [0, 7]}])",
                     bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})),
              R"([{"arrayValue":"18446744073709551615","dataType":"bigint","name":"g","value":0}])");
    EXPECT_EQ(decode(R"([{"name": "g", "dataType": "bigint", "bytes": [0, 3]}])", bytes({1, 2, 3, 4})),
              R"([{"arrayValue":"0","dataType":"bigint","name":"g","value":0}])");
}

TEST_F(ValueDecodingTest, IndexesBeyondTheDataReadAsZero) {
    EXPECT_EQ(decode(R"([{"name": "s", "dataType": "short", "bytes": [1, 300]},
                         {"name": "a", "dataType": "array", "bytes": [1, 3]}])",
                     bytes({0x00, 0xAB})),
              R"([{"dataType":"short","name":"s","value":43776},)"
              R"({"arrayValue":"0xAB,0x00,0x00,","dataType":"array","name":"a","value":0}])");
    EXPECT_EQ(decode(R"([{"name": "b", "dataType": "byte", "bytes": [0]}])", {}),
              R"([{"dataType":"byte","name":"b","value":0}])");
}

TEST_F(ValueDecodingTest, AreaWithoutItemsDecodesToNull) {
    load(R"({"mapping": [{"name": "bare", "byteCount": 4, "startAddress": "0"}]})");
    EXPECT_EQ(api().getJsonValuesFromDataByName("bare", bytes({1, 2, 3, 4})), "null");
}

TEST_F(ValueDecodingTest, UnknownAreaOrNoMapIsAnError) {
    resetLibrary();
    std::optional<std::string> json = "unset";
    const std::string output = printedBy([&] { json = api().getJsonValuesFromDataByName("missing", {}); });
    EXPECT_FALSE(json.has_value());
    EXPECT_THAT(output,
                ::testing::MatchesRegex("\\[ERROR\\] wy_nfc_mapping/src/value_decoding\\.cpp:"
                                        "getJsonValuesFromDataByName:[0-9]+ NOT Found Address mapping of "
                                        "missing\\.\n\n"));
}

TEST(DumpTest, WritesEveryByteWithATrailingComma) {
    EXPECT_EQ(dump(bytes({0x01, 0xAB, 0x10})), "0x01,0xAB,0x10,");
    EXPECT_EQ(dump({}), "");
}

TEST(SplitTest, DropsOnlyATrailingEmptyPiece) {
    using Pieces = std::vector<std::string>;
    EXPECT_EQ(split("0x01,0x02,", ','), (Pieces{"0x01", "0x02"}));
    EXPECT_EQ(split("a,,b", ','), (Pieces{"a", "", "b"}));
    EXPECT_EQ(split(",", ','), (Pieces{""}));
    EXPECT_EQ(split("", ','), Pieces{});
    EXPECT_EQ(split("OUT.A", '.'), (Pieces{"OUT", "A"}));
}

} // namespace
} // namespace wy_nfc_mapping::testing
