// The page's production mode in the application's window, on simulated drivers laid on the
// readers one after another: each programmed or refused once, counted and listed, and the
// drivers' memories hold what the page reported.

#include "shell_test_support.h"

#include "platform/sim/scripted_file_chooser.h"
#include "platform/sim/tag_image.h"

#include <nlohmann/json.hpp>

#include <fstream>

namespace wynfc::shell::test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

const std::string kAoc = "nfc_data_addr_dc_aoc";
const std::string kDali = "nfc_data_addr_dc_dali_setting";

const json kProfile = json::parse(R"([
  {"name": "nfc_data_addr_dc_aoc", "data": [{"propName": "output_current", "value": 650}]},
  {"name": "nfc_data_addr_dc_dali_setting", "data": [{"propName": "max_level", "value": 200},
                                                     {"propName": "fade_time", "value": 7}]}])");

class ProductionRun : public AppTest, public ::testing::WithParamInterface<ReaderMode> {
protected:
    void SetUp() override {
        AppTest::SetUp();
        const fs::path samples = fs::path(WYNFC_RESOURCES_DIR) / "samples";
        const fs::path drivers = mHome / "drivers";
        fs::create_directories(drivers);
        fs::copy_file(samples / "full_feature.json", drivers / "first.json");
        fs::copy_file(samples / "basic.json", drivers / "other-product.json");
        // The same product as the first, another driver.
        TagImage third = loadTagImage(samples / "full_feature.json");
        third.uid = {0x0C, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0xE0};
        saveTagImage(third, drivers / "third.json");
        // The first driver stays on the reader for one more job, as when the worker has not
        // taken it away yet.
        mTags = SimulatedTagQueue::load({drivers / "first.json", drivers / "first.json",
                                         drivers / "other-product.json", drivers / "third.json"});
        mDriver = std::make_unique<SimulatedDriver>(mTags, shortTiming());
        mSheets =
            std::make_shared<SessionSheetService>(mDriver->tagReader(), mQueue, shortTiming().delayedEnding,
                                                  [this]() -> Gtk::Window* { return mWindow.get(); });
        mContext.platform = {mSheets, mDriver->centralFactory(*mQueue), mQueue, shortTiming()};
        mContext.nextDriver = [this] { mDriver->nextDriver(); };
        mFiles = std::make_shared<ScriptedFileChooser>(mQueue);
        mContext.fileChooser = mFiles;
        std::ofstream(mHome / "line-3.json") << kProfile.dump(2) << '\n';
    }

    bool clickInPage(const std::string& id) {
        return pageEval("(() => { const b = document.getElementById('" + id +
                        "'); if (!b || b.disabled || b.hidden) return false; b.click(); return true; })()") ==
               "true";
    }
    std::string pageText(const std::string& id) {
        return pageEval("document.getElementById('" + id + "').textContent").value_or("");
    }

    std::shared_ptr<SimulatedTagQueue> mTags;
    std::shared_ptr<ScriptedFileChooser> mFiles;
};

TEST_P(ProductionRun, ThreeDriversAreProgrammedOrRefusedOnceEachCountedAndListed) {
    const ReaderMode mode = GetParam();
    openWindow();
    mWindow->set_default_size(1100, 860);
    WorkPageView& view = openWorkPage(mode);
    if (mode == ReaderMode::BLE) {
        connectSimulatedReader(view);
    }
    // The driver laid on twice is looked for again at once, not after a person's pause.
    ASSERT_EQ(pageEval("WyPage.production.retryDelay = 1; true"), "true");

    ASSERT_TRUE(clickInPage("mode-production"));
    mFiles->prepareAnswer(mHome / "line-3.json");
    ASSERT_TRUE(clickInPage("production-choose"));
    ASSERT_TRUE(waitForPage("document.getElementById('production-profile').textContent === 'line-3.json'"));
    ASSERT_TRUE(clickInPage("production-start"));

    ASSERT_TRUE(waitForPage("WyPage.production.records.length === 3 && WyPage.production.phase === 'reading'",
                            Millis{120000}))
        << pageText("production-note") << " / " << pageText("production-result-reason");
    EXPECT_TRUE(mTags->exhausted());
    EXPECT_EQ(pageText("count-programmed"), "2");
    EXPECT_EQ(pageText("count-refused"), "1");
    EXPECT_EQ(pageText("count-failed"), "0");
    EXPECT_EQ(
        pageEval("[...document.querySelectorAll('#production-list tbody tr')].map((r) => r.dataset.uid + "
                 "' ' + r.dataset.result).join('; ')"),
        "0C000000000002E0 programmed; C4D2098B6A1102E0 refused; 5B1E3A7C2F0802E0 programmed");
    EXPECT_EQ(pageText("production-result-word"), "Programmed");
    EXPECT_EQ(pageText("production-note"), "Lay the next driver on the reader.");
    screenshot(*mWindow, mode == ReaderMode::NFC ? "production-run-nfc" : "production-run-ble");

    ASSERT_TRUE(clickInPage("production-stop"));
    EXPECT_EQ(pageText("production-note"), "Run ended: 2 programmed, 1 refused, 0 failed.");

    // What the drivers hold: the profile on the two of the first's product, nothing new on
    // the other.
    const fs::path saved = mHome / "saved";
    mTags->saveAll(saved);
    for (const char* name : {"first.json", "third.json"}) {
        const auto tag = VirtualTag::load(saved / name);
        EXPECT_EQ(tagValue(*tag, kAoc, "output_current"), 650) << name;
        EXPECT_EQ(tagValue(*tag, kDali, "max_level"), 200) << name;
        EXPECT_EQ(tagValue(*tag, kDali, "fade_time"), 7) << name;
    }
    EXPECT_EQ(loadTagImage(saved / "other-product.json").memory,
              loadTagImage(fs::path(WYNFC_RESOURCES_DIR) / "samples" / "basic.json").memory);
}

INSTANTIATE_TEST_SUITE_P(Readers, ProductionRun, ::testing::Values(ReaderMode::NFC, ReaderMode::BLE),
                         [](const ::testing::TestParamInfo<ReaderMode>& param) {
                             return std::string(rawValue(param.param));
                         });

} // namespace
} // namespace wynfc::shell::test
