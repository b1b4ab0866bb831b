#include "shell/alert_panel.h"

#include "shell/accessible_name.h"

#include <algorithm>

namespace wynfc::shell {

void dressAsCover(Gtk::Box& cover, Gtk::Box& panel, int panelWidth) {
    cover.add_css_class("cover-dim");
    cover.set_hexpand(true);
    cover.set_vexpand(true);
    panel.add_css_class("cover-panel");
    panel.set_vexpand(true);
    if (panelWidth > 0) {
        panel.set_halign(Gtk::Align::CENTER);
        panel.set_valign(Gtk::Align::CENTER);
        panel.set_size_request(panelWidth, -1);
    } else {
        panel.set_margin(24);
    }
    cover.append(panel);
}

AlertPanel::AlertPanel(const std::string& title, const std::string& message, std::vector<Action> actions)
    : Gtk::Box(Gtk::Orientation::VERTICAL) {
    mTitle.set_text(title);
    mTitle.add_css_class("alert-title");
    mTitle.set_wrap(true);
    mMessage.set_text(message);
    mMessage.set_wrap(true);
    mMessage.set_max_width_chars(42);
    mMessage.set_justify(Gtk::Justification::CENTER);
    mButtons.set_halign(Gtk::Align::CENTER);
    for (auto& action : actions) {
        auto* button = Gtk::make_managed<Gtk::Button>(action.label);
        button->add_css_class("alert-button");
        button->signal_clicked().connect(std::move(action.onPress));
        mButtons.append(*button);
        mButtonList.push_back(button);
    }
    mPanel.append(mTitle);
    mPanel.append(mMessage);
    mPanel.append(mButtons);
    dressAsCover(*this, mPanel, 320);
    setAccessibleName(*this, title);
}

Gtk::Button* AlertPanel::button(const std::string& label) {
    const auto it = std::find_if(mButtonList.begin(), mButtonList.end(),
                                 [&](Gtk::Button* button) { return button->get_label().raw() == label; });
    return it != mButtonList.end() ? *it : nullptr;
}

CoverPanel::CoverPanel(const std::string& title, int widthInset, double heightShare)
    : mWidthInset(widthInset), mHeightShare(heightShare) {
    add_css_class("cover-dim");
    set_hexpand(true);
    set_vexpand(true);
    mPanel.add_css_class("cover-panel");
    mTitle.set_text(title);
    mTitle.add_css_class("cover-title");
    mTitle.set_wrap(true);
    mTitle.set_xalign(0);
    mScroll.set_policy(Gtk::PolicyType::NEVER, Gtk::PolicyType::AUTOMATIC);
    mScroll.set_overlay_scrolling(false); // the scroll bar stays visible: there is more to read
    mScroll.set_vexpand(true);
    mScroll.set_child(mBody);
    mPanel.append(mTitle);
    mPanel.append(mScroll);
    mPanel.set_parent(*this);
    setAccessibleName(*this, title);
}

CoverPanel::~CoverPanel() {
    mPanel.unparent();
}

Gtk::SizeRequestMode CoverPanel::get_request_mode_vfunc() const {
    return Gtk::SizeRequestMode::CONSTANT_SIZE;
}

// The cover asks for nothing: it takes the size of what it covers.
void CoverPanel::measure_vfunc(Gtk::Orientation, int, int& minimum, int& natural, int& minimumBaseline,
                               int& naturalBaseline) const {
    minimum = natural = 0;
    minimumBaseline = naturalBaseline = -1;
}

// The panel takes its share of whatever size the window has now, centred, and never less
// than it needs.
void CoverPanel::size_allocate_vfunc(int width, int height, int /*baseline*/) {
    int minimumWidth = 0;
    int ignored = 0;
    int baselineIgnored = 0;
    mPanel.measure(Gtk::Orientation::HORIZONTAL, -1, minimumWidth, ignored, baselineIgnored, baselineIgnored);
    const int panelWidth = std::max(minimumWidth, width - mWidthInset);
    int minimumHeight = 0;
    mPanel.measure(Gtk::Orientation::VERTICAL, panelWidth, minimumHeight, ignored, baselineIgnored,
                   baselineIgnored);
    const int panelHeight = std::max(minimumHeight, static_cast<int>(height * mHeightShare));
    mPanel.size_allocate(
        Gtk::Allocation((width - panelWidth) / 2, (height - panelHeight) / 2, panelWidth, panelHeight), -1);
}

} // namespace wynfc::shell
