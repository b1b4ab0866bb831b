#include "ble_reader_test_rig.h"

#include "readers/ble_response_frame.h"

#include <gtest/gtest.h>

namespace wynfc::ble_test {
namespace {

// Answers from outside: nothing is read beyond what arrived.
TEST(BleResponseFrame, MalformedAnswersGiveNothingAndReadNoFurtherThanTheirBytes) {
    ReaderResponseFrame untouched;
    EXPECT_FALSE(parseResponseFrame(Bytes{0x02, 0x00, 0x08, 0x00, 0xB0, 0x00, 0x12}, untouched));
    EXPECT_EQ(untouched.status, 1);

    Bytes lying = feig::responseFrame(0xB0, 0x00, Bytes{0x11, 0x22});
    lying[2] = 0x40; // the length field says more than came
    ReaderResponseFrame parsed;
    ASSERT_TRUE(parseResponseFrame(lying, parsed));
    EXPECT_EQ(parsed.data, (Bytes{0x11, 0x22}));

    for (const Bytes& data : {Bytes{}, Bytes{0x01}, Bytes{0x00, 0x04}, Bytes{0x01, 0x04, 0x00, 0x01, 0x02},
                              Bytes{0x01, 0x00, 0x00}}) {
        EXPECT_TRUE(extractBlockData(data).empty()) << toHex(data);
    }
    EXPECT_FALSE(frameComplete({0x02}));
}

TEST(BleResponseFrame, ReversesEachWholeBlockAndDropsTheTail) {
    EXPECT_EQ(reverseBlockBytes({1, 2, 3, 4, 5, 6, 7, 8, 9}), (Bytes{4, 3, 2, 1, 8, 7, 6, 5}));
}

TEST(BleResponseFrame, DumpsOneLinePerByte) {
    LogWatch log;
    dumpBytes({0x41, 0xFE});
    EXPECT_EQ(log.count("------ BleReader ------ byte: 0x41 int: 65 ASCII A"), 1);
    EXPECT_EQ(log.count("------ BleReader ------ byte: 0xfe int: 254 ASCII \xFE"), 1);
}

} // namespace
} // namespace wynfc::ble_test
