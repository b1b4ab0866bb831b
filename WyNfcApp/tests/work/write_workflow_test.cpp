#include "work_bench.h"

#include <gmock/gmock.h>

namespace wynfc::work_test {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;

constexpr int kCheckBlock = 0x3FC / 4;
const Bytes kCheckPattern = {0xAA, 0x55, 0x5A, 0xA5};

class WriteWorkflowTest : public ::testing::TestWithParam<ReaderMode> {
protected:
    // Opened, read once (a write needs a successful read), and waiting in write mode.
    std::unique_ptr<WorkBench> readyToWrite(const std::string& sample = "full_feature") {
        auto b = std::make_unique<WorkBench>(GetParam(), sample);
        b->open();
        if (GetParam() == ReaderMode::BLE) {
            b->connectReader();
        }
        b->read();
        b->startWrite();
        return b;
    }

    static std::vector<std::string> writingSteps(const WorkBench& b) {
        std::vector<std::string> steps;
        for (const std::string& status : b.statusHistory()) {
            if (status.rfind("Writing ", 0) == 0) {
                steps.push_back(status);
            }
        }
        return steps;
    }
};

TEST_P(WriteWorkflowTest, EmptyListWritesOnlyTheCheckPattern) {
    auto b = readyToWrite();
    b->tag->setMemory(kCheckBlock, Bytes(4, 0xFF));
    const Bytes before = b->tag->memory();
    b->write(b->header() + ":[]");
    EXPECT_THAT(b->statusHistory(), Contains("Write completed"));
    EXPECT_THAT(writingSteps(*b), ElementsAre("Writing 100%"));
    Bytes expected = before;
    std::copy(kCheckPattern.begin(), kCheckPattern.end(), expected.begin() + kCheckBlock * 4);
    EXPECT_EQ(b->tag->memory(), expected);
    if (GetParam() == ReaderMode::NFC) {
        EXPECT_EQ(b->nfc->currentSession()->ending()->message, "Write Completed");
    } else {
        EXPECT_TRUE(b->waitForStatus("Waiting to write..."));
        EXPECT_FALSE(b->page->snapshot().mShowBLEOperatePopup);
    }
}

TEST_P(WriteWorkflowTest, AreasAreWrittenInOrderWithProgress) {
    auto b = readyToWrite();
    b->write(b->header() + R"(:[
        {"name": "nfc_data_addr_dc_dali_setting", "data": [{"propName": "max_level", "value": 200},
                                                          {"propName": "fade_time", "value": 7}]},
        {"name": "nfc_data_addr_dc_aoc", "data": [{"propName": "output_current", "value": 875},
                                                 {"propName": "aoc_config.aoc_enable", "value": 0, "bitValue": 1}]},
        {"name": "nfc_data_addr_dc_memory_bank_01",
         "data": [{"propName": "luminaire_gtin", "value": 0, "arrayValue": "4012345000009"}]}])");
    EXPECT_EQ(b->page->snapshot().mErrorTips, "");
    EXPECT_THAT(b->statusHistory(), Contains("Write completed"));
    EXPECT_THAT(writingSteps(*b), ElementsAre("Writing 25%", "Writing 50%", "Writing 75%", "Writing 100%"));
    EXPECT_EQ(b->valueOf("nfc_data_addr_dc_dali_setting", "max_level"), 200U);
    EXPECT_EQ(b->valueOf("nfc_data_addr_dc_dali_setting", "fade_time"), 7U);
    EXPECT_EQ(b->valueOf("nfc_data_addr_dc_aoc", "output_current"), 875U);
    EXPECT_EQ(b->valueOf("nfc_data_addr_dc_aoc", "aoc_config") & 1U, 1U);
    EXPECT_EQ(b->valuesOf("nfc_data_addr_dc_memory_bank_01")[2]["arrayValue"], "4012345000009");
    EXPECT_EQ(b->tag->blockBytes(kCheckBlock, 1), kCheckPattern);
}

