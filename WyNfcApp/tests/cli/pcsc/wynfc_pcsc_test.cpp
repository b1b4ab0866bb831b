// wynfc with a real NFC reader: the program reaches the tag through the PC/SC daemon, here a
// daemon of the test's own with the virtual reader driver and a virtual card holding a sample
// driver. The whole test program runs in the private namespaces of scripts/with-private-pcscd.

#include "pcsc_test_bench.h"
#include "platform/sim/tag_image.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

namespace wynfc::test {
namespace {

using ::testing::HasSubstr;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

std::string readAll(const std::filesystem::path& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// One folder per test case: each runs in a process namespace of its own, where process ids repeat.
std::filesystem::path scratchFolder() {
    const auto path = std::filesystem::path(WYNFC_BINARY_DIR) / "wynfc_pcsc_test" /
                      ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::filesystem::create_directories(path);
    return path;
}

// Runs wynfc as its own process; it reaches the daemon through the namespace's socket. Its
// limits are a quarter of the product's: enough for a loaded machine, short for a failing test.
Outcome wynfc(const std::string& arguments, const std::string& scale = "0.25") {
    const auto folder = scratchFolder();
    const auto out = folder / "out.txt";
    const auto err = folder / "err.txt";
    const std::string command = "WYNFC_TIME_SCALE=" + scale + " '" + std::string(WYNFC_CLI) + "' " +
                                arguments + " >'" + out.string() + "' 2>'" + err.string() + "'";
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readAll(out), readAll(err)};
}

std::string lastLine(const std::string& text) {
    std::istringstream lines(text);
    std::string line;
    std::string last;
    while (std::getline(lines, line)) {
        last = line;
    }
    return last;
}

TEST(WynfcOverPcsc, ReadsAndWritesTheDriverOnWhicheverReaderHoldsIt) {
    PrivatePcscd pcscd;
    VirtualPcscCard card(sampleTag("full_feature"));
    card.insert(kReaderPort[1]); // the second reader; the first stays empty
    ASSERT_TRUE(waitForReader(kReaderName[1], true));
    const Bytes before = card.tag()->blockBytes(0, card.tag()->blockCount());

    const Outcome reading = wynfc("read --reader nfc --json");
    ASSERT_EQ(reading.status, 0) << reading.err;
    EXPECT_EQ(nlohmann::json::parse(lastLine(reading.out))["status"], "Read completed");
    EXPECT_THAT(reading.out, HasSubstr("dali_setting_data:"));
    // The sheet: its alert while the session runs, its ending.
    EXPECT_THAT(reading.err, HasSubstr("NFC sheet: "));
    EXPECT_THAT(reading.err, HasSubstr("NFC sheet: done: "));
    EXPECT_EQ(card.tag()->blockBytes(0, card.tag()->blockCount()), before); // a read writes nothing

    const Outcome writing = wynfc(
        "write --reader nfc --pcsc-reader 'PCD 00 01' --set nfc_data_addr_dc_dali_setting.max_level=0xC9");
    ASSERT_EQ(writing.status, 0) << writing.out << writing.err;
    EXPECT_THAT(writing.out, HasSubstr("Status: Write completed"));
    EXPECT_THAT(writing.out, HasSubstr("Verified: 1 value(s) in 1 area(s) read back as written."));
    EXPECT_NE(card.tag()->blockBytes(0, card.tag()->blockCount()), before);
}

TEST(WynfcOverPcsc, SaysPlainlyWhyNoTagCanBeReached) {
    {
        const Outcome run = wynfc("read --reader nfc"); // no daemon at all
        EXPECT_EQ(run.status, 1);
        EXPECT_THAT(run.err, HasSubstr("the PC/SC service (pcscd) is not running"));
        EXPECT_EQ(run.out, "");
    }
    PrivatePcscd pcscd;
    {
        const Outcome run = wynfc("read --reader nfc --pcsc-reader 'Desk reader'");
        EXPECT_EQ(run.status, 1);
        EXPECT_THAT(run.err, HasSubstr("no NFC reader whose name holds \"Desk reader\" is attached"));
        EXPECT_EQ(run.out, "");
    }
    {
        const Outcome run = wynfc("read --reader nfc", "0.01"); // readers, but no card on them
        EXPECT_EQ(run.status, 1);
        EXPECT_THAT(run.err, HasSubstr("no tag was presented to the NFC reader within 0.3 s"));
        EXPECT_THAT(run.out, ::testing::Not(HasSubstr("Read completed")));
    }
    {
        const Outcome run =
            wynfc("write --reader nfc --set nfc_data_addr_dc_dali_setting.max_level=1", "0.01");
        EXPECT_EQ(run.status, 1);
        EXPECT_THAT(run.err, HasSubstr("no tag was presented to the NFC reader within 0.3 s"));
    }
}

TEST(WynfcOverPcsc, DumpThenRestoreBringsBackEveryByte) {
    PrivatePcscd pcscd;
    VirtualPcscCard card(sampleTag("full_feature"));
    card.insert(kReaderPort[0]);
    ASSERT_TRUE(waitForReader(kReaderName[0], true));
    const auto tag = card.tag();
    const Bytes original = tag->blockBytes(0, tag->blockCount());

    const auto image = scratchFolder() / "dump.json";
    const Outcome dump = wynfc("dump --reader nfc --out " + image.string());
    ASSERT_EQ(dump.status, 0) << dump.out << dump.err;
    const TagImage dumped = loadTagImage(image);
    EXPECT_EQ(dumped.uid, tag->uid());
    EXPECT_EQ(dumped.memory, original);

    // The driver is changed in three blocks; one of them is then locked.
    const Bytes changed = {0xA5, 0xA5, 0xA5, 0xA5};
    for (const int block : {3, 40, 255}) {
        tag->setMemory(block, changed);
    }
    const Outcome restore = wynfc("restore --reader nfc --image " + image.string());
    ASSERT_EQ(restore.status, 0) << restore.out << restore.err;
    EXPECT_THAT(restore.out,
                HasSubstr("Restored: 3 block(s) written and read back, 253 unchanged, 0 failure(s)"));
    EXPECT_EQ(tag->blockBytes(0, tag->blockCount()), original);

    tag->setMemory(3, changed);
    tag->setMemory(40, changed);
    tag->protectBlock(40);
    const Outcome locked = wynfc("restore --reader nfc --image " + image.string());
    EXPECT_EQ(locked.status, 1);
    EXPECT_THAT(locked.out, HasSubstr("Failed: block 40: "));
    EXPECT_THAT(locked.out,
                HasSubstr("Restored: 1 block(s) written and read back, 254 unchanged, 1 failure(s)"));
    EXPECT_THAT(locked.err, HasSubstr("NFC sheet: failed: Restore failed"));
    EXPECT_EQ(tag->blockBytes(3, 1), Bytes(original.begin() + 12, original.begin() + 16));
    EXPECT_EQ(tag->blockBytes(40, 1), changed);
}

// The tag's size comes from the tag where the reader passes Get System Information on to it,
// and from the first block it refuses where the reader does not.
TEST(WynfcOverPcsc, ADumpEndsWhereTheTagDoes) {
    PrivatePcscd pcscd;
    TagImage small = loadTagImage(std::string(WYNFC_RESOURCES_DIR) + "/samples/basic.json");
    small.blockCount = 48;
    small.memory.resize(48 * TagImage::kBlockSize);
    VirtualPcscCard card(std::make_shared<VirtualTag>(small));
    card.insert(kReaderPort[0]);
    ASSERT_TRUE(waitForReader(kReaderName[0], true));

    const auto image = scratchFolder() / "dump.json";
    const Outcome told = wynfc("dump --reader nfc --out " + image.string());
    ASSERT_EQ(told.status, 0) << told.out << told.err;
    EXPECT_THAT(told.out, HasSubstr("Dumped 48 block(s)"));
    EXPECT_THAT(told.out, HasSubstr("the tag has 48 blocks"));
    EXPECT_EQ(loadTagImage(image).memory, small.memory);

    card.offerTransparentSession(false);
    const Outcome refused = wynfc("dump --reader nfc --out " + image.string());
    ASSERT_EQ(refused.status, 0) << refused.out << refused.err;
    EXPECT_THAT(refused.out, HasSubstr("Dumped 48 block(s)"));
    EXPECT_THAT(refused.out, HasSubstr("block 48 and beyond: the tag refused them"));
    EXPECT_EQ(loadTagImage(image).memory, small.memory);
}

TEST(WynfcOverPcsc, RestoreRefusesTheImageOfAnotherTag) {
    PrivatePcscd pcscd;
    VirtualPcscCard card(sampleTag("full_feature"));
    card.insert(kReaderPort[0]);
    ASSERT_TRUE(waitForReader(kReaderName[0], true));
    const Bytes before = card.tag()->blockBytes(0, card.tag()->blockCount());

    const Outcome refused =
        wynfc("restore --reader nfc --image " + std::string(WYNFC_RESOURCES_DIR) + "/samples/basic.json");
    EXPECT_EQ(refused.status, 1);
    EXPECT_THAT(refused.out, HasSubstr("Refused: the image is of the tag "));
    EXPECT_EQ(card.tag()->blockBytes(0, card.tag()->blockCount()), before);
}

TEST(WynfcOverPcsc, ACardOfAnotherKindIsNoDriver) {
    PrivatePcscd pcscd;
    VirtualPcscCard card(sampleTag("full_feature"), VirtualPcscCard::processorCardAtr());
    card.insert(kReaderPort[0]);
    ASSERT_TRUE(waitForReader(kReaderName[0], true));
    const Outcome run = wynfc("read --reader nfc", "0.01");
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.out, ::testing::Not(HasSubstr("Read completed")));
    EXPECT_THAT(run.err,
                HasSubstr("no driver's tag was read: the NFC session ended (failed: Unsupported tag!)"));
}

TEST(WynfcOverPcsc, ATagTakenAwayMidwayFailsTheJob) {
    PrivatePcscd pcscd;
    {
        VirtualPcscCard card(sampleTag("full_feature"));
        card.insert(kReaderPort[0]);
        ASSERT_TRUE(waitForReader(kReaderName[0], true));
        card.tag()->leaveFieldAfter(6); // a few areas in
        const Outcome read = wynfc("read --reader nfc");
        EXPECT_EQ(read.status, 1);
        EXPECT_THAT(read.out, HasSubstr("Status: Read failed"));
    }
    ASSERT_TRUE(waitForReader(kReaderName[0], false));
    {
        VirtualPcscCard card(sampleTag("full_feature"));
        const auto image = scratchFolder() / "image.json";
        card.tag()->save(image);
        card.tag()->setMemory(10, Bytes{1, 2, 3, 4});
        card.tag()->setMemory(20, Bytes{1, 2, 3, 4});
        card.tag()->setMemory(30, Bytes{1, 2, 3, 4});
        card.insert(kReaderPort[0]);
        ASSERT_TRUE(waitForReader(kReaderName[0], true));
        card.tag()->leaveFieldAfter(14); // blocks 0..10 read, block 10 written and read back, 11 read
        const Outcome restore = wynfc("restore --reader nfc --image " + image.string());
        EXPECT_EQ(restore.status, 1);
        EXPECT_THAT(restore.out, HasSubstr("not restored, the tag is out of reach"));
        EXPECT_THAT(restore.out, ::testing::Not(HasSubstr("0 failure(s)")));
        EXPECT_EQ(card.tag()->blockBytes(30, 1), (Bytes{1, 2, 3, 4}));
    }
}

TEST(WynfcOverPcsc, TheRealReaderKeepsToItsOwnOptions) {
    const Outcome tag = wynfc("read --reader nfc --tag x.json");
    EXPECT_EQ(tag.status, 2);
    EXPECT_THAT(tag.err, HasSubstr("--tag and --save are for the simulated driver, not with --reader nfc"));
    const Outcome reader = wynfc("read --reader sim-nfc --pcsc-reader x");
    EXPECT_EQ(reader.status, 2);
    EXPECT_THAT(reader.err, HasSubstr("--pcsc-reader goes with --reader nfc"));
}

} // namespace
} // namespace wynfc::test
