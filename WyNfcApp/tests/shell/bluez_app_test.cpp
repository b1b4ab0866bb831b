// The application's Bluetooth mode over BlueZ: the device sheet lists the reader a fake BlueZ
// presents (on a bus of the test's own), and the page reads and writes the driver through it.

#include "shell_test_support.h"

#include "fake_bluez.h"
#include "platform/linux/bluez_central.h"
#include "private_bus.h"

#include <gtest/gtest.h>

namespace wynfc::shell::test {
namespace {

using wynfc::test::FakeBluez;
using wynfc::test::FakeDevice;
using wynfc::test::PrivateBus;

const std::string kAddress = "C8:1F:66:00:00:07";

class BluezApp : public AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
        auto reader = std::make_shared<SimulatedFeigReader>(shortTiming(),
                                                            FeigReaderIdentity{kAddress, "HF-BLE 0007", {}});
        reader->putTag(mDriver->tag());
        mFake.addDevice(FakeDevice{kAddress, "HF-BLE 0007",
                                   std::vector<std::string>{"2d8f4660-8acb-11ea-ab12-0800200c9a66"}, -48,
                                   reader});
        // A decoy that advertises something else: not a reader.
        mFake.addDevice(FakeDevice{"AA:00:00:00:00:05", "Headphones",
                                   std::vector<std::string>{"0000110b-0000-1000-8000-00805f9b34fb"}, -40,
                                   nullptr});
        BluezCentral::Options options;
        options.busAddress = mBus.address();
        options.timing = shortTiming();
        mContext.platform.centralManagerFactory = BluezCentral::factory(*mQueue, options);
    }

    PrivateBus mBus;
    FakeBluez mFake{mBus.address()};
};

TEST_F(BluezApp, TheDeviceSheetListsTheReaderBluezFoundAndThePageReadsAndWritesThroughIt) {
    openWindow();
    WorkPageView& view = openWorkPage(ReaderMode::BLE);
    DeviceSheet& sheet = view.deviceSheet();
    ASSERT_TRUE(runUntil([&] { return !sheet.rows().empty(); }));
    ASSERT_EQ(sheet.rows().size(), 1U) << "only the reader is listed";
    EXPECT_EQ(sheet.rows().front().name, "HF-BLE 0007");
    screenshot(view, "bluez-device-sheet");
    connectSimulatedReader(view);

    const int runs = view.page()->snapshot().mRunsEnded;
    ASSERT_EQ(pageEval("(() => { document.getElementById('read').click(); return true; })()"), "true");
    ASSERT_TRUE(runUntil([&] { return view.page()->snapshot().mRunsEnded > runs; }));
    EXPECT_EQ(view.page()->snapshot().mStatusTips, "Read completed");
    ASSERT_TRUE(runUntil([&] { return !view.waitingPopup().get_visible(); }));

    // A value changed on the page and written from it reaches the driver behind BlueZ.
    ASSERT_TRUE(waitForPage(
        "document.querySelector('[data-path=\"nfc_data_addr_dc_dali_setting.max_level\"]') !== null"));
    ASSERT_EQ(pageEval("(() => { const c = "
                       "document.querySelector('[data-path=\"nfc_data_addr_dc_dali_setting.max_level\"]');"
                       " c.value = '231'; c.dispatchEvent(new Event('input')); return true; })()"),
              "true");
    const int written = view.page()->snapshot().mRunsEnded;
    ASSERT_EQ(pageEval("(() => { document.getElementById('write').click(); return true; })()"), "true");
    ASSERT_TRUE(waitForPage("!document.getElementById('review').hidden"));
    ASSERT_EQ(pageEval("(() => { document.getElementById('review-confirm').click(); return true; })()"),
              "true");
    ASSERT_TRUE(runUntil([&] { return view.page()->snapshot().mRunsEnded > written; }));
    EXPECT_EQ(view.page()->snapshot().mStatusTips, "Write completed");
    EXPECT_EQ(driverValue("nfc_data_addr_dc_dali_setting", "max_level"), 231);
}

} // namespace
} // namespace wynfc::shell::test
