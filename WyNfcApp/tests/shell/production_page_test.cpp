// The page's production mode in the real WebKit, with the test in the native side's place:
// the requests each driver gets, the product check, a driver laid on twice, a write that did
// not hold, and Stop.

#include "page_test_support.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <fstream>

namespace wynfc::shell::test {
namespace {

using nlohmann::json;

const json kProfile = json::parse(R"([
  {"name": "nfc_data_addr_dc_aoc", "data": [{"propName": "output_current", "value": 650}]},
  {"name": "nfc_data_addr_dc_dali_setting", "data": [{"propName": "max_level", "value": 200},
                                                     {"propName": "fade_time", "value": 7}]}])");

constexpr const char* kUidA = "5B1E3A7C2F0802E0";
constexpr const char* kUidB = "C4D2098B6A1102E0";
constexpr const char* kUidC = "0C000000000002E0";

std::string jobEvent(const std::string& job, const std::string& uid, bool completed = true,
                     const std::string& message = "") {
    return json({{"job", job},
                 {"outcome", completed ? "completed" : "failed"},
                 {"uid", uid},
                 {"message", message}})
        .dump();
}

class ProductionPage : public PageTest {
protected:
    void SetUp() override {
        PageTest::SetUp();
        loadPage(WYNFC_RESOURCES_DIR);
        ASSERT_TRUE(click("mode-production"));
        ASSERT_TRUE(waitFor("!document.getElementById('production').hidden"));
        // A driver laid on again is looked for again at once, not after a person's pause.
        ASSERT_EQ(eval("WyPage.production.retryDelay = 1; true"), "true");
    }

    void chooseProfile(const std::string& text, const std::string& file = "/profiles/line-3.json") {
        ASSERT_TRUE(click("production-choose"));
        ASSERT_EQ(takePosted(), std::vector<std::string>{"IMPORT_PROFILE:"});
        // The answer is the production's: the editor, whose Import would take it, is out of reach.
        EXPECT_EQ(eval("document.getElementById('mode-edit').disabled"), "true");
        feed("PROFILE_EVENT",
             json({{"request", "IMPORT_PROFILE"}, {"outcome", "loaded"}, {"file", file}, {"text", text}})
                 .dump());
        eval("true");
    }

    // The full-feature driver as it is once `wynfc write` has written the profile.
    std::string programmedImage() {
        const auto dir = mHome / "cli";
        std::filesystem::create_directories(dir);
        std::ofstream(dir / "profile.json") << kProfile.dump(2);
        const auto saved = dir / "programmed.json";
        const std::string command = std::string(WYNFC_CLI) + " write --no-verify --tag '" +
                                    WYNFC_RESOURCES_DIR + "/samples/full_feature.json' --values '" +
                                    (dir / "profile.json").string() + "' --save '" + saved.string() +
                                    "' > /dev/null 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        return saved.string();
    }

    // One driver through read, write and check; the check reads `checkImage`.
    void programme(const std::string& uid, const std::string& checkImage) {
        feedRead("full_feature");
        feed("JOB_EVENT", jobEvent("read", uid));
        ASSERT_EQ(takePosted(), std::vector<std::string>{"SHOW_WRITE_MODE_POPUP:"});
        feed("NOTIFY_EVENT", "WRITE_EVENT");
        feed("NOTIFY_EVENT", "WRITE_EVENT"); // the reader repeats it; one write only
        const auto posted = takePosted();
        ASSERT_EQ(posted.size(), 1U);
        ASSERT_EQ(posted[0].rfind("WRITE_DATA:", 0), 0U);
        const std::string data = posted[0].substr(posted[0].find(':', 11) + 1);
        EXPECT_EQ(json::parse(data), kProfile) << "every value of the profile, as it stands: " << posted[0];
        feed("JOB_EVENT", jobEvent("write", uid));
        ASSERT_EQ(takePosted(), std::vector<std::string>{"SHOW_READ_MODE_POPUP:"}) << "the check read";
        feedRead(checkImage);
        feed("JOB_EVENT", jobEvent("read", uid));
    }

