#include "work/work_page.h"

#include "platform/console_log.h"
#include "readers/ble_reader.h"
#include "readers/bluetooth_manager.h"
#include "readers/nfc_reader.h"
#include "readers/shared_api.h"
#include "web/page_events.h"
#include "work/page_data.h"

#include <nlohmann/json.hpp>

#include <utility>

namespace wynfc {

std::shared_ptr<WorkPage> WorkPage::create(ReaderMode mode, WorkPageEnvironment environment) {
    return std::shared_ptr<WorkPage>(new WorkPage(mode, std::move(environment)));
}

WorkPage::WorkPage(ReaderMode mode, WorkPageEnvironment environment)
    : mMode(mode), mEnvironment(std::move(environment)),
      mDataHandler(std::make_shared<NfcDataHandler>(mEnvironment.bundle, mEnvironment.platform)),
      mJsController(std::make_shared<JSController>()) {
    if (!mEnvironment.tabData) {
        mEnvironment.tabData = std::make_shared<MyTabData>();
    }
}

WorkPage::~WorkPage() {
    state.modify([](WorkPageState& s) { s.mScanWorkStatus = RunStatus::STOP_STATUS; });
    mScanWaker->notify();
    if (mScanThread.joinable()) {
        if (mScanThread.get_id() == std::this_thread::get_id()) {
            mScanThread.detach(); // the scan loop's last turn released the page; it ends by itself
        } else {
            mScanThread.join();
        }
    }
}

void WorkPage::appear() {
    if (mScanThread.joinable()) {
        return; // a page appears once; its transport and scan loop are already running
    }
    mJsController->setDelegate(weak_from_this());
    state.modify([&](WorkPageState& s) { s.mShowBLE = mMode == ReaderMode::BLE; });
    onInit();
}

void WorkPage::onInit() {
    logLine(TAG, "WorkPage onInit: " + std::string(rawValue(mMode)));
    mDataHandler->setReaderMode(mMode);
    if (auto reader = bleReader()) {
        reader->startScan(weak_from_this(), false);
        BluetoothManager& manager = reader->bluetoothManager();
        manager.setBLEStatusDelegate(weak_from_this());
        // The "Connected!" alert follows the central's connection.
        mConnectedSubscription =
            manager.isConnected.observe([weak = weak_from_this()](const bool& connected) {
                if (auto self = weak.lock()) {
                    self->state.modify([&](WorkPageState& s) { s.mShowingPopover = connected; });
                    // The page owns the manager that calls this: should its other owners have
                    // let go meanwhile, it ends in a task of its own, not inside the manager.
                    const std::shared_ptr<MainQueue> queue = self->mEnvironment.platform.mainQueue;
                    queue->async([last = std::move(self)] {});
                }
            });
    }
    mDataHandler->setWebViewHandle(mJsController->webviewHandle());

    {
        std::lock_guard lock(mScanWaker->mutex);
        mScanWaker->loopRunning = true;
    }
    mScanThread = std::thread([weak = weak_from_this(), waker = mScanWaker] {
        // Declared before the page is taken, so it runs after the last turn let go of it.
        struct LoopEnd {
            ScanWaker& waker;
            ~LoopEnd() { waker.markLoopEnded(); }
        } loopEnd{*waker};
        for (;;) {
            Millis period{};
            {
                const std::shared_ptr<WorkPage> self = weak.lock();
                if (!self || !self->scanTurn()) {
                    return;
                }
                period = self->mEnvironment.platform.timing.scanLoopPeriod;
            } // the page may end here, on this thread: the loop then stops at once
            waker->waitFor(period);
        }
    });
}

void WorkPage::attachWebView(const std::shared_ptr<WebViewHost>& webView) {
    const auto page =
        mEnvironment.bundle ? mEnvironment.bundle->pathForResource("index", "html") : std::nullopt;
    if (!page || !webView || mWebView) {
        return;
    }
    mIsLoadedSubscription = mIsLoaded.observe([weak = weak_from_this()](const bool& loaded) {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        self->state.modify([&](WorkPageState& s) { s.mIsLoaded = loaded; });
        // Every finished load gets the reader type, so a reloaded page has it too.
        if (auto handle = self->mJsController->webviewHandle(); loaded && handle) {
            handle->evaluateScript(readerTypeScript(rawValue(self->mMode)));
        }
    });
    mWebView = std::make_unique<WebView>(fileUrl(*page), mJsController, mIsLoaded);
    mWebView->makeView(webView);
    mDataHandler->setWebViewHandle(mJsController->webviewHandle());
}

bool WorkPage::waitForState(const std::function<bool(const WorkPageState&)>& predicate, Millis timeout) {
    struct Waiter {
        std::mutex mutex;
        std::condition_variable changed;
    };
    // Shared with the observer: a notification already under way may outlive this call.
    auto waiter = std::make_shared<Waiter>();
    const auto subscription = state.observe([waiter](const WorkPageState&) {
        std::lock_guard lock(waiter->mutex);
        waiter->changed.notify_all();
    });
    std::unique_lock lock(waiter->mutex);
    return waiter->changed.wait_for(lock, timeout, [&] { return predicate(state.get()); });
}

void WorkPage::waitForJobs() {
    std::unique_lock lock(mJobsMutex);
    mJobsDone.wait(lock, [&] { return mRunningJobs == 0; });
}

std::shared_ptr<BleReader> WorkPage::bleReader() const {
    return std::dynamic_pointer_cast<BleReader>(mDataHandler->getReader());
}

BluetoothManager* WorkPage::bluetoothManager() {
    auto reader = bleReader();
    return reader ? &reader->bluetoothManager() : nullptr;
}

void WorkPage::connectPeripheral(const std::shared_ptr<Peripheral>& peripheral) {
    if (BluetoothManager* manager = bluetoothManager()) {
        manager->connect(peripheral);
    }
}

void WorkPage::deviceSheetOk() {
    state.modify([](WorkPageState& s) { s.mShowBLE = false; });
}

void WorkPage::deviceSheetCancel() {
    state.modify([](WorkPageState& s) {
        s.mShowBLE = false;
        s.mScanWorkStatus = RunStatus::STOP_STATUS;
    });
    mScanWaker->notify();
    if (BluetoothManager* manager = bluetoothManager()) {
        manager->disconnect();
    }
    if (mEnvironment.dismiss) {
        mEnvironment.dismiss();
    }
    mEnvironment.tabData->showTab.set(true);
}

void WorkPage::waitingPopupCancel() {
    if (snapshot().mDisableCancel) {
        return;
    }
    state.modify([](WorkPageState& s) {
        s.mShowBLEOperatePopup = false;
        changeScanWorkStatus(s, RunStatus::PAUSE_STATUS);
    });
}

void WorkPage::errorTipsOk() {
    state.modify([](WorkPageState& s) { s.mShowErrorTipsPopup = false; });
}

void WorkPage::connectedPopoverOk() {
    state.modify([](WorkPageState& s) { s.mShowingPopover = false; });
}

void WorkPage::handlePageRequest(const std::string& method, const std::string& data) {
    if (method == "SHOW_READ_MODE_POPUP") {
        state.modify([](WorkPageState& s) { s.mIsWriteMode = false; });
        startWaitingForTag(false);
    } else if (method == "SHOW_WRITE_MODE_POPUP") {
        bool refused = false;
        state.modify([&](WorkPageState& s) {
            s.mIsWriteMode = true;
            refused = s.mReadFailed;
            s.mShowErrorTipsPopup = s.mShowErrorTipsPopup || refused;
        });
        if (refused) {
            return; // "Failed to write!": a write needs a successful read first
        }
        startWaitingForTag(true);
    } else if (method == "WRITE_DATA") {
        startJob([data](WorkPage& page) { page.runWriteWorkflow(data); });
    } else if (method == "HIDE_APP") {
        leavePage();
    } else if (method == "GET_VERSION") {
        sendVersion();
    } else if (method == kExportProfileRequest) {
        exportProfile(data);
    } else if (method == kImportProfileRequest) {
        importProfile();
    } else if (method == kWatchJobsRequest) {
        mWatchJobs = data == "on";
    } else if (method == kNextDriverRequest) {
        if (mEnvironment.nextDriver) {
            mEnvironment.nextDriver();
        }
    } else if (method == kGetPageDataRequest) {
        if (mEnvironment.bundle) {
            mDataHandler->sendEvent(kPageDataCallback, pageDataPayload(*mEnvironment.bundle));
        }
    }
    logLine(TAG, "Request from H5: " + method + ": " + data);
}

void WorkPage::startWaitingForTag(bool isWriteMode) {
    if (mMode == ReaderMode::BLE) {
        showWaitingPopup();
        setScanWorkStatus(RunStatus::RUNNING_STATUS);
        mScanWaker->notify();
        return;
    }
    if (auto reader = mDataHandler->getReader()) {
        reader->startScan(weak_from_this(), isWriteMode);
    }
}

void WorkPage::leavePage() {
    setScanWorkStatus(RunStatus::STOP_STATUS);
    mScanWaker->notify();
    if (BluetoothManager* manager = bluetoothManager(); manager && manager->isConnected.get()) {
        manager->disconnect();
    }
    state.modify([](WorkPageState& s) { s.mExitPage = true; });
    if (mEnvironment.dismiss) {
        mEnvironment.dismiss();
    }
    mEnvironment.tabData->showTab.set(true);
}

std::string WorkPage::versionText() const {
    const auto appVersion = mEnvironment.bundle ? mEnvironment.bundle->shortVersion() : std::nullopt;
    const std::string libraryVersion = sharedApi().getVersion();
    if (!appVersion || libraryVersion.empty()) {
        return "0.0.0";
    }
    return libraryVersion + "-" + *appVersion;
}

void WorkPage::sendVersion() {
    mDataHandler->sendEvent(kGetVersionCallback, versionText());
}

void WorkPage::onReaderEvent(const std::string& event, const std::optional<std::string>& /*message*/,
                             bool isError) {
    if (mMode == ReaderMode::BLE) {
        return;
    }
    const bool isWriteMode = snapshot().mIsWriteMode;
    if (event == kEventDetected && !isError) {
        if (isWriteMode) {
            writeModePresenceStep();
        } else {
            startJob([](WorkPage& page) { page.runReadWorkflow(); });
        }
    } else if (event == kEventReadError && isError && !isWriteMode) {
        state.modify([](WorkPageState& s) { s.mReadFailed = true; });
    }
}

void WorkPage::onBleStatus(BLEStatusEnum status) {
    logLine(TAG, "BLE STATUS Callback: " + std::string(rawValue(status)));
    switch (status) {
    case BLEStatusEnum::CONNECTED:
        logLine(TAG, "STATUS: CONNECTED");
        break;
    case BLEStatusEnum::DISCONNECTED: {
        bool exitPage = false;
        state.modify([&](WorkPageState& s) {
            exitPage = s.mExitPage;
            s.mShowBLE = !s.mExitPage;
        });
        mDataHandler->discoveredPeripherals.set({});
        if (BluetoothManager* manager = bluetoothManager(); manager && !exitPage) {
            manager->rescan();
        }
        break;
    }
    case BLEStatusEnum::UNAUTHORIZED:
        state.modify([](WorkPageState& s) { s.mShowBLEUnAuth = true; });
        break;
    case BLEStatusEnum::POWEROFF:
        state.modify([](WorkPageState& s) { s.mShowBLE = !s.mExitPage; });
        mDataHandler->discoveredPeripherals.set({});
        state.modify([](WorkPageState& s) { s.mShowBLEDisable = true; });
        break;
    case BLEStatusEnum::POWERON:
        state.modify([](WorkPageState& s) {
            s.mShowBLEUnAuth = false;
            s.mShowBLEDisable = false;
        });
        break;
    }
}

bool WorkPage::scanTurn() {
    const WorkPageState current = snapshot();
    switch (current.mScanWorkStatus) {
    case RunStatus::RUNNING_STATUS:
        if (current.mShowBLEOperatePopup) {
            if (current.mIsWriteMode) {
                writeModePresenceStep();
            } else {
                runReadWorkflow();
            }
        }
        return true;
    case RunStatus::PAUSE_STATUS:
        return true;
    case RunStatus::STOP_STATUS:
        logLine(TAG, "------STOP scan------");
        return false;
    }
    return false;
}

void WorkPage::ScanWaker::waitFor(Millis period) {
    std::unique_lock lock(mutex);
    wake.wait_for(lock, period, [&] { return requested; });
    requested = false;
}

void WorkPage::ScanWaker::notify() {
    std::lock_guard lock(mutex);
    requested = true;
    wake.notify_all();
}

void WorkPage::ScanWaker::markLoopEnded() {
    std::lock_guard lock(mutex);
    loopRunning = false;
    wake.notify_all();
}

void WorkPage::ScanWaker::waitForLoopEnd() {
    std::unique_lock lock(mutex);
    wake.wait(lock, [&] { return !loopRunning; });
}

std::function<void()> WorkPage::scanLoopEnd() const {
    return [waker = mScanWaker] { waker->waitForLoopEnd(); };
}

void WorkPage::startJob(std::function<void(WorkPage&)> job) {
    {
        std::lock_guard lock(mJobsMutex);
        ++mRunningJobs;
    }
    std::thread([self = shared_from_this(), job = std::move(job)] {
        job(*self);
        std::lock_guard lock(self->mJobsMutex);
        --self->mRunningJobs;
        self->mJobsDone.notify_all();
    }).detach();
}

void WorkPage::onMainQueue(const std::function<void()>& task) {
    mEnvironment.platform.mainQueue->sync(task);
}

void WorkPage::afterDelayedEnding(std::function<void(WorkPage&)> task) {
    mEnvironment.platform.mainQueue->after(mEnvironment.platform.timing.delayedEnding,
                                           [weak = weak_from_this(), task = std::move(task)] {
                                               if (auto self = weak.lock()) {
                                                   task(*self);
                                               }
                                           });
}

void WorkPage::markRunEnded() {
    state.modify([](WorkPageState& s) { ++s.mRunsEnded; });
}

void WorkPage::reportRunEnd(std::string_view job, bool completed, const std::optional<Bytes>& uid) {
    if (!mWatchJobs) {
        return;
    }
    const std::string payload =
        jobEventPayload(job, completed, uid, completed ? std::string() : snapshot().mErrorTips);
    if (mMode == ReaderMode::BLE) {
        afterDelayedEnding([payload](WorkPage& page) { page.mDataHandler->sendEvent(kJobEvent, payload); });
    } else {
        onMainQueue([&] { mDataHandler->sendEvent(kJobEvent, payload); });
    }
}

std::string jobEventPayload(std::string_view job, bool completed, const std::optional<Bytes>& uid,
                            std::string_view message) {
    nlohmann::json event = {{"job", job},
                            {"outcome", completed ? "completed" : "failed"},
                            {"uid", nullptr},
                            {"message", message}};
    if (uid && !uid->empty()) {
        static constexpr char kDigits[] = "0123456789ABCDEF";
        std::string text;
        // In the order the tag reports it, as tag images, wynfc dump and wynfc program give it.
        for (auto byte = uid->begin(); byte != uid->end(); ++byte) {
            text += kDigits[*byte >> 4];
            text += kDigits[*byte & 0x0F];
        }
        event["uid"] = text;
    }
    return event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void WorkPage::finishNfcSession(const std::string& message, bool success) {
    if (auto reader = std::dynamic_pointer_cast<NfcReader>(mDataHandler->getReader())) {
        reader->finishSession(message, success);
    }
}

} // namespace wynfc
