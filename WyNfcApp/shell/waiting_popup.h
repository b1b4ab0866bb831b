#pragma once

#include "shell/bar_progress.h"
#include "work/work_page_state.h"

#include <gtkmm.h>

#include <functional>

namespace wynfc::shell {

// The waiting popup of the Bluetooth reader's jobs: mode title, hint, the status line in
// its colours, the progress bar, the error detail, and Cancel.
class WaitingPopup : public Gtk::Box {
public:
    explicit WaitingPopup(std::function<void()> onCancel);
    ~WaitingPopup() override;

    void show(const WorkPageState& state);

    std::string title() const { return mTitle.get_text(); }
    std::string statusText() const { return mStatus.get_text(); }
    std::string errorText() const { return mError.get_visible() ? mError.get_text() : ""; }
    double progress() const { return mProgress.get_fraction(); }
    Gtk::Button& cancelButton() { return mCancel; }

private:
    Gtk::Box mPanel{Gtk::Orientation::VERTICAL, 14};
    Gtk::Label mTitle;
    Gtk::Label mHint;
    Gtk::Label mStatus;
    BarProgress mProgress;
    Gtk::Label mError;
    Gtk::Button mCancel{"Cancel"};
    Glib::RefPtr<Gtk::CssProvider> mStatusColors = Gtk::CssProvider::create();
    std::string mStatusCss;
};

// A colour of the status panel as CSS.
std::string cssColor(const StatusColor& color);

} // namespace wynfc::shell
