// The two front ends, through the shared library as a caller sees it.

#include "wy_nfc_mapping/ApiHeader.h"
#include "wy_nfc_mapping/wy_nfc_mapping.h"

#include <cstdlib>
#include <cstring>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <memory>
#include <string>

namespace {

using ::testing::HasSubstr;

const char* const kMap = R"({"mapping": [
  {"name": "a", "byteCount": 10, "startAddress": "0x0100", "items": [
     {"name": "s", "dataType": "short", "bytes": [0, 1]},
     {"name": "b", "dataType": "byte", "bytes": [2]}]},
  {"name": "zero", "byteCount": 0, "startAddress": "0x10"},
  {"name": "big", "byteCount": 512, "startAddress": "0x200", "items": [{"name": "x", "dataType": "byte", "bytes": [0]}]}
]})";

struct FreeDeleter {
    void operator()(char* text) const { std::free(text); }
};
using HeapText = std::unique_ptr<char, FreeDeleter>;

class FrontEndsTest : public ::testing::Test {
protected:
    void SetUp() override { fresh(true); }
    void TearDown() override { fresh(false); }

    void fresh(bool withMap) {
        ::testing::internal::CaptureStdout();
        api.destroy();
        if (withMap) {
            EXPECT_TRUE(api.loadAddressMapFile(kMap));
        }
        ::testing::internal::GetCapturedStdout();
    }

    template <typename Call> std::string printedBy(Call&& call) {
        ::testing::internal::CaptureStdout();
        call();
        return ::testing::internal::GetCapturedStdout();
    }

    ApiHeader api;
};

TEST_F(FrontEndsTest, VersionNeedsNoMap) {
    EXPECT_EQ(api.getVersion(), "CORE_1.1.0");
    EXPECT_STREQ(getVersion(), "CORE_1.1.0");
    EXPECT_EQ(getVersion(), getVersion());
    fresh(false);
    EXPECT_EQ(api.getVersion(), "CORE_1.1.0");
    EXPECT_EQ(wy_nfc_mappingVersionNumber, 1.0);
    EXPECT_STREQ(reinterpret_cast<const char*>(wy_nfc_mappingVersionString),
                 "@(#)PROGRAM:wy_nfc_mapping  PROJECT:wy_nfc_mapping-1\n");
}

TEST_F(FrontEndsTest, SayHelloGreetsOnStandardError) {
    ::testing::internal::CaptureStderr();
    api.sayHello();
    EXPECT_THAT(::testing::internal::GetCapturedStderr(), HasSubstr("Hello WY_NFC_MULTI!"));
}

TEST_F(FrontEndsTest, ProductPropertiesInKeyOrder) {
    EXPECT_EQ(api.getNFCProductPropertiesJsonByName("a"),
              R"({"byteCount":10,"name":"a","normBlockCount":3,"startAddress":256,"version":"CORE_1.1.0"})");
    HeapText text(getNFCProductPropertiesJsonByName("zero"));
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(
        text.get(),
        R"({"byteCount":0,"name":"zero","normBlockCount":0,"startAddress":16,"version":"CORE_1.1.0"})");
}

TEST_F(FrontEndsTest, DestroyDropsTheMapAndLoadingStartsAgain) {
    EXPECT_THAT(printedBy([&] { api.destroy(); }), HasSubstr("Destroy Instance!\n"));
    std::optional<std::string> properties = "unset";
    const std::string printed = printedBy([&] { properties = api.getNFCProductPropertiesJsonByName("a"); });
    EXPECT_FALSE(properties.has_value());
    EXPECT_THAT(printed, HasSubstr("NOT Found Address mapping of a."));
    char* text = reinterpret_cast<char*>(1);
    printedBy([&] { text = getNFCProductPropertiesJsonByName("a"); });
    EXPECT_EQ(text, nullptr);

    EXPECT_EQ(loadAddressMapFile(kMap), 0);
    EXPECT_TRUE(api.getNFCProductPropertiesJsonByName("a").has_value());
}

