#include "ble_reader_test_rig.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

namespace wynfc::ble_test {
namespace {

using Texts = std::vector<std::string>;

const std::string kIdentification = "nfc_data_addr_dc_product_identification"; // blocks 0-1
const std::string kProperties = "nfc_data_addr_led_product_properties";        // blocks 2-9
const std::string kOutputCurrent = "nfc_data_addr_dc_aoc";                     // block 24
const std::string kWarmCold = "nfc_data_addr_dc_ww_cw";                        // blocks 27-29
const std::string kDaliSetting = "nfc_data_addr_dc_dali_setting";              // blocks 55-57, 9 bytes
const std::string kTimeout = "WAIT BLE RESPONSE TIMEOUT!!";

std::optional<long long> decodedValue(const std::optional<std::string>& json, const std::string& name) {
    for (const auto& item : nlohmann::json::parse(json.value_or("[]"))) {
        if (item.value("name", "") == name && item.contains("value")) {
            return item["value"].get<long long>();
        }
    }
    return std::nullopt;
}

Bytes hostCommandOf(const Bytes& request) {
    return feig::checkRequestFrame(request).hostCommand;
}

class BleReaderTest : public ::testing::Test {
protected:
    void SetUp() override { loadShippedAddressMap(); }
};

TEST_F(BleReaderTest, InventoryKeepsTheTagIdentifierUntilTheNextOneFound) {
    ReaderBench bench;
    bench.connect();
    LogWatch log;
    const ResultObj none = bench.reader->readByName(kScanNfc);
    EXPECT_EQ(none.error, ErrorCode::ERROR);
    EXPECT_EQ(none.rawData, Bytes{});
    EXPECT_EQ(none.data, "");
    const Texts failure{"######### Frame has error! #########", "Parse frame error"};
    EXPECT_EQ(log.sequence(failure), failure);

    const auto tag = sampleTag();
    bench.feig->putTag(tag);
    const ResultObj found = bench.reader->readByName(kScanNfc);
    EXPECT_EQ(found.error, ErrorCode::OK);
    EXPECT_EQ(found.rawData, Bytes{});
    EXPECT_EQ(found.data, "");
    Bytes identifier{0x01, 0x03, 0x00}; // one tag: ISO 15693, DSFID, its UID
    identifier.insert(identifier.end(), tag->uid().begin(), tag->uid().end());
    EXPECT_EQ(bench.reader->tagId(), identifier);
    EXPECT_EQ(hostCommandOf(bench.feig->requests().back()), (Bytes{0xB0, 0x01, 0x00}));

    bench.feig->clearField();
    EXPECT_EQ(bench.reader->readByName(kScanNfc).error, ErrorCode::ERROR);
    EXPECT_EQ(bench.reader->tagId(), identifier);
}

TEST_F(BleReaderTest, ReadsAndDecodesAreasOfASampleDriverHoweverTheAnswerIsSplit) {
    ReaderBench bench;
    bench.connect();
    const auto tag = sampleTag();
    bench.presentTag(tag);

    const ResultObj current = bench.reader->readByName(kOutputCurrent);
    ASSERT_EQ(current.error, ErrorCode::OK);
    EXPECT_EQ(current.rawData, (Bytes{0x01, 0xFF, 0x01, 0xF4}));
    EXPECT_EQ(decodedValue(current.data, "output_current"), 500);
    EXPECT_EQ(hostCommandOf(bench.feig->requests().back()), (Bytes{0xB0, 0x23, 0x00, 24, 1}));
    EXPECT_EQ(decodedValue(bench.reader->readByName(kIdentification).data, "device_type"), 17);

    // The 50-byte answer: whole; 20, 20, 10; header alone, an empty one, odd pieces; the
    // CRC's bytes apart; on the second characteristic.
    struct Split {
        std::size_t size;
        std::vector<std::size_t> first;
        bool second = false;
    };
    for (const Split& split :
         {Split{64, {}}, Split{20, {}}, Split{7, {6, 0, 1, 2}}, Split{64, {49}}, Split{20, {}, true}}) {
        SCOPED_TRACE(split.size);
        bench.feig->setNotificationSize(split.size);
        bench.feig->setAnswerCharacteristic(split.second ? kReadCharacteristicUuid
                                                         : kTransferCharacteristicUuid);
        bench.feig->planNextAnswer(FeigAnswerPlan::splitInto(split.first));
        EXPECT_EQ(bench.reader->readByName(kProperties).rawData, tag->blockBytes(2, 8));
    }
}

TEST_F(BleReaderTest, AnErrorStatusOrAMalformedAnswerFailsTheRead) {
    ReaderBench bench;
    bench.connect();
    const auto tag = sampleTag();
    bench.presentTag(tag);
    LogWatch log;

    tag->injectFault(TagOperationKind::Read, TagAnswer::Failed, std::nullopt, 1);
    const ResultObj failed = bench.reader->readByName(kOutputCurrent);
    EXPECT_EQ(failed.error, ErrorCode::ERROR);
    EXPECT_EQ(failed.rawData, Bytes{});
    EXPECT_EQ(failed.data, "read failed");
    EXPECT_EQ(log.count(kTimeout), 0); // at once

    const ResultObj mismatch = bench.answeredBy(readAnswer({{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}}, 2),
                                                [&] { return bench.reader->readByName(kWarmCold); });
    EXPECT_EQ(mismatch.error, ErrorCode::ERROR);
    EXPECT_EQ(mismatch.data, "read failed");
    EXPECT_EQ(log.count("DB-N is not equal to blockCount!! 2 3"), 1);

    EXPECT_EQ(bench.reader->readByName(kOutputCurrent).rawData, tag->blockBytes(24, 1));
}

TEST_F(BleReaderTest, AReadThatNeverCompletesTimesOutAfterTheCountdown) {
    ReaderBench bench(quickTiming());
    bench.connect();
    bench.feig->putTag(sampleTag());
    for (const FeigAnswerPlan& plan : {FeigAnswerPlan::dropped(), FeigAnswerPlan::withCorruptCrc()}) {
        LogWatch log;
        bench.feig->planNextAnswer(plan);
        EXPECT_EQ(bench.reader->readByName(kOutputCurrent).data, "read failed");
        const Texts countdown{"Current Countdown Number: 5", "Current Countdown Number: 4",
                              "Current Countdown Number: 3", "Current Countdown Number: 2",
                              "Current Countdown Number: 1", kTimeout};
        EXPECT_EQ(log.sequence(countdown), countdown);
        EXPECT_EQ(log.count("Current Countdown Number: "), 5);
    }
}

TEST_F(BleReaderTest, NothingIsSentWithoutAConnectedReaderNorFromTheMainQueue) {
    ReaderBench bench(quickTiming());
    bench.feig->putTag(sampleTag());
    LogWatch log;
    EXPECT_EQ(bench.reader->readByName(kScanNfc).error, ErrorCode::ERROR);
    EXPECT_EQ(bench.reader->readByName(kOutputCurrent).data, "read failed");
    EXPECT_EQ(bench.reader->writeByName(kOutputCurrent, R"([{"propName":"output_current","value":1}])").data,
              "Reading old bytes was empty");
    EXPECT_EQ(log.count(kTimeout), 3);

    bench.connect();
    ResultObj onMainQueue;
    bench.loop.sync([&] { onMainQueue = bench.reader->readByName(kScanNfc); });
    EXPECT_EQ(onMainQueue.error, ErrorCode::ERROR);
    EXPECT_EQ(log.count(kTimeout), 3); // refused at once
    EXPECT_TRUE(bench.feig->requests().empty());
}

TEST_F(BleReaderTest, AnAnswerThatComesAfterItsWaitIsNotTakenByTheNextCommand) {
    Timing timing;
    timing.countdownTick = Millis{25};
    ReaderBench bench(timing);
    bench.connect();
    const auto tag = sampleTag();
    bench.presentTag(tag);
    LogWatch log;

    bench.feig->planNextAnswer(FeigAnswerPlan::delayed(timing.countdownLimit() + 3 * timing.countdownTick));
    EXPECT_EQ(bench.reader->readByName(kIdentification).error, ErrorCode::ERROR);
    ASSERT_TRUE(log.waitFor("######### A entire frame is received #########")); // late, nobody waiting

    // The next answer takes its time: the late one is there first, and must not be taken.
    bench.feig->planNextAnswer(FeigAnswerPlan::delayed(2 * timing.countdownTick));
    const ResultObj current = bench.reader->readByName(kOutputCurrent);
    ASSERT_EQ(current.error, ErrorCode::OK);
    EXPECT_EQ(current.rawData, tag->blockBytes(24, 1));
}

TEST_F(BleReaderTest, AFrameStartDropsTheBytesOfAnUnfinishedFrame) {
    ReaderBench bench;
    bench.connect();
    bench.presentTag(sampleTag());
    const Bytes answer = readAnswer({{1, 2, 3, 4}}, 1);
    bench.feig->planNextAnswer(FeigAnswerPlan::dropped());
    auto read = std::async(std::launch::async, [&] { return bench.reader->readByName(kOutputCurrent); });
    ASSERT_TRUE(bench.feig->waitForRequests(2, kWaitLimit));
    bench.feig->sendNotification(Bytes(answer.begin(), answer.begin() + 9)); // cut short
    bench.feig->sendNotification(answer);
    EXPECT_EQ(read.get().rawData, (Bytes{1, 2, 3, 4}));
}

TEST_F(BleReaderTest, WritesEachBlockLastByteFirstAndTheTagHoldsItInOrder) {
    ReaderBench bench;
    bench.connect();
    const auto tag = sampleTag();
    bench.presentTag(tag);

    const ResultObj one =
        bench.reader->writeByName(kOutputCurrent, R"([{"propName":"output_current","value":700}])");
    EXPECT_EQ(one.error, ErrorCode::OK);
    EXPECT_EQ(one.data, "null");
    EXPECT_EQ(hostCommandOf(bench.feig->requests().back()),
              (Bytes{0xB0, 0x24, 0x00, 24, 0x01, 0x04, 0xBC, 0x02, 0xFF, 0x01}));
    EXPECT_EQ(tag->blockBytes(24, 1), (Bytes{0x01, 0xFF, 0x02, 0xBC}));
}

TEST_F(BleReaderTest, NineMergedBytesWriteTwoBlocksAndNotTheNinthByte) {
    ReaderBench bench;
    bench.connect();
    const auto tag = sampleTag();
    bench.presentTag(tag);
    const Bytes lastBlock = tag->blockBytes(57, 1);
    // The read is answered with three blocks of three bytes.
    const ResultObj result = bench.answeredBy(readAnswer({{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}, 3), [&] {
        return bench.reader->writeByName(kDaliSetting, R"([{"propName":"max_level","value":170}])");
    });
    EXPECT_EQ(result.error, ErrorCode::OK);
    EXPECT_EQ(tag->blockBytes(55, 2), (Bytes{0xAA, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(tag->blockBytes(57, 1), lastBlock);
    EXPECT_EQ(bench.feig->requests().size(), 4u);
}

TEST_F(BleReaderTest, AFailingBlockWriteStopsTheWrite) {
    ReaderBench bench;
    bench.connect();
    const auto tag = sampleTag();
    bench.presentTag(tag);
    const Bytes untouched = tag->blockBytes(28, 2);
    tag->protectBlock(28);

    const ResultObj result =
        bench.reader->writeByName(kWarmCold, R"([{"propName":"ww_cw_config","value":3}])");
    EXPECT_EQ(result.error, ErrorCode::ERROR);
    EXPECT_EQ(result.data, "write status is not 0x00");
    EXPECT_EQ(tag->blockBytes(27, 1)[0], 0x03);
    EXPECT_EQ(tag->blockBytes(28, 2), untouched);
    EXPECT_EQ(bench.feig->requests().size(), 4u); // inventory, read, block 0, block 1
}

TEST_F(BleReaderTest, CommandsTheLibraryCannotBuildAreNeverSent) {
    ReaderBench bench;
    bench.connect();
    bench.presentTag(sampleTag());

    const ResultObj unknown = bench.reader->readByName("no_such_area");
    EXPECT_EQ(unknown.error, ErrorCode::ERROR);
    EXPECT_EQ(unknown.rawData, Bytes{});
    EXPECT_EQ(unknown.data, "");
    EXPECT_EQ(bench.feig->requests().size(), 1u);

    // A one-block area answered with two blocks: the second has no write command.
    const ResultObj write = bench.answeredBy(readAnswer({{1, 2, 3, 4}, {5, 6, 7, 8}}, 2), [&] {
        return bench.reader->writeByName(kOutputCurrent, R"([{"propName":"output_current","value":1}])");
    });
    EXPECT_EQ(write.error, ErrorCode::ERROR);
    EXPECT_EQ(write.data, "cmd is empty!");
    EXPECT_EQ(bench.feig->requests().size(), 3u); // inventory, read, block 0
}

} // namespace
} // namespace wynfc::ble_test
