#include "platform/sim/folder_bundle.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace wynfc {
namespace {

TEST(FolderBundle, FindsFilesDirectlyInsideItsFolderOnly) {
    const auto root = std::filesystem::temp_directory_path() /
                      ("wynfc_bundle_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    std::filesystem::create_directories(root / "resources" / "index.html.d");
    std::ofstream(root / "resources" / "index.html") << "<html></html>";
    std::ofstream(root / "resources" / "README") << "text";
    std::ofstream(root / "secret.json") << "{}";

    const FolderBundle bundle(root / "resources");
    EXPECT_EQ(bundle.pathForResource("index", "html"), root / "resources" / "index.html");
    EXPECT_EQ(bundle.pathForResource("README", ""), root / "resources" / "README");
    for (const auto& [name, extension] :
         std::vector<std::pair<std::string, std::string>>{{"address_map", "json"}, // missing
                                                          {"index.html", "d"},     // a folder
                                                          {"../secret", "json"},
                                                          {"..", ""},
                                                          {"", "html"}}) {
        EXPECT_FALSE(bundle.pathForResource(name, extension)) << name << "." << extension;
    }
    std::filesystem::remove_all(root);
}

} // namespace
} // namespace wynfc
