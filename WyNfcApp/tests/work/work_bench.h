#pragma once

// A work page on the simulation, end to end: the page's transport on a simulated tag
// session or a simulated Bluetooth reader, a recording web view as the page, short timings.

#include "platform/console_log.h"
#include "platform/sim/event_loop.h"
#include "platform/sim/folder_bundle.h"
#include "platform/sim/recording_web_view_host.h"
#include "platform/sim/scripted_file_chooser.h"
#include "platform/sim/simulated_feig_reader.h"
#include "platform/sim/simulated_radio.h"
#include "platform/sim/simulated_tag_reader.h"
#include "platform/sim/virtual_tag.h"
#include "readers/bluetooth_manager.h"
#include "readers/shared_api.h"
#include "web/page_events.h"
#include "work/work_page.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace wynfc::work_test {

inline constexpr Millis kWaitLimit{10000}; // only a failing test waits this long

inline std::string resource(const std::string& name) {
    return std::string(WYNFC_RESOURCES_DIR) + "/" + name;
}

inline std::string readText(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// Loads the shipped address map once for the whole test program, as the application does.
class ShippedMapEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        // The transports log every frame; WYNFC_TEST_LOG=1 shows them.
        if (std::getenv("WYNFC_TEST_LOG") == nullptr) {
            setLogSink([](const std::string&) {});
        }
        ::testing::internal::CaptureStdout(); // the library's warnings about the map's bits
        const bool loaded = sharedApi().loadAddressMapFile(readText(resource("address_map.json")));
        ::testing::internal::GetCapturedStdout();
        ASSERT_TRUE(loaded);
    }
};

// Names the instances of tests run through both readers.
inline std::string readerName(const ::testing::TestParamInfo<ReaderMode>& param) {
    return std::string(rawValue(param.param));
}

// A page event: WyNfcEventCallback(event, payload).
struct PageEvent {
    std::string event;
    std::string payload;
    std::string key() const { return payload.substr(0, payload.find(':')); }
};

// Sets the capability list on the tag: exactly the named capabilities, value 1.
inline void setCapabilities(VirtualTag& tag, const std::set<std::string>& names) {
    const auto map = nlohmann::json::parse(readText(resource("address_map.json")));
    for (const auto& area : map["mapping"]) {
        if (area["name"] != "nfc_data_addr_dc_capabilities_options") {
            continue;
        }
        const int start = std::stoi(area["startAddress"].get<std::string>(), nullptr, 16);
        Bytes bytes = tag.blockBytes(start / 4, 1);
        for (const auto& item : area["items"]) {
            if (!item.contains("bits")) {
                continue;
            }
            const int index = item["bytes"][0];
            for (const auto& bit : item["bits"]) {
                const auto mask = static_cast<std::uint8_t>(1U << bit["bit"].get<int>());
                bytes[index] = names.count(bit["name"]) ? (bytes[index] | mask) : (bytes[index] & ~mask);
            }
        }
        tag.setMemory(start / 4, bytes);
    }
}

// The page's transport with chosen reads answered by the test: the n-th read (from 1) of an
// area gets the given result instead of the tag's. Everything else goes to the transport.
class OverridingReader final : public IReader {
public:
    explicit OverridingReader(std::shared_ptr<IReader> reader) : mReader(std::move(reader)) {}

    void replace(const std::string& area, int nth, ResultObj result) {
        std::lock_guard lock(mMutex);
        mReplaced[{area, nth}] = std::move(result);
    }

    void startScan(std::weak_ptr<ResponseToReaderDelegate> receiver, bool isWriteMode) override {
        mReader->startScan(std::move(receiver), isWriteMode);
    }
    ResultObj readByName(const std::string& name) override {
        {
            std::lock_guard lock(mMutex);
            const auto found = mReplaced.find({name, ++mReads[name]});
            if (found != mReplaced.end()) {
                return found->second;
            }
        }
        return mReader->readByName(name);
    }
    ResultObj writeByName(const std::string& name, const std::string& json) override {
        return mReader->writeByName(name, json);
    }

private:
    const std::shared_ptr<IReader> mReader;
    std::mutex mMutex;
    std::map<std::string, int> mReads;
    std::map<std::pair<std::string, int>, ResultObj> mReplaced;
};