TEST_P(WriteWorkflowTest, FailingSecondAreaStopsTheWrite) {
    auto b = readyToWrite();
    b->tag->setMemory(kCheckBlock, Bytes(4, 0xFF));
    b->tag->injectFault(TagOperationKind::Write, TagAnswer::Failed, 0x60 / 4); // the AOC area
    b->write(b->header() + R"(:[
        {"name": "nfc_data_addr_dc_dali_setting", "data": [{"propName": "max_level", "value": 201}]},
        {"name": "nfc_data_addr_dc_aoc", "data": [{"propName": "output_current", "value": 900}]},
        {"name": "nfc_data_addr_dc_corridor", "data": [{"propName": "presence_level", "value": 99}]}])");
    EXPECT_THAT(b->statusHistory(), Contains("Write failed"));
    EXPECT_EQ(b->page->snapshot().mErrorTips, "Write failed: Write failed");
    EXPECT_THAT(writingSteps(*b), ElementsAre("Writing 25%"));
    EXPECT_EQ(b->valueOf("nfc_data_addr_dc_dali_setting", "max_level"), 201U);
    EXPECT_NE(b->valueOf("nfc_data_addr_dc_corridor", "presence_level"), 99U);
    EXPECT_EQ(b->tag->blockBytes(kCheckBlock, 1), Bytes(4, 0xFF));
}

TEST_P(WriteWorkflowTest, RefusedOrSilentCheckPatternFailsTheWrite) {
    auto b = readyToWrite();
    for (const TagAnswer answer : {TagAnswer::Failed, TagAnswer::NoAnswer}) {
        SCOPED_TRACE(static_cast<int>(answer));
        const std::size_t before = b->statusHistory().size();
        b->tag->injectFault(TagOperationKind::Write, answer, kCheckBlock, 1);
        b->write(b->header() + R"(:[
            {"name": "nfc_data_addr_dc_dali_setting", "data": [{"propName": "max_level", "value": 202}]}])");
        const auto history = b->statusHistory();
        const std::vector<std::string> run(history.begin() + static_cast<std::ptrdiff_t>(before),
                                           history.end());
        EXPECT_THAT(run, Contains("Write failed"));
        EXPECT_THAT(run, ::testing::Not(Contains("Write completed")));
        EXPECT_EQ(b->page->snapshot().mErrorTips, "Write failed: Write failed");
        EXPECT_EQ(b->valueOf("nfc_data_addr_dc_dali_setting", "max_level"), 202U); // the area itself was
        if (GetParam() == ReaderMode::NFC) {
            b->nfc->waitIdle();
            const auto ending = b->nfc->currentSession()->ending();
            ASSERT_TRUE(ending.has_value());
            EXPECT_NE(ending->reason, SheetEnding::Reason::Success);
        } else {
            EXPECT_TRUE(b->waitForStatus("Waiting to write..."));
        }
        b->startWrite();
    }
}

TEST_P(WriteWorkflowTest, HeaderMustMatchTheDriver) {
    auto b = readyToWrite();
    const Bytes before = b->tag->memory();
    const std::string type = b->header().substr(0, b->header().find(','));
    for (const std::string& header : {type + ",99", "x," + b->header().substr(b->header().find(',') + 1)}) {
        b->write(header + ":[]");
        EXPECT_EQ(b->page->snapshot().mErrorTips, "Write failed: Driver subtype is not match.") << header;
        if (GetParam() == ReaderMode::NFC) {
            EXPECT_EQ(b->nfc->currentSession()->ending()->message, "Driver subtype is not match.");
            b->startWrite();
        }
    }
    EXPECT_EQ(b->tag->memory(), before);
}

