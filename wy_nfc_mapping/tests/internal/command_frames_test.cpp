#include "library_fixture.h"
#include "nfc_cmd.h"

#include <gmock/gmock.h>

namespace wy_nfc_mapping::testing {
namespace {

using ::testing::HasSubstr;

const std::array<uint8_t, 8> kUid = {0xE0, 0x04, 0x01, 0x50, 0x12, 0x34, 0x56, 0x78};

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

const Bytes kUidBytes(kUid.begin(), kUid.end());

const char* const kMap = R"({"mapping": [
  {"name": "at40", "byteCount": 12, "startAddress": "0x40", "items": []},
  {"name": "at400", "byteCount": 12, "startAddress": "0x400", "items": []},
  {"name": "at5", "byteCount": 12, "startAddress": "0x14", "items": []},
  {"name": "huge", "byteCount": 1100, "startAddress": "0", "items": []},
  {"name": "empty", "byteCount": 0, "startAddress": "0x80", "items": []}
]})";

class CommandFramesTest : public LibraryTest {
protected:
    void SetUp() override { load(kMap); }

    Bytes read(const std::string& name, bool isBle, int expectedRc = 0) {
        Bytes out;
        int rc = -1;
        mPrinted = printedBy([&] { rc = api().getNFCReadMemoryDataByNameCmd(name, kUid, out, isBle); });
        EXPECT_EQ(rc, expectedRc) << mPrinted;
        return out;
    }

    Bytes write(const std::string& name, int index, const Bytes& data, bool isBle, int expectedRc = 0) {
        Bytes out;
        int rc = -1;
        mPrinted = printedBy(
            [&] { rc = api().getNFCWriteMemoryDataByNameCmd(name, kUid, index, data, out, isBle); });
        EXPECT_EQ(rc, expectedRc) << mPrinted;
        return out;
    }

    std::string mPrinted;
};

TEST_F(CommandFramesTest, ReadsAWholeAreaInBothForms) {
    EXPECT_EQ(read("at40", false), concat({{0x20, 0x23}, kUidBytes, {0x10, 0x02}}));
    EXPECT_EQ(read("at40", true), bytes({0xB0, 0x23, 0x00, 0x10, 0x03}));
    // Block 256 needs the extended frame, least significant byte first.
    EXPECT_EQ(read("at400", false), concat({{0x20, 0x33}, kUidBytes, {0x00, 0x01, 0x02, 0x00}}));
    EXPECT_EQ(read("huge", false), concat({{0x20, 0x33}, kUidBytes, {0x00, 0x00, 0x12, 0x01}}));
}

TEST_F(CommandFramesTest, ReaderFormRefusesBlocksAndCountsBeyondOneByte) {
    for (const char* name : {"at400", "huge"}) {
        EXPECT_EQ(read(name, true, 1), bytes({0x00})) << name;
        EXPECT_THAT(mPrinted, HasSubstr("[ERROR] ")) << name;
    }
    EXPECT_EQ(write("at400", 0, bytes({1, 2, 3, 4}), true, 1), bytes({0x00}));
    EXPECT_EQ(write("at400", 0, bytes({1, 2, 3, 4}), false),
              concat({{0x20, 0x34}, kUidBytes, {0x00, 0x01, 0x00, 0x00}, {1, 2, 3, 4}}));
}

TEST_F(CommandFramesTest, ReadOfAnEmptyAreaFails) {
    EXPECT_EQ(read("empty", false, 1), bytes({0x00}));
    EXPECT_EQ(read("empty", true, 1), bytes({0x00}));
}

TEST_F(CommandFramesTest, WritesOneBlockWithTheSingleBlockFrame) {
    const Bytes data = bytes({0xD0, 0xD1, 0xD2, 0xD3});
    EXPECT_EQ(write("at5", 0, data, false), concat({{0x20, 0x21}, kUidBytes, {0x05}, data}));
    EXPECT_EQ(write("at5", 0, data, true), concat({{0xB0, 0x24, 0x00, 0x05, 0x01, 0x04}, data}));
    // Only whole blocks count: 6 bytes are one block.
    EXPECT_EQ(write("at5", 2, bytes({1, 2, 3, 4, 5, 6}), false),
              concat({{0x20, 0x21}, kUidBytes, {0x07, 1, 2, 3, 4}}));
}

TEST_F(CommandFramesTest, WritesSeveralBlocksWithTheExtendedFrame) {
    const Bytes data = bytes({1, 2, 3, 4, 5, 6, 7, 8});
    EXPECT_EQ(write("at5", 1, data, false),
              concat({{0x20, 0x34}, kUidBytes, {0x06, 0x00, 0x01, 0x00}, data}));
    EXPECT_EQ(write("at5", 1, data, true), concat({{0xB0, 0x24, 0x00, 0x06, 0x02, 0x04}, data}));
    // A tail shorter than a block is not sent.
    EXPECT_EQ(write("at5", 1, bytes({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}), true),
              concat({{0xB0, 0x24, 0x00, 0x06, 0x02, 0x04}, data}));
}