    std::string text(const std::string& id) {
        return eval("document.getElementById('" + id + "').textContent").value_or("");
    }
    std::string rows() {
        return eval("[...document.querySelectorAll('#production-list tbody tr')].map((r) => "
                    "r.dataset.uid + ' ' + r.dataset.result).join('; ')")
            .value_or("");
    }
};

TEST_F(ProductionPage, AProfileThatTheMapDoesNotKnowCannotStartARun) {
    EXPECT_EQ(eval("document.getElementById('production-start').disabled"), "true");
    chooseProfile(R"([{"name": "nfc_data_addr_nowhere", "data": [{"propName": "x", "value": 1}]}])");
    EXPECT_EQ(eval("document.getElementById('production-start').disabled"), "true");
    EXPECT_NE(text("production-problem").find("Unknown area"), std::string::npos)
        << text("production-problem");
    pageScreenshot("production-page-profile-refused");
    chooseProfile("not json");
    EXPECT_NE(text("production-problem").find("not JSON"), std::string::npos);
    chooseProfile(kProfile.dump());
    EXPECT_EQ(eval("document.getElementById('production-problem').hidden"), "true");
    EXPECT_EQ(text("production-profile"), "line-3.json");
    EXPECT_EQ(text("production-profile-detail"), "3 settings in 2 groups");
    EXPECT_TRUE(click("production-start"));
}

TEST_F(ProductionPage, EachDriverOnceAndOnlyTheFirstProductIsProgrammed) {
    const std::string programmed = programmedImage();
    chooseProfile(kProfile.dump());
    ASSERT_TRUE(click("production-start"));
    EXPECT_EQ(takePosted(), (std::vector<std::string>{"WATCH_JOBS:on", "SHOW_READ_MODE_POPUP:"}));
    EXPECT_EQ(eval("document.getElementById('mode-edit').disabled"), "true") << "no editing during a run";

    programme(kUidA, programmed);
    EXPECT_EQ(takePosted(), (std::vector<std::string>{"NEXT_DRIVER:", "SHOW_READ_MODE_POPUP:"}));
    EXPECT_EQ(text("production-result-word"), "Programmed");
    EXPECT_EQ(eval("document.getElementById('production-result').className"), "result-card good");
    EXPECT_EQ(text("count-programmed"), "1");

    // Another kind of driver: refused, never put in write mode.
    feedRead("basic");
    feed("JOB_EVENT", jobEvent("read", kUidB));
    EXPECT_EQ(takePosted(), (std::vector<std::string>{"NEXT_DRIVER:", "SHOW_READ_MODE_POPUP:"}));
    EXPECT_EQ(text("production-result-word"), "Refused");
    EXPECT_NE(text("production-result-reason").find("Another kind of driver"), std::string::npos);
    EXPECT_EQ(eval("document.getElementById('production-result').className"), "result-card bad");

    // The first driver laid on again is not programmed twice: the worker is told to take it off.
    feedRead("full_feature");
    feed("JOB_EVENT", jobEvent("read", kUidA));
    EXPECT_EQ(text("production-result-word"), "Already done");
    EXPECT_NE(text("production-result-reason").find("already programmed"), std::string::npos);
    ASSERT_TRUE(runUntil([&] { return posted("SHOW_READ_MODE_POPUP").size() == 5; }));
    EXPECT_EQ(takePosted(), (std::vector<std::string>{"NEXT_DRIVER:", "SHOW_READ_MODE_POPUP:"}))
        << "looked for again, never put in write mode";
    EXPECT_EQ(text("production-note"), "Take that driver off the reader, then lay the next one.");
    resize(800, 600);
    pageScreenshot("production-page-already-done-800x600");
    resize(1024, 768);

    // A write that the check read does not find on the driver is a failure, and the run goes on.
    programme(kUidC, "full_feature");
    EXPECT_EQ(takePosted(), (std::vector<std::string>{"NEXT_DRIVER:", "SHOW_READ_MODE_POPUP:"}));
    EXPECT_EQ(text("production-result-word"), "Failed");
    EXPECT_NE(text("production-result-reason").find("3 settings did not take the profile's value"),
              std::string::npos)
        << text("production-result-reason");

    EXPECT_EQ(text("count-programmed"), "1");
    EXPECT_EQ(text("count-refused"), "1");
    EXPECT_EQ(text("count-failed"), "1");
    EXPECT_EQ(rows(), std::string(kUidC) + " failed; " + kUidB + " refused; " + kUidA + " programmed")
        << "the run's list, newest first; the driver laid on twice is listed once";
    pageScreenshot("production-page");
}

TEST_F(ProductionPage, StopEndsTheRunOnlyOnceTheDriverInProgressIsDone) {
    chooseProfile(kProfile.dump());
    ASSERT_TRUE(click("production-start"));
    takePosted();
    feedRead("full_feature");
    feed("JOB_EVENT", jobEvent("read", kUidA));
    EXPECT_EQ(takePosted(), std::vector<std::string>{"SHOW_WRITE_MODE_POPUP:"});
    ASSERT_TRUE(click("production-stop"));
    EXPECT_EQ(text("production-stop"), "Stopping\u2026");
    feed("NOTIFY_EVENT", "WRITE_EVENT");
    ASSERT_EQ(takePosted().size(), 1U) << "the write goes on";
    // The write fails: the driver is reported as such, and the run ends there.
    feed("JOB_EVENT", jobEvent("write", kUidA, false, "Write failed: Write failed"));
    EXPECT_EQ(takePosted(), (std::vector<std::string>{"NEXT_DRIVER:", "WATCH_JOBS:off"}));
    EXPECT_EQ(text("production-result-word"), "Failed");
    EXPECT_NE(text("production-result-reason").find("may hold part of the profile"), std::string::npos);
    EXPECT_EQ(text("production-note"), "Run ended: 0 programmed, 0 refused, 1 failed.");
    EXPECT_EQ(eval("document.getElementById('mode-edit').disabled"), "false");
    EXPECT_EQ(eval("document.activeElement.id"), "production-start") << "the focus was on Stop, now gone";

    // Waiting for a driver, Stop ends the run at once; the editor gets reads again.
    ASSERT_TRUE(click("production-start"));
    EXPECT_EQ(takePosted(), (std::vector<std::string>{"WATCH_JOBS:on", "SHOW_READ_MODE_POPUP:"}));
    EXPECT_EQ(rows(), "") << "a new run starts a new list";
    ASSERT_TRUE(click("production-stop"));
    EXPECT_EQ(takePosted(), std::vector<std::string>{"WATCH_JOBS:off"});
    feedRead("full_feature");
    EXPECT_EQ(eval("WyPage.editor.driver !== null"), "true");
}

} // namespace
} // namespace wynfc::shell::test
