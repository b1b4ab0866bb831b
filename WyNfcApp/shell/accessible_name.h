#pragma once

#include <gtkmm.h>

#include <string>

namespace wynfc::shell {

// What a screen reader (and a test finding widgets) calls the widget, and its description.
inline void setAccessibleName(Gtk::Widget& widget, const std::string& name) {
    gtk_accessible_update_property(GTK_ACCESSIBLE(widget.gobj()), GTK_ACCESSIBLE_PROPERTY_LABEL, name.c_str(),
                                   -1);
}

inline void setAccessibleDescription(Gtk::Widget& widget, const std::string& text) {
    gtk_accessible_update_property(GTK_ACCESSIBLE(widget.gobj()), GTK_ACCESSIBLE_PROPERTY_DESCRIPTION,
                                   text.c_str(), -1);
}

} // namespace wynfc::shell
