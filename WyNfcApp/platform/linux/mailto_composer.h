#pragma once

#include "platform/mail_composer.h"

namespace wynfc {

// Hands the mail to the desktop's mail program as a mailto: link.
class MailtoComposer final : public MailComposer {
public:
    static constexpr const char* kLogTag = "------ MailtoComposer ------";

    // True when the desktop names a program for mailto: links.
    bool canSendMail() const override;
    // Opens the mail program on the message; logs when there is none or it cannot start.
    void compose(const MailMessage& message) override;
};

} // namespace wynfc
