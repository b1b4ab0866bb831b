#pragma once

#include <gtkmm.h>

#include <functional>
#include <string>
#include <vector>

namespace wynfc::shell {

// Makes `cover` a dimmed layer over everything it lies on, which takes every click, holding
// `panel` as a white card: centred and `panelWidth` wide, or with 0 filling the cover but for
// a margin.
void dressAsCover(Gtk::Box& cover, Gtk::Box& panel, int panelWidth);

// An alert inside the window: a dimmed layer over everything, which takes every click,
// with a small panel holding a title, a message and its buttons. Put it in a Gtk::Overlay
// and show it with set_visible.
class AlertPanel : public Gtk::Box {
public:
    struct Action {
        std::string label;
        std::function<void()> onPress;
    };

    AlertPanel(const std::string& title, const std::string& message, std::vector<Action> actions);

    std::string title() const { return mTitle.get_text(); }
    std::string message() const { return mMessage.get_text(); }
    // The button with this label, for the hosts' own use and tests.
    Gtk::Button* button(const std::string& label);

private:
    Gtk::Box mPanel{Gtk::Orientation::VERTICAL, 12};
    Gtk::Label mTitle;
    Gtk::Label mMessage;
    Gtk::Box mButtons{Gtk::Orientation::HORIZONTAL, 8};
    std::vector<Gtk::Button*> mButtonList;
};

// A full-window cover: the dimmed layer with a white panel of the given share of the
// window's size, holding a title and a scrolled body. Its size follows the window: the
// cover lays its panel out itself (a box would give the panel only its natural size).
class CoverPanel : public Gtk::Widget {
public:
    // widthInset: the panel is as wide as the window less this; heightShare: its part of
    // the window's height.
    CoverPanel(const std::string& title, int widthInset, double heightShare);
    ~CoverPanel() override;

    // The scrolled body's content box.
    Gtk::Box& body() { return mBody; }
    std::string title() const { return mTitle.get_text(); }

protected:
    Gtk::SizeRequestMode get_request_mode_vfunc() const override;
    void measure_vfunc(Gtk::Orientation orientation, int forSize, int& minimum, int& natural,
                       int& minimumBaseline, int& naturalBaseline) const override;
    void size_allocate_vfunc(int width, int height, int baseline) override;

private:
    int mWidthInset;
    double mHeightShare;
    Gtk::Box mPanel{Gtk::Orientation::VERTICAL, 16};
    Gtk::Label mTitle;
    Gtk::ScrolledWindow mScroll;
    Gtk::Box mBody{Gtk::Orientation::VERTICAL, 16};
};

} // namespace wynfc::shell
