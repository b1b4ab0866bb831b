#include "work_bench.h"

#include "readers/nfc_reader.h"
#include "work/page_data.h"

#include <gmock/gmock.h>

#include <fstream>
#include <future>
#include <nlohmann/json.hpp>

namespace wynfc::work_test {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;

TEST(WorkPageStartTest, OpensInItsReaderMode) {
    WorkBench ble(ReaderMode::BLE);
    ble.open();
    const WorkPageState s = ble.page->snapshot();
    EXPECT_TRUE(s.mShowBLE); // the device sheet opens at once
    EXPECT_EQ(s.mStatusTips, "Waiting to read...");
    EXPECT_EQ(s.mStatusFontColor, status_colors::kBlue);
    EXPECT_EQ(s.mStatusBackgroundColor, status_colors::kBlue.withOpacity(0.2));
    EXPECT_TRUE(s.mReadFailed);
    EXPECT_TRUE(s.mIsLoaded);
    EXPECT_THAT(ble.web->scripts(), Contains("window.readerType='BLE'"));

    // A reloaded page is told the reader type again.
    ble.web->startNavigation();
    ble.web->finishNavigation();
    ble.main->waitIdle();
    EXPECT_TRUE(ble.page->snapshot().mIsLoaded);
    const auto scripts = ble.web->scripts();
    EXPECT_EQ(std::count(scripts.begin(), scripts.end(), "window.readerType='BLE'"), 2);

    WorkBench nfc(ReaderMode::NFC);
    nfc.open();
    nfc.main->sync([&] { nfc.page->appear(); }); // appearing again changes nothing
    EXPECT_FALSE(nfc.page->snapshot().mShowBLE);
    EXPECT_THAT(nfc.web->scripts(), Contains("window.readerType='NFC'"));
}

TEST(PageRequestsTest, VersionRequest) {
    WorkBench b(ReaderMode::NFC);
    b.open();
    LogCapture log;
    b.post("GET_VERSION");  // no colon: dropped
    b.post("get_version:"); // unknown: logged only
    b.post("GET_VERSION:");
    EXPECT_THAT(b.events(), ElementsAre(::testing::Field(&PageEvent::payload, "CORE_1.1.0-1.2.3")));
    EXPECT_TRUE(log.contains("Request from H5: get_version: "));
    EXPECT_EQ(log.count("Request from H5: "), 2);
}

TEST(PageRequestsTest, VersionWithoutApplicationVersion) {
    EventLoop loop;
    WorkPageEnvironment environment;
    environment.bundle = std::make_shared<FolderBundle>(WYNFC_RESOURCES_DIR); // no short version
    environment.platform.mainQueue = std::shared_ptr<MainQueue>(&loop, [](MainQueue*) {});
    auto page = WorkPage::create(ReaderMode::NFC, environment);
    auto host = std::make_shared<RecordingWebViewHost>(loop);
    loop.sync([&] {
        page->attachWebView(host);
        page->handlePageRequest("GET_VERSION", "");
    });
    EXPECT_THAT(host->scripts(), Contains("javascript:WyNfcEventCallback('GET_VERSION_CALLBACK','0.0.0')"));
}

// The page's catalogue and map arrive whole, and a folder without them gives null for each
// rather than no answer.
TEST(PageRequestsTest, PageDataRequest) {
    WorkBench b(ReaderMode::NFC);
    b.open();
    b.post("GET_PAGE_DATA:");
    const auto events = b.events();
    ASSERT_EQ(events.size(), 1U);
    EXPECT_EQ(events[0].event, "PAGE_DATA_CALLBACK");
    const auto data = nlohmann::json::parse(events[0].payload);
    EXPECT_TRUE(data.at("catalogue").at("areas").contains("nfc_data_addr_dc_aoc"));
    EXPECT_EQ(data.at("map").at("mapping").size(), 29U);
    EXPECT_NE(events[0].payload.find("driver's"), std::string::npos) << "quotes reach the page as they are";

    const auto folder = std::filesystem::path(WYNFC_BINARY_DIR) / "work_tests" / "no page data";
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "address_map.json") << "{ not json";
    const FolderBundle bare(folder);
    EXPECT_EQ(pageDataPayload(bare), R"({"catalogue":null,"map":null})");
}

