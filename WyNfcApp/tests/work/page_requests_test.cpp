#include "work_bench.h"

#include <gmock/gmock.h>

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
    nfc.post("SHOW_READ_MODE_POPUP:");
    EXPECT_EQ(nfc.nfc->sessionCount(), 1);
    EXPECT_EQ(nfc.page->snapshot().mScanWorkStatus, RunStatus::PAUSE_STATUS);
    EXPECT_FALSE(nfc.page->snapshot().mShowBLEOperatePopup);
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
