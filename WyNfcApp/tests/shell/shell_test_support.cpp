#include "shell_test_support.h"

#include "platform/console_log.h"
#include "readers/bluetooth_manager.h"
#include "readers/shared_api.h"
#include "shell/shell_style.h"

#include <gtkmm/init.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdlib>

namespace wynfc::shell::test {
namespace {

std::string testName() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return std::string(info->test_suite_name()) + "." + info->name();
}

} // namespace

Timing shortTiming() {
    Timing timing;
    // Long enough for the page's sound answers, which a test may delay by 100 ms, also under a
    // sanitizer on a loaded machine.
    timing.countdownTick = Millis{40} * WYNFC_SANITIZER_SLOWDOWN;
    timing.scanLoopPeriod = Millis{20};
    timing.delayedEnding = Millis{150};
    return timing;
}

void GuiTest::SetUp() {
    mHome = std::filesystem::path(WYNFC_BINARY_DIR) / "gui-test-homes" / testName();
    std::filesystem::remove_all(mHome);
    std::filesystem::create_directories(mHome / "config");
    std::filesystem::create_directories(mHome / "data");
    setenv("XDG_CONFIG_HOME", (mHome / "config").c_str(), 1);
    setenv("XDG_DATA_HOME", (mHome / "data").c_str(), 1);
    // The machine's icons and file types, but none of its programs (no mail program).
    std::filesystem::create_directories(mHome / "system-data");
    std::filesystem::create_directory_symlink("/usr/share/icons", mHome / "system-data" / "icons");
    std::filesystem::create_directory_symlink("/usr/share/mime", mHome / "system-data" / "mime");
    setenv("XDG_DATA_DIRS", (mHome / "system-data").c_str(), 1);
    setenv("HOME", mHome.c_str(), 1);
    if (std::getenv("WYNFC_TEST_LOG") == nullptr) {
        setLogSink([](const std::string&) {});
    }
    static bool started = false;
    if (!started) {
        started = true;
        ASSERT_TRUE(gtk_init_check()) << "no display: run the GUI tests through scripts/with-virtual-display";
        Gtk::init_gtkmm_internals();
        installShellStyle();
    }
}

bool GuiTest::runUntil(const std::function<bool()>& done, Millis timeout, Millis recheck) {
    bool timedOut = false;
    auto limit = Glib::signal_timeout().connect(
        [&] {
            timedOut = true;
            return false;
        },
        static_cast<unsigned>(timeout.count()));
    auto wake = Glib::signal_timeout().connect([] { return true; }, static_cast<unsigned>(recheck.count()));
    bool result = done();
    while (!result && !timedOut) {
        g_main_context_iteration(nullptr, TRUE);
        result = done();
    }
    limit.disconnect();
    wake.disconnect();
    return result;
}

bool GuiTest::press(Gtk::Button& button, Millis timeout) {
    bool clicked = false;
    auto connection = button.signal_clicked().connect([&] { clicked = true; });
    // GTK clicks an activated button once its pressed look has shown.
    if (!button.activate()) {
        connection.disconnect();
        return false;
    }
    runUntil([&] { return clicked; }, timeout);
    connection.disconnect();
    return clicked;
}

void GuiTest::settle() {
    while (g_main_context_pending(nullptr)) {
        g_main_context_iteration(nullptr, FALSE);
    }
}

std::filesystem::path GuiTest::screenshot(Gtk::Widget& widget, const std::string& name) {
    return screenshot(widget.gobj(), name);
}

std::filesystem::path GuiTest::screenshot(GtkWidget* widget, const std::string& name) {
    GtkWidget* root = GTK_WIDGET(gtk_widget_get_root(widget));
    EXPECT_TRUE(runUntil([&] { return gtk_widget_get_mapped(root) && gtk_widget_get_width(root) > 0; }))
        << name << ": the window is not on screen";
    const int width = gtk_widget_get_width(root);
    const int height = gtk_widget_get_height(root);
    // What the window shows once it has painted the latest changes; a widget that has just
    // changed may have no picture until its next frame, and the web view shows what its web
    // process drew a few frames later still.
    GskRenderNode* node = nullptr;
    const auto settled = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
    for (int frame = 0; frame < 60 && (node == nullptr || std::chrono::steady_clock::now() < settled);
         ++frame) {
        if (node != nullptr) {
            gsk_render_node_unref(node);
            node = nullptr;
        }
        if (GdkFrameClock* clock = gtk_widget_get_frame_clock(root)) {
            bool painted = false;
            const gulong handler = g_signal_connect(
                clock, "after-paint",
                G_CALLBACK(+[](GdkFrameClock*, gpointer flag) { *static_cast<bool*>(flag) = true; }),
                &painted);
            gtk_widget_queue_draw(root);
            runUntil([&] { return painted; }, Millis{5000});
            g_signal_handler_disconnect(clock, handler);
        }
        GdkPaintable* paintable = gtk_widget_paintable_new(root);
        GtkSnapshot* snapshot = gtk_snapshot_new();
        gdk_paintable_snapshot(paintable, GDK_SNAPSHOT(snapshot), width, height);
        node = gtk_snapshot_free_to_node(snapshot);
        g_object_unref(paintable);
    }
    EXPECT_NE(node, nullptr) << "nothing drawn for " << name;
    const auto file = std::filesystem::path(WYNFC_SCREENSHOT_DIR) / (name + ".png");
    if (node != nullptr) {
        std::filesystem::create_directories(file.parent_path());
        GskRenderer* renderer = gtk_native_get_renderer(gtk_widget_get_native(root));
        graphene_rect_t bounds;
        graphene_rect_init(&bounds, 0, 0, static_cast<float>(width), static_cast<float>(height));
        GdkTexture* texture = gsk_renderer_render_texture(renderer, node, &bounds);
        EXPECT_TRUE(gdk_texture_save_to_png(texture, file.c_str()));
        g_object_unref(texture);
        gsk_render_node_unref(node);
    }
    return file;
}