TEST_P(WriteWorkflowTest, MalformedRequestsAreRefusedBeforeTheTagAndLeaveNobodyWaiting) {
    auto b = readyToWrite();
    const Bytes before = b->tag->memory();
    LogCapture log;
    for (const std::string& data : {b->header(), std::string("17:[]"), std::string(":[]"),
                                    b->header() + ":{}", b->header() + R"(:[{"name": "x"}])"}) {
        SCOPED_TRACE(data);
        b->write(data);
        EXPECT_EQ(b->page->snapshot().mStatusTips, "Write failed");
        EXPECT_EQ(b->page->snapshot().mErrorTips, "Write failed: Data incorrect format");
        EXPECT_EQ(b->page->snapshot().mScanWorkStatus, RunStatus::PAUSE_STATUS);
        if (GetParam() == ReaderMode::NFC) {
            b->nfc->waitIdle();
            const auto ending = b->nfc->currentSession()->ending();
            ASSERT_TRUE(ending.has_value());
            EXPECT_EQ(ending->message, "Data incorrect format");
        } else {
            // The waiting popup closes after the delayed ending, and its Cancel works again.
            EXPECT_TRUE(b->page->waitForState(
                [](const WorkPageState& s) { return !s.mShowBLEOperatePopup && !s.mDisableCancel; },
                kWaitLimit));
        }
        b->startWrite();
    }
    EXPECT_EQ(log.count("Wrint data is incorrect format"), 5);
    EXPECT_EQ(b->tag->memory(), before);
}

TEST(WriteWorkflowEdgeTest, UnreadableIdentificationWithMinusOneHeader) {
    WorkBench b(ReaderMode::BLE);
    b.open();
    b.connectReader();
    b.read();
    b.startWrite();
    b.tag->injectFault(TagOperationKind::Read, TagAnswer::Failed, 0); // the identification block
    // One sign at most: "+-1" is no number, so it matches nothing.
    b.write("+-1,-1:[]");
    EXPECT_EQ(b.page->snapshot().mErrorTips, "Write failed: Driver subtype is not match.");
    EXPECT_TRUE(b.waitForStatus("Waiting to write..."));
    b.startWrite();
    b.write("-1,-1:[]");
    EXPECT_EQ(b.page->snapshot().mErrorTips, "Write failed: Read necessary data is failed");
    EXPECT_TRUE(b.waitForStatus("Waiting to write..."));
}

TEST(WriteWorkflowEdgeTest, BluetoothWriteModeTellsThePageEachTurn) {
    WorkBench b(ReaderMode::BLE);
    b.open();
    b.connectReader();
    b.read();
    b.startWrite();
    // The page does not answer: the loop says "WRITE_EVENT" again on each later turn, once.
    const auto writeEvents = [&] { return b.countEvents(kWriteEventPayload); };
    EXPECT_TRUE(b.waitForEvents([&] { return writeEvents() >= 4; }));
    const auto times = b.eventTimes(kWriteEventPayload);
    ASSERT_GE(times.size(), 4U);
    for (std::size_t i = 2; i < times.size(); ++i) { // the first came with the request
        EXPECT_GE(times[i] - times[i - 1], WorkBench::defaultTiming().scanLoopPeriod) << i;
    }
    b.write(b.header() + ":[]"); // pauses the loop
    EXPECT_EQ(b.page->snapshot().mScanWorkStatus, RunStatus::PAUSE_STATUS);
    const int count = writeEvents();
    EXPECT_FALSE(b.waitForEvents([&] { return writeEvents() > count; }, Millis{100}));
}

TEST(WriteWorkflowEdgeTest, WriteIsRefusedBeforeASuccessfulRead) {
    WorkBench b(ReaderMode::NFC);
    b.open();
    LogCapture log;
    b.post("SHOW_WRITE_MODE_POPUP:");
    EXPECT_TRUE(b.page->snapshot().mShowErrorTipsPopup);
    EXPECT_EQ(b.nfc->sessionCount(), 0);
    EXPECT_FALSE(log.contains("Request from H5: "));
    b.main->sync([&] { b.page->errorTipsOk(); });
    EXPECT_FALSE(b.page->snapshot().mShowErrorTipsPopup);
}

INSTANTIATE_TEST_SUITE_P(BothReaders, WriteWorkflowTest, ::testing::Values(ReaderMode::NFC, ReaderMode::BLE),
                         readerName);

} // namespace
} // namespace wynfc::work_test
