#include "cli/page_host.h"

#include "readers/bluetooth_manager.h"
#include "web/page_events.h"

#include <stdexcept>

namespace wynfc::cli {
namespace {

// A job that takes longer than this has stalled (a read of every area takes a few seconds
// at worst, with the reader's own timeouts).
constexpr Millis kJobLimit{120000};

bool isFinalReadStatus(const std::string& status) {
    return status == "Read completed" || status == "Read failed" || status == "Not Support this product";
}

} // namespace

PageHost::PageHost(ReaderChoice reader, std::shared_ptr<const Bundle> bundle, std::shared_ptr<VirtualTag> tag,
                   Timing timing)
    : mTiming(timing), mTag(std::move(tag)), mReader(reader),
      mFeig(std::make_shared<SimulatedFeigReader>(timing)),
      mWeb(std::make_shared<RecordingWebViewHost>(*mMain)) {
    mRadio.addDevice(mFeig);
    WorkPageEnvironment environment;
    environment.tabData = std::make_shared<MyTabData>();
    environment.bundle = std::move(bundle);
    environment.platform = {mNfc, mRadio.centralFactory(*mMain), mMain, timing};
    mPage = WorkPage::create(reader == ReaderChoice::SimBle ? ReaderMode::BLE : ReaderMode::NFC, environment);
    mWeb->setScriptObserver([this](const std::string& script) { onScript(script); });
    mStatusSubscription = mPage->state.observe([this](const WorkPageState& state) {
        if (mStatusObserver) {
            mStatusObserver(state);
        }
    });
}

PageHost::~PageHost() {
    if (mPage) {
        mMain->sync([&] { mPage->handlePageRequest("HIDE_APP", ""); });
        mPage->waitForJobs();
        mMain->waitIdle();
        mStatusSubscription = {};
        mWeb->setScriptObserver({});
        mPage.reset(); // off the main queue, which no one waits for here
    }
    mMain->waitIdle();
    mNfc->waitIdle();
}

void PageHost::setEventSink(std::function<void(const PageEvent&)> sink) {
    std::lock_guard lock(mEventsMutex);
    mEventSink = std::move(sink);
}

void PageHost::setStatusObserver(std::function<void(const WorkPageState&)> observer) {
    mStatusObserver = std::move(observer);
}

std::vector<PageEvent> PageHost::events() const {
    std::lock_guard lock(mEventsMutex);
    return mEvents;
}

void PageHost::onScript(const std::string& script) {
    std::optional<PageEvent> event = parseEventScript(script);
    if (!event) {
        return; // not an event (the reader-type script)
    }
    std::lock_guard lock(mEventsMutex);
    if (mEventSink) {
        mEventSink(*event);
    }
    mEvents.push_back(std::move(*event));
    mEventArrived.notify_all();
}

bool PageHost::waitForEvent(const std::function<bool(const std::vector<PageEvent>&)>& condition) {
    std::unique_lock lock(mEventsMutex);
    return mEventArrived.wait_for(lock, kJobLimit, [&] { return condition(mEvents); });
}

void PageHost::post(const std::string& request) {
    mWeb->postText(kRequestHandlerName, request);
    mMain->waitIdle();
}

void PageHost::open() {
    mMain->sync([&] {
        mPage->attachWebView(mWeb);
        mPage->appear();
    });
    mMain->waitIdle();
    if (mReader != ReaderChoice::SimBle) {
        return;
    }
    mFeig->putTag(mTag);
    // The device sheet: the user picks the reader the scan found.
    const auto found = mPage->dataHandler().discoveredPeripherals.get();
    if (found.empty()) {
        throw std::runtime_error("no Bluetooth NFC reader was found");
    }
    mMain->sync([&] { mPage->connectPeripheral(found.front()); });
    mMain->waitIdle();
    BluetoothManager* manager = mPage->bluetoothManager();
    if (manager == nullptr || !manager->isConnected.get() || !manager->hasTransferCharacteristic()) {
        throw std::runtime_error("could not connect to the Bluetooth NFC reader");
    }
    mMain->sync([&] { mPage->deviceSheetOk(); });
}

void PageHost::ensureTagPresented() {
    if (mReader == ReaderChoice::SimNfc && mNfc->tagsInField().empty()) {
        mNfc->present(mTag);
    }
}

JobOutcome PageHost::waitForRun(int runsBefore, bool isWrite) {
    const bool ended =
        mPage->waitForState([&](const WorkPageState& s) { return s.mRunsEnded > runsBefore; }, kJobLimit);
    if (!ended) {
        throw std::runtime_error(std::string("the ") + (isWrite ? "write" : "read") + " did not end");
    }
    mPage->waitForJobs();
    const WorkPageState ending = mPage->snapshot();
    JobOutcome outcome{ending.mStatusTips, ending.mHasError ? ending.mErrorTips : "", ending.mProgressValue,
                       ending.mStatusTips == (isWrite ? "Write completed" : "Read completed")};
    if (mReader == ReaderChoice::SimBle) {
        if (!isWrite && !outcome.completed) {
            // The scan loop would try again and again: stop it, as the user would.
            mMain->sync([&] { mPage->setScanWorkStatus(RunStatus::PAUSE_STATUS); });
        }
        // A successful read, and every write, close the waiting popup after a moment.
        if (isWrite || outcome.completed) {
            mPage->waitForState([](const WorkPageState& s) { return !s.mShowBLEOperatePopup; }, kJobLimit);
        }
    }
    return outcome;
}

JobOutcome PageHost::read() {
    const int runsBefore = mPage->snapshot().mRunsEnded;
    post("SHOW_READ_MODE_POPUP:");
    ensureTagPresented();
    JobOutcome outcome = waitForRun(runsBefore, false);
    if (!isFinalReadStatus(outcome.status)) {
        // The product description could not be read: the run set no status of its own.
        outcome.status = "Read failed";
        outcome.detail = "Read failed: product description";
    }
    return outcome;
}

JobOutcome PageHost::write(const std::string& data) {
    const auto writeEvents = [](const std::vector<PageEvent>& events) {
        return std::count_if(events.begin(), events.end(), [](const PageEvent& e) {
            return e.event == kNotifyEvent && e.payload == kWriteEventPayload;
        });
    };
    const auto before = writeEvents(events());
    post("SHOW_WRITE_MODE_POPUP:");
    if (mPage->snapshot().mShowErrorTipsPopup) {
        return {"Write failed",
                "Failed to write! Reading data was occurred an error, please read data again!", 0.0F, false};
    }
    ensureTagPresented();
    if (!waitForEvent([&](const std::vector<PageEvent>& events) { return writeEvents(events) > before; })) {
        throw std::runtime_error("no tag answered in write mode");
    }
    const int runsBefore = mPage->snapshot().mRunsEnded;
    post("WRITE_DATA:" + data);
    return waitForRun(runsBefore, true);
}

std::string PageHost::version() {
    const auto before = events().size();
    post("GET_VERSION:");
    if (!waitForEvent([&](const std::vector<PageEvent>& events) { return events.size() > before; })) {
        throw std::runtime_error("the version request was not answered");
    }
    return events().back().payload;
}

} // namespace wynfc::cli
