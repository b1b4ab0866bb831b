// The application's NFC mode over the real pcscd, with the virtual reader driver and a virtual
// card of our own, on a virtual display inside the private namespaces of the PC/SC tests: the
// home page offers NFC while the daemon lists a reader, and the page reads and writes the
// driver on the card through the session's sheet.

#include "pcsc_test_bench.h"
#include "shell_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

namespace wynfc::shell::test {
namespace {

using wynfc::test::kReaderName;
using wynfc::test::kReaderPort;
using wynfc::test::PrivatePcscd;
using wynfc::test::sampleTag;
using wynfc::test::VirtualPcscCard;

const char* const kMaxLevel = "nfc_data_addr_dc_dali_setting.max_level";

class PcscApp : public AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
        // The daemon answers, with no reader yet, as when the application starts on a desk
        // whose reader is not plugged in.
        mPcscd.emplace(PrivatePcscd::Readers::None);
        Timing timing = shortTiming();
        timing.pcscServiceRetry = Millis{50};
        timing.pcscCancelRetry = Millis{20};
        mPcsc = std::make_shared<PcscTagReaderService>(std::nullopt, timing);
        mSheets = std::make_shared<SessionSheetService>(mPcsc, mQueue, timing.delayedEnding,
                                                        [this]() -> Gtk::Window* { return mWindow.get(); });
        mContext.platform.tagReaderService = mSheets;
        mContext.platform.timing = timing;
        mTitle = [pcsc = mPcsc] {
            return pcscWindowTitle(pcsc->serviceRunning() ? std::optional(pcsc->readerNames())
                                                          : std::nullopt);
        };
    }

    void TearDown() override {
        AppTest::TearDown();
        mCard.reset();
        mPcscd.reset();
    }

    bool nfcOffered() { return content().homePage().nfcCard().get_visible(); }
    bool titled(const std::string& nfc) {
        return runUntil([&] {
            return std::string(mWindow->get_title()) == "WyNfc — Bluetooth readers nearby; NFC: " + nfc;
        });
    }

    void clickInPage(const std::string& id) {
        ASSERT_EQ(
            pageEval("(() => { const b = document.getElementById('" + id +
                     "'); if (!b || b.disabled || b.hidden) return false; b.click(); return true; })()"),
            "true")
            << id;
    }
    std::string waitForRunEnd(WorkPageView& view, int runsBefore) {
        EXPECT_TRUE(runUntil([&] { return view.page()->snapshot().mRunsEnded > runsBefore; }));
        return view.page()->snapshot().mStatusTips;
    }

    std::optional<PrivatePcscd> mPcscd;
    std::shared_ptr<PcscTagReaderService> mPcsc;
    std::shared_ptr<VirtualTag> mTag = sampleTag("full_feature");
    std::optional<VirtualPcscCard> mCard;
};

TEST_F(PcscApp, TheHomePageOffersNfcWhileTheDaemonListsAReader) {
    openWindow();
    EXPECT_FALSE(nfcOffered()) << "no reader attached";
    EXPECT_TRUE(content().homePage().bluetoothCard().get_visible());
    EXPECT_TRUE(titled("no reader attached"));
    screenshot(*mWindow, "pcsc-home-no-reader");

    // The daemon comes back with the virtual reader driver loaded: its readers appear.
    mPcscd.reset();
    mPcscd.emplace();
    ASSERT_TRUE(runUntil([&] { return nfcOffered(); })) << "the reader's arrival is noticed";
    EXPECT_TRUE(titled(kReaderName[0] + " and 1 other reader"));
    screenshot(*mWindow, "pcsc-home-reader-attached");

    // Gone with the daemon, back with it.
    mPcscd->stop();
    ASSERT_TRUE(runUntil([&] { return !nfcOffered(); }));
    EXPECT_TRUE(titled("pcscd is not running"));
    mPcscd.reset();
    mPcscd.emplace();
    ASSERT_TRUE(runUntil([&] { return nfcOffered(); }));

    // The Setting tab and back: the card stays as the readers are.
    ASSERT_TRUE(press(content().tabButton(ContentView::Tab::Setting)));
    ASSERT_TRUE(press(content().tabButton(ContentView::Tab::Home)));
    EXPECT_TRUE(nfcOffered());
}

