#pragma once

#include <string>
#include <vector>

namespace wynfc {

struct MailMessage {
    std::vector<std::string> recipients;
    std::string subject;
    std::string body;
    bool bodyIsHtml = false;
};

// Hands a prepared mail to the user's mail program, where the user sends it or not.
class MailComposer {
public:
    virtual ~MailComposer() = default;

    virtual bool canSendMail() const = 0;
    // Shows the composer with the message filled in. Does nothing when mail cannot be sent.
    virtual void compose(const MailMessage& message) = 0;
};

} // namespace wynfc
