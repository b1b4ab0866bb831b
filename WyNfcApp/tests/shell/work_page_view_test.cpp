// The work page on screen: the configuration page in WebKit, the popups and sheets over it,
// a driver read and written through the page as a person would, in both reader modes.

#include "shell_test_support.h"

#include "readers/bluetooth_manager.h"

#include <cstdio>
#include <mutex>

namespace wynfc::shell::test {
namespace {

// Sets a value on the configuration page by its path, as typing a new value would.
std::string setValueScript(const std::string& path, const std::string& value) {
    return "(() => { const c = document.querySelector('[data-path=\"" + path +
           "\"]'); if (!c || c.tagName === 'OUTPUT') return false; c.value = '" + value +
           "'; c.dispatchEvent(new Event('input')); return true; })()";
}

const char* const kAreasShown = "document.querySelectorAll('section.group').length";

class WorkPageViewTest : public AppTest {
protected:
    WorkPageView& openPage(ReaderMode mode) {
        openWindow();
        WorkPageView& view = openWorkPage(mode);
        return view;
    }

    void clickInPage(const std::string& id) {
        ASSERT_EQ(pageEval("(() => { const b = document.getElementById('" + id +
                           "'); if (b.disabled || b.hidden) return false; b.click(); return true; })()"),
                  "true")
            << id;
    }

    // Write on the page: its review lists the changes; writing them asks for write mode.
    void writeOnThePage() {
        clickInPage("write");
        ASSERT_TRUE(waitForPage("!document.getElementById('review').hidden"));
        clickInPage("review-confirm");
    }

    // Waits for the end of the next read or write run and returns the status it left.
    std::string waitForRunEnd(WorkPageView& view, int runsBefore) {
        EXPECT_TRUE(runUntil([&] { return view.page()->snapshot().mRunsEnded > runsBefore; }));
        return view.page()->snapshot().mStatusTips;
    }

    // From now on, the status line each run ended with, as it ended: a screenshot taken while
    // a run goes on may outlast the run and its delayed ending.
    void recordRunEnds(WorkPageView& view) {
        mRunEnds =
            view.page()->state.observe([this, last = std::make_shared<int>(-1)](const WorkPageState& s) {
                std::lock_guard lock(mRunEndsMutex);
                if (*last >= 0 && s.mRunsEnded > *last) {
                    mEndStatuses.push_back(s.mStatusTips);
                }
                *last = s.mRunsEnded;
            });
    }
    std::string nthRunEnd(size_t n) {
        runUntil([&] {
            std::lock_guard lock(mRunEndsMutex);
            return mEndStatuses.size() > n;
        });
        std::lock_guard lock(mRunEndsMutex);
        return n < mEndStatuses.size() ? mEndStatuses[n] : "<no end>";
    }

