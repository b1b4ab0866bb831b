#include "platform/sim/folder_bundle.h"
#include "platform/sim/in_memory_user_defaults.h"
#include "platform/sim/recording_mail_composer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace wynfc {
namespace {

TEST(InMemoryUserDefaults, AnUnsetKeyReadsFalse) {
    InMemoryUserDefaults defaults;
    EXPECT_FALSE(defaults.boolForKey("agree"));
    EXPECT_FALSE(defaults.contains("agree"));
    defaults.setBool("agree", true);
    EXPECT_TRUE(defaults.boolForKey("agree"));
    defaults.setBool("agree", false);
    EXPECT_FALSE(defaults.boolForKey("agree"));
    EXPECT_TRUE(defaults.contains("agree"));
}

class FolderBundleTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = std::filesystem::temp_directory_path() /
                ("wynfc_bundle_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
        std::filesystem::create_directories(root_ / "resources" / "index.html.d");
        std::ofstream(root_ / "resources" / "index.html") << "<html></html>";
        std::ofstream(root_ / "resources" / "README") << "text";
        std::ofstream(root_ / "secret.json") << "{}";
    }
    void TearDown() override { std::filesystem::remove_all(root_); }
    std::filesystem::path root_;
};

TEST_F(FolderBundleTest, FindsFilesDirectlyInsideItsFolderOnly) {
    const FolderBundle bundle(root_ / "resources", "1.2.3");
    EXPECT_EQ(bundle.pathForResource("index", "html"), root_ / "resources" / "index.html");
    EXPECT_EQ(bundle.pathForResource("README", ""), root_ / "resources" / "README");
    EXPECT_FALSE(bundle.pathForResource("address_map", "json"));
    EXPECT_FALSE(bundle.pathForResource("index.html", "d")); // a folder is not a resource
    EXPECT_FALSE(bundle.pathForResource("../secret", "json"));
    EXPECT_FALSE(bundle.pathForResource("..", ""));
    EXPECT_FALSE(bundle.pathForResource("", "html"));
    EXPECT_EQ(bundle.shortVersion(), "1.2.3");
    EXPECT_FALSE(FolderBundle(root_).shortVersion());
}

TEST(RecordingMailComposer, KeepsOnlyMailThatCouldBeSent) {
    RecordingMailComposer composer(false);
    composer.compose(
        MailMessage{{"someone@example.com"}, "Feedback issues", "Please describe your issues.", false});
    EXPECT_TRUE(composer.composed().empty());
    composer.setCanSend(true);
    composer.compose(
        MailMessage{{"someone@example.com"}, "Feedback issues", "Please describe your issues.", false});
    ASSERT_EQ(composer.composed().size(), 1u);
    EXPECT_EQ(composer.composed()[0].subject, "Feedback issues");
}

} // namespace
} // namespace wynfc