class WorkBench {
public:
    explicit WorkBench(ReaderMode mode, const std::string& sample = "full_feature",
                       Timing timing = defaultTiming())
        : mTiming(timing), tag(VirtualTag::load(resource("samples/" + sample + ".json"))) {
        feig = std::make_shared<SimulatedFeigReader>(mTiming);
        radio.addDevice(feig);
        WorkPageEnvironment environment;
        environment.tabData = tabs;
        environment.dismiss = [this] { ++dismissed; };
        environment.bundle = std::make_shared<FolderBundle>(WYNFC_RESOURCES_DIR, "1.2.3");
        environment.platform = {nfc, radio.centralFactory(*main), main, mTiming};
        environment.fileChooser = files;
        environment.nextDriver = [this] { ++nextDrivers; };
        page = WorkPage::create(mode, environment);
        web->setScriptObserver([this](const std::string& script) {
            std::lock_guard lock(mScriptsMutex);
            mScriptTimes.emplace_back(std::chrono::steady_clock::now(), script);
            mScriptEvaluated.notify_all();
        });
        mStateSubscription = page->state.observe([this](const WorkPageState& s) {
            std::lock_guard lock(mHistoryMutex);
            if (mStatusHistory.empty() || mStatusHistory.back() != s.mStatusTips) {
                mStatusHistory.push_back(s.mStatusTips);
            }
        });
    }

    ~WorkBench() { close(); }

    static Timing defaultTiming() {
        Timing timing;
        timing.countdownTick = Millis{100}; // sound exchanges never wait for it
        timing.scanLoopPeriod = Millis{10};
        timing.delayedEnding = Millis{20};
        return timing;
    }

    // Opens the page as a host does: web view first, then the page appears.
    void open() {
        main->sync([&] {
            page->attachWebView(web);
            page->appear();
        });
        main->waitIdle();
    }

    // Bluetooth: picks the simulated reader in the device sheet, as a user would.
    void connectReader() {
        main->waitIdle();
        const auto found = page->dataHandler().discoveredPeripherals.get();
        ASSERT_FALSE(found.empty());
        main->sync([&] { page->connectPeripheral(found.front()); });
        main->waitIdle();
        ASSERT_TRUE(page->bluetoothManager()->hasTransferCharacteristic());
    }

    // A bench with the page open and, in Bluetooth mode, the reader connected: where most
    // workflow tests start.
    static std::unique_ptr<WorkBench> opened(ReaderMode mode, const std::string& sample = "full_feature") {
        auto made = std::make_unique<WorkBench>(mode, sample);
        made->open();
        if (mode == ReaderMode::BLE) {
            made->connectReader();
        }
        return made;
    }

    // Puts the tag on the reader (Bluetooth) or into the field of the tag session (NFC).
    void presentTag() {
        if (page->mode() == ReaderMode::BLE) {
            feig->putTag(tag);
        } else {
            nfc->present(tag);
        }
    }

    void post(const std::string& request) {
        ASSERT_TRUE(web->postText(kRequestHandlerName, request));
        main->waitIdle();
    }

    // Opens the page, starts a read with the tag present, and waits for its final status.
    // NFC runs are jobs to wait for; a Bluetooth run has ended once its delayed ending
    // shows the waiting text again.
    void read() {
        post("SHOW_READ_MODE_POPUP:");
        presentTag();
        EXPECT_TRUE(waitForFinalStatus());
        page->waitForJobs();
        if (page->mode() == ReaderMode::BLE) {
            EXPECT_TRUE(waitForStatus("Waiting to read..."));
        }
    }

    // Asks for write mode and waits until the page is told a tag is there.
    void startWrite() {
        const auto writeEvents = [&] { return countEvents(kWriteEventPayload); };
        const int before = writeEvents();
        post("SHOW_WRITE_MODE_POPUP:");
        presentTag();
        EXPECT_TRUE(waitForEvents([&] { return writeEvents() > before; }));
    }

    // Sends the write request and waits for the job to end.
    void write(const std::string& data) {
        post("WRITE_DATA:" + data);
        page->waitForJobs();
    }

    // The area's values as the library decodes them from the tag's memory now.
    nlohmann::json valuesOf(const std::string& area) const {
        const auto info = nlohmann::json::parse(*sharedApi().getNFCProductPropertiesJsonByName(area));
        const Bytes bytes =
            tag->blockBytes(info["startAddress"].get<int>() / 4, info["normBlockCount"].get<int>());
        return nlohmann::json::parse(*sharedApi().getJsonValuesFromDataByName(area, numbersFromBytes(bytes)));
    }

    std::uint64_t valueOf(const std::string& area, const std::string& item) const {
        for (const auto& value : valuesOf(area)) {
            if (value["name"] == item && value.contains("value")) {
                return value["value"].get<std::uint64_t>();
            }
        }
        ADD_FAILURE() << item << " not found in " << area;
        return 0;
    }

