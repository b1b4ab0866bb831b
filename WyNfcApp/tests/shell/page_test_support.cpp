#include "page_test_support.h"

#include "platform/sim/folder_bundle.h"
#include "web/page_events.h"
#include "web/web_view.h"
#include "work/page_data.h"

#include <nlohmann/json.hpp>
#include <webkit/webkit.h>

#include <array>
#include <cstdio>

namespace wynfc::shell::test {

std::vector<std::pair<std::string, std::string>> recordedRead(const std::string& sample) {
    const std::string tag = sample.find('/') != std::string::npos
                                ? sample
                                : std::string(WYNFC_RESOURCES_DIR) + "/samples/" + sample + ".json";
    const std::string command = std::string(WYNFC_CLI) + " read --json --tag '" + tag + "'";
    std::vector<std::pair<std::string, std::string>> events;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        ADD_FAILURE() << "cannot run " << command;
        return events;
    }
    std::string output;
    std::array<char, 4096> buffer{};
    while (size_t n = fread(buffer.data(), 1, buffer.size(), pipe)) {
        output.append(buffer.data(), n);
    }
    pclose(pipe);
    size_t start = 0;
    while (start < output.size()) {
        const size_t end = std::min(output.find('\n', start), output.size());
        const auto line = nlohmann::json::parse(output.substr(start, end - start), nullptr, false);
        if (line.is_object() && line.contains("event")) {
            events.emplace_back(line["event"].get<std::string>(), line["payload"].get<std::string>());
        }
        start = end + 1;
    }
    EXPECT_FALSE(events.empty()) << "no events from " << command;
    return events;
}

class PageTest::Recorder : public ScriptMessageHandler {
public:
    explicit Recorder(std::function<void(const std::string&)> answer) : mAnswer(std::move(answer)) {}
    void didReceiveScriptMessage(const ScriptMessage& message) override {
        if (const std::string* text = message.text()) {
            all.push_back(*text);
            fresh.push_back(*text);
            mAnswer(*text);
        }
    }
    std::vector<std::string> all;
    std::vector<std::string> fresh;

private:
    std::function<void(const std::string&)> mAnswer;
};

void PageTest::SetUp() {
    GuiTest::SetUp();
    mWindow = std::make_unique<Gtk::Window>();
    mWindow->set_default_size(1024, 768);
    mWindow->set_title("Configuration page");
}

void PageTest::TearDown() {
    mWindow.reset();
    mView.reset();
    settle();
}

void PageTest::loadPage(const std::filesystem::path& resources, bool answerPageData) {
    mResources = resources;
    mAnswerPageData = answerPageData;
    mView = std::make_shared<WebKitWebViewHost>(resources);
    mRecorder = std::make_shared<Recorder>([this](const std::string& text) {
        if (mAnswerPageData && text.rfind(std::string(kGetPageDataRequest) + ":", 0) == 0) {
            this->answerPageData();
        }
    });
    mView->addScriptMessageHandler(mRecorder, kRequestHandlerName);
    gtk_window_set_child(mWindow->gobj(), mView->widget());
    mWindow->present();
    mView->load(fileUrl(resources / "index.html"), Millis{60000});
    if (!answerPageData) {
        ASSERT_TRUE(runUntil([&] { return !posted(kGetPageDataRequest).empty(); }));
        return;
    }
    ASSERT_TRUE(waitFor("typeof WyPage === 'object' && WyPage.editor.map !== null"))
        << "the page did not load with its data";
    takePosted();
}

void PageTest::loadFile(const std::filesystem::path& folder, const std::string& file) {
    mResources = folder;
    mAnswerPageData = false;
    mView = std::make_shared<WebKitWebViewHost>(folder);
    mRecorder = std::make_shared<Recorder>([](const std::string&) {});
    mView->addScriptMessageHandler(mRecorder, kRequestHandlerName);
    gtk_window_set_child(mWindow->gobj(), mView->widget());
    mWindow->present();
    mView->load(fileUrl(folder / file), Millis{60000});
}

void PageTest::answerPageData() {
    feed(kPageDataCallback, pageDataPayload(FolderBundle(mResources, "1.0.0")));
}

std::optional<std::string> PageTest::eval(const std::string& script) {
    std::optional<std::string> result;
    bool answered = false;
    mView->evaluateForResult(script, [&](std::optional<std::string> value) {
        result = std::move(value);
        answered = true;
    });
    runUntil([&] { return answered; }, Millis{10000});
    return result;
}

