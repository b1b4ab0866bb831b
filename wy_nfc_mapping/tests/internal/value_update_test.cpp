#include "library_fixture.h"

#include <algorithm>
#include <gmock/gmock.h>
#include <nlohmann/json.hpp>

namespace wy_nfc_mapping::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

// One 12-byte area with a value of every kind; bytes 10 and 11 are padding.
const char* const kMap = R"({"mapping": [{"name": "area", "byteCount": 10, "startAddress": "0x20", "items": [
  {"name": "g", "dataType": "bigint", "bytes": [0, 5]},
  {"name": "OUT", "dataType": "byte", "bytes": [2], "bits": [{"name": "A", "dataType": "binary", "bit": 3},
                                                             {"name": "X", "dataType": "binary", "bit": 40}]},
  {"name": "arr", "dataType": "array", "bytes": [4, 6]},
  {"name": "s", "dataType": "short", "bytes": [5, 6]},
  {"name": "b", "dataType": "byte", "bytes": [3]},
  {"name": "reserve", "dataType": "byte", "bytes": [7]},
  {"name": "i", "dataType": "int", "bytes": [8, 9, 10, 11]},
  {"name": "far", "dataType": "byte", "bytes": [40]},
  {"name": "g5", "dataType": "bigint", "bytes": [1, 5]},
  {"name": "g9", "dataType": "bigint", "bytes": [0, 8]},
  {"name": "back", "dataType": "array", "bytes": [6, 4]},
  {"name": "m", "dataType": "smallint", "bytes": [0, 1, 2], "bits": [{"name": "top", "dataType": "binary", "bit": 23}]},
  {"name": "bad", "dataType": "int", "bytes": [3, 4]}
]}]})";

class ValueUpdateTest : public LibraryTest {
protected:
    void SetUp() override { load(kMap); }

    // Merges into a copy of `old`; returns the result code and keeps the printed lines.
    int merge(const std::string& json, Bytes& data, bool fillPad = false, bool fillReserve = false) {
        int rc = -1;
        mPrinted = printedBy(
            [&] { rc = api().updateValuesFromOldDataByName("area", json, data, fillPad, fillReserve); });
        return rc;
    }

    Bytes mergedFromZeros(const std::string& json, bool fillPad = false, bool fillReserve = false) {
        Bytes data(12, 0x00);
        EXPECT_EQ(merge(json, data, fillPad, fillReserve), 0) << mPrinted;
        return data;
    }

    std::string mPrinted;
};

TEST_F(ValueUpdateTest, EmptyListKeepsTheOldBytes) {
    Bytes data = bytes({1, 2, 3});
    EXPECT_EQ(merge("[]", data, true, true), 0);
    EXPECT_EQ(data, bytes({1, 2, 3}));
    EXPECT_THAT(mPrinted, HasSubstr("Props are empty: []\n\n"));
}

TEST_F(ValueUpdateTest, WritesIntegersMostSignificantByteFirst) {
    Bytes data = mergedFromZeros(R"([{"propName": "s", "value": 4660}, {"propName": "b", "value": 511},
                                     {"propName": "i", "value": -2}])");
    EXPECT_EQ(data, bytes({0, 0, 0, 0xFF, 0, 0x12, 0x34, 0, 0xFF, 0xFF, 0xFF, 0xFE}));
    data = mergedFromZeros(R"([{"propName": "m", "value": 1193046}])");
    EXPECT_EQ(Bytes(data.begin(), data.begin() + 3), bytes({0x12, 0x34, 0x56}));
}

TEST_F(ValueUpdateTest, BitEntriesSetOrClearOneBitOfTheGivenValue) {
    EXPECT_EQ(mergedFromZeros(R"([{"propName": "OUT.A", "value": 0, "bitValue": 1}])")[2], 0x08);
    EXPECT_EQ(mergedFromZeros(R"([{"propName": "OUT.A", "value": 255, "bitValue": 0}])")[2], 0xF7);
    // A 24-bit item takes its bit like the other integer kinds.
    EXPECT_EQ(mergedFromZeros(R"([{"propName": "m.top", "value": 0, "bitValue": 1}])")[0], 0x80);
    // Bit numbers outside 0..31, unknown bits and a missing bit name change nothing.
    EXPECT_EQ(mergedFromZeros(R"([{"propName": "OUT.X", "value": 7, "bitValue": 1},
                                  {"propName": "OUT.Z", "value": 7, "bitValue": 1},
                                  {"propName": "OUT.", "value": 7, "bitValue": 1}])"),
              Bytes(12, 0x00));
}

TEST_F(ValueUpdateTest, WritesArraysAndBigInts) {
    Bytes data = mergedFromZeros(R"([{"propName": "arr", "arrayValue": "0x01,0x02,0x03,"}])");
    EXPECT_EQ(Bytes(data.begin() + 4, data.begin() + 7), bytes({1, 2, 3}));
    data = mergedFromZeros(R"([{"propName": "arr", "arrayValue": "A, 0xb ,c"}])");
    EXPECT_EQ(Bytes(data.begin() + 4, data.begin() + 7), bytes({0x0A, 0x0B, 0x0C}));

    data = mergedFromZeros(R"([{"propName": "g", "arrayValue": "4328719365"}])");
    EXPECT_EQ(Bytes(data.begin(), data.begin() + 6), bytes({0, 1, 2, 3, 4, 5}));
    // A 5-byte run is written too: decoding shows it, so the page may send it back.
    data = mergedFromZeros(R"([{"propName": "g5", "arrayValue": "4328719365"}])");
    EXPECT_EQ(Bytes(data.begin(), data.begin() + 6), bytes({0, 1, 2, 3, 4, 5}));
    // "null" leaves the item as it is.
    EXPECT_EQ(mergedFromZeros(R"([{"propName": "g", "arrayValue": null}, {"propName": "arr"}])"),
              Bytes(12, 0x00));
}

