#include "platform/sim/tag_image.h"
#include "platform/sim/virtual_tag.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace wynfc {
namespace {

std::string imageJson(const std::string& uid, const std::string& blockSize, const std::string& blockCount,
                      const std::string& memory) {
    return R"({"name":"n","description":"d","uid":)" + uid + R"(,"blockSize":)" + blockSize +
           R"(,"blockCount":)" + blockCount + R"(,"memory":)" + memory + "}";
}

std::string errorOf(const std::string& json) {
    try {
        parseTagImage(json);
    } catch (const TagImageError& error) {
        return error.what();
    }
    return "no error";
}

TEST(TagImage, ParsesSpacedHexInTheReportedOrder) {
    const auto image =
        parseTagImage(imageJson(R"("01 02 03 04 05 06 07 E0")", "4", "2", "\"0a0B0c0D\\n 11 22 33 44\""));
    EXPECT_EQ(image.name, "n");
    EXPECT_EQ(image.description, "d");
    EXPECT_EQ(image.uid, (Bytes{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0xE0}));
    EXPECT_EQ(image.blockCount, 2);
    EXPECT_EQ(image.memory, (Bytes{0x0A, 0x0B, 0x0C, 0x0D, 0x11, 0x22, 0x33, 0x44}));
}

TEST(TagImage, MalformedFilesSayWhatIsWrong) {
    const std::string uid = R"("0102030405060708")";
    const std::string memory = R"("0001020304050607")";
    EXPECT_NE(errorOf("{").find("not valid JSON"), std::string::npos);
    EXPECT_NE(errorOf("[]").find("top level"), std::string::npos);
    EXPECT_NE(errorOf(R"({"blockSize":4,"blockCount":2,"memory":"00"})").find("\"uid\" is missing"),
              std::string::npos);
    EXPECT_NE(errorOf(imageJson(R"("01020304050607")", "4", "2", memory)).find("\"uid\" must hold 8 bytes"),
              std::string::npos);
    EXPECT_NE(errorOf(imageJson(R"("0102030405060G08")", "4", "2", memory)).find("'G' at position 13"),
              std::string::npos);
    EXPECT_NE(errorOf(imageJson(uid, "8", "2", memory)).find("\"blockSize\" must be 4"), std::string::npos);
    EXPECT_NE(errorOf(imageJson(uid, "\"4\"", "2", memory)).find("\"blockSize\" must be a whole number"),
              std::string::npos);
    EXPECT_NE(errorOf(imageJson(uid, "4", "0", memory)).find("\"blockCount\" must be between"),
              std::string::npos);
    EXPECT_NE(
        errorOf(imageJson(uid, "4", "3", memory)).find("must hold blockCount x blockSize = 12 bytes, not 8"),
        std::string::npos);
    EXPECT_NE(errorOf(imageJson(uid, "4", "2", R"("000102030405060")")).find("odd number"),
              std::string::npos);
    EXPECT_NE(errorOf(imageJson(uid, "4", "2", "17")).find("\"memory\" must be a text"), std::string::npos);
    EXPECT_NE(
        errorOf(R"({"name":5,"uid":"0102030405060708","blockSize":4,"blockCount":1,"memory":"00000000"})")
            .find("\"name\" must be a text"),
        std::string::npos);
}

class TagImageFiles : public ::testing::Test {
protected:
    void SetUp() override {
        directory_ = std::filesystem::temp_directory_path() /
                     ("wynfc_tag_image_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                      "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(directory_);
    }
    void TearDown() override { std::filesystem::remove_all(directory_); }
    std::filesystem::path directory_;
};

TEST_F(TagImageFiles, SavedTagLoadsBackWithItsWrites) {
    TagImage original = TagImage::blank({0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x04, 0xE0}, 256);
    original.name = "driver";
    original.description = "with \"quotes\"";
    VirtualTag tag(original);
    const Bytes written{0xDE, 0xAD, 0xBE, 0xEF, 0x01, 0x02, 0x03, 0x04};
    ASSERT_EQ(tag.writeBlocks(254, written), TagAnswer::Ok);

    const auto file = directory_ / "image.json";
    tag.save(file);
    const auto loaded = VirtualTag::load(file);
    EXPECT_EQ(loaded->uid(), original.uid);
    EXPECT_EQ(loaded->blockCount(), 256);
    EXPECT_EQ(loaded->image().name, "driver");
    EXPECT_EQ(loaded->image().description, "with \"quotes\"");
    EXPECT_EQ(loaded->memory(), tag.memory());
    EXPECT_EQ(loaded->blockBytes(254, 2), written);
    EXPECT_FALSE(std::filesystem::exists(directory_ / "image.json.partial"));
}

TEST_F(TagImageFiles, LoadErrorsNameTheFileAndAFailedSaveKeepsTheOldFile) {
    const auto file = directory_ / "broken.json";
    std::ofstream(file) << R"({"uid":"00"})";
    try {
        loadTagImage(file);
        FAIL() << "no error";
    } catch (const TagImageError& error) {
        EXPECT_NE(std::string(error.what()).find("broken.json"), std::string::npos);
    }
    EXPECT_THROW(loadTagImage(directory_ / "missing.json"), TagImageError);

    // Saving into a folder that does not exist fails without leaving anything behind.
    const auto target = directory_ / "no_such_folder" / "image.json";
    EXPECT_THROW(saveTagImage(TagImage::blank({1, 2, 3, 4, 5, 6, 7, 8}, 1), target), TagImageError);
    EXPECT_FALSE(std::filesystem::exists(target));
}

TEST_F(TagImageFiles, EverySampleDriverImageLoadsAndSavesUnchanged) {
    int samples = 0;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::filesystem::path(WYNFC_RESOURCES_DIR) / "samples")) {
        if (entry.path().extension() != ".json") {
            continue;
        }
        ++samples;
        SCOPED_TRACE(entry.path().string());
        const auto tag = VirtualTag::load(entry.path());
        EXPECT_EQ(tag->uid().back(), 0xE0); // ISO 15693 UIDs end with 0xE0 in the reported order
        const auto copy = directory_ / entry.path().filename();
        tag->save(copy);
        const TagImage reloaded = loadTagImage(copy);
        EXPECT_EQ(reloaded.uid, tag->uid());
        EXPECT_EQ(reloaded.memory, tag->memory());
        EXPECT_EQ(reloaded.name, tag->image().name);
    }
    EXPECT_GT(samples, 0);
}

} // namespace
} // namespace wynfc