TEST_F(PcscApp, ThePageReadsAndWritesTheDriverOnTheCardThroughTheReader) {
    mPcscd.reset();
    mPcscd.emplace();
    openWindow();
    ASSERT_TRUE(runUntil([&] { return nfcOffered(); }));

    // NFC mode from its card, as a person opens it.
    ASSERT_TRUE(press(content().homePage().nfcCard()));
    WorkPageView* view = content().workPageView();
    ASSERT_NE(view, nullptr);
    ASSERT_TRUE(runUntil([&] { return view->page()->snapshot().mIsLoaded; }));
    ASSERT_TRUE(waitForPage("window.readerType === 'NFC'"));

    // Read with no card on the reader: the sheet asks for it; the driver is presented then.
    int runs = view->page()->snapshot().mRunsEnded;
    clickInPage("read");
    ASSERT_TRUE(runUntil([&] { return mSheets->isSheetShown(); }));
    EXPECT_EQ(mSheets->sheetView().phase, SessionSheetView::Phase::Scanning);
    EXPECT_EQ(mSheets->sheetView().message, "Please keep the NFC reader close to the NFC antenna area.");
    screenshot(*mSheets->sheetWindow(), "pcsc-sheet-waiting-for-card");
    mCard.emplace(mTag);
    mCard->insert(kReaderPort[0]);
    EXPECT_EQ(waitForRunEnd(*view, runs), "Read completed");
    ASSERT_TRUE(runUntil([&] { return !mSheets->isSheetShown(); })) << "the sheet closes by itself";
    ASSERT_TRUE(waitForPage("document.querySelectorAll('section.group').length > 10"));
    ASSERT_TRUE(
        waitForPage("document.querySelector('[data-path=\"" + std::string(kMaxLevel) + "\"]') !== null"));
    const std::string shown =
        pageEval("document.querySelector('[data-path=\"" + std::string(kMaxLevel) + "\"]').value")
            .value_or("");
    EXPECT_EQ(shown, std::to_string(tagValue(*mTag, "nfc_data_addr_dc_dali_setting", "max_level")))
        << "the page shows what the card holds";
    screenshot(*view, "pcsc-page-after-read");

    // One value changed and written: the card holds it, and nothing else changed.
    const Bytes before = mTag->memory();
    const long long old = tagValue(*mTag, "nfc_data_addr_dc_dali_setting", "max_level");
    const std::string changed = old == 231 ? "230" : "231";
    ASSERT_EQ(pageEval("(() => { const c = document.querySelector('[data-path=\"" + std::string(kMaxLevel) +
                       "\"]'); c.value = '" + changed +
                       "'; c.dispatchEvent(new Event('input')); return true; })()"),
              "true");
    runs = view->page()->snapshot().mRunsEnded;
    clickInPage("write");
    ASSERT_TRUE(waitForPage("!document.getElementById('review').hidden"));
    clickInPage("review-confirm");
    EXPECT_EQ(waitForRunEnd(*view, runs), "Write completed");
    EXPECT_EQ(tagValue(*mTag, "nfc_data_addr_dc_dali_setting", "max_level"), std::stoll(changed));
    const Bytes after = mTag->memory();
    ASSERT_EQ(after.size(), before.size());
    std::vector<int> changedBlocks;
    for (std::size_t block = 0; block * 4 < after.size(); ++block) {
        if (!std::equal(after.begin() + block * 4, after.begin() + block * 4 + 4,
                        before.begin() + block * 4)) {
            changedBlocks.push_back(static_cast<int>(block));
        }
    }
    EXPECT_EQ(changedBlocks.size(), 1U) << "one byte of one block holds the level";
    // Through the daemon: the card's own record of the commands has the write of that block.
    bool written = false;
    for (const Bytes& command : mCard->commands()) {
        written = written || (command.size() == 9 && command[0] == 0xFF && command[1] == 0xD6 &&
                              !changedBlocks.empty() && command[3] == changedBlocks.front());
    }
    EXPECT_TRUE(written);
    ASSERT_TRUE(runUntil([&] { return !mSheets->isSheetShown(); }));
    screenshot(*view, "pcsc-page-after-write");
}

} // namespace
} // namespace wynfc::shell::test
