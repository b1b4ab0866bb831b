// Configuration profiles from the page's side, in the real WebKit engine, and the GTK file
// dialogs that pick their files.

#include "shell_test_support.h"

#include "platform/sim/scripted_file_chooser.h"

#include <nlohmann/json.hpp>

#include <fstream>
#include <sstream>

namespace wynfc::shell::test {
namespace {

namespace fs = std::filesystem;

// Quotes, backslashes, line breaks of every kind, the end of a script element, characters
// outside ASCII: a page that is handed this text through a script must get it unchanged.
const std::string kHostileText = "{\"name\": \"it's \\\"quoted\\\"\",\r\n\"path\": \"C:\\\\drivers\\\\\",\n"
                                 "\"html\": \"</script><script>alert(1)</script>\",\n"
                                 "\"lines\": \"a\xE2\x80\xA8"
                                 "b\xE2\x80\xA9"
                                 "c\", \"note\": \"Gr\xC3\xBC\xC3\x9F"
                                 "e \xF0\x9F\x92\xA1 `${x}`\"}\n";

std::string fileText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The quoted form of a text inside a page script.
std::string scriptString(const std::string& text) {
    return nlohmann::json(text).dump();
}

class ProfilePage : public AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
        mFiles = std::make_shared<ScriptedFileChooser>(mQueue);
        mContext.fileChooser = mFiles;
        openWindow();
        openWorkPage(ReaderMode::NFC);
        // The page's event callback, replaced by one that keeps the profile answers.
        ASSERT_EQ(pageEval("window.profileAnswers = []; window.WyNfcEventCallback = (event, payload) => {"
                           " if (event === 'PROFILE_EVENT') window.profileAnswers.push(payload); }; true"),
                  "true");
    }

    void postFromPage(const std::string& expression) {
        ASSERT_EQ(pageEval("window.webkit.messageHandlers.requestNativeAsync.postMessage(" + expression +
                           "); true"),
                  "true");
    }

    // The n-th profile answer the page received (from 0), as the page holds it.
    nlohmann::json answer(int n) {
        const std::string count = "window.profileAnswers.length > " + std::to_string(n);
        EXPECT_TRUE(waitForPage(count)) << "the page got no answer " << n;
        const auto payload = pageEval("window.profileAnswers[" + std::to_string(n) + "]");
        return payload ? nlohmann::json::parse(*payload) : nlohmann::json();
    }

    std::shared_ptr<ScriptedFileChooser> mFiles;
};

TEST_F(ProfilePage, TheFilesTextReachesThePageAndGoesBackToDiskUnchanged) {
    const fs::path folder = mHome / "profiles";
    fs::create_directories(folder);
    std::ofstream(folder / "hostile.json", std::ios::binary) << kHostileText;

    mFiles->prepareAnswer(folder / "hostile.json");
    postFromPage("'IMPORT_PROFILE:'");
    const nlohmann::json loaded = answer(0);
    EXPECT_EQ(loaded["outcome"], "loaded");
    EXPECT_EQ(loaded["file"], (folder / "hostile.json").string());
    EXPECT_EQ(loaded["text"], kHostileText);
    EXPECT_EQ(pageEval("JSON.parse(window.profileAnswers[0]).text === " + scriptString(kHostileText)),
              "true");

    // The page saves what it got: the same bytes reach the new file.
    mFiles->prepareAnswer(folder / "copy.json");
    postFromPage("'EXPORT_PROFILE:' + JSON.stringify({suggestedName: 'copy.json', "
                 "text: JSON.parse(window.profileAnswers[0]).text})");
    const nlohmann::json saved = answer(1);
    EXPECT_EQ(saved, nlohmann::json::parse(R"({"request":"EXPORT_PROFILE","outcome":"saved","file":")" +
                                           (folder / "copy.json").string() + "\"}"));
    EXPECT_EQ(fileText(folder / "copy.json"), kHostileText);
    ASSERT_EQ(mFiles->dialogs().size(), 2U);
    EXPECT_EQ(mFiles->dialogs()[1].request.suggestedName, "copy.json");
}

// A window of the application's size to hang dialogs on.
class GtkFileDialogs : public GuiTest {
protected:
    void SetUp() override {
        // GTK's dialog keeps its own settings: the machine's schemas (the test's data folders
        // have none), and settings in memory (no dconf without a session bus).
        setenv("GSETTINGS_SCHEMA_DIR", "/usr/share/glib-2.0/schemas", 1);
        setenv("GSETTINGS_BACKEND", "memory", 1);
        GuiTest::SetUp(); // GTK starts here: the window comes after
        mWindow = std::make_unique<Gtk::Window>();
        mWindow->set_title("WyNfc test");
        mWindow->set_default_size(900, 700);
        mWindow->present();
        ASSERT_TRUE(runUntil([&] { return mWindow->get_mapped(); }));
        mChooser = std::make_unique<GtkNativeFileChooser>([this] { return mWindow.get(); });
    }

    void TearDown() override {
        mChooser.reset();
        mWindow.reset();
    }

