#pragma once

#include "platform/mail_composer.h"

#include <string>

namespace wynfc {

// The mail as a mailto: URI (RFC 6068): the recipients, then the subject and the body as
// header fields, each percent-encoded as UTF-8 with only unreserved characters (and "@" in
// addresses) left as they are. Line breaks become CRLF (%0D%0A); empty fields are left out.
// A mailto: URI carries text only: an HTML body goes as its text.
std::string mailtoUri(const MailMessage& message);

} // namespace wynfc
