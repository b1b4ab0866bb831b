#include "shell/bar_progress.h"

#include <algorithm>
#include <cmath>

namespace wynfc::shell {

BarProgress::BarProgress(const BarProgressStyle& style) {
    static int made = 0;
    mClass = "bar-progress-" + std::to_string(++made);
    add_css_class("bar-progress");
    add_css_class(mClass);
    set_show_text(true);
    Gtk::StyleContext::add_provider_for_display(get_display(), mProvider,
                                                GTK_STYLE_PROVIDER_PRIORITY_APPLICATION + 1);
    setStyle(style);
    setValue(0.0);
}

BarProgress::~BarProgress() {
    Gtk::StyleContext::remove_provider_for_display(get_display(), mProvider);
}

void BarProgress::setStyle(const BarProgressStyle& style) {
    const auto height = std::to_string(static_cast<int>(style.height));
    const std::string self = "progressbar." + mClass;
    std::string css = self + " trough, " + self + " progress { min-height: " + height + "px; }\n" + self +
                      " progress { background-color: " + style.color + "; }\n" + self +
                      " text { font-weight: " + style.labelFontStyle + "; }\n";
    if (css != mCss) {
        mCss = std::move(css);
        mProvider->load_from_data(mCss);
    }
    set_size_request(static_cast<int>(style.width), -1);
}

void BarProgress::setValue(double fraction) {
    const double value = std::isfinite(fraction) ? std::clamp(fraction, 0.0, 1.0) : 0.0;
    set_fraction(value);
    set_text(std::to_string(static_cast<int>(value * 100.0)) + "%");
}

} // namespace wynfc::shell