TEST_F(CommandFramesTest, RefusesWritesOutsideTheArea) {
    EXPECT_EQ(write("at5", 1, Bytes(12, 0xAA), false, 1), bytes({0x00}));
    EXPECT_THAT(mPrinted, HasSubstr(" at5 ,dataLen is too large.\n\n"));
    EXPECT_EQ(write("at5", 3, bytes({1, 2, 3, 4}), true, 1), bytes({0x00}));
    EXPECT_THAT(mPrinted,
                HasSubstr(" at5 ,writeBlockBeginIndex(3) is larger than (fullBlockCount - 1::2).\n\n"));
    EXPECT_EQ(write("at5", -1, bytes({1, 2, 3, 4}), true, 1), bytes({0x00}));
    EXPECT_EQ(write("at5", 0, bytes({1, 2, 3}), true, 1), bytes({0x00}));
    EXPECT_THAT(mPrinted, HasSubstr(" at5 ,dataLen(3) is less than one block."));
}

TEST_F(CommandFramesTest, UnknownAreaGivesTheOneByteFailure) {
    EXPECT_EQ(read("nope", true, 1), bytes({0x00}));
    EXPECT_THAT(mPrinted, HasSubstr("getNFCReadMemoryDataByNameCmd:"));
    EXPECT_THAT(mPrinted, HasSubstr("NOT Found Address mapping of nope.\n\n"));
    EXPECT_EQ(write("nope", 0, bytes({1, 2, 3, 4}), false, 1), bytes({0x00}));
}

TEST(NfcCommandTest, SingleBlockReadInBothForms) {
    Bytes out;
    NfcCommand::readSingleBlockCmd(kUid, 9, out, false);
    EXPECT_EQ(out, concat({{0x20, 0x20}, kUidBytes, {0x09}}));
    NfcCommand::readSingleBlockCmd(kUid, 9, out, true);
    EXPECT_EQ(out, bytes({0xB0, 0x23, 0x00, 0x09, 0x01}));
}

TEST(ReaderFrameTest, CrcMatchesTheCheckValue) {
    const std::string digits = "123456789";
    EXPECT_EQ(crc16Mcrf4xx(ByteSpan(reinterpret_cast<const uint8_t*>(digits.data()), digits.size())), 0x6F91);
    EXPECT_EQ(crc16Mcrf4xx({}), 0xFFFF);
    Bytes out;
    WyNfcAPI::getInstance()->getCalcCRC16Result({}, out);
    EXPECT_EQ(out, bytes({0xFF, 0xFF}));
}

TEST(ReaderFrameTest, WrapsACommandWithLengthAndCrcLowByteFirst) {
    Bytes frame;
    ASSERT_EQ(WyNfcAPI::getInstance()->getBLECmd(bytes({0xB0, 0x23, 0x00, 0x10, 0x03}), frame), 0);
    EXPECT_EQ(frame, bytes({0x02, 0x00, 0x0B, 0x00, 0xB0, 0x23, 0x00, 0x10, 0x03, 0x70, 0xF0}));
    Bytes crc;
    WyNfcAPI::getInstance()->getCalcCRC16Result(ByteSpan(frame).first(9), crc);
    EXPECT_EQ(crc, bytes({0xF0, 0x70}));

    ASSERT_EQ(WyNfcAPI::getInstance()->getBLECmd(Bytes(250, 0x55), frame), 0);
    EXPECT_EQ(frame.size(), 256U);
    EXPECT_EQ(frame[1], 0x01);
    EXPECT_EQ(frame[2], 0x00);
    const uint16_t frameCrc = crc16Mcrf4xx(ByteSpan(frame).first(254));
    EXPECT_EQ(frame[254], frameCrc & 0xFF);
    EXPECT_EQ(frame[255], frameCrc >> 8);
}

TEST(ReaderFrameTest, RefusesCommandsBeyondTheLengthField) {
    Bytes frame;
    int rc = 0;
    printedBy([&] { rc = WyNfcAPI::getInstance()->getBLECmd(Bytes(65530, 0), frame); });
    EXPECT_EQ(rc, 1);
    EXPECT_EQ(frame, bytes({0x00}));
    EXPECT_EQ(WyNfcAPI::getInstance()->getBLECmd(Bytes(65529, 0), frame), 0);
    EXPECT_EQ(frame.size(), 65535U);
}

} // namespace
} // namespace wy_nfc_mapping::testing
