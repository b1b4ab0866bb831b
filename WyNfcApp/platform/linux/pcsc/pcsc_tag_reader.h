#pragma once

#include "platform/tag_reader_session.h"
#include "platform/timing.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace wynfc {

// The machine's NFC readers, through the PC/SC daemon (pcscd). Tags are reached with the
// storage-card commands a contactless reader translates into the tag's own: the UID by
// FF CA, one block read by FF B0, one block written by FF D6.
//
// A session watches the readers (all of them, or those whose name contains the chosen
// text) on a thread of its own that sleeps in SCardGetStatusChange, also on the daemon's
// reader list, so readers plugged in later are watched too. Delegate callbacks and the
// completions of the tag operations run on the session's own serial queue; the commands
// are sent from there, one at a time.
class PcscTagReaderService final : public TagReaderService {
public:
    // readerName: only readers whose name contains this text; all readers when empty.
    explicit PcscTagReaderService(std::optional<std::string> readerName = std::nullopt, Timing timing = {});

    // True when the daemon answers and lists at least one reader (the chosen one).
    bool readingAvailable() const override;
    // Null when the daemon does not answer.
    std::shared_ptr<TagReaderSession> makeSession(PollingOptions polling,
                                                  std::weak_ptr<TagReaderSessionDelegate> delegate) override;
    // Watches the daemon's list of readers (the chosen ones) on a thread of its own, woken by
    // the daemon when a reader is attached or detached; while the daemon does not answer, it
    // is asked again every Timing::pcscServiceRetry, so that its start is noticed too.
    std::unique_ptr<AvailabilityWatch> watchAvailability(std::function<void()> changed) override;

    // The readers the daemon lists now (the chosen ones), empty when it does not answer.
    std::vector<std::string> readerNames() const;
    // Whether the daemon answers at all.
    bool serviceRunning() const;

private:
    std::optional<std::string> mReaderName;
    Timing mTiming;
};

} // namespace wynfc
