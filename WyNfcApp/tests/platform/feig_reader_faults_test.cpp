#include "ble_test_support.h"

#include <gtest/gtest.h>

#include <chrono>

namespace wynfc::test {
namespace {

const Bytes kReadThreeFrom0x10{0x02, 0x00, 0x0B, 0x00, 0xB0, 0x23, 0x00, 0x10, 0x03, 0x70, 0xF0};
const Bytes kInventory = requestOf({0xB0, 0x01, 0x00});
const Bytes kWriteBlock2 = requestOf({0xB0, 0x24, 0x00, 0x02, 0x01, 0x04, 0x04, 0x03, 0x02, 0x01});

std::vector<std::size_t> sizesOf(const std::vector<BleRecorder::Notification>& notifications) {
    std::vector<std::size_t> sizes;
    for (const auto& n : notifications) {
        sizes.push_back(n.value.size());
    }
    return sizes;
}

class FeigReaderFaults : public ::testing::Test {
protected:
    void SetUp() override {
        rig.connect();
        rig.reader->putTag(tag);
    }

    std::uint8_t nextStatus() {
        const auto frame = rig.recorder.takeFrame();
        const auto answer = frame ? parseResponse(*frame) : std::nullopt;
        EXPECT_TRUE(answer);
        return answer ? answer->status : 0xEE;
    }

    std::shared_ptr<VirtualTag> tag = blankTag();
    ReaderRig rig;
};

TEST_F(FeigReaderFaults, AnswersAreSplitIntoNotificationsOfTheConfiguredSize) {
    rig.send(kReadThreeFrom0x10); // a 25-byte answer
    ASSERT_TRUE(rig.recorder.takeFrame());
    EXPECT_EQ(sizesOf(rig.recorder.notifications()), (std::vector<std::size_t>{20, 5}));

    rig.reader->setNotificationSize(7);
    rig.send(kReadThreeFrom0x10);
    ASSERT_TRUE(rig.recorder.takeFrame());
    EXPECT_EQ(sizesOf(rig.recorder.notifications()), (std::vector<std::size_t>{20, 5, 7, 7, 7, 4}));

    // Odd places, an empty notification among them; the rest in the usual size.
    rig.reader->setNotificationSize(20);
    rig.reader->planNextAnswer(FeigAnswerPlan::splitInto({1, 0, 5}));
    rig.send(kReadThreeFrom0x10);
    const auto frame = rig.recorder.takeFrame();
    ASSERT_TRUE(frame);
    EXPECT_EQ(parseResponse(*frame)->status, 0x00);
    EXPECT_EQ(sizesOf(rig.recorder.notifications()),
              (std::vector<std::size_t>{20, 5, 7, 7, 7, 4, 1, 0, 5, 19}));

    // Any bytes can be sent as they are.
    rig.reader->sendNotification({0x72, 0x01});
    rig.loop.waitIdle();
    EXPECT_EQ(rig.recorder.notifications().back().value, (Bytes{0x72, 0x01}));
}

TEST_F(FeigReaderFaults, DroppedAnswerStillCarriesOutTheRequest) {
    rig.reader->planNextAnswer(FeigAnswerPlan::dropped());
    rig.send(kWriteBlock2);
    rig.send(kInventory);
    ASSERT_TRUE(rig.reader->waitForRequests(2, kPatience));
    const auto frame = rig.recorder.takeFrame();
    ASSERT_TRUE(frame);
    EXPECT_EQ(parseResponse(*frame)->data.size(), 11u); // the inventory's answer, the only one
    EXPECT_EQ(rig.recorder.notifications().size(), 1u);
    EXPECT_EQ(tag->blockBytes(2, 1), (Bytes{0x01, 0x02, 0x03, 0x04}));
}

TEST_F(FeigReaderFaults, LateAnswerGoesOutWhenTheNextRequestArrives) {
    rig.reader->planNextAnswer(FeigAnswerPlan::sentLate());
    rig.send(kReadThreeFrom0x10);
    rig.loop.waitIdle();
    EXPECT_TRUE(rig.recorder.notifications().empty());

    rig.send(kInventory);
    const auto first = rig.recorder.takeFrame();
    const auto second = rig.recorder.takeFrame();
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->size(), 25u);  // the read's answer
    EXPECT_EQ(second->size(), 19u); // then the inventory's

