#include "shell/button_item.h"

#include "shell/accessible_name.h"

namespace wynfc::shell {

ButtonItemContent::ButtonItemContent(const ButtonItem& item) : Gtk::Box(Gtk::Orientation::HORIZONTAL, 16) {
    if (item.icon) {
        auto* icon = Gtk::make_managed<Gtk::Image>(item.icon->string());
        icon->set_pixel_size(40);
        icon->set_valign(Gtk::Align::CENTER);
        append(*icon);
    }
    auto* texts = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 4);
    texts->set_valign(Gtk::Align::CENTER);
    mTitle.set_text(item.title);
    mTitle.set_xalign(0);
    mTitle.add_css_class("card-title");
    mSubTitle.set_text(item.subTitle);
    mSubTitle.set_xalign(0);
    mSubTitle.set_wrap(true);
    mSubTitle.add_css_class("card-subtitle");
    texts->append(mTitle);
    texts->append(mSubTitle);
    append(*texts);
}

CardButton::CardButton(const ButtonItem& item) : mContent(item) {
    add_css_class("card");
    set_child(mContent);
    set_hexpand(true);
    setAccessibleName(*this, item.title);
    setAccessibleDescription(*this, item.subTitle);
}

Card::Card(const ButtonItem& item) : mContent(item) {
    add_css_class("card");
    set_hexpand(true);
    append(mContent);
}

} // namespace wynfc::shell
