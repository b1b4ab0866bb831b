#pragma once

#include "shell/alert_panel.h"
#include "shell/button_item.h"
#include "shell/email_controller.h"
#include "shell/shell_context.h"

#include <gtkmm.h>

namespace wynfc::shell {

// The settings tab: feedback mail, the data policy, the version. Its alert and the policy
// sheet cover the whole window (they are put into `covers`).
class SettingPage : public Gtk::Box {
public:
    static constexpr const char* kFeedbackSubject = "Feedback issues";
    static constexpr const char* kFeedbackBody = "Please describe your issues.";

    SettingPage(const ShellContext& context, Gtk::Overlay& covers);
    ~SettingPage() override;

    CardButton& feedbackCard() { return mFeedback; }
    CardButton& policyCard() { return mPolicy; }
    Card& versionCard() { return mVersionCard; }
    AlertPanel& noMailAlert() { return mNoMailAlert; }
    CoverPanel& policySheet() { return mPolicySheet; }
    Gtk::Button& gotItButton() { return mGotIt; }

    bool isModal() const { return mPolicySheet.get_visible(); }

private:
    void sendFeedback();

    Gtk::Overlay& mCovers;
    EmailController mEmail;
    std::string mRecipient;
    std::string version = "1.0.0";
    Gtk::Label mTitle;
    CardButton mFeedback;
    CardButton mPolicy;
    Card mVersionCard;
    AlertPanel mNoMailAlert;
    CoverPanel mPolicySheet;
    Gtk::Label mPolicyBody;
    Gtk::Button mGotIt{"Got it"};
};

} // namespace wynfc::shell
