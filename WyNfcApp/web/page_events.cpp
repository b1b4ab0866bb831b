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

namespace {

constexpr std::string_view kEventScriptStart = "javascript:WyNfcEventCallback('";
constexpr std::string_view kEventScriptSeparator = "','";
constexpr std::string_view kEventScriptEnd = "')";

// The inverse of escapeForSingleQuotes.
std::string unescapeSingleQuoted(std::string_view text) {
    std::string plain;
    plain.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            plain += text[i];
            continue;
        }
        const char next = text[++i];
        if (next == 'n') {
            plain += '\n';
        } else if (next == 'r') {
            plain += '\r';
        } else if (next == 'u' && text.substr(i + 1, 4) == "2028") {
            plain += "\xE2\x80\xA8";
            i += 4;
        } else if (next == 'u' && text.substr(i + 1, 4) == "2029") {
            plain += "\xE2\x80\xA9";
            i += 4;
        } else {
            plain += next; // \\ and \'
        }
    }
    return plain;
}

} // namespace

std::optional<EventCall> parseEventScript(std::string_view script) {
    // The start ends in a quote and the end begins with one: they must not share it.
    if (script.size() < kEventScriptStart.size() + kEventScriptEnd.size() || !script.starts_with(kEventScriptStart) ||
        !script.ends_with(kEventScriptEnd)) {
        return std::nullopt;
    }
    script.remove_prefix(kEventScriptStart.size());
    script.remove_suffix(kEventScriptEnd.size());
    // The event ends at its first quote that no backslash escapes: an escaped text has none,
    // though it may hold "','" after a backslash.
    size_t separator = std::string_view::npos;
    for (size_t i = 0; i < script.size(); ++i) {
        if (script[i] == '\\') {
            ++i;
        } else if (script[i] == '\'') {
            separator = i;
            break;
        }
    }
    if (separator == std::string_view::npos || !script.substr(separator).starts_with(kEventScriptSeparator)) {
        return std::nullopt;
    }
    return EventCall{unescapeSingleQuoted(script.substr(0, separator)),
                     unescapeSingleQuoted(script.substr(separator + kEventScriptSeparator.size()))};
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