void AppTest::SetUp() {
    GuiTest::SetUp();
    mQueue = std::make_shared<GLibMainQueue>();
    const auto bundle = std::make_shared<FolderBundle>(WYNFC_RESOURCES_DIR, "1.0.0");
    MainApp::startUp(*bundle);
    mDriver = std::make_unique<SimulatedDriver>(
        VirtualTag::load(std::filesystem::path(WYNFC_RESOURCES_DIR) / "samples" / "full_feature.json"),
        shortTiming());
    mSheets = std::make_shared<SessionSheetService>(mDriver->tagReader(), mQueue, shortTiming().delayedEnding,
                                                    [this]() -> Gtk::Window* { return mWindow.get(); });
    mContext.bundle = bundle;
    mContext.userDefaults = std::make_shared<KeyFileUserDefaults>();
    mContext.mailComposer = std::make_shared<MailtoComposer>();
    mContext.fileChooser =
        std::make_shared<GtkNativeFileChooser>([this]() -> Gtk::Window* { return mWindow.get(); });
    mContext.platform = {mSheets, mDriver->centralFactory(*mQueue), mQueue, shortTiming()};
}

void AppTest::TearDown() {
    if (mWindow) {
        mWindow->contentView().closeWorkPage();
        settle();
    }
    // Jobs still ending get no main queue any more, so they end without waiting for it.
    mQueue->quit();
    for (const auto& weakPage : mContext.openedPages) {
        if (auto page = weakPage.lock()) {
            page->waitForJobs();
        }
    }
    mWindow.reset();
    settle();
}

void AppTest::openWindow(bool agreed) {
    if (agreed) {
        mContext.userDefaults->setBool("agree", true);
    }
    mWindow = std::make_unique<MainWindow>(mContext, mTitle);
    mWindow->present();
    ASSERT_TRUE(runUntil([&] { return mWindow->get_mapped() && mWindow->get_width() > 0; }));
}

WorkPageView& AppTest::openWorkPage(ReaderMode mode) {
    content().openWorkPage(mode);
    WorkPageView* view = content().workPageView();
    EXPECT_NE(view, nullptr);
    EXPECT_TRUE(runUntil([&] { return view->page()->snapshot().mIsLoaded; }));
    EXPECT_TRUE(waitForPage("window.readerType === '" + std::string(rawValue(mode)) + "'"));
    return *view;
}

std::optional<std::string> AppTest::pageEval(const std::string& script) {
    WorkPageView* view = content().workPageView();
    if (view == nullptr) {
        return std::nullopt;
    }
    std::optional<std::string> result;
    bool answered = false;
    view->webView().evaluateForResult(script, [&](std::optional<std::string> value) {
        result = std::move(value);
        answered = true;
    });
    runUntil([&] { return answered; }, Millis{10000});
    return result;
}

bool AppTest::waitForPage(const std::string& condition, Millis timeout) {
    return runUntil([&] { return pageEval("String(" + condition + ")") == "true"; }, timeout, Millis{100});
}

void AppTest::connectSimulatedReader(WorkPageView& view) {
    DeviceSheet& sheet = view.deviceSheet();
    ASSERT_TRUE(runUntil([&] { return !sheet.rows().empty(); })) << "the simulated reader was not found";
    sheet.activateRow(0);
    ASSERT_TRUE(runUntil([&] {
        BluetoothManager* manager = view.page()->bluetoothManager();
        return manager != nullptr && manager->hasTransferCharacteristic() &&
               view.connectedAlert().get_visible();
    }));
    view.connectedAlert().button("OK")->activate();
    sheet.okButton().activate();
    ASSERT_TRUE(runUntil([&] { return !sheet.get_visible(); }));
}

long long AppTest::driverValue(const std::string& area, const std::string& item) {
    return tagValue(*mDriver->tag(), area, item);
}

long long tagValue(const VirtualTag& tag, const std::string& area, const std::string& item) {
    const auto properties =
        nlohmann::json::parse(sharedApi().getNFCProductPropertiesJsonByName(area).value());
    const auto first = properties.at("startAddress").get<std::size_t>() / 4 * 4;
    const auto count = properties.at("normBlockCount").get<std::size_t>() * 4;
    const Bytes memory = tag.image().memory;
    const std::vector<int> bytes(memory.begin() + static_cast<std::ptrdiff_t>(first),
                                 memory.begin() + static_cast<std::ptrdiff_t>(first + count));
    for (const auto& value :
         nlohmann::json::parse(sharedApi().getJsonValuesFromDataByName(area, bytes).value())) {
        if (value.at("name") == item) {
            return value.at("value").get<long long>();
        }
    }
    throw std::out_of_range(area + " has no item " + item);
}

} // namespace wynfc::shell::test
