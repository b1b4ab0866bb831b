#include "ble_reader_test_rig.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

namespace wynfc::ble_test {
namespace {

const std::string kIdentification = "nfc_data_addr_dc_product_identification"; // blocks 0-1
const std::string kProperties = "nfc_data_addr_led_product_properties";        // blocks 2-9
const std::string kOutputCurrent = "nfc_data_addr_dc_aoc";                     // block 24
const std::string kWarmCold = "nfc_data_addr_dc_ww_cw";                        // blocks 27-29
const std::string kDaliSetting = "nfc_data_addr_dc_dali_setting";              // blocks 55-57, 9 bytes

const std::string kTimeout = "WAIT BLE RESPONSE TIMEOUT!!";
const std::string kFrameError = "######### Frame has error! #########";
const std::string kFrameReceived = "######### A entire frame is received #########";

// The decoded value of the named item.
std::optional<long long> decodedValue(const std::optional<std::string>& json, const std::string& name) {
    if (!json) {
        return std::nullopt;
    }
    for (const auto& item : nlohmann::json::parse(*json)) {
        if (item.value("name", "") == name && item.contains("value")) {
            return item["value"].get<long long>();
        }
    }
    return std::nullopt;
}

// The host command inside a request frame.
Bytes hostCommandOf(const Bytes& request) {
    return feig::checkRequestFrame(request).hostCommand;
}

class BleReaderTest : public ::testing::Test {
protected:
    void SetUp() override { loadShippedAddressMap(); }
};

TEST_F(BleReaderTest, InventoryKeepsTheTagIdentifierAndFailsWithNoTagInTheField) {
    ReaderBench bench;
    bench.connect();
    LogWatch log;

    const ResultObj none = bench.reader->readByName(kScanNfc);
    EXPECT_EQ(none.error, ErrorCode::ERROR);
    EXPECT_EQ(none.rawData, Bytes{});
    EXPECT_EQ(none.data, "");
    EXPECT_TRUE(bench.reader->tagId().empty());
    EXPECT_EQ(log.sequence({kFrameError, "Parse frame"}),
              (std::vector<std::string>{kFrameError, "Parse frame"}));
    EXPECT_EQ(log.count("Parse frame error"), 1);

    const auto tag = sampleTag();
    bench.feig->putTag(tag);
    const ResultObj found = bench.reader->readByName(kScanNfc);
    EXPECT_EQ(found.error, ErrorCode::OK);
    EXPECT_EQ(found.rawData, Bytes{});
    EXPECT_EQ(found.data, "");
    Bytes expectedId{0x01, 0x03, 0x00}; // one tag, ISO 15693, DSFID, then its UID
    expectedId.insert(expectedId.end(), tag->uid().begin(), tag->uid().end());
    EXPECT_EQ(bench.reader->tagId(), expectedId);
    EXPECT_EQ(hostCommandOf(bench.feig->requests().back()), (Bytes{0xB0, 0x01, 0x00}));

    // The identifier outlives a failed inventory.
    bench.feig->clearField();
    EXPECT_EQ(bench.reader->readByName(kScanNfc).error, ErrorCode::ERROR);
    EXPECT_EQ(bench.reader->tagId(), expectedId);
}

TEST_F(BleReaderTest, ReadsAndDecodesAreasOfASampleDriver) {
    ReaderBench bench;
    bench.connect();
    const auto tag = sampleTag("basic");
    bench.presentTag(tag);

    const ResultObj current = bench.reader->readByName(kOutputCurrent);
    ASSERT_EQ(current.error, ErrorCode::OK);
    EXPECT_EQ(current.rawData, (Bytes{0x01, 0xFF, 0x01, 0xF4}));
    EXPECT_EQ(decodedValue(current.data, "output_current"), 500);
    EXPECT_EQ(decodedValue(current.data, "aoc_enable"), 1);
    EXPECT_EQ(hostCommandOf(bench.feig->requests().back()), (Bytes{0xB0, 0x23, 0x00, 24, 1}));

    const ResultObj identification = bench.reader->readByName(kIdentification);
    ASSERT_EQ(identification.error, ErrorCode::OK);
    EXPECT_EQ(identification.rawData, tag->blockBytes(0, 2));
    EXPECT_EQ(decodedValue(identification.data, "device_type"), 17);
}

TEST_F(BleReaderTest, AssemblesAnAnswerHoweverItIsSplitIntoNotifications) {
    struct Split {
        std::size_t notificationSize;
        std::vector<std::size_t> firstSizes;
        bool onSecondCharacteristic = false;
    };
    const std::vector<Split> splits{
        {64, {}},          // the whole 50-byte frame at once
        {20, {}},          // 20, 20, 10
        {7, {6, 0, 1, 2}}, // header alone, an empty one, then odd pieces
        {64, {48, 1}},     // the CRC's two bytes apart
        {20, {}, true},    // on the reader's second characteristic
    };
    ReaderBench bench;
    bench.connect();
    const auto tag = sampleTag("full_feature");
    bench.presentTag(tag);
    for (const Split& split : splits) {
        SCOPED_TRACE(split.notificationSize);
        bench.feig->setNotificationSize(split.notificationSize);
        bench.feig->setAnswerCharacteristic(
            split.onSecondCharacteristic ? std::string(SimulatedFeigReader::kSecondCharacteristicUuid)
                                         : std::string(SimulatedFeigReader::kTransferCharacteristicUuid));
        bench.feig->planNextAnswer(FeigAnswerPlan::splitInto(split.firstSizes));
        const ResultObj read = bench.reader->readByName(kProperties);
        ASSERT_EQ(read.error, ErrorCode::OK);
        EXPECT_EQ(read.rawData, tag->blockBytes(2, 8));
    }
}

TEST_F(BleReaderTest, AnErrorStatusFailsTheReadAtOnce) {
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
    EXPECT_EQ(log.count(kFrameError), 1);
    EXPECT_EQ(log.count(kTimeout), 0);

    // The next read is not disturbed by the failed one.
    EXPECT_EQ(bench.reader->readByName(kOutputCurrent).rawData, tag->blockBytes(24, 1));
}

TEST_F(BleReaderTest, BlockCountDisagreeingWithTheBlocksSentFailsTheRead) {
    ReaderBench bench;
    bench.connect();
    bench.presentTag(sampleTag());
    LogWatch log;

    bench.feig->planNextAnswer(FeigAnswerPlan::dropped());
    auto read = bench.onWorker([&] { return bench.reader->readByName(kWarmCold); });
    bench.waitForRequest(2);
    bench.feig->sendNotification(okAnswer(readAnswerData({{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}}, 2)));
    const ResultObj result = read.get();
    EXPECT_EQ(result.error, ErrorCode::ERROR);
    EXPECT_EQ(result.data, "read failed");
    EXPECT_EQ(log.count("DB-N is not equal to blockCount!! 2 3"), 1);
}

TEST_F(BleReaderTest, AReadThatNeverCompletesTimesOutAfterTheCountdown) {
    ReaderBench bench(quickTiming());
    bench.connect();
    bench.feig->putTag(sampleTag());

    for (const FeigAnswerPlan& plan : {FeigAnswerPlan::dropped(), FeigAnswerPlan::withCorruptCrc()}) {
        LogWatch log;
        bench.feig->planNextAnswer(plan);
        const ResultObj read = bench.reader->readByName(kOutputCurrent);
        EXPECT_EQ(read.error, ErrorCode::ERROR);
        EXPECT_EQ(read.data, "read failed");
        const std::vector<std::string> countdown{"Current Countdown Number: 5", "Current Countdown Number: 4",
                                                 "Current Countdown Number: 3", "Current Countdown Number: 2",
                                                 "Current Countdown Number: 1", kTimeout};
        EXPECT_EQ(log.sequence(countdown), countdown);
        EXPECT_EQ(log.count("Current Countdown Number: "), 5);
    }
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
    ASSERT_TRUE(log.waitFor(kFrameReceived)); // the identification arrives late, nobody waiting

    // The next answer takes its time: the late one is there first, and must not be taken.
    bench.feig->planNextAnswer(FeigAnswerPlan::delayed(2 * timing.countdownTick));
    const ResultObj current = bench.reader->readByName(kOutputCurrent);
    ASSERT_EQ(current.error, ErrorCode::OK);
    EXPECT_EQ(current.rawData, tag->blockBytes(24, 1));
    EXPECT_EQ(log.count("Dropped an answer that came after its wait had ended"), 1);
}

TEST_F(BleReaderTest, AFrameStartDropsTheBytesOfAnUnfinishedFrame) {
    ReaderBench bench;
    bench.connect();
    bench.presentTag(sampleTag());

    const Bytes answer = okAnswer(readAnswerData({{1, 2, 3, 4}}, 1));
    bench.feig->planNextAnswer(FeigAnswerPlan::dropped());
    auto read = bench.onWorker([&] { return bench.reader->readByName(kOutputCurrent); });
    bench.waitForRequest(2);
    bench.feig->sendNotification(Bytes(answer.begin(), answer.begin() + 9)); // cut short
    bench.feig->sendNotification({0x55});                                    // junk, part of it
    bench.feig->sendNotification(answer);
    const ResultObj result = read.get();
    ASSERT_EQ(result.error, ErrorCode::OK);
    EXPECT_EQ(result.rawData, (Bytes{1, 2, 3, 4}));
}

TEST_F(BleReaderTest, NothingIsSentWithoutAConnectedReader) {
    ReaderBench bench(quickTiming());
    bench.reader->startScan({}, false);
    bench.feig->putTag(sampleTag());
    LogWatch log;

    EXPECT_EQ(bench.reader->readByName(kScanNfc).error, ErrorCode::ERROR);
    EXPECT_EQ(bench.reader->readByName(kOutputCurrent).data, "read failed");
    const ResultObj write =
        bench.reader->writeByName(kOutputCurrent, R"([{"propName":"output_current","value":1}])");
    EXPECT_EQ(write.error, ErrorCode::ERROR);
    EXPECT_EQ(write.data, "Reading old bytes was empty");
    EXPECT_EQ(log.count(kTimeout), 3);
    EXPECT_TRUE(bench.feig->requests().empty());
}

TEST_F(BleReaderTest, WritesEveryBlockLastByteFirstAndTheTagHoldsItInOrder) {
    ReaderBench bench;
    bench.connect();
    const auto tag = sampleTag();
    bench.presentTag(tag);

    const ResultObj single =
        bench.reader->writeByName(kOutputCurrent, R"([{"propName":"output_current","value":700}])");
    EXPECT_EQ(single.error, ErrorCode::OK);
    EXPECT_EQ(single.data, "null");
    EXPECT_EQ(tag->blockBytes(24, 1), (Bytes{0x01, 0xFF, 0x02, 0xBC}));
    EXPECT_EQ(hostCommandOf(bench.feig->requests().back()),
              (Bytes{0xB0, 0x24, 0x00, 24, 0x01, 0x04, 0xBC, 0x02, 0xFF, 0x01}));

    Bytes expected = tag->blockBytes(27, 3);
    expected[1] = 0xFF; // reserve
    expected[2] = 0x12;
    expected[3] = 0x34;
    const std::size_t before = bench.feig->requests().size();
    const ResultObj three =
        bench.reader->writeByName(kWarmCold, R"([{"propName":"warm_white_limit","value":4660}])");
    EXPECT_EQ(three.error, ErrorCode::OK);
    EXPECT_EQ(tag->blockBytes(27, 3), expected);
    EXPECT_EQ(bench.feig->requests().size(), before + 4); // the read, then one command per block
}

TEST_F(BleReaderTest, NineMergedBytesWriteTwoBlocksAndNotTheNinthByte) {
    ReaderBench bench;
    bench.connect();
    const auto tag = sampleTag();
    bench.presentTag(tag);
    const Bytes lastBlock = tag->blockBytes(57, 1);

    // The reader answers the read with three blocks of three bytes.
    bench.feig->planNextAnswer(FeigAnswerPlan::dropped());
    auto write = bench.onWorker(
        [&] { return bench.reader->writeByName(kDaliSetting, R"([{"propName":"max_level","value":170}])"); });
    bench.waitForRequest(2);
    bench.feig->sendNotification(okAnswer(readAnswerData({{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}, 3)));
    const ResultObj result = write.get();
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
    const auto tag = sampleTag();
    bench.presentTag(tag);

    const ResultObj unknown = bench.reader->readByName("no_such_area");
    EXPECT_EQ(unknown.error, ErrorCode::ERROR);
    EXPECT_EQ(unknown.rawData, Bytes{});
    EXPECT_EQ(unknown.data, "");
    EXPECT_EQ(bench.feig->requests().size(), 1u);

    // A one-block area answered with two blocks: the second block has no write command.
    bench.feig->planNextAnswer(FeigAnswerPlan::dropped());
    auto write = bench.onWorker([&] {
        return bench.reader->writeByName(kOutputCurrent, R"([{"propName":"output_current","value":1}])");
    });
    bench.waitForRequest(2);
    bench.feig->sendNotification(okAnswer(readAnswerData({{1, 2, 3, 4}, {5, 6, 7, 8}}, 2)));
    const ResultObj result = write.get();
    EXPECT_EQ(result.error, ErrorCode::ERROR);
    EXPECT_EQ(result.data, "cmd is empty!");
    EXPECT_EQ(bench.feig->requests().size(), 3u); // inventory, read, block 0
}

TEST_F(BleReaderTest, PassesEveryDiscoveryOnOnceBound) {
    ReaderBench bench;
    auto scans = std::make_shared<ScanRecorder>(bench.loop);
    bench.reader->setScanDelegate(scans);
    bench.loop.waitIdle(); // scanning, but not bound yet
    EXPECT_TRUE(scans->items().empty());

    bench.reader->startScan({}, true);
    bench.radio.advertise(*bench.feig);
    bench.radio.advertise(*bench.feig);
    bench.loop.waitIdle();
    ASSERT_EQ(scans->items().size(), 2u);
    EXPECT_EQ(scans->items()[0], scans->items()[1]);
    EXPECT_EQ(bench.manager().discoveredPeripherals.get().size(), 1u);
}

TEST_F(BleReaderTest, RefusesToWaitOnTheMainQueue) {
    ReaderBench bench;
    bench.connect();
    bench.feig->putTag(sampleTag());
    ResultObj result;
    bench.loop.sync([&] { result = bench.reader->readByName(kScanNfc); });
    EXPECT_EQ(result.error, ErrorCode::ERROR);
    EXPECT_TRUE(bench.feig->requests().empty());
}

} // namespace
} // namespace wynfc::ble_test
