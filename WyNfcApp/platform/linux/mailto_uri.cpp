#include "platform/linux/mailto_uri.h"

#include <glib.h>

namespace wynfc {
namespace {

std::string escaped(const std::string& text, const char* allowed) {
    gchar* uriText = g_uri_escape_string(text.c_str(), allowed, FALSE);
    std::string result(uriText);
    g_free(uriText);
    return result;
}

// Mail lines end in CRLF, and RFC 6068 asks for them so in a body; a bare CR or LF is one.
std::string withCrlfLineBreaks(const std::string& text) {
    std::string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            result += "\r\n";
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
        } else {
            result += text[i];
        }
    }
    return result;
}

} // namespace

std::string mailtoUri(const MailMessage& message) {
    std::string uri = "mailto:";
    for (std::size_t i = 0; i < message.recipients.size(); ++i) {
        uri += i == 0 ? "" : ",";
        uri += escaped(message.recipients[i], "@");
    }
    char separator = '?';
    const auto addField = [&](const char* name, const std::string& value) {
        if (value.empty()) {
            return;
        }
        uri += separator;
        uri += name;
        uri += '=';
        uri += escaped(withCrlfLineBreaks(value), nullptr);
        separator = '&';
    };
    addField("subject", message.subject);
    addField("body", message.body);
    return uri;
}

} // namespace wynfc