bool PageTest::waitFor(const std::string& condition, Millis timeout) {
    return runUntil([&] { return eval("String(" + condition + ")") == "true"; }, timeout, Millis{50});
}

void PageTest::feed(const std::string& event, const std::string& payload) {
    mView->evaluateScript(eventScript(event, payload));
}

void PageTest::feedRead(const std::string& sample) {
    for (const auto& [event, payload] : recordedRead(sample)) {
        feed(event, payload);
    }
    // The scripts run in order; once this one has, all have.
    ASSERT_EQ(eval("true"), "true");
}

void PageTest::set(const std::string& path, const std::string& value) {
    const std::string quotedPath = nlohmann::json(path).dump();
    const std::string quotedValue = nlohmann::json(value).dump();
    const auto done =
        eval("(() => { const c = document.querySelector('[data-path=' + JSON.stringify(" + quotedPath +
             ") + ']'); if (!c || c.tagName === 'OUTPUT') return 'missing'; c.focus(); "
             "if (c.type === 'checkbox') { if (c.checked !== (" +
             quotedValue + " === '1')) c.click(); return 'ok'; } c.value = " + quotedValue +
             "; c.dispatchEvent(new Event(c.tagName === 'SELECT' ? 'change' : 'input')); "
             "return 'ok'; })()");
    ASSERT_EQ(done, "ok") << "no editable control for " << path;
}

std::string PageTest::valueAt(const std::string& path) {
    return eval("(() => { const c = document.querySelector('[data-path=' + JSON.stringify(" +
                nlohmann::json(path).dump() +
                ") + ']'); if (!c) return '<none>'; if (c.tagName === 'OUTPUT') return c.textContent; "
                "return c.type === 'checkbox' ? (c.checked ? '1' : '0') : c.value; })()")
        .value_or("<no answer>");
}

bool PageTest::click(const std::string& id) {
    return eval("(() => { const b = document.getElementById('" + id +
                "'); if (!b || b.disabled || b.hidden) return false; b.click(); return true; })()") == "true";
}

void PageTest::resize(int width, int height) {
    mWindow->set_default_size(width, height);
    ASSERT_TRUE(runUntil([&] {
        return eval("window.innerWidth + 'x' + window.innerHeight") ==
               std::to_string(width) + "x" + std::to_string(height);
    })) << "the page did not take the size "
        << width << "x" << height;
}

std::filesystem::path PageTest::pageScreenshot(const std::string& name) {
    struct Shot {
        GdkTexture* texture = nullptr;
        bool done = false;
    } shot;
    // Two animation frames: the page has laid out and painted what it was last given.
    eval("new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(r))); true");
    webkit_web_view_get_snapshot(
        WEBKIT_WEB_VIEW(mView->widget()), WEBKIT_SNAPSHOT_REGION_VISIBLE, WEBKIT_SNAPSHOT_OPTIONS_NONE,
        nullptr,
        +[](GObject* view, GAsyncResult* result, gpointer data) {
            auto* s = static_cast<Shot*>(data);
            s->texture = webkit_web_view_get_snapshot_finish(WEBKIT_WEB_VIEW(view), result, nullptr);
            s->done = true;
        },
        &shot);
    runUntil([&] { return shot.done; }, Millis{10000});
    const auto file = std::filesystem::path(WYNFC_SCREENSHOT_DIR) / (name + ".png");
    EXPECT_NE(shot.texture, nullptr) << "no picture of the page for " << name;
    if (shot.texture != nullptr) {
        std::filesystem::create_directories(file.parent_path());
        EXPECT_TRUE(gdk_texture_save_to_png(shot.texture, file.c_str()));
        g_object_unref(shot.texture);
    }
    return file;
}

std::vector<std::string> PageTest::takePosted() {
    eval("true"); // messages posted before now have arrived
    settle();
    std::vector<std::string> taken;
    taken.swap(mRecorder->fresh);
    return taken;
}

std::vector<std::string> PageTest::posted(const std::string& method) const {
    std::vector<std::string> found;
    for (const std::string& text : mRecorder->all) {
        if (text.rfind(method + ":", 0) == 0) {
            found.push_back(text.substr(method.size() + 1));
        }
    }
    return found;
}

} // namespace wynfc::shell::test