    bool waitForFinalStatus() {
        return page->waitForState(
            [](const WorkPageState& s) {
                return s.mStatusTips.find("completed") != std::string::npos ||
                       s.mStatusTips.find("failed") != std::string::npos ||
                       s.mStatusTips == "Not Support this product";
            },
            kWaitLimit);
    }

    bool waitForStatus(const std::string& status) {
        return page->waitForState([&](const WorkPageState& s) { return s.mStatusTips == status; },
                                  kWaitLimit);
    }

    // Waits until the page's events satisfy the condition.
    template <typename Condition> bool waitForEvents(Condition condition, Millis limit = kWaitLimit) {
        std::unique_lock lock(mScriptsMutex);
        return mScriptEvaluated.wait_for(lock, limit, condition);
    }

    int countEvents(const std::string& payload) const {
        const auto all = events();
        return static_cast<int>(
            std::count_if(all.begin(), all.end(), [&](const PageEvent& e) { return e.payload == payload; }));
    }

    // When each page event with this payload was evaluated, in order.
    std::vector<std::chrono::steady_clock::time_point> eventTimes(const std::string& payload) {
        std::lock_guard lock(mScriptsMutex);
        std::vector<std::chrono::steady_clock::time_point> times;
        for (const auto& [time, script] : mScriptTimes) {
            if (const auto call = parseEventScript(script); call && call->payload == payload) {
                times.push_back(time);
            }
        }
        return times;
    }

    // Wraps the page's transport (after the page has appeared) so that the test can answer
    // chosen reads itself.
    std::shared_ptr<OverridingReader> overrideReads() {
        auto reader = std::make_shared<OverridingReader>(page->dataHandler().getReader());
        page->dataHandler().setReader(reader);
        return reader;
    }

    std::vector<PageEvent> events() const {
        std::vector<PageEvent> found;
        for (const std::string& script : web->scripts()) {
            if (auto call = parseEventScript(script)) {
                found.push_back({std::move(call->event), std::move(call->payload)});
            }
        }
        return found;
    }

    std::vector<std::string> updateKeys() const {
        std::vector<std::string> keys;
        for (const PageEvent& e : events()) {
            if (e.event == kUpdateEvent) {
                keys.push_back(e.key());
            }
        }
        return keys;
    }

    std::vector<std::string> statusHistory() const {
        std::lock_guard lock(mHistoryMutex);
        return mStatusHistory;
    }

    // The identification header of a write request for this tag: "type,subtype".
    std::string header() const {
        const Bytes id = tag->blockBytes(0, 1);
        return std::to_string(id[0]) + "," + std::to_string(id[1]);
    }

    void close() {
        if (!page) {
            return;
        }
        main->sync([&] { page->handlePageRequest("HIDE_APP", ""); });
        page->waitForJobs();
        main->waitIdle();
        mStateSubscription = {};
        web->setScriptObserver({});
        const auto scanLoopEnd = page->scanLoopEnd();
        page.reset();
        scanLoopEnd(); // its last turn may have held the page a moment longer
        main->waitIdle();
        nfc->waitIdle();
    }

private:
    Timing mTiming;

public:
    std::shared_ptr<EventLoop> main = std::make_shared<EventLoop>();
    std::shared_ptr<SimulatedTagReaderService> nfc = std::make_shared<SimulatedTagReaderService>();
    SimulatedRadio radio;
    std::shared_ptr<SimulatedFeigReader> feig;
    std::shared_ptr<VirtualTag> tag;
    std::shared_ptr<RecordingWebViewHost> web = std::make_shared<RecordingWebViewHost>(*main);
    std::shared_ptr<ScriptedFileChooser> files = std::make_shared<ScriptedFileChooser>(main);
    std::shared_ptr<MyTabData> tabs = std::make_shared<MyTabData>();
    std::atomic<int> dismissed{0};
    std::atomic<int> nextDrivers{0}; // "NEXT_DRIVER" requests that reached the host
    std::shared_ptr<WorkPage> page;

private:
    std::mutex mScriptsMutex;
    std::condition_variable mScriptEvaluated;
    std::vector<std::pair<std::chrono::steady_clock::time_point, std::string>> mScriptTimes;
    mutable std::mutex mHistoryMutex;
    std::vector<std::string> mStatusHistory;
    Published<WorkPageState>::Subscription mStateSubscription;
};

} // namespace wynfc::work_test
