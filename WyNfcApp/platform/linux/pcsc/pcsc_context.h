#pragma once

// What the tag session and the reader watch share of pcsc-lite: a context of the daemon,
// its reader list, and how its errors read. Used inside platform/linux/pcsc only.

#include <PCSC/winscard.h>
#include <PCSC/wintypes.h>

#include <optional>
#include <string>
#include <vector>

namespace wynfc::pcsc_detail {

// The daemon's pseudo-reader whose state changes when a reader is attached or detached.
inline constexpr const char* kPnpNotification = "\\\\?PnP?\\Notification";

// The daemon's text for an error, with its code.
std::string pcscText(LONG rv);

// Whether the error means that the daemon cannot be reached (not running, stopped, gone).
bool isServiceGone(LONG rv);

// A context of the daemon, released with its owner.
class Context {
public:
    Context() = default;
    ~Context() { release(); }
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;

    LONG establish();
    void release();
    bool valid() const { return mValid; }
    SCARDCONTEXT handle() const { return mHandle; }

private:
    SCARDCONTEXT mHandle = 0;
    bool mValid = false;
};

// The readers the daemon lists, those whose name contains the filter (all when it is empty
// or absent). No readers is not an error.
LONG listReaders(SCARDCONTEXT context, const std::optional<std::string>& filter,
                 std::vector<std::string>& readers);

} // namespace wynfc::pcsc_detail
