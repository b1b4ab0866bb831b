#include "shell/main_window.h"

namespace wynfc::shell {

MainWindow::MainWindow(ShellContext& context, const std::string& title)
    : MainWindow(context, [title] { return title; }) {}

MainWindow::MainWindow(ShellContext& context, std::function<std::string()> title)
    : mContent(context, mOverlay), mDisclaimer(context.userDefaults) {
    set_title(title());
    mContent.homePage().signalReadersChanged().connect([this, title] { set_title(title()); });
    set_default_size(900, 720);
    add_css_class("wynfc");
    mOverlay.set_child(mContent);
    mOverlay.add_overlay(mDisclaimer);
    set_child(mOverlay);
    // While a cover is up, nothing beneath it can be reached: not by the pointer (the cover
    // takes it) and not by the keyboard.
    for (Gtk::Widget* child = mOverlay.get_first_child(); child != nullptr;
         child = child->get_next_sibling()) {
        if (child != &mContent) {
            child->property_visible().signal_changed().connect([this] { updateCovered(); });
        }
    }
    mDisclaimer.showIfNotAgreed();
    updateCovered();
    // Leaving with a work page open ends its page the way its close request would.
    signal_close_request().connect(
        [this] {
            mContent.closeWorkPage();
            return false;
        },
        false);
}

MainWindow::~MainWindow() {
    mOverlay.remove_overlay(mDisclaimer);
}

void MainWindow::updateCovered() {
    bool covered = false;
    for (Gtk::Widget* child = mOverlay.get_first_child(); child != nullptr;
         child = child->get_next_sibling()) {
        covered = covered || (child != &mContent && child->get_visible());
    }
    mContent.set_can_focus(!covered);
}

} // namespace wynfc::shell
