// wynfc dump and restore on the simulated driver, through either simulated reader: whole tags
// into image files and back.

#include "platform/sim/tag_image.h"

#include "wynfc_process.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace wynfc::test {
namespace {

using ::testing::HasSubstr;

const std::string kSamples = std::string(WYNFC_RESOURCES_DIR) + "/samples/";

using Outcome = cli_test::ProcessResult;
using cli_test::readAll;

std::filesystem::path scratch(const std::string& name) {
    return cli_test::scratchFile("wynfc_dump_restore_test", name);
}

Outcome wynfc(const std::string& arguments, const char* timeScale = "0.05") {
    return cli_test::runWynfc("wynfc_dump_restore_test", arguments, "", timeScale);
}

int blocksThatDiffer(const TagImage& a, const TagImage& b) {
    int count = 0;
    for (int block = 0; block < a.blockCount; ++block) {
        const auto at = static_cast<std::ptrdiff_t>(block) * TagImage::kBlockSize;
        count += std::equal(a.memory.begin() + at, a.memory.begin() + at + TagImage::kBlockSize,
                            b.memory.begin() + at)
                     ? 0
                     : 1;
    }
    return count;
}

// Each simulated reader, with the time scale its searches need on a loaded machine.
struct Reader {
    const char* name;
    const char* timeScale;
};
void PrintTo(const Reader& reader, std::ostream* out) {
    *out << reader.name;
}

class DumpAndRestore : public ::testing::TestWithParam<Reader> {
protected:
    Outcome run(const std::string& command, const std::string& arguments) {
        return wynfc(command + " --reader " + GetParam().name + " " + arguments, GetParam().timeScale);
    }
    std::filesystem::path file(const std::string& name) {
        return scratch(std::string(GetParam().name) + "_" + name);
    }
};

TEST_P(DumpAndRestore, ADumpRestoredOntoAnotherDriverMakesItTheSameByteForByte) {
    const auto dumped = file("basic_dump.json");
    const Outcome dump = run("dump", "--tag " + kSamples + "basic.json --out " + dumped.string());
    ASSERT_EQ(dump.status, 0) << dump.out << dump.err;
    const TagImage basic = loadTagImage(kSamples + "basic.json");
    const TagImage image = loadTagImage(dumped);
    EXPECT_EQ(image.uid, basic.uid);
    EXPECT_EQ(image.blockCount, 256);
    EXPECT_EQ(image.memory, basic.memory);
    EXPECT_THAT(dump.out, HasSubstr("the tag has 256 blocks"));

    // Onto the other sample: its own UID, so only with --any-uid; only the blocks that differ.
    const auto restored = file("restored.json");
    const std::string onto =
        "--tag " + kSamples + "full_feature.json --image " + dumped.string() + " --save " + restored.string();
    const Outcome refused = run("restore", onto);
    EXPECT_EQ(refused.status, 1);
    EXPECT_THAT(refused.out, HasSubstr("Refused: the image is of the tag " + toHex(basic.uid)));
    EXPECT_FALSE(std::filesystem::exists(restored)) << "a refused restore saves nothing";

    const TagImage fullFeature = loadTagImage(kSamples + "full_feature.json");
    const int differing = blocksThatDiffer(basic, fullFeature);
    ASSERT_GT(differing, 0);
    const Outcome restore = run("restore", onto + " --any-uid");
    ASSERT_EQ(restore.status, 0) << restore.out << restore.err;
    EXPECT_THAT(restore.out,
                HasSubstr("Restored: " + std::to_string(differing) + " block(s) written and read back, " +
                          std::to_string(256 - differing) + " unchanged, 0 failure(s)"));
    const TagImage after = loadTagImage(restored);
    EXPECT_EQ(after.memory, basic.memory);
    EXPECT_EQ(after.uid, fullFeature.uid); // the tag keeps its own UID
}

// A tag smaller than the readers' reach is dumped to its own size, which it tells.
TEST_P(DumpAndRestore, ASmallTagIsDumpedToTheSizeItTells) {
    TagImage small = loadTagImage(kSamples + "basic.json");
    small.blockCount = 64;
    small.memory.resize(64 * TagImage::kBlockSize);
    const auto tag = file("small.json");
    saveTagImage(small, tag);
    const auto dumped = file("small_dump.json");
    const Outcome dump = run("dump", "--tag " + tag.string() + " --out " + dumped.string());
    ASSERT_EQ(dump.status, 0) << dump.out << dump.err;
    EXPECT_THAT(dump.out, HasSubstr("Dumped 64 block(s)"));
    EXPECT_EQ(loadTagImage(dumped).memory, small.memory);
}

INSTANTIATE_TEST_SUITE_P(Readers, DumpAndRestore,
                         ::testing::Values(Reader{"sim-nfc", "0.05"}, Reader{"sim-ble", "0.25"}),
                         [](const ::testing::TestParamInfo<Reader>& test) {
                             return std::string(test.param.name) == "sim-nfc" ? "Nfc" : "Ble";
                         });

TEST(DumpAndRestoreOnTheSimulatedNfcReader, TheSheetTellsTheEnding) {
    const Outcome dump =
        wynfc("dump --tag " + kSamples + "basic.json --out " + scratch("sheet.json").string());
    EXPECT_EQ(dump.status, 0);
    EXPECT_THAT(dump.err, HasSubstr("NFC sheet: done: Dump completed"));
}

TEST(DumpAndRestoreUsage, AskForTheirFiles) {
    EXPECT_EQ(wynfc("dump").status, 2);
    EXPECT_EQ(wynfc("restore").status, 2);
    const auto broken = scratch("broken.json");
    std::ofstream(broken) << R"({"uid": "00"})";
    const Outcome bad = wynfc("restore --image " + broken.string());
    EXPECT_EQ(bad.status, 2);
    EXPECT_THAT(bad.err, HasSubstr("cannot use the tag image"));
}

} // namespace
} // namespace wynfc::test
