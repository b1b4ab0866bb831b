#include "platform/sim/feig_frame.h"

#include "ble_test_support.h"

#include <gtest/gtest.h>

#include <string_view>

namespace wynfc::test {
namespace {

Bytes ascii(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

TEST(FeigFrame, CrcMatchesTheCheckValueAndTheTestsOwnCrc) {
    EXPECT_EQ(feig::crc16(ascii("123456789")), 0x6F91);
    EXPECT_EQ(referenceCrc(ascii("123456789")), 0x6F91);
    EXPECT_EQ(feig::crc16({}), 0xFFFF);
    const Bytes frameStart{0x02, 0x00, 0x0B, 0x00, 0xB0, 0x23, 0x00, 0x10, 0x03};
    EXPECT_EQ(feig::crc16(frameStart), 0xF070);
}

TEST(FeigFrame, RequestAndResponseLayout) {
    EXPECT_EQ(feig::requestFrame(Bytes{0xB0, 0x23, 0x00, 0x10, 0x03}),
              (Bytes{0x02, 0x00, 0x0B, 0x00, 0xB0, 0x23, 0x00, 0x10, 0x03, 0x70, 0xF0}));
    const Bytes longCommand(250, 0xAA);
    const Bytes longFrame = feig::requestFrame(longCommand);
    EXPECT_EQ(longFrame.size(), 256u);
    EXPECT_EQ(longFrame[1], 0x01);
    EXPECT_EQ(longFrame[2], 0x00);

    Bytes expected{0x02, 0x00, 0x0A, 0x00, 0xB0, 0x00, 0x12, 0x34};
    appendCrc(expected);
    EXPECT_EQ(feig::responseFrame(0xB0, 0x00, Bytes{0x12, 0x34}), expected);
}

TEST(FeigFrame, CheckingARequestBlamesStartCrcThenLength) {
    const Bytes good{0x02, 0x00, 0x0B, 0x00, 0xB0, 0x23, 0x00, 0x10, 0x03, 0x70, 0xF0};
    const auto checked = feig::checkRequestFrame(good);
    EXPECT_EQ(checked.status, feig::kStatusOk);
    EXPECT_EQ(checked.hostCommand, (Bytes{0xB0, 0x23, 0x00, 0x10, 0x03}));

    Bytes badCrc = good;
    badCrc[9] ^= 0x01;
    EXPECT_EQ(feig::checkRequestFrame(badCrc).status, feig::kStatusCrcError);

    Bytes badLength{0x02, 0x00, 0x0C, 0x00, 0xB0, 0x23, 0x00, 0x10, 0x03};
    appendCrc(badLength);
    EXPECT_EQ(feig::checkRequestFrame(badLength).status, feig::kStatusLengthError);

    Bytes badStart{0x03, 0x00, 0x0B, 0x00, 0xB0, 0x23, 0x00, 0x10, 0x03};
    appendCrc(badStart);
    EXPECT_EQ(feig::checkRequestFrame(badStart).status, feig::kStatusLengthError);
    EXPECT_EQ(feig::checkRequestFrame(Bytes{0x02, 0x00, 0x06, 0x00, 0xFF, 0xFF}).status,
              feig::kStatusLengthError);
    EXPECT_EQ(feig::checkRequestFrame(Bytes{}).status, feig::kStatusLengthError);
}

} // namespace
} // namespace wynfc::test
