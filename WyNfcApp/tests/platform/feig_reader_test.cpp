#include "platform/sim/feig_frame.h"

#include "ble_test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <tuple>
#include <utility>

namespace wynfc::test {
namespace {

const Bytes kReadThreeFrom0x10{0x02, 0x00, 0x0B, 0x00, 0xB0, 0x23, 0x00, 0x10, 0x03, 0x70, 0xF0};
const Bytes kInventory = requestOf({0xB0, 0x01, 0x00});
const Bytes kWriteBlock2 = requestOf({0xB0, 0x24, 0x00, 0x02, 0x01, 0x04, 0x04, 0x03, 0x02, 0x01});
constexpr std::size_t kReadAnswerSize = 25;      // 8 + 2 + 3 blocks of 5
constexpr std::size_t kInventoryAnswerSize = 19; // 8 + 1 + 10 for one tag

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

class FeigReader : public ::testing::Test {
protected:
    void SetUp() override {
        rig.connect();
        reader.putTag(tag);
    }

    std::vector<std::size_t> notificationSizes() const {
        std::vector<std::size_t> sizes;
        for (const Bytes& value : rig.recorder.notifications()) {
            sizes.push_back(value.size());
        }
        return sizes;
    }

    ReaderRig rig;
    SimulatedFeigReader& reader = *rig.reader;
    std::shared_ptr<VirtualTag> tag = blankTag(0x11);
};

TEST_F(FeigReader, InventoryReportsEveryTagInTheFieldOrNone) {
    reader.putTag(blankTag(0x22));
    auto answer = rig.exchange(kInventory);
    EXPECT_EQ(answer.command, 0xB0);
    EXPECT_EQ(answer.status, 0x00);
    EXPECT_EQ(answer.data, (Bytes{0x02, 0x03, 0x00, 0x11, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0xE0, //
                                  0x03, 0x00, 0x22, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0xE0}));

    tag->leaveFieldAfter(0); // gone on its own: no longer reported
    answer = rig.exchange(kInventory);
    EXPECT_EQ(Bytes(answer.data.begin(), answer.data.begin() + 4), (Bytes{0x01, 0x03, 0x00, 0x22}));

    reader.clearField();
    answer = rig.exchange(kInventory);
    EXPECT_EQ(answer.status, 0x01);
    EXPECT_TRUE(answer.data.empty());
}

TEST_F(FeigReader, ReadsBlocksWithSecurityStatusAndBytesLastFirst) {
    tag->setMemory(0x10, Bytes{0xA0, 0xA1, 0xA2, 0xA3, 0xB0, 0xB1, 0xB2, 0xB3, 0xC0, 0xC1, 0xC2, 0xC3});
    tag->protectBlock(0x11);
    const auto answer = rig.exchange(kReadThreeFrom0x10);
    EXPECT_EQ(answer.status, 0x00);
    EXPECT_EQ(answer.data, (Bytes{0x03, 0x04,                      // block count and size
                                  0x00, 0xA3, 0xA2, 0xA1, 0xA0,    // block 0x10
                                  0x01, 0xB3, 0xB2, 0xB1, 0xB0,    // block 0x11, locked
                                  0x00, 0xC3, 0xC2, 0xC1, 0xC0})); // block 0x12
    EXPECT_EQ(reader.requests(), std::vector<Bytes>{kReadThreeFrom0x10});
}

TEST_F(FeigReader, ReadsAndWritesGoToTheFirstTagInTheField) {
    const auto second = blankTag(0x22);
    reader.putTag(second);
    // Two blocks from block 5, each sent last byte first.
    EXPECT_EQ(rig.exchange(requestOf({0xB0, 0x24, 0x00, 0x05, 0x02, 0x04, 0x44, 0x33, 0x22, 0x11, 0x88, 0x77,
                                      0x66, 0x55}))
                  .status,
              0x00);
    EXPECT_EQ(tag->blockBytes(5, 2), (Bytes{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}));
    EXPECT_EQ(second->blockBytes(5, 2), Bytes(8, 0x00));
    EXPECT_EQ(rig.exchange(requestOf({0xB0, 0x23, 0x00, 0x06, 0x01})).data,
              (Bytes{0x01, 0x04, 0x00, 0x88, 0x77, 0x66, 0x55}));

    tag->leaveFieldAfter(0); // then the second answers
    EXPECT_EQ(rig.exchange(kWriteBlock2).status, 0x00);
    EXPECT_EQ(second->blockBytes(2, 1), (Bytes{0x01, 0x02, 0x03, 0x04}));
}

TEST_F(FeigReader, ErrorsHaveTheirOwnStatusesAndChangeNothing) {
    tag->protectBlock(3);
    Bytes badCrc = kReadThreeFrom0x10;
    badCrc.back() ^= 0x01;
    const std::vector<std::tuple<Bytes, std::uint8_t, std::function<void()>>> cases = {
        {badCrc, 0x82, {}},
        {requestOf({0xB0, 0x99, 0x00}), 0x80, {}},                               // unknown ISO command
        {requestOf({0xB0, 0x23, 0x01, 0x00, 0x01}), 0x80, {}},                   // addressed mode
        {requestOf({0xB0, 0x23, 0x00, 0x3F, 0x02}), 0x04, {}},                   // block 64 is beyond
        {requestOf({0xB0, 0x24, 0x00, 0x40, 0x01, 0x04, 1, 2, 3, 4}), 0x04, {}}, // so is this one
        {requestOf({0xB0, 0x23, 0x00, 0x00, 0x00}), 0x81, {}},                   // no blocks
        {requestOf({0xB0, 0x24, 0x00, 0x02, 0x02, 0x04, 1, 2, 3, 4}), 0x81, {}}, // data short
        {requestOf({0xB0, 0x24, 0x00, 0x02, 0x01, 0x08, 1, 2, 3, 4, 5, 6, 7, 8}), 0x81, {}}, // block size 8
        {requestOf({0xB0, 0x24, 0x00, 0x02, 0x02, 0x04, 1, 2, 3, 4, 5, 6, 7, 8}),
         0x03,
         {}}, // block 3 protected
        {requestOf({0xB0, 0x23, 0x00, 0x00, 0x01}), 0x02,
         [&] { tag->injectFault(TagOperationKind::Read, TagAnswer::Failed, std::nullopt, 1); }},
        {kWriteBlock2, 0x01,
         [&] { tag->injectFault(TagOperationKind::Write, TagAnswer::NoAnswer, std::nullopt, 1); }},
        {kWriteBlock2, 0x01, [&] { reader.removeTag(tag); }},
    };
    for (const auto& [frame, status, setUp] : cases) {
        if (setUp) {
            setUp();
        }
        const auto answer = rig.exchange(frame);
        EXPECT_EQ(answer.status, status) << ::testing::PrintToString(frame);
        EXPECT_TRUE(answer.data.empty());
    }
    EXPECT_EQ(tag->memory(), Bytes(256, 0x00));

    // A host command other than the ISO one is answered under its own code.
    const auto other = rig.exchange(requestOf({0x65}));
    EXPECT_EQ(other.command, 0x65);
    EXPECT_EQ(other.status, 0x80);
}

TEST_F(FeigReader, AnswersAreSplitIntoNotificationsAsConfiguredOrPlanned) {
    rig.exchange(kReadThreeFrom0x10);
    EXPECT_EQ(notificationSizes(), (std::vector<std::size_t>{20, 5}));

    // Odd places first, an empty notification among them; the rest in the configured size.
    reader.setNotificationSize(7);
    reader.planNextAnswer(FeigAnswerPlan::splitInto({1, 0, 5}));
    EXPECT_EQ(rig.exchange(kReadThreeFrom0x10).status, 0x00);
    EXPECT_EQ(notificationSizes(), (std::vector<std::size_t>{20, 5, 1, 0, 5, 7, 7, 5}));

    reader.sendNotification({0x72, 0x01}); // any bytes, as they are
    rig.loop.waitIdle();
    EXPECT_EQ(rig.recorder.notifications().back(), (Bytes{0x72, 0x01}));
}

TEST_F(FeigReader, DroppedLateAndDelayedAnswersStillCarryOutTheRequest) {
    reader.planNextAnswer(FeigAnswerPlan::dropped());
    rig.send(kWriteBlock2);
    reader.planNextAnswer(FeigAnswerPlan::sentLate());
    rig.send(kReadThreeFrom0x10);
    ASSERT_TRUE(reader.waitForRequests(2, kPatience));
    rig.loop.waitIdle();
    EXPECT_TRUE(rig.recorder.notifications().empty());
    EXPECT_EQ(tag->blockBytes(2, 1), (Bytes{0x01, 0x02, 0x03, 0x04}));

    // The late answer goes out when the next request arrives, before that one's answer.
    rig.send(kInventory);
    EXPECT_EQ(rig.recorder.takeFrame().size(), kReadAnswerSize);
    EXPECT_EQ(rig.recorder.takeFrame().size(), kInventoryAnswerSize);
    // A delayed answer is overtaken by a prompt one.
    reader.planNextAnswer(FeigAnswerPlan::delayed(Millis{100}));
    rig.send(kInventory);
    rig.send(kReadThreeFrom0x10);
    EXPECT_EQ(rig.recorder.takeFrame().size(), kReadAnswerSize);
    EXPECT_EQ(rig.recorder.takeFrame().size(), kInventoryAnswerSize);

    // Past the transport's whole wait: the countdown limit plus one tick.
    reader.planNextAnswer(FeigAnswerPlan::delayedPastTheWait());
    const auto sent = std::chrono::steady_clock::now();
    rig.exchange(kInventory);
    EXPECT_GE(std::chrono::steady_clock::now() - sent,
              kShortTiming.countdownLimit() + kShortTiming.countdownTick);
}

TEST_F(FeigReader, CorruptCrcAndForcedStatus) {
    rig.send(kInventory);
    const Bytes good = rig.recorder.takeFrame();
    reader.planNextAnswer(FeigAnswerPlan::withCorruptCrc());
    rig.send(kInventory);
    rig.loop.waitIdle();
    Bytes corrupt = rig.recorder.notifications().back();
    ASSERT_EQ(corrupt.size(), good.size());
    EXPECT_NE(corrupt.back(), good.back());
    corrupt.back() = good.back();
    EXPECT_EQ(corrupt, good);

    // A forced status answers without data and leaves the tag alone.
    reader.planNextAnswer(FeigAnswerPlan::withStatus(0x95));
    rig.send(kWriteBlock2);
    rig.loop.waitIdle();
    EXPECT_EQ(rig.recorder.notifications().back(), withCrc({0x02, 0x00, 0x08, 0x00, 0xB0, 0x95}));
    EXPECT_EQ(tag->blockBytes(2, 1), Bytes(4, 0x00));
}

TEST_F(FeigReader, AnswersAreLostWithTheConnection) {
    reader.planNextAnswer(FeigAnswerPlan::disconnecting());
    rig.send(kWriteBlock2);
    rig.loop.waitIdle();
    EXPECT_EQ(
        rig.recorder.events(),
        (Events{"written 2d8f4661", "disconnect" + errorText(SimulatedBleErrorCode::peerDisconnected)}));
    EXPECT_EQ(tag->blockBytes(2, 1), Bytes(4, 0x00));

    // A held answer does not outlive its connection.
    rig.connect();
    reader.planNextAnswer(FeigAnswerPlan::sentLate());
    rig.send(kReadThreeFrom0x10);
    rig.central->cancelPeripheralConnection(rig.recorder.peripheral());
    rig.loop.waitIdle();
    // Nor does one under way when Bluetooth goes off and on.
    rig.connect();
    reader.planNextAnswer(FeigAnswerPlan::delayed(Millis{30}));
    rig.send(kInventory);
    rig.radio.powerOff();
    rig.radio.powerOn();
    rig.connect();
    reader.planNextAnswer(FeigAnswerPlan::delayed(Millis{60})); // due well after the lost one
    rig.send(kInventory);
    EXPECT_EQ(rig.recorder.takeFrame().size(), kInventoryAnswerSize);
    EXPECT_EQ(rig.recorder.notifications().size(), 1u);
}

} // namespace
} // namespace wynfc::test

