#include "web/page_events.h"

namespace wynfc {

std::string escapeForSingleQuotes(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        switch (c) {
        case '\\':
            escaped += "\\\\";
            continue;
        case '\'':
            escaped += "\\'";
            continue;
        case '\n':
            escaped += "\\n";
            continue;
        case '\r':
            escaped += "\\r";
            continue;
        default:
            break;
        }
        // U+2028 and U+2029 (E2 80 A8 / E2 80 A9) end a line inside a script too.
        if (c == '\xE2' && i + 2 < text.size() && text[i + 1] == '\x80' &&
            (text[i + 2] == '\xA8' || text[i + 2] == '\xA9')) {
            escaped += text[i + 2] == '\xA8' ? "\\u2028" : "\\u2029";
            i += 2;
            continue;
        }
        escaped += c;
    }
    return escaped;
}

std::string eventScript(std::string_view event, std::string_view payload) {
    return "javascript:WyNfcEventCallback('" + escapeForSingleQuotes(event) + "','" +
           escapeForSingleQuotes(payload) + "')";
}

std::string updateEventScript(std::string_view name, std::string_view json) {
    std::string payload(name);
    payload.append(":").append(json);
    return eventScript(kUpdateEvent, payload);
}

std::string notifyEventScript(std::string_view payload) {
    return eventScript(kNotifyEvent, payload);
}

std::string readerTypeScript(std::string_view mode) {
    return "window.readerType='" + escapeForSingleQuotes(mode) + "'";
}

} // namespace wynfc