TEST_F(ValueUpdateTest, FillsPadAndReserveBytes) {
    Bytes data = mergedFromZeros(R"([{"propName": "b", "value": 1}])", true, true);
    EXPECT_EQ(data[7], 0xFF);
    EXPECT_EQ(data[10], 0xFF);
    EXPECT_EQ(data[11], 0xFF);
    EXPECT_EQ(data[9], 0x00);
    // Padding only exists past "byteCount"; reserve bytes only with a whole-value entry.
    Bytes exact(10, 0x00);
    EXPECT_EQ(merge(R"([{"propName": "OUT.A", "value": 0, "bitValue": 1}])", exact, true, true), 0);
    EXPECT_EQ(exact, bytes({0, 0, 0x08, 0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(ValueUpdateTest, SkipsWritesBeyondTheOldBytesWithAWarning) {
    Bytes data(4, 0x00);
    EXPECT_EQ(merge(R"([{"propName": "far", "value": 9}, {"propName": "s", "value": 4660}])", data), 0);
    EXPECT_EQ(data, bytes({0, 0, 0, 0}));
    EXPECT_THAT(mPrinted, HasSubstr("[WARNING] "));
    EXPECT_THAT(mPrinted, HasSubstr("byte index 40 lies beyond the 4 bytes of area"));
}

TEST_F(ValueUpdateTest, IntegerItemWithTheWrongIndexCountIsNotWritten) {
    EXPECT_EQ(mergedFromZeros(R"([{"propName": "bad", "value": 4294967295}])"), Bytes(12, 0x00));
}

// A merge that cannot be carried out as a whole changes nothing, even where an earlier
// entry of the same list was fine.
TEST_F(ValueUpdateTest, FailedMergeChangesNothing) {
    const std::string good = R"({"propName": "b", "value": 1}, )";
    const std::vector<std::string> failing = {
        "[{",
        "{}",
        "[1]",
        "[" + good + R"({"propName": 5}])",
        "[" + good + R"({"propName": "b", "value": "1"}])",
        "[" + good + R"({"propName": "b", "value": 1.5}])",
        "[" + good + R"({"propName": "b", "bitValue": true}])",
        "[" + good + R"({"propName": "arr", "arrayValue": 3}])",
        "[" + good + R"({"propName": "arr", "arrayValue": "0x01,zz,0x03"}])",
        "[" + good + R"({"propName": "arr", "arrayValue": "0x01,0x100,0x03"}])",
        "[" + good + R"({"propName": "arr", "arrayValue": "0x01,,0x03"}])",
        "[" + good + R"({"propName": "arr", "arrayValue": "0x01,0x02"}])",
        "[" + good + R"({"propName": "g", "arrayValue": "12ab"}])",
        "[" + good + R"({"propName": "g", "arrayValue": "-5"}])",
        "[" + good + R"({"propName": "g", "arrayValue": "99999999999999999999"}])",
        "[" + good + R"({"propName": "g9", "arrayValue": "1"}])",
        "[" + good + R"({"propName": "back", "arrayValue": "1,2,3"}])",
    };
    for (const std::string& json : failing) {
        Bytes data = bytes({9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9});
        EXPECT_EQ(merge(json, data, true, true), 1) << json;
        EXPECT_EQ(data, Bytes(12, 9)) << json;
        EXPECT_THAT(mPrinted, StartsWith("[ERROR] wy_nfc_mapping/src/value_update.cpp:")) << json;
    }
}

TEST_F(ValueUpdateTest, DecodedValuesMergeBackToTheSameBytes) {
    const Bytes original = bytes({0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x80, 0x09, 0x0A, 0x0B});
    const auto decoded = nlohmann::json::parse(*api().getJsonValuesFromDataByName("area", original));
    nlohmann::json entries = nlohmann::json::array();
    for (const auto& value : decoded) {
        if (value.contains("value") && value["dataType"] != "binary") {
            nlohmann::json entry = {{"propName", value["name"]}, {"value", value["value"]}};
            if (value.contains("arrayValue")) {
                entry["arrayValue"] = value["arrayValue"];
            }
            entries.push_back(entry);
        }
    }
    Bytes data(12, 0x00);
    // "g9" reads as "0" and would be refused; the page sends only what it shows.
    entries.erase(
        std::remove_if(entries.begin(), entries.end(), [](const auto& e) { return e["propName"] == "g9"; }),
        entries.end());
    EXPECT_EQ(merge(entries.dump(), data), 0) << mPrinted;
    EXPECT_EQ(data, original);
}

TEST_F(ValueUpdateTest, UnknownAreaIsAnError) {
    Bytes data = bytes({1});
    int rc = 0;
    printedBy([&] { rc = api().updateValuesFromOldDataByName("nope", "[]", data, false, false); });
    EXPECT_EQ(rc, 1);
}

} // namespace
} // namespace wy_nfc_mapping::testing
