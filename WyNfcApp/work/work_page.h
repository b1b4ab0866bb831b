#pragma once

#include "data/nfc_data_handler.h"
#include "platform/bundle.h"
#include "platform/file_chooser.h"
#include "platform/published.h"
#include "platform/web_view_host.h"
#include "readers/bluetooth_delegates.h"
#include "readers/reader_contract.h"
#include "readers/reader_platform.h"
#include "web/js_controller.h"
#include "web/web_view.h"
#include "work/capability_flags.h"
#include "work/my_tab_data.h"
#include "work/work_page_state.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace wynfc {

class BleReader;
class BluetoothManager;

// The memory area a read reports under a page key ("clo2_data" is "nfc_data_addr_dc_clo2").
std::optional<std::string> areaForUpdateKey(std::string_view key);

// What the enclosing pages give a work page.
struct WorkPageEnvironment {
    std::shared_ptr<MyTabData> tabData;
    // Navigates back, dismissing the page (the hosts close their view).
    std::function<void()> dismiss;
    std::shared_ptr<const Bundle> bundle;
    ReaderPlatform platform;
    // The file dialogs for saving and loading configuration profiles; none where the host
    // has no desktop (the profile requests then fail).
    std::shared_ptr<FileChooser> fileChooser;
    // Called on the main queue when the page is done with the driver on the reader
    // ("NEXT_DRIVER"): a simulated host brings the next driver. Real readers need nothing:
    // the person takes the driver away.
    std::function<void()> nextDriver;
};

// The payload of a "JOB_EVENT" (web/page_events.h).
std::string jobEventPayload(std::string_view job, bool completed, const std::optional<Bytes>& uid,
                            std::string_view message);

