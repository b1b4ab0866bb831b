// The Bluetooth transport and the work page, unchanged, over the BlueZ central: the simulated
// reader answers behind the fake BlueZ, so every frame crosses D-Bus both ways.

#include "bluez_test_support.h"

#include "platform/linux/glib_main_queue.h"
#include "readers/ble_reader.h"
#include "tests/work/work_bench.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace wynfc::test {
namespace {

using work_test::resource;

[[maybe_unused]] const auto* const kMap =
    ::testing::AddGlobalTestEnvironment(new work_test::ShippedMapEnvironment);

constexpr const char* kIdentification = "nfc_data_addr_dc_product_identification";

// The area's bytes in the tag's memory, where the map puts them.
Bytes areaBytes(const VirtualTag& tag, const std::string& area) {
    const auto info = nlohmann::json::parse(*sharedApi().getNFCProductPropertiesJsonByName(area));
    return tag.blockBytes(info["startAddress"].get<int>() / 4, info["normBlockCount"].get<int>());
}

class Statuses final : public BleStatusDelegateProtocol {
public:
    void onBleStatus(BLEStatusEnum status) override {
        std::lock_guard lock(mutex_);
        statuses_.push_back(status);
    }
    std::vector<BLEStatusEnum> all() const {
        std::lock_guard lock(mutex_);
        return statuses_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<BLEStatusEnum> statuses_;
};

// A driver's tag on a simulated reader behind the fake BlueZ, and the main loop the
// Bluetooth side runs on.
struct ReaderBehindBluez {
    ReaderBehindBluez() {
        feig->putTag(tag);
        fake.addDevice(
            FakeDevice{kReaderAddress, "HF-BLE reader", std::vector<std::string>{kReaderService}, -50, feig});
        options.busAddress = bus.address();
        options.timing = timing;
    }

    QuietLog quiet;
    PrivateBus bus;
    FakeBluez fake{bus.address()};
    Timing timing = shortTiming();
    BluezCentral::Options options;
    std::shared_ptr<VirtualTag> tag = VirtualTag::load(resource("samples/full_feature.json"));
    std::shared_ptr<SimulatedFeigReader> feig = std::make_shared<SimulatedFeigReader>(
        timing, FeigReaderIdentity{kReaderAddress, "HF-BLE reader", {}});
    GLibMainLoopThread loop;
    std::shared_ptr<GLibMainQueue> main = loop.queue();
};

TEST(BleReaderOverBluez, ReadsWholeOrSplitAnswersAndFailsOnALostNotificationOrADroppedLink) {
    ReaderBehindBluez rig;
    const auto statuses = std::make_shared<Statuses>();
    std::unique_ptr<BleReader> reader;
    rig.main->sync([&] {
        reader =
            std::make_unique<BleReader>(BluezCentral::factory(*rig.main, rig.options), *rig.main, rig.timing);
        reader->bluetoothManager().setBLEStatusDelegate(statuses);
        reader->startScan({}, false);
    });
    BluetoothManager& manager = reader->bluetoothManager();
    ASSERT_TRUE(waitUntil(manager.discoveredPeripherals, [](const auto& found) { return !found.empty(); }));
    manager.connect(manager.discoveredPeripherals.get().front());
    ASSERT_TRUE(waitUntil(manager.isConnected, [](bool connected) { return connected; }));
    ASSERT_TRUE(rig.fake.waitFor([](const FakeState& s) { return s.notifying.size() == 2; }, kPatience));

    ASSERT_TRUE(reader->readByName("SCAN_NFC").isOk());
    const Bytes expected = areaBytes(*rig.tag, kIdentification);
    EXPECT_EQ(reader->readByName(kIdentification).rawData, expected);
    rig.feig->setNotificationSize(7); // the frame start needs its first six bytes in one notification
    EXPECT_EQ(reader->readByName(kIdentification).rawData, expected);

    // A notification lost on the way: the answer never completes, the read fails, the next works.
    rig.fake.loseNotifications(1);
    const ResultObj lost = reader->readByName(kIdentification);
    EXPECT_EQ(lost.error, ErrorCode::ERROR);
    EXPECT_EQ(lost.data, "read failed");
    EXPECT_EQ(reader->readByName(kIdentification).rawData, expected);

    // The reader drops the link instead of answering.
    rig.feig->planNextAnswer(FeigAnswerPlan::disconnecting());
    const ResultObj dropped = reader->readByName(kIdentification);
    EXPECT_EQ(dropped.error, ErrorCode::ERROR);
    EXPECT_EQ(dropped.data, "read failed");
    ASSERT_TRUE(waitUntil(manager.isConnected, [](bool connected) { return !connected; }));
    EXPECT_EQ(statuses->all(), (std::vector<BLEStatusEnum>{BLEStatusEnum::POWERON, BLEStatusEnum::CONNECTED,
                                                           BLEStatusEnum::DISCONNECTED}));
    EXPECT_FALSE(reader->readByName(kIdentification).isOk());
    reader.reset();
}

// The work page as a host drives it: the device sheet lists the reader BlueZ found.
struct PageBehindBluez : ReaderBehindBluez {
    PageBehindBluez() {
        WorkPageEnvironment environment;
        environment.tabData = std::make_shared<MyTabData>();
        environment.dismiss = [] {};
        environment.bundle = std::make_shared<FolderBundle>(WYNFC_RESOURCES_DIR, "1.2.3");
        environment.platform = {std::make_shared<SimulatedTagReaderService>(),
                                BluezCentral::factory(*main, options), main, timing};
        page = WorkPage::create(ReaderMode::BLE, environment);
        main->sync([&] {
            page->attachWebView(web);
            page->appear();
        });
    }

