#pragma once

#include <gtkmm.h>

#include <string>

namespace wynfc::shell {

// How the work page's progress bar looks.
struct BarProgressStyle {
    std::string color = "rgb(237, 111, 33)"; // fill colour, a CSS colour
    double height = 16.0;
    double width = 320.0;
    std::string labelFontStyle = "bold"; // CSS font weight of the value label
};

// A progress bar in a BarProgressStyle: a grey track with a rounded fill and the value,
// in whole percent, as its label.
class BarProgress : public Gtk::ProgressBar {
public:
    explicit BarProgress(const BarProgressStyle& style = {});
    ~BarProgress() override;

    void setStyle(const BarProgressStyle& style);
    // 0..1; values outside are clamped.
    void setValue(double fraction);

private:
    std::string mClass; // this bar's own CSS class: its rules reach its trough and fill
    Glib::RefPtr<Gtk::CssProvider> mProvider = Gtk::CssProvider::create();
    std::string mCss; // the rules loaded now: a redraw in the same style parses nothing
};

} // namespace wynfc::shell