namespace wynfc::test {
namespace {

TEST_F(FeigReader, WithTheLinkModelAnswersTakeTheModelledTimeAndAreAccounted) {
    LinkModel model;
    model.kind = LinkModelKind::Ble;
    model.ble.connectionInterval = Millis{12};
    const auto account = std::make_shared<LinkAccount>();
    reader.setLinkModel(model, account);

    // Each answer fits one connection event after the reader's exchange with the tag: the
    // request's event and the answer's.
    for (const Bytes& request : {kInventory, kReadThreeFrom0x10, kWriteBlock2}) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(rig.exchange(request).status, 0x00);
        EXPECT_GE(std::chrono::steady_clock::now() - start, Millis{24}) << ::testing::PrintToString(request);
    }
    EXPECT_EQ(account->totals().exchanges, 3U);
    EXPECT_EQ(account->totals().linkTime, Millis{72});
    EXPECT_EQ(tag->blockBytes(2, 1), (Bytes{0x01, 0x02, 0x03, 0x04})) << "the write still went to the tag";

    // A planned delay comes on top; the account holds only the link's share.
    reader.planNextAnswer(FeigAnswerPlan::delayed(Millis{30}));
    const auto start = std::chrono::steady_clock::now();
    rig.exchange(kInventory);
    EXPECT_GE(std::chrono::steady_clock::now() - start, Millis{54});
    EXPECT_EQ(account->totals().linkTime, Millis{96});

    reader.setLinkModel({}, account);
    rig.exchange(kInventory);
    EXPECT_EQ(account->totals().exchanges, 4U) << "no model, nothing accounted";
}

} // namespace
} // namespace wynfc::test
