#include "shell/disclaimer_cover.h"

#include "shell/shell_texts.h"

namespace wynfc::shell {

DisclaimerCover::DisclaimerCover(std::shared_ptr<UserDefaults> userDefaults)
    : CoverPanel(kDisclaimerTitle, 64, 0.75), mUserDefaults(std::move(userDefaults)) {
    mBody.set_text(kDisclaimerBody);
    mBody.set_wrap(true);
    mBody.add_css_class("cover-body");
    mBody.set_xalign(0);
    mAgree.add_css_class("agree");
    mAgree.set_halign(Gtk::Align::CENTER);
    mAgree.signal_clicked().connect([this] {
        if (mUserDefaults) {
            mUserDefaults->setBool(kAgreeKey, true);
        }
        set_visible(false);
    });
    body().set_margin(8);
    body().append(mBody);
    body().append(mAgree);
    set_visible(false);
}

void DisclaimerCover::showIfNotAgreed() {
    if (!mUserDefaults || !mUserDefaults->boolForKey(kAgreeKey)) {
        set_visible(true);
        mAgree.grab_focus();
    }
}

} // namespace wynfc::shell