    // The file dialog on screen, if one is.
    static GtkWindow* openDialog() {
        GtkWindow* found = nullptr;
        GList* toplevels = gtk_window_list_toplevels();
        for (GList* item = toplevels; item != nullptr; item = item->next) {
            if (GTK_IS_FILE_CHOOSER_DIALOG(item->data) && gtk_widget_get_visible(GTK_WIDGET(item->data))) {
                found = GTK_WINDOW(item->data);
            }
        }
        g_list_free(toplevels);
        return found;
    }

    static fs::path currentFolder(GtkWindow* dialog) {
        GFile* folder = gtk_file_chooser_get_current_folder(GTK_FILE_CHOOSER(dialog));
        char* path = folder != nullptr ? g_file_get_path(folder) : nullptr;
        fs::path result = path != nullptr ? path : "";
        g_free(path);
        g_clear_object(&folder);
        return result;
    }

    GtkWindow* waitForDialog() {
        GtkWindow* dialog = nullptr;
        EXPECT_TRUE(runUntil([&] { return (dialog = openDialog()) != nullptr; })) << "no file dialog opened";
        return dialog;
    }

    const FileChooserRequest mRequest{"Export configuration profile", "driver.json", "Configuration profiles",
                                      "*.json"};
    std::unique_ptr<Gtk::Window> mWindow;
    std::unique_ptr<GtkNativeFileChooser> mChooser;
};

TEST_F(GtkFileDialogs, ModalOverTheWindowAndAnsweredWhenClosedOrChosen) {
    std::optional<std::optional<fs::path>> answer;
    mChooser->chooseFileToSave(mRequest, [&](std::optional<fs::path> file) { answer = std::move(file); });
    GtkWindow* dialog = waitForDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(gtk_window_get_transient_for(dialog), mWindow->gobj());
    EXPECT_TRUE(gtk_window_get_modal(dialog));
    EXPECT_STREQ(gtk_window_get_title(dialog), "Export configuration profile");
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
    EXPECT_EQ(gtk_file_chooser_get_action(chooser), GTK_FILE_CHOOSER_ACTION_SAVE);
    char* name = gtk_file_chooser_get_current_name(chooser);
    EXPECT_STREQ(name, "driver.json");
    g_free(name);
    GtkFileFilter* filter = gtk_file_chooser_get_filter(chooser);
    ASSERT_NE(filter, nullptr);
    EXPECT_STREQ(gtk_file_filter_get_name(filter), "Configuration profiles");
    // Dialogs start at home (the folder is listed after the dialog shows).
    EXPECT_TRUE(runUntil([&] { return currentFolder(dialog) == mHome; })) << currentFolder(dialog);
    screenshot(GTK_WIDGET(dialog), "profile-save-dialog");

    // Closed as a person closes a window: no file.
    gtk_window_close(dialog);
    ASSERT_TRUE(runUntil([&] { return answer.has_value(); }));
    EXPECT_EQ(*answer, std::nullopt);
    EXPECT_EQ(mChooser->openDialogs(), 0);
    ASSERT_TRUE(runUntil([] { return openDialog() == nullptr; }));

    // A file chosen and accepted: its path.
    const fs::path file = mHome / "profiles" / "chosen.json";
    fs::create_directories(file.parent_path());
    std::ofstream(file) << "{}";
    answer.reset();
    mChooser->chooseFileToOpen(mRequest, [&](std::optional<fs::path> chosen) { answer = std::move(chosen); });
    dialog = waitForDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(gtk_file_chooser_get_action(GTK_FILE_CHOOSER(dialog)), GTK_FILE_CHOOSER_ACTION_OPEN);
    ASSERT_TRUE(runUntil([&] { return currentFolder(dialog) == mHome; })) << currentFolder(dialog);
    GFile* wanted = g_file_new_for_path(file.c_str());
    ASSERT_TRUE(gtk_file_chooser_set_file(GTK_FILE_CHOOSER(dialog), wanted, nullptr));
    // The dialog selects the file once it has listed the folder.
    EXPECT_TRUE(runUntil([&] {
        GFile* selected = gtk_file_chooser_get_file(GTK_FILE_CHOOSER(dialog));

        const bool same = selected != nullptr && g_file_equal(selected, wanted);
        g_clear_object(&selected);
        return same;
    }));
    g_object_unref(wanted);
    gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);
    ASSERT_TRUE(runUntil([&] { return answer.has_value(); }));
    EXPECT_EQ(*answer, file);

    // The next dialog starts where the last file was chosen. A chooser that goes takes its
    // open dialogs with it, and answers none.
    answer.reset();
    mChooser->chooseFileToSave(mRequest, [&](std::optional<fs::path> chosen) { answer = std::move(chosen); });
    dialog = waitForDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(runUntil([&] { return currentFolder(dialog) == file.parent_path(); }))
        << currentFolder(dialog);
    mChooser.reset();
    EXPECT_TRUE(runUntil([] { return openDialog() == nullptr; }));
    settle();
    EXPECT_FALSE(answer.has_value());
}

} // namespace
} // namespace wynfc::shell::test
