#include "ble_reader_test_rig.h"

#include "readers/ble_response_frame.h"

#include <gtest/gtest.h>

namespace wynfc::ble_test {
namespace {

const Bytes kBlockA{0xA0, 0xA1, 0xA2, 0xA3};
const Bytes kBlockB{0xB0, 0xB1, 0xB2, 0xB3};
const Bytes kBlockC{0xC0, 0xC1, 0xC2, 0xC3};

TEST(BleResponseFrame, CompletesOnlyWhenTheLastTwoBytesAreTheCrcLowByteFirst) {
    const Bytes frame = okAnswer(readAnswerData({kBlockA, kBlockB, kBlockC}, 3));
    ASSERT_EQ(frame.size(), 25u);
    EXPECT_TRUE(frameComplete(frame));
    for (std::size_t cut = 0; cut < frame.size(); ++cut) {
        EXPECT_FALSE(frameComplete(Bytes(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(cut))))
            << "complete after " << cut << " bytes";
    }
    Bytes swapped = frame;
    std::swap(swapped[23], swapped[24]);
    EXPECT_FALSE(frameComplete(swapped));
}

TEST(BleResponseFrame, ParsesHeaderDataAndCrcAndCutsTheDataByTheBytesReceived) {
    Bytes frame = okAnswer({0x11, 0x22, 0x33});
    ReaderResponseFrame parsed;
    ASSERT_TRUE(parseResponseFrame(frame, parsed));
    EXPECT_EQ(parsed.length, 11);
    EXPECT_EQ(parsed.dataLength, 3);
    EXPECT_EQ(parsed.command, 0xB0);
    EXPECT_EQ(parsed.status, 0x00);
    EXPECT_EQ(parsed.data, (Bytes{0x11, 0x22, 0x33}));
    EXPECT_EQ(parsed.crcFirstByte, frame[9]);
    EXPECT_EQ(parsed.crcSecondByte, frame[10]);

    frame[2] = 0x40; // the length field lies; the bytes received decide
    ReaderResponseFrame lying;
    ASSERT_TRUE(parseResponseFrame(frame, lying));
    EXPECT_EQ(lying.length, 0x40);
    EXPECT_EQ(lying.data, (Bytes{0x11, 0x22, 0x33}));

    ReaderResponseFrame failed;
    ASSERT_TRUE(parseResponseFrame(feig::responseFrame(0xB0, 0x01, {}), failed));
    EXPECT_EQ(failed.status, 0x01);
    EXPECT_TRUE(failed.data.empty());

    ReaderResponseFrame untouched;
    EXPECT_FALSE(parseResponseFrame(Bytes{0x02, 0x00, 0x07, 0x00, 0xB0, 0x00, 0x12}, untouched));
    EXPECT_EQ(untouched.status, 1);
    EXPECT_EQ(untouched.startByte, 0);
}

TEST(BleResponseFrame, BlockDataComesOutInNaturalOrderWithoutStatusBytes) {
    EXPECT_EQ(extractBlockData(readAnswerData({kBlockA, kBlockB, kBlockC}, 3)),
              (Bytes{0xA0, 0xA1, 0xA2, 0xA3, 0xB0, 0xB1, 0xB2, 0xB3, 0xC0, 0xC1, 0xC2, 0xC3}));
    // Blocks of another size are taken as the answer declares them.
    EXPECT_EQ(extractBlockData(readAnswerData({{1, 2, 3}, {4, 5, 6}}, 2)), (Bytes{1, 2, 3, 4, 5, 6}));
    // A trailing piece shorter than a record is not a block.
    Bytes trailing = readAnswerData({kBlockA}, 1);
    trailing.push_back(0x99);
    EXPECT_EQ(extractBlockData(trailing), kBlockA);
}

TEST(BleResponseFrame, MalformedBlockDataGivesNoBytes) {
    LogWatch log;
    EXPECT_TRUE(extractBlockData(readAnswerData({kBlockA, kBlockB, kBlockC}, 2)).empty());
    EXPECT_EQ(log.count("DB-N is not equal to blockCount!! 2 3"), 1);
    EXPECT_EQ(log.count("byte: 0x"), 17); // the whole data dumped

    EXPECT_TRUE(extractBlockData({}).empty());
    EXPECT_TRUE(extractBlockData({0x01}).empty());
    EXPECT_TRUE(extractBlockData({0x00, 0x04}).empty());
    EXPECT_TRUE(extractBlockData({0x01, 0x04, 0x00, 0x01, 0x02}).empty()); // record cut short
}

TEST(BleResponseFrame, ReversesEachWholeBlockAndDropsTheTail) {
    EXPECT_EQ(reverseBlockBytes({1, 2, 3, 4, 5, 6, 7, 8, 9}), (Bytes{4, 3, 2, 1, 8, 7, 6, 5}));
    EXPECT_TRUE(reverseBlockBytes({1, 2, 3}).empty());
}

TEST(BleResponseFrame, DumpsOneLinePerByte) {
    LogWatch log;
    dumpBytes({0x41, 0xFE});
    EXPECT_EQ(log.lines(),
              (std::vector<std::string>{"------ BleReader ------ byte: 0x41 int: 65 ASCII A",
                                        "------ BleReader ------ byte: 0xfe int: 254 ASCII \xFE"}));
}

TEST(BleResponseFrame, RecognisesFrameStarts) {
    EXPECT_TRUE(isFrameStart({0x02, 0x00, 0x08, 0x00, 0xB0, 0x00}));
    EXPECT_TRUE(isFrameStart({0x02, 0x00, 0x08, 0x00, 0x72, 0x01}));
    EXPECT_FALSE(isFrameStart({0x02, 0x00, 0x08, 0x01, 0xB0, 0x00})); // another bus address
    EXPECT_FALSE(isFrameStart({0x02, 0x00, 0x08, 0x00, 0xB1, 0x00}));
    EXPECT_FALSE(isFrameStart({0x02, 0x00, 0x08, 0x00, 0xB0})); // too short to tell
}

} // namespace
} // namespace wynfc::ble_test
