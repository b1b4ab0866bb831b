// wynfc dump and restore on the simulated driver: whole tags into image files and back.

#include "platform/sim/tag_image.h"

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

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

std::filesystem::path scratch(const std::string& name) {
    const auto folder =
        std::filesystem::path(WYNFC_BINARY_DIR) / "wynfc_dump_restore_test" / std::to_string(getpid());
    std::filesystem::create_directories(folder);
    return folder / name;
}

std::string readAll(const std::filesystem::path& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

Outcome wynfc(const std::string& arguments) {
    const auto out = scratch("out.txt");
    const auto err = scratch("err.txt");
    const std::string command = "WYNFC_TIME_SCALE=0.05 '" + std::string(WYNFC_CLI) + "' " + arguments +
                                " >'" + out.string() + "' 2>'" + err.string() + "'";
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readAll(out), readAll(err)};
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

TEST(DumpAndRestore, ADumpRestoredOntoAnotherDriverMakesItTheSameByteForByte) {
    const auto dumped = scratch("basic_dump.json");
    const Outcome dump =
        wynfc("dump --reader sim-nfc --tag " + kSamples + "basic.json --out " + dumped.string());
    ASSERT_EQ(dump.status, 0) << dump.err;
    const TagImage basic = loadTagImage(kSamples + "basic.json");
    const TagImage image = loadTagImage(dumped);
    EXPECT_EQ(image.uid, basic.uid);
    EXPECT_EQ(image.blockCount, 256);
    EXPECT_EQ(image.memory, basic.memory);
    EXPECT_THAT(dump.err, HasSubstr("NFC sheet: done: Dump completed"));

    // Onto the other sample: its own UID, so only with --any-uid; only the blocks that differ.
    const auto restored = scratch("restored.json");
    const std::string onto = "restore --tag " + kSamples + "full_feature.json --image " + dumped.string() +
                             " --save " + restored.string();
    const Outcome refused = wynfc(onto);
    EXPECT_EQ(refused.status, 1);
    EXPECT_THAT(refused.out, HasSubstr("Refused: the image is of the tag " + toHex(basic.uid)));
    EXPECT_FALSE(std::filesystem::exists(restored)) << "a refused restore saves nothing";

    const TagImage fullFeature = loadTagImage(kSamples + "full_feature.json");
    const int differing = blocksThatDiffer(basic, fullFeature);
    ASSERT_GT(differing, 0);
    const Outcome restore = wynfc(onto + " --any-uid");
    ASSERT_EQ(restore.status, 0) << restore.out << restore.err;
    EXPECT_THAT(restore.out,
                HasSubstr("Restored: " + std::to_string(differing) + " block(s) written and read back, " +
                          std::to_string(256 - differing) + " unchanged, 0 failure(s)"));
    const TagImage after = loadTagImage(restored);
    EXPECT_EQ(after.memory, basic.memory);
    EXPECT_EQ(after.uid, fullFeature.uid); // the tag keeps its own UID
}

TEST(DumpAndRestore, AskForAnNfcReaderAndTheirFiles) {
    const Outcome bluetooth = wynfc("dump --reader sim-ble --out x.json");
    EXPECT_EQ(bluetooth.status, 2);
    EXPECT_THAT(bluetooth.err, HasSubstr("only an NFC reader offers here"));
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