    ~PageBehindBluez() {
        main->sync([&] { page->handlePageRequest("HIDE_APP", ""); });
        page->waitForJobs();
        main->waitIdle();
        page.reset();
        main->waitIdle();
    }

    void post(const std::string& request) {
        ASSERT_TRUE(web->postText(kRequestHandlerName, request));
        main->waitIdle();
    }

    // Waits until one more read or write run has ended.
    bool waitForRunEnd() {
        const bool ended =
            page->waitForState([&](const WorkPageState& s) { return s.mRunsEnded > runsEnded; }, kPatience);
        page->waitForJobs();
        runsEnded = page->snapshot().mRunsEnded;
        return ended;
    }

    std::shared_ptr<RecordingWebViewHost> web = std::make_shared<RecordingWebViewHost>(*main);
    std::shared_ptr<WorkPage> page;
    int runsEnded = 0;
};

TEST(WorkPageOverBluez, ReadsASampleDriverToReadCompletedAndFailsARunWhoseLinkDrops) {
    PageBehindBluez rig;
    auto& found = rig.page->dataHandler().discoveredPeripherals;
    ASSERT_TRUE(waitUntil(found, [](const auto& list) { return !list.empty(); }));
    EXPECT_EQ(found.get().front()->name(), "HF-BLE reader");
    rig.main->sync([&] { rig.page->connectPeripheral(found.get().front()); });
    ASSERT_TRUE(
        waitUntil(rig.page->bluetoothManager()->isConnected, [](bool connected) { return connected; }));
    ASSERT_TRUE(rig.fake.waitFor([](const FakeState& s) { return s.notifying.size() == 2; }, kPatience));
    rig.main->sync([&] { rig.page->deviceSheetOk(); });

    rig.post("SHOW_READ_MODE_POPUP:");
    ASSERT_TRUE(rig.waitForRunEnd()) << rig.page->snapshot().mStatusTips;
    EXPECT_EQ(rig.page->snapshot().mStatusTips, "Read completed");
    EXPECT_FALSE(rig.page->snapshot().mHasError);
    // The popup closes once the read's ending has passed; then the page takes another request.
    ASSERT_TRUE(
        rig.page->waitForState([](const WorkPageState& s) { return !s.mShowBLEOperatePopup; }, kPatience));

    // The reader drops the link in the middle of the next read: the run fails, and the device
    // sheet comes back for another reader.
    for (int request = 0; request < 4; ++request) {
        rig.feig->planNextAnswer({});
    }
    rig.feig->planNextAnswer(FeigAnswerPlan::disconnecting());
    rig.post("SHOW_READ_MODE_POPUP:");
    ASSERT_TRUE(rig.waitForRunEnd()) << rig.page->snapshot().mStatusTips;
    EXPECT_NE(rig.page->snapshot().mStatusTips, "Read completed");
    EXPECT_TRUE(rig.page->snapshot().mReadFailed);
    EXPECT_FALSE(rig.page->bluetoothManager()->isConnected.get());
    EXPECT_TRUE(rig.page->snapshot().mShowBLE);
}

} // namespace
} // namespace wynfc::test
