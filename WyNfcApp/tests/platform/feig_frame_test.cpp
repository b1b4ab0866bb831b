#include "platform/sim/feig_frame.h"

#include "ble_test_support.h"

#include <gtest/gtest.h>

#include <utility>

namespace wynfc::test {
namespace {

const Bytes kReadThreeFrom0x10{0x02, 0x00, 0x0B, 0x00, 0xB0, 0x23, 0x00, 0x10, 0x03, 0x70, 0xF0};

TEST(FeigFrame, CrcMatchesTheCheckValue) {
    const Bytes digits{'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(feig::crc16(digits), 0x6F91);
    EXPECT_EQ(referenceCrc(digits), 0x6F91); // the tests' own
}

TEST(FeigFrame, BuildsFramesWithTheirLengthAndCrc) {
    EXPECT_EQ(feig::requestFrame(Bytes{0xB0, 0x23, 0x00, 0x10, 0x03}), kReadThreeFrom0x10);
    const Bytes longFrame = feig::requestFrame(Bytes(250, 0xAA)); // 256 bytes: the length's high byte counts
    EXPECT_EQ(Bytes(longFrame.begin(), longFrame.begin() + 3), (Bytes{0x02, 0x01, 0x00}));
    EXPECT_EQ(feig::responseFrame(0xB0, 0x00, Bytes{0x12, 0x34}),
              withCrc({0x02, 0x00, 0x0A, 0x00, 0xB0, 0x00, 0x12, 0x34}));
}

TEST(FeigFrame, CheckingARequestBlamesStartCrcThenLength) {
    const auto checked = feig::checkRequestFrame(kReadThreeFrom0x10);
    EXPECT_EQ(checked.status, feig::kStatusOk);
    EXPECT_EQ(checked.hostCommand, (Bytes{0xB0, 0x23, 0x00, 0x10, 0x03}));

    Bytes badCrc = kReadThreeFrom0x10;
    badCrc[9] ^= 0x01;
    const std::vector<std::pair<Bytes, std::uint8_t>> cases = {
        {badCrc, feig::kStatusCrcError},
        {withCrc({0x02, 0x00, 0x0C, 0x00, 0xB0, 0x23, 0x00, 0x10, 0x03}), feig::kStatusLengthError},
        {withCrc({0x03, 0x00, 0x0B, 0x00, 0xB0, 0x23, 0x00, 0x10, 0x03}), feig::kStatusLengthError},
        {Bytes{0x02, 0x00, 0x06, 0x00, 0xFF, 0xFF}, feig::kStatusLengthError},
        {Bytes{}, feig::kStatusLengthError},
    };
    for (const auto& [frame, status] : cases) {
        EXPECT_EQ(feig::checkRequestFrame(frame).status, status) << ::testing::PrintToString(frame);
    }
}

} // namespace
} // namespace wynfc::test
