#pragma once

#include "platform/mail_composer.h"

#include <memory>
#include <string>

namespace wynfc::shell {

// Hands feedback mail to the desktop's mail program.
class EmailController {
public:
    static constexpr const char* TAG = "------ EmailController ------";

    explicit EmailController(std::shared_ptr<MailComposer> composer) : mComposer(std::move(composer)) {}

    bool canSendMail() const { return mComposer && mComposer->canSendMail(); }
    // A plain-text mail to the one recipient; logs and does nothing when mail cannot be sent.
    void sendEmail(const std::string& subject, const std::string& body, const std::string& recipient);

private:
    std::shared_ptr<MailComposer> mComposer;
};

} // namespace wynfc::shell
