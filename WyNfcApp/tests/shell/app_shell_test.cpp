// The window a person opens: start-up, the disclaimer, the tabs, the home and settings pages.

#include "shell_test_support.h"

#include "platform/console_log.h"
#include "readers/shared_api.h"

#include <fstream>
#include <sstream>

namespace wynfc::shell::test {
namespace {

std::string fileText(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class AppShell : public AppTest {};

TEST_F(AppShell, StartUpLoadsTheMapAndGoesOnWithoutOne) {
    const auto folder = mHome / "resources";
    std::filesystem::create_directories(folder);
    LogCapture log;
    sharedApi().destroy();
    // No map: start-up goes on and the library has none.
    EXPECT_FALSE(MainApp::startUp(FolderBundle(folder)));
    EXPECT_FALSE(sharedApi().getNFCProductPropertiesJsonByName("nfc_data_addr_dc_aoc"));
    // A map that cannot be read (here it vanished after it was found) is logged as a read error.
    struct VanishingBundle final : Bundle {
        std::filesystem::path folder;
        std::optional<std::filesystem::path> pathForResource(const std::string& name,
                                                             const std::string& extension) const override {
            return folder / (name + "." + extension);
        }
        std::optional<std::string> shortVersion() const override { return std::nullopt; }
    } vanishing;
    vanishing.folder = folder;
    EXPECT_FALSE(MainApp::startUp(vanishing));
    EXPECT_EQ(log.count("Read error "), 1);
    // The shipped map.
    EXPECT_TRUE(MainApp::startUp(FolderBundle(WYNFC_RESOURCES_DIR)));
    EXPECT_TRUE(sharedApi().getNFCProductPropertiesJsonByName("nfc_data_addr_dc_aoc"));
}

TEST_F(AppShell, DisclaimerShowsUntilAgreedAndOnlyAgreeClosesIt) {
    openWindow(false);
    DisclaimerCover& cover = mWindow->disclaimer();
    EXPECT_TRUE(cover.get_visible());
    EXPECT_EQ(cover.title(), "Statement denying or limiting responsibility");
    screenshot(*mWindow, "disclaimer");
    // The cover lies over the whole window and takes every click; its one button is "Agree".
    EXPECT_TRUE(cover.get_can_target());
    EXPECT_EQ(cover.get_width(), mWindow->get_width());
    EXPECT_EQ(cover.get_height(), mWindow->get_height());
    EXPECT_EQ(cover.agreeButton().get_label(), "Agree");
    EXPECT_FALSE(content().get_can_focus()) << "the keyboard cannot reach the pages beneath";
    EXPECT_FALSE(mContext.userDefaults->boolForKey("agree"));

    ASSERT_TRUE(press(cover.agreeButton()));
    settle();
    EXPECT_FALSE(cover.get_visible());
    EXPECT_TRUE(content().get_can_focus());
    EXPECT_NE(fileText(mHome / "config" / "wynfc" / "settings.ini").find("agree=true"), std::string::npos);

    // The next start remembers.
    mWindow.reset();
    mContext.userDefaults = std::make_shared<KeyFileUserDefaults>();
    openWindow(false);
    EXPECT_FALSE(mWindow->disclaimer().get_visible());
}

TEST_F(AppShell, ACorruptSettingsFileAsksAgainAndIsReplaced) {
    const auto file = mHome / "config" / "wynfc" / "settings.ini";
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file) << "\x01\x02 this is [not a key file\n=agree";
    mContext.userDefaults = std::make_shared<KeyFileUserDefaults>();
    openWindow(false);
    ASSERT_TRUE(mWindow->disclaimer().get_visible());
    ASSERT_TRUE(press(mWindow->disclaimer().agreeButton()));
    EXPECT_TRUE(KeyFileUserDefaults().boolForKey("agree"));
}

TEST_F(AppShell, TabsAndHomePageFollowTheReaders) {
    mDriver->tagReader()->setReadingAvailable(false);
    openWindow();
    EXPECT_EQ(content().selectedTab(), ContentView::Tab::Home);
    EXPECT_FALSE(content().homePage().nfcCard().get_visible()) << "no tag reader: no NFC card";
    EXPECT_TRUE(content().homePage().bluetoothCard().get_visible());
    EXPECT_EQ(content().homePage().bluetoothCard().content().title(), "Bluetooth");
    EXPECT_EQ(content().homePage().bluetoothCard().content().subTitle(), "Connect to FEIG Smart HF-BLE");

    mDriver->tagReader()->setReadingAvailable(true);
    ASSERT_TRUE(press(content().tabButton(ContentView::Tab::Setting)));
    EXPECT_EQ(content().selectedTab(), ContentView::Tab::Setting);
    ASSERT_TRUE(press(content().tabButton(ContentView::Tab::Home)));
    EXPECT_TRUE(content().homePage().nfcCard().get_visible()) << "a reader plugged in meanwhile";
    screenshot(*mWindow, "home");

    // Opening a work page hides the tab bar; the page's own close request brings it back.
    ASSERT_TRUE(press(content().homePage().bluetoothCard()));
    ASSERT_NE(content().workPageView(), nullptr);
    settle();
    EXPECT_FALSE(content().tabBar().get_visible());
    EXPECT_FALSE(mContext.tabData->showTab.get());
    ASSERT_TRUE(runUntil([&] { return content().workPageView()->page()->snapshot().mIsLoaded; }));
    ASSERT_TRUE(waitForPage("document.getElementById('close') !== null"));
    pageEval("document.getElementById('close').click(); true");
    ASSERT_TRUE(runUntil([&] { return content().workPageView() == nullptr; }));
    EXPECT_TRUE(content().tabBar().get_visible());
    EXPECT_TRUE(mContext.tabData->showTab.get());
}

TEST_F(AppShell, SettingsPageOffersFeedbackPolicyAndVersion) {
    openWindow();
    ASSERT_TRUE(press(content().tabButton(ContentView::Tab::Setting)));
    SettingPage& settings = content().settingPage();
    EXPECT_EQ(settings.versionCard().content().subTitle(), "1.0.0");
    EXPECT_EQ(settings.policyCard().content().subTitle(), "Agreement of App service.");
    screenshot(*mWindow, "settings");

    // No mail program on this desktop: the alert, closed by CANCEL.
    ASSERT_TRUE(press(settings.feedbackCard()));
    settle();
    ASSERT_TRUE(settings.noMailAlert().get_visible());
    EXPECT_EQ(settings.noMailAlert().title(), "Error");
    EXPECT_EQ(settings.noMailAlert().message(), "This device cannot send emails");
    screenshot(*mWindow, "settings-no-mail");
    ASSERT_TRUE(press(*settings.noMailAlert().button("CANCEL")));
    EXPECT_FALSE(settings.noMailAlert().get_visible());

    // The policy sheet, closed by "Got it".
    ASSERT_TRUE(press(settings.policyCard()));
    settle();
    ASSERT_TRUE(settings.isModal());
    EXPECT_EQ(settings.policySheet().title(), "Personal Information Protection Policy");
    screenshot(*mWindow, "policy");
    ASSERT_TRUE(press(settings.gotItButton()));
    EXPECT_FALSE(settings.isModal());
}

TEST_F(AppShell, FeedbackOpensTheDesktopMailProgram) {
    // A mail program of this test's own: it writes the address it was given to a file.
    const auto received = mHome / "mail.txt";
    const auto script = mHome / "mailer.sh";
    std::ofstream(script) << "#!/bin/sh\nprintf '%s' \"$1\" > '" << received.string() << "'\n";
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    std::filesystem::create_directories(mHome / "data" / "applications");
    std::ofstream(mHome / "data" / "applications" / "test-mailer.desktop")
        << "[Desktop Entry]\nType=Application\nName=Test mailer\nExec=" << script.string()
        << " %u\nMimeType=x-scheme-handler/mailto;\n";
    std::ofstream(mHome / "config" / "mimeapps.list")
        << "[Default Applications]\nx-scheme-handler/mailto=test-mailer.desktop\n";
    mContext.mailComposer = std::make_shared<MailtoComposer>();
    openWindow();
    ASSERT_TRUE(press(content().tabButton(ContentView::Tab::Setting)));
    ASSERT_TRUE(press(content().settingPage().feedbackCard()));
    ASSERT_TRUE(runUntil([&] { return std::filesystem::exists(received) && !fileText(received).empty(); }));
    EXPECT_EQ(
        fileText(received),
        "mailto:feedback@wynfc.example?subject=Feedback%20issues&body=Please%20describe%20your%20issues.");
    EXPECT_FALSE(content().settingPage().noMailAlert().get_visible());
}

} // namespace
} // namespace wynfc::shell::test