TEST_F(FrontEndsTest, FailedLoadIsReported) {
    printedBy([&] {
        EXPECT_FALSE(api.loadAddressMapFile("{"));
        EXPECT_EQ(loadAddressMapFile(R"({"mapping": []})"), 1);
        EXPECT_EQ(loadAddressMapFile(nullptr), 1);
    });
}

TEST_F(FrontEndsTest, NumbersInUseTheirLowByteAndBytesOutAreSigned) {
    // 200 and -56 are both 0xC8; 0x70 0xF0 is the frame's CRC, 0xF0 arriving as -16.
    EXPECT_EQ(api.getBLECmd({0xB0, 0x23, 0x00, 0x10, 0x03}),
              (std::vector<int>{2, 0, 11, 0, -80, 35, 0, 16, 3, 112, -16}));
    EXPECT_EQ(api.getBLECmd({-80, 35, 256, 16, 3}), api.getBLECmd({0xB0, 0x23, 0x00, 0x10, 0x03}));
    EXPECT_EQ(
        api.getJsonValuesFromDataByName("a", {200, -56, -1}),
        R"([{"dataType":"short","name":"s","value":51400},{"dataType":"byte","name":"b","value":255}])");
    EXPECT_EQ(api.getCalcCRC16Result({2, 0, 11, 0, 0xB0, 0x23, 0, 0x10, 3}), (std::vector<int>{-16, 112}));
    EXPECT_EQ(api.getCalcCRC16Result({}), (std::vector<int>{-1, -1}));
}

TEST_F(FrontEndsTest, ShortUidReadsMissingBytesAsZero) {
    const auto command = api.getNFCReadMemoryDataByNameCmd("a", {0xE0, 4}, false);
    EXPECT_EQ(command, (std::vector<int>{0x20, 0x23, -32, 4, 0, 0, 0, 0, 0, 0, 0x40, 2}));
    EXPECT_EQ(api.getNFCWriteMemoryDataByNameCmd("a", {1, 2, 3, 4, 5, 6, 7, 8}, 1, {1, 2, 3, 4}, false),
              (std::vector<int>{0x20, 0x21, 1, 2, 3, 4, 5, 6, 7, 8, 0x41, 1, 2, 3, 4}));
}

TEST_F(FrontEndsTest, FailuresAreEmptyOptionals) {
    std::vector<bool> present;
    printedBy([&] {
        present = {api.getNFCReadMemoryDataByNameCmd("missing", {}, true).has_value(),
                   api.getNFCWriteMemoryDataByNameCmd("a", {}, 5, {1, 2, 3, 4}, true).has_value(),
                   api.updateValuesFromOldDataByName("a", "[{", {1, 2, 3}, false, false).has_value(),
                   api.getJsonValuesFromDataByName("missing", {}).has_value()};
    });
    EXPECT_EQ(present, std::vector<bool>(4, false));
}

