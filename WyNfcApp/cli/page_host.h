#pragma once

#include "cli/cli_options.h"
#include "cli/printed_sheet.h"
#include "platform/bundle.h"
#include "platform/linux/glib_main_loop_thread.h"
#include "platform/published.h"
#include "platform/sim/recording_web_view_host.h"
#include "platform/sim/simulated_feig_reader.h"
#include "platform/sim/simulated_radio.h"
#include "platform/sim/simulated_tag_reader.h"
#include "platform/sim/tag_queue.h"
#include "platform/sim/virtual_tag.h"
#include "web/page_events.h"
#include "work/work_page.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace wynfc::cli {

// No tag came to a real NFC reader within Timing::tagPresentLimit; its session has been ended.
class NoTagPresented : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A page event as the page receives it: WyNfcEventCallback(event, payload).
using PageEvent = EventCall;

// How a job ended, as the work page's status panel shows it.
struct JobOutcome {
    std::string status;
    std::string detail; // empty without an error
    float progress = 0.0F;
    bool completed = false; // "Read completed" / "Write completed"
};

// Plays the configuration page's part for a work page: posts the page's requests, receives
// every event the page would, and works the device sheet as a user would (picks the simulated
// Bluetooth reader, or the first real one BlueZ finds, or the one named). With an NFC reader the
// tag session's sheet is printed on standard error, one line per text.
class PageHost {
public:
    // `tag` is the simulated driver's; `device` names the real reader to use (--reader ble),
    // `pcscReader` part of the name of the PC/SC reader to use (--reader nfc). Throws
    // std::runtime_error, with a message for the user, when pcscd is not running or lists no
    // such reader.
    PageHost(ReaderChoice reader, std::shared_ptr<const Bundle> bundle, std::shared_ptr<VirtualTag> tag,
             Timing timing, std::optional<std::string> device = std::nullopt,
             std::optional<std::string> pcscReader = std::nullopt);
    ~PageHost();

    PageHost(const PageHost&) = delete;
    PageHost& operator=(const PageHost&) = delete;

    // The simulated drivers come from the queue, laid on the page's simulated reader, instead
    // of `tag`; the host lays none itself. Before open().
    void useTagQueue(std::shared_ptr<SimulatedTagQueue> queue);

    // Opens the page and, with a Bluetooth reader, connects to it. Throws std::runtime_error,
    // with a message for the user, when the reader cannot be reached: no Bluetooth here, off,
    // refused, no reader found within Timing::bluetoothScanLimit, or no connection.
    void open();

    // One read job; events arrive at the event sink as they come.
    JobOutcome read();
    // One write job with "WRITE_DATA" data; the page must have read the driver first.
    JobOutcome write(const std::string& data);
    // The UID (in the order the tag reports it) of the tag the last job found: the one the NFC
    // session detected last, or the Bluetooth reader's last inventory; empty when none.
    Bytes lastTagUid() const;
    // With a Bluetooth reader, between jobs: asks the reader which tag is in its field (an
    // inventory); the UID of the first one, empty when there is none or no answer.
    Bytes inventoryUid();
    // Ends a wait for a tag on a real NFC reader (its sheet is closed, as the user would), and
    // every later one at once. Any thread; a job under way runs to its end.
    void interrupt();
    // Waits until the page's jobs have ended and the main queue is idle.
    void settle();
    // The page's version request.
    std::string version();
    // The Bluetooth reader's transport, once open() has connected it; null in NFC modes.
    std::shared_ptr<BleReader> bleReader() const;

    void setEventSink(std::function<void(const PageEvent&)> sink);

    // Models the simulated readers' links (off by default); the modelled time of every
    // exchange goes to linkAccount().
    void setLinkModel(const LinkModel& model);
    LinkAccount& linkAccount() { return *mLinkAccount; }

    // What the real reader's central reported that the pages do not keep (--reader ble).
    struct CentralWatch {
        Published<CentralState> state{CentralState::unknown};
        Published<int> failedConnections{0};
    };
    // Called on every change of the status panel.
    void setStatusObserver(std::function<void(const WorkPageState&)> observer);
    std::vector<PageEvent> events() const;

private:
    void post(const std::string& request);
    void onScript(const std::string& script);
    bool waitForEvent(const std::function<bool(const std::vector<PageEvent>&)>& condition);
    JobOutcome waitForRun(int runsBefore, bool isWrite);
    void ensureTagPresented();
    // With a real NFC reader: waits until a tag is detected or the run has ended; throws when
    // none came within Timing::tagPresentLimit (the session is ended first).
    void awaitRealTag(int runsBefore, int detectionsBefore, int sessionsBefore);
    void connectRealReader();
    // Waits until the condition holds, re-checked whenever Bluetooth's state or the readers
    // found change; false after the limit.
    bool waitForBluetooth(const std::function<bool()>& condition, Millis limit);

    Timing mTiming;
    std::shared_ptr<VirtualTag> mTag;
    std::shared_ptr<SimulatedTagQueue> mQueue;
    std::atomic<bool> mInterrupted{false};
    ReaderChoice mReader;
    std::optional<std::string> mDevice;
    std::shared_ptr<CentralWatch> mCentralWatch = std::make_shared<CentralWatch>();
    // The real GLib main loop, on a thread of its own; the caller's thread drives the page as a
    // worker would.
    GLibMainLoopThread mMainLoop;
    std::shared_ptr<GLibMainQueue> mMain = mMainLoop.queue();
    std::shared_ptr<SimulatedTagReaderService> mNfc = std::make_shared<SimulatedTagReaderService>();
    std::optional<std::string> mPcscReader;
    // The tag reader the page uses (the simulated one, or PC/SC), its sheet printed.
    std::shared_ptr<PrintedSheetService> mSheet;
    SimulatedRadio mRadio;
    std::shared_ptr<SimulatedFeigReader> mFeig;
    std::shared_ptr<LinkAccount> mLinkAccount = std::make_shared<LinkAccount>();
    std::shared_ptr<RecordingWebViewHost> mWeb;
    std::shared_ptr<WorkPage> mPage;
    Published<WorkPageState>::Subscription mStatusSubscription;
    // The page as each run left it (by run number), before any delayed ending changed it.
    std::mutex mRunEndingsMutex;
    std::map<int, WorkPageState> mRunEndings;
    std::function<void(const WorkPageState&)> mStatusObserver;

    mutable std::mutex mEventsMutex;
    std::condition_variable mEventArrived;
    std::vector<PageEvent> mEvents;
    std::function<void(const PageEvent&)> mEventSink;
};

} // namespace wynfc::cli