    Published<WorkPageState>::Subscription mRunEnds;
    std::mutex mRunEndsMutex;
    std::vector<std::string> mEndStatuses;
};

TEST_F(WorkPageViewTest, BluetoothReaderReadsAndWritesTheDriverThroughThePage) {
    WorkPageView& view = openPage(ReaderMode::BLE);
    DeviceSheet& sheet = view.deviceSheet();
    ASSERT_TRUE(sheet.get_visible()) << "a Bluetooth page opens on the device sheet";
    ASSERT_TRUE(runUntil([&] { return !sheet.rows().empty(); }));
    EXPECT_EQ(sheet.rows().front().name, "SIMULATED NFC READER");
    EXPECT_FALSE(sheet.rows().front().checked);
    screenshot(view, "device-sheet");

    sheet.activateRow(0);
    ASSERT_TRUE(runUntil([&] { return view.connectedAlert().get_visible(); }));
    EXPECT_EQ(view.connectedAlert().title(), "Connected!");
    EXPECT_EQ(view.connectedAlert().message(), "You have conencted to HF-BLE");
    EXPECT_TRUE(sheet.rows().front().checked) << "the connected reader carries the checkmark";
    screenshot(view, "connected");
    ASSERT_TRUE(press(*view.connectedAlert().button("OK")));
    ASSERT_TRUE(press(sheet.okButton()));
    ASSERT_TRUE(runUntil([&] { return !sheet.get_visible(); }));

    // Read: the waiting popup follows the job; the page shows every area.
    int runs = view.page()->snapshot().mRunsEnded;
    clickInPage("read");
    ASSERT_TRUE(runUntil([&] { return view.waitingPopup().get_visible(); }));
    EXPECT_EQ(view.waitingPopup().title(), "Read Mode");
    EXPECT_EQ(waitForRunEnd(view, runs), "Read completed");
    ASSERT_TRUE(runUntil([&] { return view.waitingPopup().statusText() == "Read completed"; }));
    EXPECT_GT(view.waitingPopup().progress(), 0.5);
    EXPECT_FALSE(view.waitingPopup().cancelButton().get_sensitive()) << "no cancelling once the tag answered";
    ASSERT_TRUE(runUntil([&] { return !view.waitingPopup().get_visible(); }))
        << "closed after the delayed ending";
    ASSERT_TRUE(waitForPage(std::string(kAreasShown) + " > 10"));
    screenshot(view, "work-page-after-read");

    // Write one changed value; the popup shows the write's progress on the way.
    ASSERT_EQ(pageEval(setValueScript("nfc_data_addr_dc_dali_setting.max_level", "230")), "true");
    recordRunEnds(view);
    // Each answer of the reader takes a little while, so that the write is still running
    // when its popup is pictured.
    for (int answer = 0; answer < 12; ++answer) {
        mDriver->bluetoothReader()->planNextAnswer(FeigAnswerPlan::delayed(Millis{100}));
    }
    writeOnThePage();
    ASSERT_TRUE(runUntil([&] {
        return view.waitingPopup().get_visible() &&
               view.waitingPopup().statusText().rfind("Writing ", 0) == 0;
    }));
    EXPECT_EQ(view.waitingPopup().title(), "Write Mode");
    screenshot(view, "popup-mid-write");
    EXPECT_EQ(nthRunEnd(0), "Write completed");
    ASSERT_TRUE(runUntil([&] { return !view.waitingPopup().get_visible(); }));
    EXPECT_EQ(driverValue("nfc_data_addr_dc_dali_setting", "max_level"), 230);
}

TEST_F(WorkPageViewTest, NfcReaderReadsAndWritesTheDriverWithTheSessionSheet) {
    WorkPageView& view = openPage(ReaderMode::NFC);
    EXPECT_FALSE(view.deviceSheet().get_visible());
    EXPECT_FALSE(mSheets->isSheetShown());

    int runs = view.page()->snapshot().mRunsEnded;
    clickInPage("read");
    ASSERT_TRUE(runUntil([&] { return mSheets->isSheetShown(); })) << "the session's sheet while it runs";
    EXPECT_EQ(waitForRunEnd(view, runs), "Read completed");
    ASSERT_TRUE(runUntil([&] { return mSheets->sheetView().phase == SessionSheetView::Phase::Succeeded; }));
    EXPECT_EQ(mSheets->sheetView().message, "Read Completed");
    ASSERT_TRUE(runUntil([&] { return !mSheets->isSheetShown(); })) << "the sheet closes by itself";
    EXPECT_FALSE(view.waitingPopup().get_visible()) << "no waiting popup in NFC mode";
    ASSERT_TRUE(waitForPage(std::string(kAreasShown) + " > 10"));

    ASSERT_EQ(pageEval(setValueScript("nfc_data_addr_dc_dali_setting.max_level", "199")), "true");
    runs = view.page()->snapshot().mRunsEnded;
    writeOnThePage();
    EXPECT_EQ(waitForRunEnd(view, runs), "Write completed");
    EXPECT_EQ(driverValue("nfc_data_addr_dc_dali_setting", "max_level"), 199);

    // The page asks for a read to show what the driver now holds, and finds the change there.
    ASSERT_TRUE(waitForPage("!document.getElementById('read-again').hidden"));
    ASSERT_TRUE(runUntil([&] { return !mSheets->isSheetShown(); }));
    runs = view.page()->snapshot().mRunsEnded;
    clickInPage("read-again");
    EXPECT_EQ(waitForRunEnd(view, runs), "Read completed");
    ASSERT_TRUE(waitForPage("document.getElementById('status').textContent.includes('holds all 1 change')"));
    EXPECT_EQ(pageEval("document.querySelectorAll('.field.changed').length"), "0");

    // Written to a tag image, the change reads back through the command line too.
    const auto saved = mHome / "after-write.json";
    mDriver->tag()->save(saved);
    const std::string command = std::string(WYNFC_CLI) +
                                " decode --json --area nfc_data_addr_dc_dali_setting --tag '" +
                                saved.string() + "'";
    std::string decoded;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        while (size_t n = fread(buffer, 1, sizeof buffer, pipe)) {
            decoded.append(buffer, n);
        }
        pclose(pipe);
    }
    EXPECT_NE(decoded.find(R"("name":"max_level","value":199)"), std::string::npos) << decoded;
}

TEST_F(WorkPageViewTest, TheUserCancelsTheSessionSheet) {
    WorkPageView& view = openPage(ReaderMode::NFC);
    mDriver->tagReader()->removeAll(); // nothing on the reader: the sheet waits
    clickInPage("read");
    ASSERT_TRUE(runUntil([&] { return mSheets->isSheetShown(); }));
    EXPECT_EQ(mSheets->sheetView().phase, SessionSheetView::Phase::Scanning);
    screenshot(*mSheets->sheetWindow(), "nfc-session-sheet");
    EXPECT_TRUE(mSheets->cancelSheet());
    ASSERT_TRUE(runUntil([&] { return !mSheets->isSheetShown(); }));
    EXPECT_NE(view.page()->snapshot().mStatusTips, "Read completed");
}

TEST_F(WorkPageViewTest, WaitingPopupCancelPausesUntilTheTagAnswers) {
    WorkPageView& view = openPage(ReaderMode::BLE);
    connectSimulatedReader(view);
    mDriver->bluetoothReader()->clearField(); // no driver on the reader yet
    clickInPage("read");
    ASSERT_TRUE(runUntil([&] { return view.waitingPopup().get_visible(); }));
    EXPECT_EQ(view.waitingPopup().statusText(), "Waiting to read...");
    EXPECT_TRUE(view.waitingPopup().cancelButton().get_sensitive());
    ASSERT_TRUE(press(view.waitingPopup().cancelButton()));
    ASSERT_TRUE(runUntil([&] { return !view.waitingPopup().get_visible(); }));
    EXPECT_EQ(view.page()->snapshot().mScanWorkStatus, RunStatus::PAUSE_STATUS);
}

TEST_F(WorkPageViewTest, DeviceSheetCancelLeavesThePageAndBluetoothPromptsShowInIt) {
    WorkPageView& view = openPage(ReaderMode::BLE);
    mDriver->radio().powerOff();
    ASSERT_TRUE(runUntil([&] { return view.deviceSheet().prompt() == "Please enable Bluetooth."; }));
    screenshot(view, "device-sheet-bluetooth-off");
    mDriver->radio().powerOn();
    ASSERT_TRUE(runUntil([&] { return view.deviceSheet().prompt().empty(); }));

    ASSERT_TRUE(press(view.deviceSheet().cancelButton()));
    ASSERT_TRUE(runUntil([&] { return content().workPageView() == nullptr; }));
    EXPECT_TRUE(content().tabBar().get_visible());
}

TEST_F(WorkPageViewTest, AWriteWithoutAReadShowsTheFailedToWriteAlert) {
    WorkPageView& view = openPage(ReaderMode::BLE);
    connectSimulatedReader(view);
    EXPECT_EQ(pageEval("document.getElementById('write').disabled"), "true")
        << "the page offers no write yet";
    pageEval("window.webkit.messageHandlers.requestNativeAsync.postMessage('SHOW_WRITE_MODE_POPUP:'); true");
    ASSERT_TRUE(runUntil([&] { return view.errorTipsAlert().get_visible(); }));
    EXPECT_EQ(view.errorTipsAlert().title(), "Failed to write!");
    EXPECT_EQ(view.errorTipsAlert().message(), "Reading data was occurred an error, please read data again!");
    screenshot(view, "failed-to-write");
    ASSERT_TRUE(press(*view.errorTipsAlert().button("OK")));
    ASSERT_TRUE(runUntil([&] { return !view.errorTipsAlert().get_visible(); }));
}

} // namespace
} // namespace wynfc::shell::test

