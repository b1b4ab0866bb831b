#include "ble_test_support.h"

#include <gtest/gtest.h>

namespace wynfc::test {
namespace {

const Bytes kReadThreeFrom0x10{0x02, 0x00, 0x0B, 0x00, 0xB0, 0x23, 0x00, 0x10, 0x03, 0x70, 0xF0};

Bytes inventoryFrame() {
    return requestOf({0xB0, 0x01, 0x00});
}

class FeigReader : public ::testing::Test {
protected:
    void SetUp() override { rig.connect(); }
    ReaderRig rig;
};

TEST_F(FeigReader, InventoryReportsEveryTagInTheFieldOrNone) {
    auto answer = rig.exchange(inventoryFrame());
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->command, 0xB0);
    EXPECT_EQ(answer->status, 0x01);
    EXPECT_TRUE(answer->data.empty());

    const auto first = blankTag(0x11);
    rig.reader->putTag(first);
    answer = rig.exchange(inventoryFrame());
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 0x00);
    EXPECT_EQ(answer->data, (Bytes{0x01, 0x03, 0x00, 0x11, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0xE0}));

    rig.reader->putTag(blankTag(0x22));
    answer = rig.exchange(inventoryFrame());
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->data, (Bytes{0x02, 0x03, 0x00, 0x11, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0xE0,
                                   0x03, 0x00, 0x22, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0xE0}));

    // A tag that has left the field on its own is no longer reported.
    first->leaveFieldAfter(0);
    answer = rig.exchange(inventoryFrame());
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->data.at(0), 0x01);
    EXPECT_EQ(answer->data.at(3), 0x22);

    rig.reader->clearField();
    EXPECT_EQ(rig.exchange(inventoryFrame())->status, 0x01);
}

TEST_F(FeigReader, ReadsBlocksWithSecurityStatusAndBytesLastFirst) {
    const auto tag = blankTag();
    tag->setMemory(0x10, Bytes{0xA0, 0xA1, 0xA2, 0xA3, 0xB0, 0xB1, 0xB2, 0xB3, 0xC0, 0xC1, 0xC2, 0xC3});
    tag->protectBlock(0x11);
    rig.reader->putTag(tag);

    rig.send(kReadThreeFrom0x10);
    const auto frame = rig.recorder.takeFrame();
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->size(), 25u);
    const auto answer = parseResponse(*frame);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 0x00);
    EXPECT_EQ(answer->data, (Bytes{0x03, 0x04,                      // DB-N, DB-SIZE
                                   0x00, 0xA3, 0xA2, 0xA1, 0xA0,    // block 0x10
                                   0x01, 0xB3, 0xB2, 0xB1, 0xB0,    // block 0x11, locked
                                   0x00, 0xC3, 0xC2, 0xC1, 0xC0})); // block 0x12
    EXPECT_EQ(rig.reader->requests(), std::vector<Bytes>{kReadThreeFrom0x10});
}

TEST_F(FeigReader, ReadsAndWritesGoToTheFirstTagInTheField) {
    const auto first = blankTag(0x11);
    const auto second = blankTag(0x22);
    rig.reader->putTag(first);
    rig.reader->putTag(second);

    // Two blocks from block 5, each sent last byte first.
    auto answer = rig.exchange(
        requestOf({0xB0, 0x24, 0x00, 0x05, 0x02, 0x04, 0x44, 0x33, 0x22, 0x11, 0x88, 0x77, 0x66, 0x55}));
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 0x00);
    EXPECT_TRUE(answer->data.empty());
    EXPECT_EQ(first->blockBytes(5, 2), (Bytes{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}));
    EXPECT_EQ(second->blockBytes(5, 2), Bytes(8, 0x00));

    answer = rig.exchange(requestOf({0xB0, 0x23, 0x00, 0x06, 0x01}));
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->data, (Bytes{0x01, 0x04, 0x00, 0x88, 0x77, 0x66, 0x55}));

    // Once the first has left the field, the second answers.
    first->leaveFieldAfter(0);
    answer = rig.exchange(requestOf({0xB0, 0x24, 0x00, 0x05, 0x01, 0x04, 0x04, 0x03, 0x02, 0x01}));
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 0x00);
    EXPECT_EQ(second->blockBytes(5, 1), (Bytes{0x01, 0x02, 0x03, 0x04}));
}

TEST_F(FeigReader, ErrorsHaveTheirOwnNonZeroStatusesAndChangeNothing) {
    const auto tag = blankTag(0x01, 16);
    tag->protectBlock(3);
    rig.reader->putTag(tag);
    const auto statusOf = [&](const Bytes& frame) {
        const auto answer = rig.exchange(frame);
        EXPECT_TRUE(answer && answer->data.empty());
        return answer ? answer->status : 0xEE;
    };

    Bytes badCrc = kReadThreeFrom0x10;
    badCrc.back() ^= 0x01;
    EXPECT_EQ(statusOf(badCrc), 0x82);
    EXPECT_EQ(statusOf(requestOf({0xB0, 0x99, 0x00})), 0x80);             // unknown ISO command
    EXPECT_EQ(statusOf(requestOf({0xB0, 0x23, 0x01, 0x00, 0x01})), 0x80); // addressed mode
    EXPECT_EQ(statusOf(requestOf({0xB0, 0x23, 0x00, 0x0F, 0x02})), 0x04); // block 16 is beyond the tag
    EXPECT_EQ(statusOf(requestOf({0xB0, 0x24, 0x00, 0x10, 0x01, 0x04, 1, 2, 3, 4})), 0x04);
    EXPECT_EQ(statusOf(requestOf({0xB0, 0x23, 0x00, 0x00, 0x00})), 0x81);                   // no blocks
    EXPECT_EQ(statusOf(requestOf({0xB0, 0x24, 0x00, 0x02, 0x02, 0x04, 1, 2, 3, 4})), 0x81); // data short
    EXPECT_EQ(statusOf(requestOf({0xB0, 0x24, 0x00, 0x02, 0x01, 0x08, 1, 2, 3, 4, 5, 6, 7, 8})), 0x81);

    // A write touching a protected block writes none of its blocks.
    EXPECT_EQ(statusOf(requestOf({0xB0, 0x24, 0x00, 0x02, 0x02, 0x04, 1, 2, 3, 4, 5, 6, 7, 8})), 0x03);
    EXPECT_EQ(tag->blockBytes(2, 2), Bytes(8, 0x00));

    // Faults of the tag itself.
    tag->injectFault(TagOperationKind::Read, TagAnswer::Failed, std::nullopt, 1);
    EXPECT_EQ(statusOf(requestOf({0xB0, 0x23, 0x00, 0x00, 0x01})), 0x02);
    tag->injectFault(TagOperationKind::Write, TagAnswer::NoAnswer, std::nullopt, 1);
    EXPECT_EQ(statusOf(requestOf({0xB0, 0x24, 0x00, 0x00, 0x01, 0x04, 1, 2, 3, 4})), 0x01);
    rig.reader->removeTag(tag);
    EXPECT_EQ(statusOf(requestOf({0xB0, 0x23, 0x00, 0x00, 0x01})), 0x01);
    EXPECT_EQ(tag->memory(), Bytes(64, 0x00));

    // A host command other than the ISO one is answered under its own code.
    const auto other = rig.exchange(requestOf({0x65}));
    ASSERT_TRUE(other);
    EXPECT_EQ(other->command, 0x65);
    EXPECT_EQ(other->status, 0x80);
}

} // namespace
} // namespace wynfc::test
