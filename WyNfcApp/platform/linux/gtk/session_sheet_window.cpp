#include "platform/linux/gtk/session_sheet_window.h"

namespace wynfc {

SessionSheetWindow::SessionSheetWindow(std::function<void()> onCancel) : mOnCancel(std::move(onCancel)) {
    set_title("Ready to Scan");
    set_modal(true);
    set_resizable(false);
    set_default_size(360, -1);
    add_css_class("session-sheet");

    mTitle.set_markup("<span size='x-large' weight='bold'>Ready to Scan</span>");
    mSpinner.set_size_request(48, 48);
    mMark.set_visible(false);
    mMessage.set_wrap(true);
    mMessage.set_max_width_chars(40);
    mMessage.set_justify(Gtk::Justification::CENTER);
    mButton.set_label("Cancel");
    mButton.set_halign(Gtk::Align::CENTER);
    mButton.signal_clicked().connect([this] {
        if (mView.phase == SessionSheetView::Phase::Scanning && mOnCancel) {
            mOnCancel();
        } else {
            set_visible(false);
        }
    });
    signal_close_request().connect(
        [this] {
            if (mView.phase == SessionSheetView::Phase::Scanning && mOnCancel) {
                mOnCancel(); // closing the sheet is the user's cancel
                return true;
            }
            return false;
        },
        false);

    mBox.set_margin(24);
    mBox.append(mTitle);
    mBox.append(mSpinner);
    mBox.append(mMark);
    mBox.append(mMessage);
    mBox.append(mButton);
    set_child(mBox);
}

void SessionSheetWindow::show(const SessionSheetView& view) {
    mView = view;
    const bool scanning = view.phase == SessionSheetView::Phase::Scanning;
    mSpinner.set_visible(scanning);
    mSpinner.set_spinning(scanning);
    mMark.set_visible(!scanning);
    if (view.phase == SessionSheetView::Phase::Succeeded) {
        mMark.set_markup("<span size='xx-large' foreground='#64BB5C'>✔</span>");
    } else if (view.phase == SessionSheetView::Phase::Failed) {
        mMark.set_markup("<span size='xx-large' foreground='#E84026'>✖</span>");
    }
    mMessage.set_text(view.message);
    mButton.set_label(scanning ? "Cancel" : "Close");

    present();
}

} // namespace wynfc
