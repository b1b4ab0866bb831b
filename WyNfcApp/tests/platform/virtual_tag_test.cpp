#include "platform/sim/virtual_tag.h"

#include <gtest/gtest.h>

namespace wynfc {
namespace {

VirtualTag makeTag() {
    TagImage image = TagImage::blank({0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0xE0}, 8);
    for (std::size_t i = 0; i < image.memory.size(); ++i) {
        image.memory[i] = static_cast<std::uint8_t>(i);
    }
    return VirtualTag(image);
}

TEST(VirtualTag, RadioOperationsStayInsideMemoryAndHonourProtection) {
    VirtualTag tag = makeTag();
    const auto reply = tag.readBlocks(6, 2);
    ASSERT_EQ(reply.answer, TagAnswer::Ok);
    EXPECT_EQ(reply.blocks, (std::vector<Bytes>{{24, 25, 26, 27}, {28, 29, 30, 31}}));
    EXPECT_EQ(tag.readBlocks(7, 2).answer, TagAnswer::BlockOutOfRange);
    EXPECT_EQ(tag.readBlocks(-1, 1).answer, TagAnswer::BlockOutOfRange);
    EXPECT_EQ(tag.readBlocks(0, 0).answer, TagAnswer::BlockOutOfRange);
    EXPECT_EQ(tag.writeBlocks(8, Bytes{1, 2, 3, 4}), TagAnswer::BlockOutOfRange);
    EXPECT_EQ(tag.writeBlocks(0, Bytes{1, 2, 3}), TagAnswer::BlockOutOfRange);

    const Bytes before = tag.memory();
    tag.protectBlock(3);
    // A write touching a protected block changes none of its blocks.
    EXPECT_EQ(tag.writeBlocks(2, Bytes{9, 9, 9, 9, 9, 9, 9, 9}), TagAnswer::BlockProtected);
    EXPECT_EQ(tag.memory(), before);
    EXPECT_EQ(tag.writeBlocks(4, Bytes{9, 9, 9, 9}), TagAnswer::Ok);
    EXPECT_EQ(tag.blockBytes(4, 1), (Bytes{9, 9, 9, 9}));
    tag.protectBlock(3, false);
    EXPECT_EQ(tag.writeBlocks(3, Bytes{7, 7, 7, 7}), TagAnswer::Ok);
}

TEST(VirtualTag, FaultsMatchTheirBlockAndRunOut) {
    VirtualTag tag = makeTag();
    tag.injectFault(TagOperationKind::Read, TagAnswer::Failed, 5, 1);
    tag.injectFault(TagOperationKind::Write, TagAnswer::NoAnswer);
    EXPECT_EQ(tag.readBlocks(0, 4).answer, TagAnswer::Ok);     // does not touch block 5
    EXPECT_EQ(tag.readBlocks(4, 2).answer, TagAnswer::Failed); // does, once
    EXPECT_EQ(tag.readBlocks(4, 2).answer, TagAnswer::Ok);
    const Bytes before = tag.memory();
    EXPECT_EQ(tag.writeBlocks(0, Bytes{1, 1, 1, 1}), TagAnswer::NoAnswer);
    EXPECT_EQ(tag.writeBlocks(1, Bytes{1, 1, 1, 1}), TagAnswer::NoAnswer);
    EXPECT_EQ(tag.memory(), before); // a silent tag wrote nothing
    tag.clearFaults();
    EXPECT_EQ(tag.writeBlocks(0, Bytes{1, 1, 1, 1}), TagAnswer::Ok);
    EXPECT_EQ(tag.operationCount(), 6);
}

TEST(VirtualTag, LeavesTheFieldAfterTheGivenOperations) {
    VirtualTag tag = makeTag();
    tag.leaveFieldAfter(2);
    EXPECT_EQ(tag.readBlocks(0, 1).answer, TagAnswer::Ok);
    EXPECT_FALSE(tag.hasLeftField());
    EXPECT_EQ(tag.writeBlocks(0, Bytes{5, 5, 5, 5}), TagAnswer::Ok);
    EXPECT_TRUE(tag.hasLeftField());
    EXPECT_EQ(tag.readBlocks(0, 1).answer, TagAnswer::Gone);
    EXPECT_EQ(tag.writeBlocks(1, Bytes{5, 5, 5, 5}), TagAnswer::Gone);
    EXPECT_EQ(tag.blockBytes(1, 1), (Bytes{4, 5, 6, 7}));
    tag.returnToField();
    EXPECT_EQ(tag.readBlocks(0, 1).answer, TagAnswer::Ok);
}

} // namespace
} // namespace wynfc