    // A held answer does not outlive its connection.
    rig.reader->planNextAnswer(FeigAnswerPlan::sentLate());
    rig.send(kReadThreeFrom0x10);
    rig.central->cancelPeripheralConnection(rig.recorder.peripheral());
    rig.loop.waitIdle();
    rig.connect();
    rig.send(kInventory);
    const auto afterReconnect = rig.recorder.takeFrame();
    ASSERT_TRUE(afterReconnect);
    EXPECT_EQ(afterReconnect->size(), 19u);
}

TEST_F(FeigReaderFaults, DelayedAnswersComeAfterTheirDelay) {
    rig.reader->planNextAnswer(FeigAnswerPlan::delayed(Millis{100}));
    rig.send(kInventory);
    rig.send(kReadThreeFrom0x10);
    const auto first = rig.recorder.takeFrame();
    const auto second = rig.recorder.takeFrame();
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->size(), 25u);  // the prompt answer overtakes
    EXPECT_EQ(second->size(), 19u); // the delayed one

    // Past the transport's whole wait: the countdown limit plus one tick.
    const Timing timing = shortTiming();
    rig.reader->planNextAnswer(FeigAnswerPlan::delayedPastTheWait());
    const auto sent = std::chrono::steady_clock::now();
    rig.send(kInventory);
    ASSERT_TRUE(rig.recorder.takeFrame());
    EXPECT_GE(std::chrono::steady_clock::now() - sent, timing.countdownLimit() + timing.countdownTick);
}

TEST_F(FeigReaderFaults, CorruptCrcAndErrorStatus) {
    rig.send(kInventory);
    const auto good = rig.recorder.takeFrame();
    ASSERT_TRUE(good);

    rig.reader->planNextAnswer(FeigAnswerPlan::withCorruptCrc());
    rig.send(kInventory);
    rig.loop.waitIdle();
    const Bytes corrupt = rig.recorder.notifications().back().value;
    ASSERT_EQ(corrupt.size(), good->size());
    EXPECT_TRUE(std::equal(good->begin(), good->end() - 1, corrupt.begin()));
    EXPECT_NE(good->back(), corrupt.back());

    // A forced status answers without data and leaves the tag alone.
    rig.reader->planNextAnswer(FeigAnswerPlan::withStatus(0x95));
    rig.send(kWriteBlock2);
    rig.loop.waitIdle();
    Bytes expected{0x02, 0x00, 0x08, 0x00, 0xB0, 0x95};
    appendCrc(expected);
    EXPECT_EQ(rig.recorder.notifications().back().value, expected);
    EXPECT_EQ(tag->blockBytes(2, 1), Bytes(4, 0x00));
}

TEST_F(FeigReaderFaults, DisconnectInsteadOfAnswering) {
    rig.reader->planNextAnswer(FeigAnswerPlan::disconnecting());
    rig.send(kWriteBlock2);
    rig.loop.waitIdle();
    EXPECT_EQ(rig.recorder.events(),
              (std::vector<std::string>{
                  "written 2d8f4661", "disconnect error " + std::to_string(static_cast<int>(
                                                                SimulatedBleErrorCode::peerDisconnected))}));
    EXPECT_TRUE(rig.recorder.notifications().empty());
    EXPECT_EQ(tag->blockBytes(2, 1), Bytes(4, 0x00));
}

TEST_F(FeigReaderFaults, AnswerUnderWayIsLostWhenBluetoothGoesOffAndOn) {
    rig.reader->planNextAnswer(FeigAnswerPlan::delayed(Millis{30}));
    rig.send(kInventory);
    rig.radio.powerOff();
    rig.radio.powerOn();
    rig.connect();
    rig.reader->planNextAnswer(FeigAnswerPlan::delayed(Millis{60})); // due well after the lost one
    rig.send(kInventory);
    ASSERT_TRUE(rig.recorder.takeFrame());
    EXPECT_EQ(rig.recorder.notifications().size(), 1u);
}

} // namespace
} // namespace wynfc::test
