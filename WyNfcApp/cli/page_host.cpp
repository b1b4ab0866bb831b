#include "cli/page_host.h"

#include "cli/pcsc_readers.h"

#include "platform/linux/bluez_central.h"
#include "readers/ble_reader.h"
#include "readers/bluetooth_manager.h"
#include "web/page_events.h"

#include <algorithm>
#include <cctype>
#include <iostream>
#include <stdexcept>

namespace wynfc::cli {
namespace {

// A central that tells the host its state as well as its delegate: the pages keep only what
// they show, and a host without them still has to say why no reader came.
class WatchedCentral final : public CentralManager, private CentralManagerDelegate {
public:
    WatchedCentral(const CentralManagerFactory& inner, CentralManagerDelegate& outer,
                   std::shared_ptr<PageHost::CentralWatch> watch)
        : mOuter(outer), mWatch(std::move(watch)) {
        mCentral = inner(*this);
    }
    ~WatchedCentral() override { mCentral.reset(); } // no callback runs once it has gone

    CentralState state() const override { return mCentral->state(); }
    void scanForPeripherals() override { mCentral->scanForPeripherals(); }
    void stopScan() override { mCentral->stopScan(); }
    bool isScanning() const override { return mCentral->isScanning(); }
    void connect(const std::shared_ptr<Peripheral>& peripheral) override { mCentral->connect(peripheral); }
    void cancelPeripheralConnection(const std::shared_ptr<Peripheral>& peripheral) override {
        mCentral->cancelPeripheralConnection(peripheral);
    }

private:
    void centralManagerDidUpdateState(CentralManager& central) override {
        mWatch->state.set(central.state());
        mOuter.centralManagerDidUpdateState(*this);
    }
    void didDiscover(CentralManager&, const std::shared_ptr<Peripheral>& peripheral,
                     const AdvertisementData& advertisementData, int rssi) override {
        mOuter.didDiscover(*this, peripheral, advertisementData, rssi);
    }
    void didConnect(CentralManager&, const std::shared_ptr<Peripheral>& peripheral) override {
        mOuter.didConnect(*this, peripheral);
    }
    void didFailToConnect(CentralManager&, const std::shared_ptr<Peripheral>& peripheral,
                          const std::optional<BleError>& error) override {
        mWatch->failedConnections.modify([](int& count) { ++count; });
        mOuter.didFailToConnect(*this, peripheral, error);
    }
    void didDisconnectPeripheral(CentralManager&, const std::shared_ptr<Peripheral>& peripheral,
                                 const std::optional<BleError>& error) override {
        mOuter.didDisconnectPeripheral(*this, peripheral, error);
    }

