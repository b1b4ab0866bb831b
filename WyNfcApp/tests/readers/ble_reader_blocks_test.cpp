// Blocks of a tag through the Bluetooth reader, for dump and restore: the reader's commands,
// the block order on the air, the end of the tag's memory and the ways the tag or the reader
// can fail.

#include "ble_reader_test_rig.h"
#include "platform/sim/tag_image.h"
#include "platform/sim/virtual_tag.h"
#include "readers/ble_reader_blocks.h"

#include <gtest/gtest.h>

#include <future>
#include <stdexcept>

namespace wynfc::test {
namespace {

const Bytes kUid{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x04, 0xE0};

Timing shortTiming() {
    Timing timing = tickTiming(10);
    timing.scanLoopPeriod = Millis{5};
    timing.tagPresentLimit = Millis{60};
    return timing;
}

std::shared_ptr<VirtualTag> numberedTag(int blocks) {
    TagImage image = TagImage::blank(kUid, blocks);
    for (std::size_t i = 0; i < image.memory.size(); ++i) {
        image.memory[i] = static_cast<std::uint8_t>(i);
    }
    return std::make_shared<VirtualTag>(image);
}

struct BlocksBench : ReaderBench {
    BlocksBench() : ReaderBench(shortTiming()) {}

    // Blocks are reached from a worker, as the command line does.
    template <typename Work> auto onWorker(Work work) { return std::async(std::launch::async, work).get(); }
};

TEST(BleReaderBlocks, ReadsAndWritesBlocksInTheirNaturalOrderUpToTheEndOfTheTag) {
    BlocksBench bench;
    const auto tag = numberedTag(10);
    bench.feig->putTag(tag);
    bench.connect();
    bench.onWorker([&] {
        BleReaderBlocks blocks(*bench.reader, shortTiming());
        EXPECT_EQ(blocks.uid(), kUid);
        EXPECT_EQ(blocks.blockCount(), 10);

        const BlockAccess::BlockRead first = blocks.readBlock(1);
        ASSERT_FALSE(first.error);
        EXPECT_EQ(first.bytes, (Bytes{4, 5, 6, 7}));
        // The last blocks: a read of eight from block 8 runs past the tag, so each is asked alone.
        EXPECT_EQ(blocks.readBlock(8).bytes, (Bytes{32, 33, 34, 35}));
        EXPECT_EQ(blocks.readBlock(9).bytes, (Bytes{36, 37, 38, 39}));
        const BlockAccess::BlockRead beyond = blocks.readBlock(10);
        ASSERT_TRUE(beyond.error);
        EXPECT_EQ(beyond.error->code, NfcError::kTagResponseError);

        // A block read ahead is not taken for the block after a write.
        EXPECT_EQ(blocks.readBlock(2).bytes, (Bytes{8, 9, 10, 11}));
        EXPECT_FALSE(blocks.writeBlock(3, Bytes{0xA1, 0xA2, 0xA3, 0xA4}));
        EXPECT_EQ(blocks.readBlock(3).bytes, (Bytes{0xA1, 0xA2, 0xA3, 0xA4}));
    });
    EXPECT_EQ(tag->blockBytes(3, 1), (Bytes{0xA1, 0xA2, 0xA3, 0xA4}));
}

TEST(BleReaderBlocks, ATagThatLeavesOrAReaderThatFallsSilentIsReportedAsOutOfReach) {
    BlocksBench bench;
    const auto tag = numberedTag(64);
    bench.feig->putTag(tag);
    bench.connect();
    bench.onWorker([&] {
        BleReaderBlocks blocks(*bench.reader, shortTiming());
        bench.feig->planNextAnswer(FeigAnswerPlan::dropped());
        const BlockAccess::BlockRead silent = blocks.readBlock(0);
        ASSERT_TRUE(silent.error);
        EXPECT_EQ(silent.error->code, NfcError::kSessionTerminatedUnexpectedly);

        bench.feig->removeTag(tag);
        const BlockAccess::BlockRead gone = blocks.readBlock(0);
        ASSERT_TRUE(gone.error);
        EXPECT_EQ(gone.error->code, NfcError::kTagConnectionLost);
        const auto refused = blocks.writeBlock(0, Bytes{1, 2, 3, 4});
        ASSERT_TRUE(refused);
        EXPECT_EQ(refused->code, NfcError::kTagConnectionLost);
    });
    EXPECT_EQ(tag->blockBytes(0, 1), (Bytes{0, 1, 2, 3}));
}

TEST(BleReaderBlocks, NoTagOnTheReaderIsToldPlainly) {
    BlocksBench bench;
    bench.connect();
    bench.onWorker([&] {
        try {
            BleReaderBlocks blocks(*bench.reader, shortTiming());
            ADD_FAILURE() << "a tag was found on an empty reader";
        } catch (const std::runtime_error& error) {
            EXPECT_STREQ(error.what(), "no tag was presented to the Bluetooth NFC reader within 0.1 s");
        }
    });
}

} // namespace
} // namespace wynfc::test
