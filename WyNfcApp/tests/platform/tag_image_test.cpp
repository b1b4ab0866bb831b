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
        {imageJson(uid, "4", "8E6666666666666666664", memory), "not valid JSON"}, // beyond a double
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

TEST(TagImageFiles, SavedTagLoadsBackWithItsWritesAndFailuresNameTheFile) {
    const auto directory =
        std::filesystem::temp_directory_path() /
        ("wynfc_tag_image_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    std::filesystem::create_directories(directory);
    TagImage image = TagImage::blank({0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x04, 0xE0}, 256);
    image.name = "driver";
    image.description = "with \"quotes\"";
    VirtualTag tag(image);
    ASSERT_EQ(tag.writeBlocks(254, Bytes{0xDE, 0xAD, 0xBE, 0xEF, 0x01, 0x02, 0x03, 0x04}), TagAnswer::Ok);
    const auto file = directory / "image.json";
    tag.save(file);
    const TagImage loaded = loadTagImage(file);
    EXPECT_EQ(loaded.uid, image.uid);
    EXPECT_EQ(loaded.name, image.name);
    EXPECT_EQ(loaded.description, image.description);
    EXPECT_EQ(loaded.memory, tag.memory());
    EXPECT_FALSE(std::filesystem::exists(directory / "image.json.partial"));

    std::ofstream(file) << R"({"uid":"00"})";
    try {
        loadTagImage(file);
        ADD_FAILURE() << "no error";
    } catch (const TagImageError& error) {
        EXPECT_NE(std::string(error.what()).find("image.json"), std::string::npos);
    }
    EXPECT_THROW(loadTagImage(directory / "missing.json"), TagImageError);
    const auto target = directory / "no_such_folder" / "image.json";
    EXPECT_THROW(saveTagImage(image, target), TagImageError);
    EXPECT_FALSE(std::filesystem::exists(target));
    std::filesystem::remove_all(directory);
}

} // namespace
} // namespace wynfc
