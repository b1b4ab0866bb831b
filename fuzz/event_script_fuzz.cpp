// Any script text read back as a page event (wynfc reads the page's events with
// parseEventScript): an event or nothing, never a read outside the text. Every event and
// payload, as eventScript makes them into a script, reads back exactly.
//
// Input: the text itself; also split at its first NUL into an event and a payload.

#include "web/page_events.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "event_script: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace wynfc;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (const auto call = parseEventScript(text)) {
        if (call->event.size() + call->payload.size() > text.size()) {
            fail("an event read back is longer than its script");
        }
    }

    const std::size_t split = text.find('\0');
    const std::string_view event = text.substr(0, split);
    const std::string_view payload =
        split == std::string_view::npos ? std::string_view() : text.substr(split + 1);
    const std::string script = eventScript(event, payload);
    const auto call = parseEventScript(script);
    if (!call || call->event != event || call->payload != payload) {
        fail("an event script does not read back as the event and payload it was made of");
    }
    if (escapeForSingleQuotes(payload).find_first_of("\n\r") != std::string::npos) {
        fail("an escaped text holds a line break");
    }
    return 0;
}