namespace wynfc::shell::test {
namespace {

TEST_F(WorkPageViewTest, ThePageStaysInItsBoxAndGetsItsReaderTypeOnEveryLoad) {
    WorkPageView& view = openPage(ReaderMode::NFC);
    const std::string page = pageEval("location.href").value_or("");
    ASSERT_EQ(page.rfind("file://", 0), 0U) << page;

    // No way out of the resources folder, nor onto the network.
    pageEval("location.href = 'file:///etc/hostname'; true");
    pageEval("location.href = 'http://127.0.0.1:1/'; true");
    settle();
    EXPECT_EQ(pageEval("location.href"), page);
    EXPECT_FALSE(view.webView().isAllowedAddress("file:///etc/hostname"));
    EXPECT_FALSE(view.webView().isAllowedAddress(page + "/../../../etc/hostname"));
    EXPECT_FALSE(view.webView().isAllowedAddress("https://example.org/"));
    EXPECT_TRUE(view.webView().isAllowedAddress(page));
    pageEval("window.fetchResult = 'pending'; fetch('http://127.0.0.1:9/').then(() => window.fetchResult = "
             "'reached', () => window.fetchResult = 'refused'); true");
    EXPECT_TRUE(waitForPage("window.fetchResult === 'refused'"));

    // Bodies that are not text, and texts without a method, get no answer and break nothing.
    pageEval("window.webkit.messageHandlers.requestNativeAsync.postMessage(42); "
             "window.webkit.messageHandlers.requestNativeAsync.postMessage({a: 1}); "
             "window.webkit.messageHandlers.requestNativeAsync.postMessage('no colon'); true");
    settle();
    EXPECT_EQ(view.page()->snapshot().mRunsEnded, 0);

    // A reload starts a new page, which is told the reader type again.
    pageEval("window.marker = 1; location.reload(); true");
    ASSERT_TRUE(waitForPage("window.marker === undefined && window.readerType === 'NFC'"));
}

TEST(AppOptions, TakesItsOwnAndLeavesGtksOptions) {
    std::vector<std::string> arguments{"WyNfcApp", "--simulate=driver.json", "--gapplication-service",
                                       "--save", "out.json"};
    const AppOptions options = takeAppOptions(arguments);
    EXPECT_EQ(options.simulateImages, std::vector<std::filesystem::path>{"driver.json"});
    EXPECT_EQ(options.saveFile, std::filesystem::path("out.json"));
    EXPECT_EQ(arguments, (std::vector<std::string>{"WyNfcApp", "--gapplication-service"}));

    std::vector<std::string> missing{"WyNfcApp", "--save"};
    EXPECT_THROW(takeAppOptions(missing), UsageError);
    std::vector<std::string> empty{"WyNfcApp", "--simulate="};
    EXPECT_THROW(takeAppOptions(empty), UsageError);

    // Drivers one after another, each saved into a folder; a single file to save keeps one.
    std::vector<std::string> queue{"WyNfcApp", "--simulate=a.json,b.json,a.json", "--save-dir", "out"};
    const AppOptions queued = takeAppOptions(queue);
    EXPECT_EQ(queued.simulateImages, (std::vector<std::filesystem::path>{"a.json", "b.json", "a.json"}));
    EXPECT_EQ(queued.saveDir, std::filesystem::path("out"));
    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"WyNfcApp", "--simulate=a.json,,b.json"},
          std::vector<std::string>{"WyNfcApp", "--simulate=a.json,"},
          std::vector<std::string>{"WyNfcApp", "--simulate=a.json,b.json", "--save", "x.json"},
          std::vector<std::string>{"WyNfcApp", "--save-dir"}}) {
        std::vector<std::string> arguments2 = bad;
        EXPECT_THROW(takeAppOptions(arguments2), UsageError) << bad[1];
    }
}

} // namespace
} // namespace wynfc::shell::test
