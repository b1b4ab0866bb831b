#include "linux_test_support.h"
#include "platform/console_log.h"
#include "platform/linux/key_file_user_defaults.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace wynfc {
namespace {

using test::writeFile;

class KeyFileUserDefaultsTest : public ::testing::Test {
protected:
    test::TempDir dir;
    test::ScopedEnv configHome{"XDG_CONFIG_HOME", dir.path().string()};
    std::filesystem::path settingsFile = dir / "wynfc" / "settings.ini";
};

TEST_F(KeyFileUserDefaultsTest, KeepsValuesAcrossInstancesInAFolderItCreates) {
    LogCapture log;
    ASSERT_EQ(KeyFileUserDefaults::defaultPath(), settingsFile);
    {
        KeyFileUserDefaults first;
        EXPECT_FALSE(first.boolForKey("agree")); // no file yet
        first.setBool("agree", true);
        first.setBool("other", false);
    }
    EXPECT_TRUE(std::filesystem::is_regular_file(settingsFile));
    {
        KeyFileUserDefaults second;
        EXPECT_TRUE(second.boolForKey("agree"));
        EXPECT_FALSE(second.boolForKey("other"));
        EXPECT_FALSE(second.boolForKey("never"));
        second.setBool("agree", false);
    }
    EXPECT_FALSE(KeyFileUserDefaults().boolForKey("agree"));
    // Written through a temporary file that was renamed over it: nothing else is left.
    int files = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator(settingsFile.parent_path())) {
        ++files;
    }
    EXPECT_EQ(files, 1);
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(KeyFileUserDefaultsTest, ACorruptFileReadsAsNeverSetLogsOnceAndIsReplacedByTheNextChange) {
    writeFile(settingsFile, "agree=true\n\x01\xff not a key file\n");
    LogCapture log;
    KeyFileUserDefaults settings;
    EXPECT_FALSE(settings.boolForKey("agree"));
    EXPECT_FALSE(settings.boolForKey("agree"));
    EXPECT_EQ(log.count(settingsFile.string()), 1);

    settings.setBool("agree", true);
    EXPECT_TRUE(KeyFileUserDefaults().boolForKey("agree"));
    EXPECT_EQ(log.lines().size(), 1U);
}

} // namespace
} // namespace wynfc
