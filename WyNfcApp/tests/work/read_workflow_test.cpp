#include "work_bench.h"

#include <gmock/gmock.h>

namespace wynfc::work_test {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

[[maybe_unused]] const auto* const kMap = ::testing::AddGlobalTestEnvironment(new ShippedMapEnvironment);

class ReadWorkflowTest : public ::testing::TestWithParam<ReaderMode> {
protected:
    // A bench in the test's reader mode, opened, with the reader connected in Bluetooth mode.
    std::unique_ptr<WorkBench> bench(const std::string& sample = "full_feature") {
        return WorkBench::opened(GetParam(), sample);
    }
};

TEST_P(ReadWorkflowTest, FullFeatureDriverIsReadAreaByArea) {
    auto b = bench();
    b->read();
    EXPECT_FALSE(b->page->snapshot().mReadFailed);
    EXPECT_THAT(b->statusHistory(), ::testing::Contains("Read completed"));
    // Every capability: both channels, and the diagnostics area twice under two keys.
    EXPECT_THAT(b->updateKeys(),
                ElementsAre("identification", "spec", "memory_bank_01_data", "memory_bank_207_data",
                            "memory_bank_01_light_distribution_data", "aoc_data", "clo_data", "clo2_data",
                            "corridor_data", "dimming_limit_data", "dimming_limit2_data", "dc_emergency_data",
                            "dc_emergency2_data", "diagnostics_data", "diagnostics2_data",
                            "lamp_on_time_data", "lamp_on_time2_data", "dali_setting_data",
                            "dali_setting2_data", "dali_address_data", "warm_cold_white_data",
                            "start_up_time_data"));
    // ztv and aux_power count steps that read nothing: 14 of 16 steps.
    const auto history = b->statusHistory();
    EXPECT_THAT(history, ::testing::Contains("Reading 87%"));
    EXPECT_THAT(history, ::testing::Not(::testing::Contains("Reading 100%")));

    // The "spec" page event joins capability list, product properties and GTIN with "#".
    const auto events = b->events();
    ASSERT_GE(events.size(), 2U);
    const PageEvent spec = events[1];
    EXPECT_EQ(std::count(spec.payload.begin(), spec.payload.end(), '#'), 2);
    EXPECT_THAT(spec.payload, HasSubstr("support_mb207"));

    if (GetParam() == ReaderMode::NFC) {
        const auto ending = b->nfc->currentSession()->ending();
        ASSERT_TRUE(ending.has_value());
        EXPECT_EQ(ending->message, "Read Completed");
    } else {
        // The popup closes after the delayed ending and the scan loop rests.
        EXPECT_TRUE(b->page->waitForState([](const WorkPageState& st) { return !st.mShowBLEOperatePopup; },
                                          kWaitLimit));
        EXPECT_EQ(b->page->snapshot().mScanWorkStatus, RunStatus::PAUSE_STATUS);
    }
}

TEST_P(ReadWorkflowTest, FailedProductDescriptionLeavesTheStatusAsItWas) {
    auto b = bench();
    b->tag->injectFault(TagOperationKind::Read, TagAnswer::Failed, 2); // product properties, for good
    b->post("SHOW_READ_MODE_POPUP:");
    b->presentTag();
    EXPECT_TRUE(b->page->waitForState([](const WorkPageState& s) { return s.mRunsEnded >= 1; }, kWaitLimit));
    if (GetParam() == ReaderMode::BLE) {
        b->main->sync([&] { b->page->waitingPopupCancel(); }); // the loop tries again until cancelled
    }
    b->page->waitForJobs();
    EXPECT_THAT(b->statusHistory(), ::testing::Each(::testing::Eq("Waiting to read...")));
    EXPECT_TRUE(b->page->snapshot().mReadFailed);
    const auto keys = b->updateKeys();
    EXPECT_FALSE(keys.empty());
    EXPECT_THAT(keys, ::testing::Each(::testing::Eq("identification")));
    if (GetParam() == ReaderMode::NFC) {
        b->nfc->waitIdle();
        const auto ending = b->nfc->currentSession()->ending();
        ASSERT_TRUE(ending.has_value());
        EXPECT_NE(ending->reason, SheetEnding::Reason::Success);
    }
}

TEST_P(ReadWorkflowTest, UnsupportedProductIsNotRead) {
    auto b = bench("unsupported");
    b->read();
    EXPECT_THAT(b->statusHistory(), ::testing::Contains("Not Support this product"));
    EXPECT_EQ(b->page->snapshot().mErrorTips, "Not Support this product");
    EXPECT_TRUE(b->updateKeys().empty());
    EXPECT_TRUE(b->page->snapshot().mReadFailed);
    if (GetParam() == ReaderMode::BLE) {
        // The loop tries again while the popup stays open.
        EXPECT_TRUE(b->page->snapshot().mShowBLEOperatePopup);
        EXPECT_EQ(b->page->snapshot().mScanWorkStatus, RunStatus::RUNNING_STATUS);
        b->main->sync([&] { b->page->waitingPopupCancel(); });
    } else {
        EXPECT_EQ(b->nfc->currentSession()->ending()->message, "Read Failed");
    }
}

struct CapabilityCase {
    std::set<std::string> capabilities;
    std::vector<std::string> keys; // after identification and spec
    std::vector<std::string> progress;
};

class CapabilityTest : public ::testing::TestWithParam<CapabilityCase> {};

TEST_P(CapabilityTest, StepsFollowTheCapabilityList) {
    WorkBench b(ReaderMode::NFC);
    setCapabilities(*b.tag, GetParam().capabilities);
    b.open();
    b.read();
    EXPECT_EQ(b.page->snapshot().mStatusTips, "Read completed");
    EXPECT_FALSE(b.page->snapshot().mReadFailed);
    std::vector<std::string> keys = b.updateKeys();
    ASSERT_GE(keys.size(), 2U);
    EXPECT_THAT(std::vector<std::string>(keys.begin() + 2, keys.end()), ElementsAreArray(GetParam().keys));
    std::vector<std::string> progress;
    for (const std::string& status : b.statusHistory()) {
        if (status.rfind("Reading ", 0) == 0) {
            progress.push_back(status);
        }
    }
    EXPECT_THAT(progress, ElementsAreArray(GetParam().progress));
}

INSTANTIATE_TEST_SUITE_P(
    Combinations, CapabilityTest,
    ::testing::Values(CapabilityCase{{"support_mb1"},
                                     {"memory_bank_01_data", "memory_bank_01_light_distribution_data"},
                                     {"Reading 50%", "Reading 100%"}},
                      CapabilityCase{{"support_mb1", "support_mb207"},
                                     {"memory_bank_01_data", "memory_bank_207_data",
                                      "memory_bank_01_light_distribution_data"},
                                     {"Reading 33%", "Reading 66%", "Reading 100%"}},
                      CapabilityCase{{"support_clo"}, {"clo_data"}, {"Reading 100%"}},
                      CapabilityCase{{"support_clo", "support_warm_and_cold_white"},
                                     {"clo_data", "clo2_data", "warm_cold_white_data"},
                                     {"Reading 50%", "Reading 100%"}},
                      CapabilityCase{{"support_aoc", "support_aux_power"}, {"aoc_data"}, {"Reading 50%"}},
                      CapabilityCase{{"support_dc_emergency", "support_lamp_on_time"},
                                     {"dc_emergency_data", "lamp_on_time_data"},
                                     {"Reading 50%", "Reading 100%"}},
                      CapabilityCase{{}, {}, {}}));

TEST(CapabilityFlagsTest, OnlyTheValueOneSetsAFlagAndCountsItsSteps) {
    CapabilityFlags flags;
    flags.parseCapability({"byte", "support_aoc", 2, std::nullopt});
    flags.parseCapability({"byte", "support_mb1", 1, std::nullopt});
    flags.parseCapability({"byte", "support_gtin", 1, std::nullopt});
    flags.parseCapability({"byte", "unknown", 1, std::nullopt});
    EXPECT_FALSE(flags.isSet(CapabilityFlags::aoc));
    EXPECT_TRUE(flags.isSet(CapabilityFlags::gtin));
    EXPECT_EQ(flags.stepTotal(), 2);
    flags.parseCapability({"byte", "support_mb1", 1, std::nullopt}); // counted again
    flags.parseCapability({"byte", "support_gtin", 0, std::nullopt});
    EXPECT_EQ(flags.stepTotal(), 4);
    EXPECT_FALSE(flags.isSet(CapabilityFlags::gtin));
}

TEST(ReadWorkflowEdgeTest, SecondChannelSucceedsAfterFirstFails) {
    WorkBench b(ReaderMode::BLE);
    setCapabilities(*b.tag, {"support_clo", "support_warm_and_cold_white", "support_aoc"});
    // The first CLO area (block 48) fails once; the second channel's succeeds.
    b.tag->injectFault(TagOperationKind::Read, TagAnswer::Failed, 48, 1);
    b.open();
    b.connectReader();
    b.read();
    // The step ends well and the run goes on to the steps after it.
    EXPECT_THAT(b.updateKeys(),
                ElementsAre("identification", "spec", "aoc_data", "clo2_data", "warm_cold_white_data"));
    EXPECT_THAT(b.statusHistory(), ::testing::Contains("Read completed"));
    EXPECT_FALSE(b.page->snapshot().mReadFailed);
}

struct ReplacedReadCase {
    std::string name;
    std::string area;
    int nth; // which read of the area is answered by the test
    ResultObj result;
    std::string status;
    std::string errorTips;
};

void PrintTo(const ReplacedReadCase& c, std::ostream* out) {
    *out << c.name;
}

// Outcomes the simulated tag cannot give: the test answers one read of the run itself.
class ReplacedReadTest : public ::testing::TestWithParam<ReplacedReadCase> {};

TEST_P(ReplacedReadTest, RunFailsAndReadFailedIsSet) {
    const ReplacedReadCase& c = GetParam();
    WorkBench b(ReaderMode::NFC);
    setCapabilities(*b.tag, {"support_aoc", "support_corridor"});
    b.open();
    b.overrideReads()->replace(c.area, c.nth, c.result);
    b.read();
    EXPECT_EQ(b.page->snapshot().mStatusTips, c.status);
    EXPECT_EQ(b.page->snapshot().mErrorTips, c.errorTips);
    EXPECT_TRUE(b.page->snapshot().mReadFailed);
    EXPECT_THAT(b.statusHistory(), ::testing::Not(::testing::Contains("Read completed")));
    if (c.status == "Not Support this product") {
        EXPECT_TRUE(b.updateKeys().empty());
    }
}

const std::string kCapabilities = "nfc_data_addr_dc_capabilities_options";

INSTANTIATE_TEST_SUITE_P(
    Outcomes, ReplacedReadTest,
    ::testing::Values(
        // An identification read without a verdict, or OK without a text: the product check
        // gives neither a verdict nor a text, and there is nothing to show as the driver's.
        ReplacedReadCase{"IdentificationReadWithoutVerdict", "nfc_data_addr_dc_product_identification", 1,
                         ResultObj{}, "Not Support this product", "Not Support this product"},
        ReplacedReadCase{"IdentificationOkWithoutText", "nfc_data_addr_dc_product_identification", 1,
                         ResultObj::ok(Bytes{1, 2, 3, 4}, std::nullopt), "Not Support this product",
                         "Not Support this product"},
        // The capability list read a second time, for its steps: without it nothing can be read.
        ReplacedReadCase{"SecondCapabilityReadFails", kCapabilities, 2, ResultObj::failure(std::nullopt),
                         "Read failed", "Read failed: functional data"},
        ReplacedReadCase{"SecondCapabilityReadWithoutText", kCapabilities, 2,
                         ResultObj::ok(Bytes{1, 2, 3, 4}, std::nullopt), "Read failed",
                         "Read failed: functional data"},
        ReplacedReadCase{"SecondCapabilityReadUnparsable", kCapabilities, 2,
                         ResultObj::ok(Bytes{1, 2, 3, 4}, "not a list"), "Read failed",
                         "Read failed: functional data"},
        // An area read that is OK but carries no values cannot be shown.
        ReplacedReadCase{"AreaOkWithoutText", "nfc_data_addr_dc_aoc", 1,
                         ResultObj::ok(Bytes{1, 2, 3, 4}, std::nullopt), "Read failed",
                         "Read failed: functional data"}),
    [](const ::testing::TestParamInfo<ReplacedReadCase>& param) { return param.param.name; });

TEST(ReadWorkflowEdgeTest, ReaderReadErrorMarksTheReadFailedInReadModeOnly) {
    WorkBench b(ReaderMode::NFC);
    b.open();
    b.read();
    ASSERT_FALSE(b.page->snapshot().mReadFailed);
    b.page->onReaderEvent(kEventReadError, std::nullopt, false); // without the error flag
    EXPECT_FALSE(b.page->snapshot().mReadFailed);
    b.page->state.modify([](WorkPageState& s) { s.mIsWriteMode = true; });
    b.page->onReaderEvent(kEventReadError, std::nullopt, true);
    EXPECT_FALSE(b.page->snapshot().mReadFailed);
    b.page->state.modify([](WorkPageState& s) { s.mIsWriteMode = false; });
    b.page->onReaderEvent(kEventReadError, std::nullopt, true);
    EXPECT_TRUE(b.page->snapshot().mReadFailed);
}

TEST(ReadWorkflowEdgeTest, FailingAreaStopsTheStepsWithFunctionalDataFailure) {
    WorkBench b(ReaderMode::BLE, "basic");
    setCapabilities(*b.tag, {"support_aoc", "support_corridor", "support_start_up_time"});
    b.tag->injectFault(TagOperationKind::Read, TagAnswer::Failed, 0x78 / 4); // corridor, for good
    b.open();
    b.connectReader();
    b.read();
    EXPECT_THAT(b.statusHistory(), ::testing::Contains("Read failed"));
    EXPECT_EQ(b.page->snapshot().mErrorTips, "Read failed: functional data");
    b.main->sync([&] { b.page->waitingPopupCancel(); }); // the loop keeps trying until cancelled
    const auto keys = b.updateKeys();
    ASSERT_GE(keys.size(), 3U);
    EXPECT_THAT(std::vector<std::string>(keys.begin(), keys.begin() + 3),
                ElementsAre("identification", "spec", "aoc_data"));
    EXPECT_THAT(keys, ::testing::Not(::testing::Contains("start_up_time_data")));
    EXPECT_TRUE(b.page->snapshot().mReadFailed);
}

TEST(ReadWorkflowEdgeTest, NoTagAnsweringLeavesEverythingAsItWas) {
    WorkBench b(ReaderMode::BLE);
    b.open();
    b.connectReader();
    b.post("SHOW_READ_MODE_POPUP:"); // no tag on the reader: the scan loop keeps trying
    EXPECT_TRUE(
        b.page->waitForState([](const WorkPageState& s) { return s.mShowBLEOperatePopup; }, kWaitLimit));
    EXPECT_FALSE(b.page->waitForState([](const WorkPageState& s) { return s.mDisableCancel; }, Millis{100}));
    EXPECT_EQ(b.page->snapshot().mStatusTips, "Waiting to read...");
    EXPECT_TRUE(b.updateKeys().empty());
}

INSTANTIATE_TEST_SUITE_P(BothReaders, ReadWorkflowTest, ::testing::Values(ReaderMode::NFC, ReaderMode::BLE),
                         readerName);

} // namespace
} // namespace wynfc::work_test