TEST_F(FrontEndsTest, MergeThroughBothFrontEnds) {
    EXPECT_EQ(api.updateValuesFromOldDataByName("a", R"([{"propName": "s", "value": 4660}])",
                                                {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, true, true),
              (std::vector<int>{0x12, 0x34, 0, 0, 0, 0, 0, 0, 0, 0, -1, -1}));

    const unsigned char old[] = {9, 9, 9, 9};
    unsigned char out[512];
    int outLen = -1;
    updateValuesFromOldDataByName("a", R"([{"propName": "b", "value": 7}])", old, 4, false, false, out,
                                  &outLen);
    ASSERT_EQ(outLen, 4);
    EXPECT_EQ(out[2], 7);
    EXPECT_EQ(out[3], 9);

    printedBy([&] {
        updateValuesFromOldDataByName("a", R"([{"propName": "b", "value": "x"}])", old, 4, false, false, out,
                                      &outLen);
    });
    EXPECT_EQ(outLen, 0);
}

TEST_F(FrontEndsTest, ExportedTextsAreReleasedWithFree) {
    HeapText values(getJsonValuesFromDataByName("a", nullptr, 0));
    ASSERT_NE(values, nullptr);
    EXPECT_STREQ(values.get(),
                 R"([{"dataType":"short","name":"s","value":0},{"dataType":"byte","name":"b","value":0}])");
    const unsigned char bytes[] = {0x01, 0xAB, 0x10};
    HeapText text(dump(bytes, 3));
    EXPECT_STREQ(text.get(), "0x01,0xAB,0x10,");
    HeapText none(dump(nullptr, 0));
    EXPECT_STREQ(none.get(), "");
}

TEST_F(FrontEndsTest, ExportedCrc) {
    EXPECT_EQ(getCalcCRC16Result(reinterpret_cast<const unsigned char*>("123456789"), 9), 0x6F91);
    EXPECT_EQ(getCalcCRC16Result(nullptr, 0), 0xFFFF);
    EXPECT_EQ(getCalcCRC16Result(reinterpret_cast<const unsigned char*>("x"), -3), 0xFFFF);
}

// The exported byte functions work within 512 bytes and never write past them.
TEST_F(FrontEndsTest, ExportedByteFunctionsKeepTo512Bytes) {
    unsigned char out[512];
    int outLen = 0;
    const std::vector<unsigned char> command(506, 0x55);
    EXPECT_EQ(getBLECmd(command.data(), 506, out, &outLen), 0);
    EXPECT_EQ(outLen, 512);

    const std::vector<unsigned char> tooLong(507, 0x55);
    int rc = 0;
    printedBy([&] { rc = getBLECmd(tooLong.data(), 507, out, &outLen); });
    EXPECT_EQ(rc, 1);
    EXPECT_EQ(outLen, 1);
    EXPECT_EQ(out[0], 0x00);

    const unsigned char uid[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    const std::vector<unsigned char> data(500, 0xAA);
    const std::string printed = printedBy(
        [&] { getNFCWriteMemoryDataByNameCmd(uid, nullptr, data.data(), 500, 0, "big", 0, out, &outLen); });
    EXPECT_EQ(outLen, 1);
    EXPECT_THAT(printed, HasSubstr("[ERROR] "));
    getNFCWriteMemoryDataByNameCmd(uid, nullptr, data.data(), 496, 0, "big", 0, out, &outLen);
    EXPECT_EQ(outLen, 510);

    const std::vector<unsigned char> oldData(513, 0);
    char* text = reinterpret_cast<char*>(1);
    printedBy(
        [&] { updateValuesFromOldDataByName("big", "[]", oldData.data(), 513, false, false, out, &outLen); });
    EXPECT_EQ(outLen, 0);
    printedBy([&] { text = getJsonValuesFromDataByName("big", oldData.data(), 513); });
    EXPECT_EQ(text, nullptr);
}

TEST_F(FrontEndsTest, ExportedCommandsByName) {
    const unsigned char uid[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    unsigned char out[512];
    int outLen = 0;
    getNFCReadMemoryDataByNameCmd(uid, nullptr, "a", 1, out, &outLen);
    ASSERT_EQ(outLen, 5);
    EXPECT_EQ(std::memcmp(out, "\xB0\x23\x00\x40\x03", 5), 0);
    // Only 1 selects the reader form.
    getNFCReadMemoryDataByNameCmd(uid, nullptr, "a", 2, out, &outLen);
    EXPECT_EQ(outLen, 12);
    printedBy([&] { getNFCReadMemoryDataByNameCmd(uid, nullptr, "missing", 1, out, &outLen); });
    EXPECT_EQ(outLen, 1);
    EXPECT_EQ(out[0], 0x00);
}

} // namespace
