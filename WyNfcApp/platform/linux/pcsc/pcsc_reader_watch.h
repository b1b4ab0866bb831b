#pragma once

#include "platform/tag_reader_session.h"
#include "platform/timing.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace wynfc::pcsc_detail {

// Watches the readers the daemon lists (those whose name contains readerName, all when it
// is empty or absent) on a thread of its own, and calls `changed` there: once with the first
// look, then whenever the list or the daemon's presence changes.
//
// The thread sleeps in SCardGetStatusChange on the daemon's PnP pseudo-reader, with no time
// limit; dropping the watch wakes it with SCardCancel. While the daemon does not answer (not
// started yet, stopped, restarting) the thread sleeps on a condition variable and asks again
// every Timing::pcscServiceRetry; dropping the watch wakes it from that sleep too.
std::unique_ptr<AvailabilityWatch> watchReaderList(std::optional<std::string> readerName, Timing timing,
                                                   std::function<void()> changed);

} // namespace wynfc::pcsc_detail
