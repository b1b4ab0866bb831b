#include "shell/main_window.h"

namespace wynfc::shell {

MainWindow::MainWindow(ShellContext& context, const std::string& title)
    : mContent(context, mOverlay), mDisclaimer(context.userDefaults) {
    set_title(title);
    set_default_size(900, 720);
    add_css_class("wynfc");
    mOverlay.set_child(mContent);
    mOverlay.add_overlay(mDisclaimer);
    set_child(mOverlay);
    mDisclaimer.showIfNotAgreed();
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

} // namespace wynfc::shell
