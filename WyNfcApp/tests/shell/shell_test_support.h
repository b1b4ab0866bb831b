#pragma once

// The application's window on a simulated driver, on the test's own virtual display, in the
// real GTK and WebKit engines. Every test case runs in a process of its own.

#include "platform/linux/application_bundle.h"
#include "platform/linux/glib_main_queue.h"
#include "platform/linux/gtk/gtk_file_chooser.h"
#include "platform/linux/gtk/session_sheet_service.h"
#include "platform/linux/key_file_user_defaults.h"
#include "platform/linux/mailto_composer.h"
#include "platform/sim/folder_bundle.h"
#include "shell/main_app.h"
#include "shell/main_window.h"
#include "shell/simulated_driver.h"

#include <gtest/gtest.h>
#include <gtkmm.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace wynfc::shell::test {

// The product's state machines with short ticks.
Timing shortTiming();

// A value of an area as the tag's memory holds it now.
long long tagValue(const VirtualTag& tag, const std::string& area, const std::string& item);

// Starts GTK for this process, with settings and data folders of the test's own.
class GuiTest : public ::testing::Test {
protected:
    void SetUp() override;

    // Runs the main loop until `done` holds, or the timeout passes; true when it held. The
    // loop sleeps between events; `recheck` wakes it to look again when nothing else would.
    bool runUntil(const std::function<bool()>& done, Millis timeout = Millis{20000},
                  Millis recheck = Millis{50});
    // Runs what the main loop has ready.
    void settle();
    // Activates the button as a click or the keyboard would, and waits for its click; false
    // when it did not click (insensitive, hidden).
    bool press(Gtk::Button& button, Millis timeout = Millis{3000});
    // A picture of the widget's window as a person sees it, under the build folder.
    std::filesystem::path screenshot(Gtk::Widget& widget, const std::string& name);
    // The same for a widget that GTK made, without a C++ wrapper that would outlive it.
    std::filesystem::path screenshot(GtkWidget* widget, const std::string& name);

    std::filesystem::path mHome; // the test's own folder (configuration, data)
};

// The whole application window on a simulated driver.
class AppTest : public GuiTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Opens the window, titled by mTitle; with `agreed` the disclaimer was accepted on an
    // earlier start.
    void openWindow(bool agreed = true);
    ContentView& content() { return mWindow->contentView(); }
    // Opens a work page and waits until its configuration page has loaded.
    WorkPageView& openWorkPage(ReaderMode mode);
    // Runs the script in the configuration page and returns its result as text.
    std::optional<std::string> pageEval(const std::string& script);
    // Waits until the script's result in the page is "true".
    bool waitForPage(const std::string& condition, Millis timeout = Millis{20000});
    // Connects the device sheet to the simulated Bluetooth reader and closes the sheet.
    void connectSimulatedReader(WorkPageView& view);
    // A value of an area as the driver's memory holds it now.
    long long driverValue(const std::string& area, const std::string& item);

    std::shared_ptr<GLibMainQueue> mQueue;
    std::unique_ptr<SimulatedDriver> mDriver;
    std::shared_ptr<SessionSheetService> mSheets;
    ShellContext mContext;
    std::unique_ptr<MainWindow> mWindow;
    std::function<std::string()> mTitle = [] { return std::string("WyNfc test"); };
};

} // namespace wynfc::shell::test