// The page on which all reader work happens: it hosts the configuration page, answers its
// requests, runs the read and write jobs through the page's transport, and keeps the
// state that its views show (status line, progress, popups, Bluetooth prompts).
//
// Threads: page requests, view actions, Bluetooth reports and the delayed endings of jobs
// run on the main queue. Jobs run on workers: a detached thread per NFC read and per write,
// and the page's scan thread for the Bluetooth reader's jobs. Every page event of a job is
// handed to the main queue synchronously. The state is one value behind a lock; each change
// is announced to the observers of `state` on the thread that made it.
//
// Create with WorkPage::create; the page lives as long as someone holds it or a job of it
// runs.
class WorkPage : public WebViewHandlerProtocol,
                 public ResponseToReaderDelegate,
                 public BleStatusDelegateProtocol,
                 public std::enable_shared_from_this<WorkPage> {
public:
    static constexpr const char* TAG = "------ WorkPage ------";

    static std::shared_ptr<WorkPage> create(ReaderMode mode, WorkPageEnvironment environment);
    ~WorkPage() override;

    WorkPage(const WorkPage&) = delete;
    WorkPage& operator=(const WorkPage&) = delete;

    // The page comes on screen: takes the page's requests, opens the device sheet in
    // Bluetooth mode, creates the transport and starts the scan thread. Main queue.
    void appear();

    // Puts the configuration page ("index.html" of the bundle) into the web view; without
    // that resource no page is shown. Main queue.
    void attachWebView(const std::shared_ptr<WebViewHost>& webView);

    ReaderMode mode() const { return mMode; }
    Published<WorkPageState> state;
    WorkPageState snapshot() const { return state.get(); }

    // Blocks until the state satisfies the predicate or the timeout passes; true when it did.
    bool waitForState(const std::function<bool(const WorkPageState&)>& predicate, Millis timeout);
    // Blocks until no detached job of this page runs.
    void waitForJobs();
    // A wait for the end of the scan loop, to call after letting go of a stopped page: the loop
    // holds the page during each turn, so the page may end on the loop's thread a turn later.
    // Returns at once when the loop never started. Never call it on the loop's own thread.
    std::function<void()> scanLoopEnd() const;

    NfcDataHandler& dataHandler() { return *mDataHandler; }
    JSController& jsController() { return *mJsController; }
    // The Bluetooth reader's central, in Bluetooth mode once the page has appeared.
    BluetoothManager* bluetoothManager();

    // View actions (main queue).
    void connectPeripheral(const std::shared_ptr<Peripheral>& peripheral); // a row of the device sheet
    void deviceSheetOk();
    void deviceSheetCancel();  // leaves the page
    void waitingPopupCancel(); // pauses the scan loop
    void errorTipsOk();        // closes "Failed to write!"
    void connectedPopoverOk(); // closes "Connected!"

    // WebViewHandlerProtocol
    void handlePageRequest(const std::string& method, const std::string& data) override;
    // ResponseToReaderDelegate
    void onReaderEvent(const std::string& event, const std::optional<std::string>& message,
                       bool isError) override;
    // BleStatusDelegateProtocol
    void onBleStatus(BLEStatusEnum status) override;

    // The jobs; on a worker, never on the main queue.
    void runReadWorkflow();
    void runWriteWorkflow(const std::string& data);
    // Sends "WRITE_EVENT" to the page when a tag answers.
    void writeModePresenceStep();

    // Status setters; "read" or "write" by mIsWriteMode.
    void showWaiting();
    void showWaitingPopup();
    void setProgress(float fraction);
    void showProgress();
    void showCompleted();
    void showFailure(const std::string& detail);
    void showNotSupported();
    void closeWaitingPopup();
    void setScanWorkStatus(RunStatus status);

private:
    WorkPage(ReaderMode mode, WorkPageEnvironment environment);

    void onInit();
    void startWaitingForTag(bool isWriteMode);
    void leavePage();
    void sendVersion();
    std::string versionText() const;

    // "EXPORT_PROFILE" and "IMPORT_PROFILE": a file dialog, then the file written or read on
    // a worker, answered with one "PROFILE_EVENT" (work/profile_requests.cpp).
    void exportProfile(const std::string& data);
    void importProfile();
    // False, with the failure sent, when no dialog can open now.
    bool canOpenProfileDialog(const char* request);
    // Opens the dialog; a chosen file goes to `job` on a worker, whose answer is sent.
    using ProfileJob = std::function<std::string(const std::filesystem::path& file)>;
    void openProfileDialog(bool save, const FileChooserRequest& request, const char* requestName,
                           ProfileJob job);
    // Sends the answer, unless the page has been left. Main queue.
    void sendProfileEvent(const std::string& payload);

    // One turn of the scan loop; false once the loop is to end.
    bool scanTurn();
    void wakeScanLoop();

    // Runs the job on a new detached thread that keeps the page alive.
    void startJob(std::function<void(WorkPage&)> job);
    // Runs on the main queue and waits (page events of a job).
    void onMainQueue(const std::function<void()>& task);
    // Runs on the main queue after the delayed-ending time, if the page still exists.
    void afterDelayedEnding(std::function<void(WorkPage&)> task);

    std::shared_ptr<BleReader> bleReader() const;
    void readArea(const std::string& area, const std::string& key, bool& readOk);
    void finishNfcSession(const std::string& message, bool success);
    void markRunEnded();
    // Tells a page that watches jobs how the run ended: at once over NFC, after the delayed
    // ending over Bluetooth (whose ending changes the popup and the scan status). Worker.
    void reportRunEnd(std::string_view job, bool completed, const std::optional<Bytes>& uid);
    void failWrite(const std::string& message);
    void writeOneArea(const WriteValuesType& entry, bool& ok, int& written, int count);

    const ReaderMode mMode;
    WorkPageEnvironment mEnvironment;
    std::shared_ptr<NfcDataHandler> mDataHandler;
    std::shared_ptr<JSController> mJsController;
    Published<bool> mIsLoaded{false};
    std::unique_ptr<WebView> mWebView;
    Published<bool>::Subscription mIsLoadedSubscription;
    Published<bool>::Subscription mConnectedSubscription;

    // The scan loop sleeps here between turns; a page request or leaving the page wakes it.
    struct ScanWaker {
        std::mutex mutex;
        std::condition_variable wake;
        bool requested = false;
        bool loopRunning = false;
        void waitFor(Millis period);
        void notify();
        void markLoopEnded();
        void waitForLoopEnd();
    };
    std::shared_ptr<ScanWaker> mScanWaker = std::make_shared<ScanWaker>();
    std::thread mScanThread;

    // A profile dialog is open. Main queue only.
    bool mProfileDialogOpen = false;
    // "WATCH_JOBS:on": the ends of runs are reported.
    std::atomic<bool> mWatchJobs{false};

    std::mutex mJobsMutex;
    std::condition_variable mJobsDone;
    int mRunningJobs = 0;
};

} // namespace wynfc
