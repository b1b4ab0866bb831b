#pragma once

#include "platform/linux/gtk/session_sheet_service.h"

#include <gtkmm.h>

#include <functional>

namespace wynfc {

// The tag session's sheet: a small modal window with a title, a state mark, the message
// and one button (Cancel while the session scans, Close once it has ended).
class SessionSheetWindow : public Gtk::Window {
public:
    explicit SessionSheetWindow(std::function<void()> onCancel);

    void show(const SessionSheetView& view);
    SessionSheetView view() const { return mView; }

private:
    std::function<void()> mOnCancel;
    SessionSheetView mView;
    Gtk::Box mBox{Gtk::Orientation::VERTICAL, 12};
    Gtk::Label mTitle;
    Gtk::Spinner mSpinner;
    Gtk::Label mMark;
    Gtk::Label mMessage;
    Gtk::Button mButton;
};

} // namespace wynfc
