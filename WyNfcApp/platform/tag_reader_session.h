#pragma once

#include "platform/nfc_tag.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace wynfc {

class TagReaderSession;

// Receives a session's events. Every callback, like every completion of the session's
// tag operations, runs on the session's own serial queue, never on the caller's thread.
class TagReaderSessionDelegate {
public:
    virtual ~TagReaderSessionDelegate() = default;

    virtual void tagReaderSessionDidBecomeActive(const std::shared_ptr<TagReaderSession>& session) = 0;
    virtual void tagReaderSessionDidDetect(const std::shared_ptr<TagReaderSession>& session,
                                           const std::vector<std::shared_ptr<NfcTag>>& tags) = 0;
    // The session has ended and will report nothing more. Follows every ending: the
    // application's invalidate calls, the user closing the sheet, a lost connection.
    virtual void tagReaderSessionDidInvalidateWithError(const std::shared_ptr<TagReaderSession>& session,
                                                        const NfcError& error) = 0;
};

// One scan for tags, with the sheet that tells the user what is going on. A session is
// used once: after it has ended, a new one is made.
class TagReaderSession {
public:
    virtual ~TagReaderSession() = default;

    // The text the sheet shows while the session runs, and on success at the end.
    virtual void setAlertMessage(const std::string& text) = 0;

    // Shows the sheet and starts polling; the delegate hears that the session became
    // active, then about tags as they are found.
    virtual void begin() = 0;

    // Polls again, e.g. after tags were reported; ignored once the session has ended.
    virtual void restartPolling() = 0;

    // Connects to a tag reported by this session, before any operation on it.
    virtual void connect(const std::shared_ptr<NfcTag>& tag, TagCompletion completion) = 0;

    // Ends the session: the sheet shows success with the alert message, or the error
    // message. The delegate's invalidated callback follows. Repeated calls do nothing.
    virtual void invalidate() = 0;
    virtual void invalidate(const std::string& errorMessage) = 0;
};

struct PollingOptions {
    bool iso14443 = false;
    bool iso15693 = false;
    bool iso18092 = false;
};

// A watch of a tag reader service's availability, from TagReaderService::watchAvailability.
// Dropping it ends the watch: once its destructor has returned, no call of the watch's
// function starts. It may be dropped on any thread, within that function too.
class AvailabilityWatch {
public:
    virtual ~AvailabilityWatch() = default;
};

// The tag reader of the machine: the transports are given one of these, so they run on
// the simulation in tests and on a real reader backend in the application.
class TagReaderService {
public:
    virtual ~TagReaderService() = default;

    // False when no session can be made (no reader, no service).
    virtual bool readingAvailable() const = 0;

    // Calls `changed` whenever readingAvailable() may have changed (a reader attached or
    // detached, the service started or stopped): once when the watch has taken its first look,
    // then on every change it sees. The calls come on a thread of the service's own; the
    // receiver asks readingAvailable() again where it shows it. Null for a service whose
    // availability does not change on its own, which is what services answer unless they
    // say otherwise.
    virtual std::unique_ptr<AvailabilityWatch> watchAvailability(std::function<void()> changed) {
        (void)changed;
        return nullptr;
    }

    // A new session, or null when none can be made. The session keeps only a weak
    // reference to the delegate: events for a delegate that is gone are dropped.
    virtual std::shared_ptr<TagReaderSession>
    makeSession(PollingOptions polling, std::weak_ptr<TagReaderSessionDelegate> delegate) = 0;
};

} // namespace wynfc