TEST(PageRequestsTest, PageAddressOfAFolderWithSpecialCharacters) {
    const auto folder = std::filesystem::path(WYNFC_BINARY_DIR) / "work_tests" / "pages #1?";
    std::filesystem::create_directories(folder);
    std::filesystem::copy_file(std::string(WYNFC_RESOURCES_DIR) + "/index.html", folder / "index.html",
                               std::filesystem::copy_options::overwrite_existing);
    EventLoop loop;
    WorkPageEnvironment environment;
    environment.bundle = std::make_shared<FolderBundle>(folder);
    environment.platform.mainQueue = std::shared_ptr<MainQueue>(&loop, [](MainQueue*) {});
    auto page = WorkPage::create(ReaderMode::NFC, environment);
    auto host = std::make_shared<RecordingWebViewHost>(loop);
    loop.sync([&] { page->attachWebView(host); });
    ASSERT_EQ(host->loads().size(), 1U);
    EXPECT_THAT(host->loads()[0].url, ::testing::EndsWith("/work_tests/pages%20%231%3F/index.html"));
}

TEST(PageRequestsTest, ReadRequestInEachMode) {
    WorkBench ble(ReaderMode::BLE);
    ble.open();
    ble.post("SHOW_READ_MODE_POPUP:");
    const WorkPageState s = ble.page->snapshot();
    EXPECT_TRUE(s.mShowBLEOperatePopup);
    EXPECT_EQ(s.mStatusTips, "Waiting to read...");
    EXPECT_EQ(s.mScanWorkStatus, RunStatus::RUNNING_STATUS);

    WorkBench nfc(ReaderMode::NFC);
    nfc.open();
    const auto reader = std::dynamic_pointer_cast<NfcReader>(nfc.page->dataHandler().getReader());
    ASSERT_TRUE(reader);
    nfc.post("SHOW_READ_MODE_POPUP:");
    EXPECT_EQ(nfc.nfc->sessionCount(), 1);
    EXPECT_FALSE(reader->isWriteMode());
    EXPECT_EQ(nfc.page->snapshot().mScanWorkStatus, RunStatus::PAUSE_STATUS);
    EXPECT_FALSE(nfc.page->snapshot().mShowBLEOperatePopup);
    // The write flag reaches the session (once a read has succeeded).
    nfc.page->state.modify([](WorkPageState& st) { st.mReadFailed = false; });
    nfc.post("SHOW_WRITE_MODE_POPUP:");
    EXPECT_EQ(nfc.nfc->sessionCount(), 2);
    EXPECT_TRUE(reader->isWriteMode());
}

// Runs the action on the main queue when the read hands its identification to the page: the
// read is then under way, waiting for that page event.
void whenIdentificationIsShown(WorkBench& b, std::function<void()> action) {
    b.web->setScriptObserver([action = std::move(action), done = false](const std::string& script) mutable {
        if (!done && script.find("'UPDATE_EVENT','identification:") != std::string::npos) {
            done = true;
            action();
        }
    });
}

TEST(PageRequestsTest, WaitingPopupCancel) {
    WorkBench b(ReaderMode::BLE);
    b.open();
    b.connectReader();
    // Before a tag answers: Cancel closes the popup and pauses the loop.
    b.post("SHOW_READ_MODE_POPUP:");
    b.main->sync([&] { b.page->waitingPopupCancel(); });
    EXPECT_FALSE(b.page->snapshot().mShowBLEOperatePopup);
    EXPECT_EQ(b.page->snapshot().mScanWorkStatus, RunStatus::PAUSE_STATUS);

    // While a read runs it is refused.
    std::optional<WorkPageState> duringRead;
    whenIdentificationIsShown(b, [&] {
        b.page->waitingPopupCancel();
        duringRead = b.page->snapshot();
    });
    b.presentTag();
    b.post("SHOW_READ_MODE_POPUP:");
    EXPECT_TRUE(b.waitForStatus("Read completed"));
    ASSERT_TRUE(duringRead.has_value());
    EXPECT_TRUE(duringRead->mDisableCancel);
    EXPECT_TRUE(duringRead->mShowBLEOperatePopup);
    EXPECT_EQ(duringRead->mScanWorkStatus, RunStatus::RUNNING_STATUS);
}

