#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace wynfc {

// The handler the page posts its requests to.
inline constexpr const char* kRequestHandlerName = "requestNativeAsync";

// Page events, evaluated as scripts that call the page's WyNfcEventCallback(event, payload).
inline constexpr const char* kUpdateEvent = "UPDATE_EVENT";
inline constexpr const char* kNotifyEvent = "NOTIFY_EVENT";
inline constexpr const char* kGetVersionCallback = "GET_VERSION_CALLBACK";
inline constexpr const char* kWriteEventPayload = "WRITE_EVENT";
// The answer to a profile request: a JSON object with "request" and "outcome" ("saved",
// "loaded", "cancelled" or "failed"), and "file", "text" or "message" as the outcome has them.
inline constexpr const char* kProfileEvent = "PROFILE_EVENT";

// Page requests beyond the product's own: a configuration profile saved to, or loaded from, a
// file the user picks in a native dialog.
inline constexpr const char* kExportProfileRequest = "EXPORT_PROFILE";
inline constexpr const char* kImportProfileRequest = "IMPORT_PROFILE";

// Page requests of the production mode: "WATCH_JOBS:on" (or "off") has the end of each read
// and write run reported with one "JOB_EVENT"; "NEXT_DRIVER:" says that the page is done with
// the driver on the reader.
inline constexpr const char* kWatchJobsRequest = "WATCH_JOBS";
inline constexpr const char* kNextDriverRequest = "NEXT_DRIVER";
// The end of a run: a JSON object with "job" ("read" or "write"), "outcome" ("completed" or
// "failed"), "uid" (the tag's UID in hexadecimal, most significant byte first; null when no
// tag was known) and "message" (what failed; empty when completed).
inline constexpr const char* kJobEvent = "JOB_EVENT";

// "javascript:WyNfcEventCallback('UPDATE_EVENT','<name>:<json>')"
std::string updateEventScript(std::string_view name, std::string_view json);
// "javascript:WyNfcEventCallback('<event>','<payload>')"
std::string eventScript(std::string_view event, std::string_view payload);
// "javascript:WyNfcEventCallback('NOTIFY_EVENT','<payload>')"
std::string notifyEventScript(std::string_view payload);
// The event and payload of a script made by eventScript (unescaped); nothing for any other
// script. Hosts that play the page's part read the events back with it.
struct EventCall {
    std::string event;
    std::string payload;
};
std::optional<EventCall> parseEventScript(std::string_view script);

// "window.readerType='NFC'"
std::string readerTypeScript(std::string_view mode);

// The text as the inside of a JavaScript single-quoted string: the page receives exactly
// this text, and nothing in it can end the string. Texts without backslash, quote, line
// breaks or U+2028/U+2029 come out unchanged.
std::string escapeForSingleQuotes(std::string_view text);

} // namespace wynfc
