#include "shell/email_controller.h"

#include "platform/console_log.h"

namespace wynfc::shell {

void EmailController::sendEmail(const std::string& subject, const std::string& body,
                                const std::string& recipient) {
    if (!canSendMail()) {
        logLine(TAG, "This device cannot send emails.");
        return;
    }
    mComposer->compose(MailMessage{{recipient}, subject, body, false});
}

} // namespace wynfc::shell