TEST(PageRequestsTest, ARequestWakesTheScanLoopAtOnce) {
    Timing timing = WorkBench::defaultTiming();
    timing.scanLoopPeriod = Millis{60'000}; // never waited out here
    WorkBench b(ReaderMode::BLE, "full_feature", timing);
    b.open();
    b.connectReader();
    b.presentTag();
    const auto asked = std::chrono::steady_clock::now();
    b.post("SHOW_READ_MODE_POPUP:");
    EXPECT_TRUE(b.waitForStatus("Read completed"));
    EXPECT_LT(std::chrono::steady_clock::now() - asked, timing.scanLoopPeriod / 2);
}

TEST(PageRequestsTest, LeavingThePage) {
    WorkBench b(ReaderMode::BLE);
    b.open();
    b.connectReader();
    b.tabs->showTab.set(false);
    LogCapture log;
    b.post("HIDE_APP:");
    EXPECT_TRUE(b.page->snapshot().mExitPage);
    EXPECT_EQ(b.dismissed, 1);
    EXPECT_TRUE(b.tabs->showTab.get());
    EXPECT_FALSE(b.page->bluetoothManager()->isConnected.get());
    b.main->waitIdle();
    // The disconnection that follows does not reopen the device sheet.
    EXPECT_FALSE(b.page->snapshot().mShowBLE);
    EXPECT_TRUE(log.waitFor("------STOP scan------", kWaitLimit));
    b.close();
    EXPECT_EQ(log.count("------STOP scan------"), 1);
}

TEST(PageRequestsTest, DeviceSheetCancelLeavesWithoutExitFlag) {
    WorkBench b(ReaderMode::BLE);
    b.open();
    b.connectReader();
    b.main->sync([&] { b.page->deviceSheetCancel(); });
    b.main->waitIdle();
    EXPECT_EQ(b.dismissed, 1);
    EXPECT_EQ(b.page->snapshot().mScanWorkStatus, RunStatus::STOP_STATUS);
    EXPECT_FALSE(b.page->snapshot().mExitPage);
}

TEST(PageRequestsTest, LeavingMidReadStopsTheScanLoopForGood) {
    Timing timing = WorkBench::defaultTiming();
    timing.countdownTick = Millis{20}; // the read goes on without its reader, and times out
    WorkBench b(ReaderMode::BLE, "full_feature", timing);
    b.open();
    b.connectReader();
    b.presentTag();
    LogCapture log;
    whenIdentificationIsShown(b, [&] { b.page->handlePageRequest("HIDE_APP", ""); });
    b.post("SHOW_READ_MODE_POPUP:");
    // The read fails (leaving disconnected the reader), which would have the loop try again.
    EXPECT_TRUE(b.page->waitForState([](const WorkPageState& s) { return s.mRunsEnded >= 1; }, kWaitLimit));
    EXPECT_TRUE(log.waitFor("------STOP scan------", kWaitLimit));
    EXPECT_EQ(b.page->snapshot().mScanWorkStatus, RunStatus::STOP_STATUS);
}

TEST(PageRequestsTest, LeavingMidWriteStopsTheScanLoopForGood) {
    WorkBench b(ReaderMode::NFC);
    b.open();
    b.read();
    b.startWrite();
    // The tag answers nothing until the page has left right behind its write request; the
    // write then completes.
    std::promise<void> answer;
    b.nfc->queue().async([held = answer.get_future().share()] { held.wait(); });
    b.main->sync([&] {
        b.page->handlePageRequest("WRITE_DATA", b.header() + ":[]");
        b.page->handlePageRequest("HIDE_APP", "");
    });
    answer.set_value();
    b.page->waitForJobs();
    EXPECT_EQ(b.page->snapshot().mStatusTips, "Write completed");
    EXPECT_EQ(b.page->snapshot().mScanWorkStatus, RunStatus::STOP_STATUS);
}

TEST(BluetoothStatusTest, ConnectedAlertForEveryConnection) {
    WorkBench b(ReaderMode::BLE);
    b.radio.addDevice(std::make_shared<SimulatedFeigReader>(
        WorkBench::defaultTiming(),
        FeigReaderIdentity{.identifier = "5E1F0000-0000-4000-8000-000000000002"}));
    b.open();
    const auto found = b.page->dataHandler().discoveredPeripherals.get();
    ASSERT_EQ(found.size(), 2U);
    for (const auto& peripheral : found) { // the second while the first is connected
        b.main->sync([&] { b.page->connectPeripheral(peripheral); });
        b.main->waitIdle();
        EXPECT_TRUE(b.page->snapshot().mShowingPopover);
        b.main->sync([&] { b.page->connectedPopoverOk(); });
        EXPECT_FALSE(b.page->snapshot().mShowingPopover);
    }
}

TEST(BluetoothStatusTest, SheetAndPromptsFollowTheCentral) {
    WorkBench b(ReaderMode::BLE);
    b.open();
    b.connectReader();
    EXPECT_TRUE(b.page->snapshot().mShowingPopover); // "Connected!"
    b.main->sync([&] { b.page->deviceSheetOk(); });
    EXPECT_FALSE(b.page->snapshot().mShowBLE);

    b.radio.powerOff();
    b.main->waitIdle();
    WorkPageState s = b.page->snapshot();
    EXPECT_TRUE(s.mShowBLE);
    EXPECT_TRUE(s.mShowBLEDisable);
    EXPECT_FALSE(s.mShowingPopover);
    EXPECT_TRUE(b.page->dataHandler().discoveredPeripherals.get().empty());

    b.radio.powerOn();
    b.main->waitIdle();
    EXPECT_FALSE(b.page->snapshot().mShowBLEDisable);
    // Scanning again finds the reader again.
    EXPECT_EQ(b.page->dataHandler().discoveredPeripherals.get().size(), 1U);
}

TEST(BluetoothStatusTest, DisconnectionReopensTheSheetAndScansAgain) {
    WorkBench b(ReaderMode::BLE);
    b.open();
    b.connectReader();
    b.main->sync([&] { b.page->deviceSheetOk(); });
    b.feig->disconnect();
    b.main->waitIdle();
    EXPECT_TRUE(b.page->snapshot().mShowBLE);
    EXPECT_EQ(b.page->dataHandler().discoveredPeripherals.get().size(), 1U); // emptied, then found again

    // The report itself empties the list; the scan refills it later.
    b.main->sync([&] {
        b.page->onBleStatus(BLEStatusEnum::DISCONNECTED);
        EXPECT_TRUE(b.page->dataHandler().discoveredPeripherals.get().empty());
    });
}

TEST(BluetoothStatusTest, PermissionRefused) {
    WorkBench b(ReaderMode::BLE);
    b.radio.refusePermission();
    b.open();
    EXPECT_TRUE(b.page->snapshot().mShowBLEUnAuth);
    EXPECT_FALSE(b.page->bluetoothManager()->isAllowUseBLE.get());
}

TEST(StatusPanelTest, SettersShowTextColourAndProgress) {
    WorkBench b(ReaderMode::NFC);
    b.page->state.modify([](WorkPageState& s) { s.mIsWriteMode = true; });
    b.page->setProgress(0.5F);
    EXPECT_EQ(b.page->snapshot().mStatusTips, "Writing 50%");
    EXPECT_EQ(b.page->snapshot().mStatusFontColor, status_colors::kOrange);
    b.page->state.modify([](WorkPageState& s) { s.mIsWriteMode = false; });
    b.page->setProgress(0.666F);
    EXPECT_EQ(b.page->snapshot().mStatusTips, "Reading 66%");
    b.page->setProgress(1.0F);
    EXPECT_EQ(b.page->snapshot().mStatusTips, "Reading 100%");
    b.page->showFailure("functional data");
    EXPECT_EQ(b.page->snapshot().mStatusTips, "Read failed");
    EXPECT_EQ(b.page->snapshot().mErrorTips, "Read failed: functional data");
    EXPECT_EQ(b.page->snapshot().mStatusFontColor, status_colors::kRed);
    EXPECT_TRUE(b.page->snapshot().mHasError);
    b.page->closeWaitingPopup();
    EXPECT_EQ(b.page->snapshot().mStatusTips, "Waiting to read...");
    EXPECT_FALSE(b.page->snapshot().mHasError);
    EXPECT_EQ(b.page->snapshot().mProgressValue, 0.0F);
}

} // namespace
} // namespace wynfc::work_test