    CentralManagerDelegate& mOuter;
    std::shared_ptr<PageHost::CentralWatch> mWatch;
    std::unique_ptr<CentralManager> mCentral; // last: it goes first
};

bool sameText(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

std::string seconds(Millis duration) {
    const auto tenths = (duration.count() + 50) / 100;
    return std::to_string(tenths / 10) + (tenths % 10 != 0 ? "." + std::to_string(tenths % 10) : "") + " s";
}

// A job that takes longer than this has stalled (a read of every area takes a few seconds
// at worst, with the reader's own timeouts).
constexpr Millis kJobLimit{120000};

// What a host's wait sleeps on while observers of the page and the readers wake it. Shared
// with the observers: a call already under way may end after the wait has.
struct WakeSignal {
    std::mutex mutex;
    std::condition_variable changed;
    void wake() {
        std::lock_guard lock(mutex);
        changed.notify_all();
    }
};

// The UID of the first record of a Bluetooth reader's inventory data: the count, then per tag
// its transponder type, DSFID and 8-byte UID.
Bytes firstUid(const Bytes& inventory) {
    if (inventory.size() < 11 || inventory[0] == 0) {
        return {};
    }
    return Bytes(inventory.begin() + 3, inventory.begin() + 11);
}

bool isFinalReadStatus(const std::string& status) {
    return status == "Read completed" || status == "Read failed" || status == "Not Support this product";
}

} // namespace

PageHost::PageHost(ReaderChoice reader, std::shared_ptr<const Bundle> bundle, std::shared_ptr<VirtualTag> tag,
                   Timing timing, std::optional<std::string> device, std::optional<std::string> pcscReader)
    : mTiming(timing), mTag(std::move(tag)), mReader(reader), mDevice(std::move(device)),
      mFeig(std::make_shared<SimulatedFeigReader>(timing)),
      mWeb(std::make_shared<RecordingWebViewHost>(*mMain)) {
    mPcscReader = std::move(pcscReader);
    std::shared_ptr<TagReaderService> tagReaders = mNfc;
    if (reader == ReaderChoice::Nfc) {
        tagReaders = pcscReaders(mPcscReader, timing); // throws when there is none
    }
    mSheet = std::make_shared<PrintedSheetService>(tagReaders, [](const std::string& line) {
        std::cerr << "NFC sheet: " + line + "\n" << std::flush;
    });
    mRadio.addDevice(mFeig);
    WorkPageEnvironment environment;
    environment.tabData = std::make_shared<MyTabData>();
    environment.bundle = std::move(bundle);
    CentralManagerFactory centrals = mRadio.centralFactory(*mMain);
    if (reader == ReaderChoice::Ble) {
        BluezCentral::Options options;
        options.timing = timing;
        centrals = [inner = BluezCentral::factory(*mMain, options), watch = mCentralWatch](
                       CentralManagerDelegate& delegate) -> std::unique_ptr<CentralManager> {
            return std::make_unique<WatchedCentral>(inner, delegate, watch);
        };
    }
    environment.platform = {mSheet, centrals, mMain, timing};
    mPage = WorkPage::create(isBluetooth(reader) ? ReaderMode::BLE : ReaderMode::NFC, environment);
    mWeb->setScriptObserver([this](const std::string& script) { onScript(script); });
    mStatusSubscription = mPage->state.observe([this](const WorkPageState& state) {
        {
            std::lock_guard lock(mRunEndingsMutex);
            mRunEndings.try_emplace(state.mRunsEnded, state);
        }
        if (mStatusObserver) {
            mStatusObserver(state);
        }
    });
}

void PageHost::setLinkModel(const LinkModel& model) {
    mFeig->setLinkModel(model, mLinkAccount);
    mNfc->setLinkModel(model, mLinkAccount);
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
    if (mReader == ReaderChoice::Ble) {
        connectRealReader();
        return;
    }
    if (mReader != ReaderChoice::SimBle) {
        if (mQueue) {
            mQueue->start();
        }
        return;
    }
    if (mQueue) {
        mQueue->start();
    } else {
        mFeig->putTag(mTag);
    }
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

bool PageHost::waitForBluetooth(const std::function<bool()>& condition, Millis limit) {
    const auto signal = std::make_shared<WakeSignal>();
    const auto state = mCentralWatch->state.observe([signal](CentralState) { signal->wake(); });
    const auto failed = mCentralWatch->failedConnections.observe([signal](int) { signal->wake(); });
    const auto found =
        mPage->dataHandler().discoveredPeripherals.observe([signal](const auto&) { signal->wake(); });
    Published<bool>::Subscription connected;
    if (BluetoothManager* manager = mPage->bluetoothManager()) {
        connected = manager->isConnected.observe([signal](bool) { signal->wake(); });
    }
    std::unique_lock lock(signal->mutex);
    return signal->changed.wait_for(lock, limit, condition);
}

void PageHost::connectRealReader() {
    const auto wanted = [&](const std::shared_ptr<Peripheral>& peripheral) {
        return !mDevice || sameText(peripheral->identifier(), *mDevice) || peripheral->name() == *mDevice;
    };
    std::shared_ptr<Peripheral> reader;
    const auto unusable = [&] {
        const CentralState state = mCentralWatch->state.get();
        return state == CentralState::unsupported || state == CentralState::unauthorized ||
               state == CentralState::poweredOff;
    };
    waitForBluetooth(
        [&] {
            const auto found = mPage->dataHandler().discoveredPeripherals.get();
            const auto match = std::find_if(found.begin(), found.end(), wanted);
            reader = match != found.end() ? *match : nullptr;
            return reader || unusable();
        },
        mTiming.bluetoothScanLimit);
    switch (mCentralWatch->state.get()) {
    case CentralState::unsupported:
        throw std::runtime_error(
            "Bluetooth is not available here: no Bluetooth adapter, or the BlueZ service "
            "(bluetoothd) is not running");
    case CentralState::unauthorized:
        throw std::runtime_error("this user may not use Bluetooth: BlueZ refused access");
    case CentralState::poweredOff:
        throw std::runtime_error("Bluetooth is off: switch it on (for example: bluetoothctl power on)");
    default:
        break;
    }
    if (!reader) {
        throw std::runtime_error("no Bluetooth NFC reader" +
                                 (mDevice ? " \"" + *mDevice + "\"" : std::string()) + " found within " +
                                 seconds(mTiming.bluetoothScanLimit));
    }
    const std::string named = reader->name().value_or("") + " (" + reader->identifier() + ")";
    const int failedBefore = mCentralWatch->failedConnections.get();
    mMain->sync([&] { mPage->connectPeripheral(reader); });
    BluetoothManager* manager = mPage->bluetoothManager();
    // The central gives up on its own, after its attempts or its connection limit.
    waitForBluetooth(
        [&] {
            return manager->isConnected.get() || unusable() ||
                   mCentralWatch->failedConnections.get() > failedBefore;
        },
        mTiming.bluetoothConnectTimeout + mTiming.bluetoothCallTimeout);
    // The connection came in a callback from the bus, which is no task of the main queue: once
    // it has returned, the service and characteristic discovery it started are tasks to wait for.
    mMain->sync([] {});
    mMain->waitIdle();
    if (!manager->isConnected.get() || !manager->hasTransferCharacteristic()) {
        throw std::runtime_error("could not connect to the Bluetooth NFC reader " + named);
    }
    mMain->sync([&] { mPage->deviceSheetOk(); });
}

void PageHost::awaitRealTag(int runsBefore, int detectionsBefore, int sessionsBefore) {
    if (mReader != ReaderChoice::Nfc) {
        return;
    }
    if (mInterrupted) {
        mSheet->closeSheet(); // interrupt() came before this job's session was made
    }
    const auto signal = std::make_shared<WakeSignal>();
    const auto detected = mSheet->detections.observe([signal](int) { signal->wake(); });
    const auto ended = mSheet->endedThrough.observe([signal](int) { signal->wake(); });
    // Only a session of this job counts: the last job's may tell its end late.
    const auto ownSessionEnded = [&] { return mSheet->endedThrough.get() > sessionsBefore; };
    const auto state = mPage->state.observe([signal](const WorkPageState&) { signal->wake(); });
    std::unique_lock lock(signal->mutex);
    const bool came = signal->changed.wait_for(lock, mTiming.tagPresentLimit, [&] {
        return mSheet->detections.get() > detectionsBefore || ownSessionEnded() ||
               mPage->snapshot().mRunsEnded > runsBefore;
    });
    lock.unlock();
    if (mSheet->detections.get() == detectionsBefore && ownSessionEnded()) {
        // No driver's tag: the session ended first (a card of another kind, a reader gone).
        throw std::runtime_error("no driver's tag was read: the NFC session ended (" + mSheet->lastEnding() +
                                 ")");
    }
    if (!came) {
        mSheet->closeSheet();
        throw NoTagPresented("no tag was presented to the NFC reader within " +
                             seconds(mTiming.tagPresentLimit));
    }
}

void PageHost::ensureTagPresented() {
    if (mReader == ReaderChoice::SimNfc && !mQueue && mNfc->tagsInField().empty()) {
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
    // The run's own ending: a delayed ending may already have shown the waiting state again.
    WorkPageState ending = mPage->snapshot();
    {
        std::lock_guard lock(mRunEndingsMutex);
        if (const auto it = mRunEndings.find(runsBefore + 1); it != mRunEndings.end()) {
            ending = it->second;
        }
    }
    JobOutcome outcome{ending.mStatusTips, ending.mHasError ? ending.mErrorTips : "", ending.mProgressValue,
                       ending.mStatusTips == (isWrite ? "Write completed" : "Read completed")};
    if (isBluetooth(mReader)) {
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
    const int detectionsBefore = mSheet->detections.get();
    const int sessionsBefore = mSheet->sessionsMade();
    post("SHOW_READ_MODE_POPUP:");
    ensureTagPresented();
    awaitRealTag(runsBefore, detectionsBefore, sessionsBefore);
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
    const int detectionsBefore = mSheet->detections.get();
    const int sessionsBefore = mSheet->sessionsMade();
    post("SHOW_WRITE_MODE_POPUP:");
    if (mPage->snapshot().mShowErrorTipsPopup) {
        return {"Write failed",
                "Failed to write! Reading data was occurred an error, please read data again!", 0.0F, false};
    }
    ensureTagPresented();
    awaitRealTag(mPage->snapshot().mRunsEnded, detectionsBefore, sessionsBefore);
    if (!waitForEvent([&](const std::vector<PageEvent>& events) { return writeEvents(events) > before; })) {
        throw std::runtime_error("no tag answered in write mode");
    }
    const int runsBefore = mPage->snapshot().mRunsEnded;
    post("WRITE_DATA:" + data);
    return waitForRun(runsBefore, true);
}

void PageHost::useTagQueue(std::shared_ptr<SimulatedTagQueue> queue) {
    if (isReal(mReader) || !queue) {
        throw std::logic_error("a tag queue is for the simulated readers");
    }
    mQueue = std::move(queue);
    if (mReader == ReaderChoice::SimNfc) {
        mQueue->presentTo(mNfc);
    } else {
        mQueue->presentTo(mFeig);
    }
}

Bytes PageHost::lastTagUid() const {
    if (isBluetooth(mReader)) {
        const auto reader = bleReader();
        return reader ? firstUid(reader->tagId()) : Bytes{};
    }
    return mSheet->lastDetectedUid();
}

Bytes PageHost::inventoryUid() {
    const auto reader = bleReader();
    if (!reader || !reader->readByName(kScanNfc).isOk()) {
        return {};
    }
    return firstUid(reader->tagId());
}

void PageHost::interrupt() {
    mInterrupted = true;
    if (mReader == ReaderChoice::Nfc) {
        mSheet->closeSheet();
    }
}

void PageHost::settle() {
    mPage->waitForJobs();
    mMain->waitIdle();
}

std::shared_ptr<BleReader> PageHost::bleReader() const {
    return std::dynamic_pointer_cast<BleReader>(mPage->dataHandler().getReader());
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
