#pragma once

// The configuration page alone in the real WebKit, hosted by the test: the test reads what
// the page posts, answers its requests and feeds it the events a read would send.

#include "shell_test_support.h"

#include "platform/linux/gtk/webkit_web_view_host.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace wynfc::shell::test {

// The events of `wynfc read --json` on a sample driver (a name in the samples folder, or the
// path of a tag image), in the order the page gets them.
std::vector<std::pair<std::string, std::string>> recordedRead(const std::string& sample);

class PageTest : public GuiTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Loads the page from `resources` and waits for its data; without `answerPageData` the
    // page's request for them waits for answerPageData().
    void loadPage(const std::filesystem::path& resources, bool answerPageData = true);
    void answerPageData();
    // Loads another page of the folder in the same host, waiting for nothing.
    void loadFile(const std::filesystem::path& folder, const std::string& file);
    std::optional<std::string> eval(const std::string& script);
    bool waitFor(const std::string& condition, Millis timeout = Millis{10000});
    // Calls the page's WyNfcEventCallback as the native side does.
    void feed(const std::string& event, const std::string& payload);
    void feedRead(const std::string& sample);
    // Types into the control of `path` (data-path), or flips a switch ("0"/"1"), or picks a
    // choice, as a person would.
    void set(const std::string& path, const std::string& value);
    std::string valueAt(const std::string& path);
    bool click(const std::string& id);
    // Sizes the window and waits until the page has its new size.
    void resize(int width, int height);
    // What the page shows now, as the web process draws it, under the build folder.
    std::filesystem::path pageScreenshot(const std::string& name);
    // Texts the page posted since the last call, each "METHOD:DATA".
    std::vector<std::string> takePosted();
    std::vector<std::string> posted(const std::string& method) const;

    std::unique_ptr<Gtk::Window> mWindow;
    std::shared_ptr<WebKitWebViewHost> mView;

private:
    class Recorder;
    std::shared_ptr<Recorder> mRecorder;
    std::filesystem::path mResources;
    bool mAnswerPageData = true;
};

} // namespace wynfc::shell::test
