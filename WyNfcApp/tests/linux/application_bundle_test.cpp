#include "linux_test_support.h"
#include "platform/linux/application_bundle.h"
#include "platform/linux/installed_data_dir.h"

#include <gtest/gtest.h>

#include <regex>
#include <unistd.h>

namespace wynfc {
namespace {

using test::writeFile;

TEST(ApplicationBundle, ChoosesTheDataDirThenAnInstalledTreeWithThePageThenTheSourceTree) {
    test::TempDir dir;
    ApplicationBundle::Places places{std::nullopt, dir / "share-wynfc", dir / "source-resources"};
    EXPECT_EQ(ApplicationBundle::chooseFolder(places), places.sourceTree); // nothing installed

    // An installed tree without the page (an old or half-finished install) does not count.
    writeFile(places.installed / "address_map.json", "{}");
    std::filesystem::create_directories(places.installed / "index.html");
    EXPECT_EQ(ApplicationBundle::chooseFolder(places), places.sourceTree);

    std::filesystem::remove(places.installed / "index.html");
    writeFile(places.installed / "index.html", "<html></html>");
    EXPECT_EQ(ApplicationBundle::chooseFolder(places), places.installed);

    places.dataDir = dir / "elsewhere";
    EXPECT_EQ(ApplicationBundle::chooseFolder(places), dir / "elsewhere");
}

TEST(ApplicationBundle, LooksForAnInstalledTreeBesideTheProgramOnly) {
    EXPECT_EQ(installedDataDirBeside("/opt/wynfc/bin/wynfc"), "/opt/wynfc/share/wynfc");
    // This test program lies in the build folder, which has no share/wynfc of its own.
    const auto installed = installedDataDirOfThisProgram();
    ASSERT_TRUE(installed);
    EXPECT_EQ(*installed, std::filesystem::path(WYNFC_BINARY_DIR) / "share" / "wynfc");

    // A program whose place is unknown has no installed tree: not one in the current folder.
    test::TempDir dir;
    writeFile(dir / "index.html", "<html></html>");
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    const ApplicationBundle::Places places{std::nullopt, {}, dir / "source-resources"};
    const auto chosen = ApplicationBundle::chooseFolder(places);
    std::filesystem::current_path(previous);
    EXPECT_EQ(chosen, places.sourceTree);
}

TEST(ApplicationBundle, FollowsWynfcDataDirAndStatesTheBuildVersion) {
    test::TempDir dir;
    writeFile(dir / "index.html", "<html></html>");
    {
        test::ScopedEnv dataDir("WYNFC_DATA_DIR", dir.path().string());
        const ApplicationBundle bundle;
        EXPECT_EQ(bundle.folder(), dir.path());
        EXPECT_EQ(bundle.pathForResource("index", "html"), dir / "index.html");
        EXPECT_FALSE(bundle.pathForResource("address_map", "json"));
        ASSERT_TRUE(bundle.shortVersion());
        EXPECT_TRUE(std::regex_match(*bundle.shortVersion(), std::regex(R"(\d+\.\d+\.\d+)")));
    }
    for (const std::optional<std::string>& unset :
         {std::optional<std::string>(), std::optional<std::string>("")}) {
        test::ScopedEnv dataDir("WYNFC_DATA_DIR", unset);
        EXPECT_FALSE(ApplicationBundle::placesOfThisBuild().dataDir);
        // Installed or not, this build finds the shipped resources.
        EXPECT_TRUE(ApplicationBundle().pathForResource("address_map", "json"));
    }
}

} // namespace
} // namespace wynfc
