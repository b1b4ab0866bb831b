#include "shell/waiting_popup.h"

#include "shell/alert_panel.h"

#include <cstdio>

namespace wynfc::shell {

std::string cssColor(const StatusColor& color) {
    char text[64];
    std::snprintf(text, sizeof text, "rgba(%d, %d, %d, %.2f)", color.red, color.green, color.blue,
                  color.opacity);
    return text;
}

namespace {

// A paragraph of the popup: wrapped, centred, in the popup's width.
void asParagraph(Gtk::Label& label, const char* cssClass) {
    label.add_css_class(cssClass);
    label.set_wrap(true);
    label.set_max_width_chars(44);
    label.set_justify(Gtk::Justification::CENTER);
}

} // namespace

WaitingPopup::WaitingPopup(std::function<void()> onCancel)
    : Gtk::Box(Gtk::Orientation::VERTICAL), mProgress(BarProgressStyle{}) {
    mTitle.add_css_class("sheet-title");
    mHint.set_text("Please keep the NFC reader close to the NFC antenna area.");
    asParagraph(mHint, "hint");
    mStatus.add_css_class("status-line");
    mStatus.set_halign(Gtk::Align::CENTER);
    mStatus.get_style_context()->add_provider(mStatusColors, GTK_STYLE_PROVIDER_PRIORITY_APPLICATION + 1);
    mProgress.set_halign(Gtk::Align::CENTER);
    asParagraph(mError, "error-detail");
    mCancel.add_css_class("alert-button");
    mCancel.set_halign(Gtk::Align::CENTER);
    mCancel.signal_clicked().connect(std::move(onCancel));
    for (Gtk::Widget* part :
         std::initializer_list<Gtk::Widget*>{&mTitle, &mHint, &mStatus, &mProgress, &mError, &mCancel}) {
        mPanel.append(*part);
    }
    dressAsCover(*this, mPanel, 400);
}

WaitingPopup::~WaitingPopup() = default;

void WaitingPopup::show(const WorkPageState& state) {
    mTitle.set_text(state.mIsWriteMode ? "Write Mode" : "Read Mode");
    mStatus.set_text(state.mStatusTips);
    const std::string css = "label { color: " + cssColor(state.mStatusFontColor) +
                            "; background-color: " + cssColor(state.mStatusBackgroundColor) + "; }";
    if (css != mStatusCss) {
        mStatusCss = css;
        mStatusColors->load_from_data(css);
    }
    mProgress.setStyle(BarProgressStyle{cssColor(state.mStatusFontColor)});
    mProgress.setValue(state.mProgressValue);
    mError.set_text(state.mErrorTips);
    mError.set_visible(state.mHasError && !state.mErrorTips.empty());
    mCancel.set_sensitive(!state.mDisableCancel);
}

} // namespace wynfc::shell
