#pragma once

#include "shell/content_view.h"
#include "shell/disclaimer_cover.h"
#include "shell/shell_context.h"

#include <gtkmm.h>

#include <functional>
#include <string>

namespace wynfc::shell {

// The application's window: the tab view, with the disclaimer over it until agreed.
class MainWindow : public Gtk::Window {
public:
    MainWindow(ShellContext& context, const std::string& title);
    // A title that names the readers: asked again whenever the home page hears that the tag
    // readers changed.
    MainWindow(ShellContext& context, std::function<std::string()> title);
    ~MainWindow() override;

    ContentView& contentView() { return mContent; }
    DisclaimerCover& disclaimer() { return mDisclaimer; }

private:
    void updateCovered();

    // Declared first: the views below put their covers into it and take them out again.
    Gtk::Overlay mOverlay;
    ContentView mContent;
    DisclaimerCover mDisclaimer;
};

} // namespace wynfc::shell
