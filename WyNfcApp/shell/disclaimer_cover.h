#pragma once

#include "platform/user_defaults.h"
#include "shell/alert_panel.h"

#include <gtkmm.h>

#include <memory>

namespace wynfc::shell {

// The disclaimer, over everything until the user agrees; agreeing is stored under "agree"
// and the cover never shows again. There is no other way to close it.
class DisclaimerCover : public CoverPanel {
public:
    static constexpr const char* kAgreeKey = "agree";

    explicit DisclaimerCover(std::shared_ptr<UserDefaults> userDefaults);

    // Shows the cover when "agree" is not true (the main view coming on screen).
    void showIfNotAgreed();
    Gtk::Button& agreeButton() { return mAgree; }

private:
    std::shared_ptr<UserDefaults> mUserDefaults;
    Gtk::Label mBody;
    Gtk::Button mAgree{"Agree"};
};

} // namespace wynfc::shell
