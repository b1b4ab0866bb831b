#include "platform/sim/tag_image.h"
#include "platform/sim/virtual_tag.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace wynfc {
namespace {

std::string imageJson(const std::string& uid, const std::string& blockSize, const std::string& blockCount,
                      const std::string& memory) {
    return R"({"name":"n","description":"d","uid":)" + uid + R"(,"blockSize":)" + blockSize +
           R"(,"blockCount":)" + blockCount + R"(,"memory":)" + memory + "}";
}

TEST(TagImage, ParsesSpacedHexInTheReportedOrder) {
    const auto image =
        parseTagImage(imageJson(R"("01 02 03 04 05 06 07 E0")", "4", "2", "\"0a0B0c0D\\n 11 22 33 44\""));
    EXPECT_EQ(image.name, "n");
    EXPECT_EQ(image.uid, (Bytes{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0xE0}));
    EXPECT_EQ(image.blockCount, 2);
    EXPECT_EQ(image.memory, (Bytes{0x0A, 0x0B, 0x0C, 0x0D, 0x11, 0x22, 0x33, 0x44}));
}

TEST(TagImage, MalformedFilesSayWhatIsWrong) {
    const std::string uid = R"("0102030405060708")";
    const std::string memory = R"("0001020304050607")";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"{", "not valid JSON"},
        {"[]", "top level"},
        {R"({"blockSize":4,"blockCount":2,"memory":"00"})", "\"uid\" is missing"},
        {imageJson(R"("01020304050607")", "4", "2", memory), "\"uid\" must hold 8 bytes"},
        {imageJson(R"("0102030405060G08")", "4", "2", memory), "'G' at position 13"},
        {imageJson(uid, "8", "2", memory), "\"blockSize\" must be 4"},
        {imageJson(uid, "\"4\"", "2", memory), "\"blockSize\" must be a whole number"},
        {imageJson(uid, "4", "0", memory), "\"blockCount\" must be between"},
        {imageJson(uid, "4", "3", memory), "must hold blockCount x blockSize = 12 bytes, not 8"},
        {imageJson(uid, "4", "2", R"("000102030405060")"), "odd number"},
        {imageJson(uid, "4", "2", "17"), "\"memory\" must be a text"},
        {R"({"name":5,"uid":"0102030405060708","blockSize":4,"blockCount":1,"memory":"00000000"})",
         "\"name\" must be a text"},
    };
    for (const auto& [json, reason] : cases) {
        try {
            parseTagImage(json);
            ADD_FAILURE() << "accepted " << json;
        } catch (const TagImageError& error) {
            EXPECT_NE(std::string(error.what()).find(reason), std::string::npos) << error.what();
        }
    }
}

class TagImageFiles : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* unitTest = ::testing::UnitTest::GetInstance();
        directory_ = std::filesystem::temp_directory_path() /
                     ("wynfc_tag_image_" + std::to_string(unitTest->random_seed()) + "_" +
                      unitTest->current_test_info()->name());
        std::filesystem::create_directories(directory_);
    }
    void TearDown() override { std::filesystem::remove_all(directory_); }
    std::filesystem::path directory_;
};

TEST_F(TagImageFiles, EverySampleLoadsAndSavesWithItsWrites) {
    int samples = 0;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::filesystem::path(WYNFC_RESOURCES_DIR) / "samples")) {
        if (entry.path().extension() != ".json") {
            continue;
        }
        ++samples;
        SCOPED_TRACE(entry.path().string());
        const auto tag = VirtualTag::load(entry.path());
        ASSERT_EQ(tag->writeBlocks(254, Bytes{0xDE, 0xAD, 0xBE, 0xEF, 0x01, 0x02, 0x03, 0x04}),
                  TagAnswer::Ok);
        const auto copy = directory_ / entry.path().filename();
        tag->save(copy);
        const auto reloaded = VirtualTag::load(copy);
        EXPECT_EQ(reloaded->uid(), tag->uid());
        EXPECT_EQ(reloaded->memory(), tag->memory());
        EXPECT_EQ(reloaded->image().name, tag->image().name);
        EXPECT_EQ(reloaded->image().description, tag->image().description);
        EXPECT_FALSE(std::filesystem::exists(directory_ / (entry.path().filename().string() + ".partial")));
    }
    EXPECT_GT(samples, 0);
}

TEST_F(TagImageFiles, LoadErrorsNameTheFileAndAFailedSaveLeavesNothing) {
    const auto file = directory_ / "broken.json";
    std::ofstream(file) << R"({"uid":"00"})";
    try {
        loadTagImage(file);
        FAIL() << "no error";
    } catch (const TagImageError& error) {
        EXPECT_NE(std::string(error.what()).find("broken.json"), std::string::npos);
    }
    EXPECT_THROW(loadTagImage(directory_ / "missing.json"), TagImageError);

    const auto target = directory_ / "no_such_folder" / "image.json";
    EXPECT_THROW(saveTagImage(TagImage::blank({1, 2, 3, 4, 5, 6, 7, 8}, 1), target), TagImageError);
    EXPECT_FALSE(std::filesystem::exists(target));
}

} // namespace
} // namespace wynfc
