#include "shell/setting_page.h"

#include "shell/shell_texts.h"

namespace wynfc::shell {

SettingPage::SettingPage(const ShellContext& context, Gtk::Overlay& covers)
    : Gtk::Box(Gtk::Orientation::VERTICAL, 16), mCovers(covers), mEmail(context.mailComposer),
      mRecipient(context.feedbackRecipient),
      mFeedback({"Feedback", kFeedbackSubtitle,
                 context.bundle ? context.bundle->pathForResource("ic_email", "svg") : std::nullopt}),
      mPolicy({"Data Collection & Policy", "Agreement of App service.", std::nullopt}),
      mVersionCard({"Version", version, std::nullopt}),
      mNoMailAlert("Error", "This device cannot send emails",
                   {{"CANCEL", [this] { mNoMailAlert.set_visible(false); }}}),
      mPolicySheet(kPolicyTitle, 48, 0.85) {
    add_css_class("page");
    set_margin(16);
    set_valign(Gtk::Align::START);
    mTitle.set_text("SETTING");
    mTitle.add_css_class("page-title");
    mTitle.set_xalign(0);
    append(mTitle);
    append(mFeedback);
    append(mPolicy);
    append(mVersionCard);
    mFeedback.signal_clicked().connect([this] { sendFeedback(); });
    mPolicy.signal_clicked().connect([this] { mPolicySheet.set_visible(!mPolicySheet.get_visible()); });

    mPolicyBody.set_text(kPolicyBody);
    mPolicyBody.set_wrap(true);
    mPolicyBody.add_css_class("cover-body");
    mPolicyBody.set_xalign(0);
    mPolicyBody.set_selectable(true);
    mPolicyBody.set_margin(8);
    mGotIt.add_css_class("agree");
    mGotIt.set_halign(Gtk::Align::CENTER);
    mGotIt.signal_clicked().connect([this] { mPolicySheet.set_visible(!mPolicySheet.get_visible()); });
    mPolicySheet.body().set_margin(8);
    mPolicySheet.body().append(mPolicyBody);
    mPolicySheet.body().append(mGotIt);

    for (Gtk::Widget* cover :
         {static_cast<Gtk::Widget*>(&mNoMailAlert), static_cast<Gtk::Widget*>(&mPolicySheet)}) {
        cover->set_visible(false);
        covers.add_overlay(*cover);
    }
}

SettingPage::~SettingPage() {
    mCovers.remove_overlay(mNoMailAlert);
    mCovers.remove_overlay(mPolicySheet);
}

void SettingPage::sendFeedback() {
    if (mEmail.canSendMail()) {
        mEmail.sendEmail(kFeedbackSubject, kFeedbackBody, mRecipient);
    } else {
        mNoMailAlert.set_visible(true);
    }
}

} // namespace wynfc::shell
