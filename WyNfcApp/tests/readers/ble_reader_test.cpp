#include "ble_reader_test_rig.h"
#include "readers/ble_response_frame.h"

#include <gtest/gtest.h>

#include <future>

namespace wynfc::test {
namespace {

const std::string kProperties = "nfc_data_addr_led_product_properties"; // blocks 2-9
const std::string kOutputCurrent = "nfc_data_addr_dc_aoc";              // block 24
const std::string kWarmCold = "nfc_data_addr_dc_ww_cw";                 // blocks 27-29
const std::string kDaliSetting = "nfc_data_addr_dc_dali_setting";       // blocks 55-57, 9 bytes
const std::string kOutputCurrent1 = R"([{"propName":"output_current","value":1}])";
const std::string kTimeout = "WAIT BLE RESPONSE TIMEOUT!!";

// A connected reader with the sample driver's tag in its field, found by an inventory.
class BleReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        loadShippedAddressMap();
        bench.connect();
        bench.feig->putTag(tag);
        ASSERT_TRUE(bench.reader->readByName(kScanNfc).isOk());
    }
    Bytes lastCommand() const { return feig::checkRequestFrame(bench.feig->requests().back()).hostCommand; }

    LogCapture log;
    ReaderBench bench;
    std::shared_ptr<VirtualTag> tag = sampleTag();
};

TEST_F(BleReaderTest, InventoryKeepsTheTagIdentifierUntilAnotherIsFound) {
    Bytes identifier{0x01, 0x03, 0x00}; // one tag: ISO 15693, DSFID, its UID
    identifier.insert(identifier.end(), tag->uid().begin(), tag->uid().end());
    EXPECT_EQ(bench.reader->tagId(), identifier);
    EXPECT_EQ(lastCommand(), (Bytes{0xB0, 0x01, 0x00}));

    // Found or not, the result carries empty bytes and an empty text.
    const ResultObj found = bench.reader->readByName(kScanNfc);
    EXPECT_TRUE(found.isOk());
    EXPECT_EQ(found.rawData, Bytes{});
    EXPECT_EQ(found.data, "");

    bench.feig->clearField();
    const ResultObj none = bench.reader->readByName(kScanNfc);
    EXPECT_EQ(none.error, ErrorCode::ERROR);
    EXPECT_EQ(none.rawData, Bytes{});
    EXPECT_EQ(none.data, "");
    EXPECT_EQ(bench.reader->tagId(), identifier);
}

TEST_F(BleReaderTest, ReadsAnAreaHoweverItsAnswerIsSplit) {
    const ResultObj current = bench.reader->readByName(kOutputCurrent);
    EXPECT_EQ(current.rawData, (Bytes{0x01, 0xFF, 0x01, 0xF4}));
    EXPECT_EQ(current.data,
              sharedApi().getJsonValuesFromDataByName(kOutputCurrent, {0x01, 0xFF, 0x01, 0xF4}));
    EXPECT_EQ(lastCommand(), (Bytes{0xB0, 0x23, 0x00, 24, 1}));

    // The 50-byte answer: whole; 20, 20, 10; header alone, an empty one, odd pieces; the
    // CRC's bytes apart; on the second characteristic.
    using Sizes = std::vector<std::size_t>;
    for (const auto& [size, first, second] :
         {std::tuple{64u, Sizes{}, false}, std::tuple{20u, Sizes{}, false},
          std::tuple{7u, Sizes{6, 0, 1, 2}, false}, std::tuple{64u, Sizes{49}, false},
          std::tuple{20u, Sizes{}, true}}) {
        SCOPED_TRACE(size);
        bench.feig->setNotificationSize(size);
        bench.feig->setAnswerCharacteristic(second ? kReadCharacteristicUuid : kTransferCharacteristicUuid);
        bench.feig->planNextAnswer(FeigAnswerPlan::splitInto(first));
        EXPECT_EQ(bench.reader->readByName(kProperties).rawData, tag->blockBytes(2, 8));
    }
}

TEST_F(BleReaderTest, AnErrorStatusOrAMalformedAnswerFailsTheReadAtOnce) {
    tag->injectFault(TagOperationKind::Read, TagAnswer::Failed, std::nullopt, 1);
    EXPECT_EQ(bench.reader->readByName(kOutputCurrent).data, "read failed");
    EXPECT_EQ(log.count("Frame has error!"), 1); // taken at its first notification

    // DB-N says 2, three blocks came.
    const ResultObj mismatch =
        bench.answeredBy({readAnswer({{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}}, 2)},
                         [&] { return bench.reader->readByName(kWarmCold); });
    EXPECT_EQ(mismatch.data, "read failed");
    EXPECT_EQ(log.count("DB-N is not equal to blockCount!! 2 3"), 1);
    EXPECT_EQ(log.count(kTimeout), 0);
}

TEST_F(BleReaderTest, AFrameTakesEveryNotificationUpToTheLengthItDeclares) {
    // Memory bank 1 (blocks 96-110) holding 0x02 at byte 10 and 0x00, 0xB0 at bytes 14 and 15:
    // the answer's second 20-byte notification then begins like a frame.
    Bytes bank = tag->blockBytes(96, 15);
    bank[10] = 0x02;
    bank[14] = 0x00;
    bank[15] = 0xB0;
    tag->setMemory(96, bank);
    std::vector<Bytes> blocks;
    for (std::size_t i = 0; i < bank.size(); i += 4) {
        blocks.emplace_back(bank.begin() + static_cast<std::ptrdiff_t>(i),
                            bank.begin() + static_cast<std::ptrdiff_t>(i + 4));
    }
    const Bytes answer = readAnswer(blocks, 15);
    ASSERT_TRUE(isFrameStart(Bytes(answer.begin() + 20, answer.end())));
    EXPECT_EQ(bench.reader->readByName("nfc_data_addr_dc_memory_bank_01").rawData, bank);

    // More bytes than declared, or the declared length without its CRC, fail the frame at once.
    const Bytes one = readAnswer({{1, 2, 3, 4}}, 1);
    Bytes badCrc = one;
    badCrc.back() ^= 0xFF;
    for (const auto& notifications :
         {std::vector<Bytes>{Bytes(one.begin(), one.begin() + 9), one}, std::vector<Bytes>{badCrc}}) {
        EXPECT_EQ(
            bench.answeredBy(notifications, [&] { return bench.reader->readByName(kOutputCurrent); }).data,
            "read failed");
    }
    EXPECT_EQ(log.count("failed its length or CRC check"), 2);
    EXPECT_EQ(log.count(kTimeout), 0);
}

TEST_F(BleReaderTest, TwoCallersAtOnceAreServedOneAfterTheOther) {
    bench.feig->planNextAnswer(FeigAnswerPlan::delayed(Millis{50})); // the second comes while it waits
    auto first = std::async(std::launch::async, [&] { return bench.reader->readByName(kProperties); });
    ASSERT_TRUE(bench.feig->waitForRequests(2, kPatience));
    auto second = std::async(std::launch::async, [&] { return bench.reader->readByName(kOutputCurrent); });
    EXPECT_EQ(first.get().rawData, tag->blockBytes(2, 8));
    EXPECT_EQ(second.get().rawData, tag->blockBytes(24, 1));
    EXPECT_EQ(bench.feig->requests().size(), 3u);
    EXPECT_EQ(log.count(kTimeout), 0);
}

TEST_F(BleReaderTest, WritesWholeBlocksLastByteFirstAndStopsAtARefusedOne) {
    const ResultObj one =
        bench.reader->writeByName(kOutputCurrent, R"([{"propName":"output_current","value":700}])");
    EXPECT_EQ(one.data, "null"); // OK
    EXPECT_EQ(lastCommand(), (Bytes{0xB0, 0x24, 0x00, 24, 0x01, 0x04, 0xBC, 0x02, 0xFF, 0x01}));
    EXPECT_EQ(tag->blockBytes(24, 1), (Bytes{0x01, 0xFF, 0x02, 0xBC}));

    // Nine merged bytes (three blocks of three were read) make two blocks.
    const Bytes lastBlock = tag->blockBytes(57, 1);
    std::size_t sent = bench.feig->requests().size();
    const ResultObj nine = bench.answeredBy({readAnswer({{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}, 3)}, [&] {
        return bench.reader->writeByName(kDaliSetting, R"([{"propName":"max_level","value":170}])");
    });
    EXPECT_EQ(nine.data, "null");
    EXPECT_EQ(tag->blockBytes(55, 2), (Bytes{0xAA, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(tag->blockBytes(57, 1), lastBlock);
    EXPECT_EQ(bench.feig->requests().size(), sent + 3);

    sent = bench.feig->requests().size();
    const Bytes untouched = tag->blockBytes(28, 2);
    tag->protectBlock(28);
    const ResultObj refused =
        bench.reader->writeByName(kWarmCold, R"([{"propName":"ww_cw_config","value":3}])");
    EXPECT_EQ(refused.data, "write status is not 0x00");
    EXPECT_EQ(tag->blockBytes(27, 1)[0], 0x03);
    EXPECT_EQ(tag->blockBytes(28, 2), untouched);
    EXPECT_EQ(bench.feig->requests().size(), sent + 3); // read, block 0, block 1
}

TEST_F(BleReaderTest, CommandsTheLibraryCannotBuildAreNeverSent) {
    EXPECT_EQ(bench.reader->readByName("no_such_area").error, ErrorCode::ERROR);
    EXPECT_EQ(bench.feig->requests().size(), 1u);

    // A one-block area answered with one block of eight bytes: the last four have no write
    // command. (Two blocks would be the answer to another read, not taken for this one.)
    const ResultObj write = bench.answeredBy({readAnswer({{1, 2, 3, 4, 5, 6, 7, 8}}, 1)}, [&] {
        return bench.reader->writeByName(kOutputCurrent, kOutputCurrent1);
    });
    EXPECT_EQ(write.data, "cmd is empty!");
    EXPECT_EQ(bench.feig->requests().size(), 3u); // inventory, read, block 0
}

TEST_F(BleReaderTest, CoalescedReadsFetchPlannedNeighboursInOneCommandAndGiveTheSameResults) {
    const std::string ztv = "nfc_data_addr_dc_ztv"; // blocks 25-26, between aoc and ww_cw
    const std::vector<std::string> areas = {kOutputCurrent, ztv, kWarmCold, kDaliSetting};
    std::vector<ResultObj> plain;
    for (const std::string& area : areas) {
        plain.push_back(bench.reader->readByName(area));
    }

    bench.reader->setCoalescing(true);
    bench.reader->planReads(areas);
    std::size_t sent = bench.feig->requests().size();
    for (std::size_t i = 0; i < areas.size(); ++i) {
        SCOPED_TRACE(areas[i]);
        const ResultObj coalesced = bench.reader->readByName(areas[i]);
        EXPECT_EQ(coalesced.error, plain[i].error);
        EXPECT_EQ(coalesced.rawData, plain[i].rawData);
        EXPECT_EQ(coalesced.data, plain[i].data);
    }
    // Blocks 24 to 29 in one command; the dali setting (55-57) borders none of them.
    ASSERT_EQ(bench.feig->requests().size(), sent + 2);
    EXPECT_EQ(feig::checkRequestFrame(bench.feig->requests()[sent]).hostCommand,
              (Bytes{0xB0, 0x23, 0x00, 24, 6}));
    EXPECT_EQ(lastCommand(), (Bytes{0xB0, 0x23, 0x00, 55, 3}));

    // A write drops what was fetched ahead: the next read asks the tag again, and sees the write.
    EXPECT_EQ(bench.reader->writeByName(kOutputCurrent, kOutputCurrent1).data, "null");
    sent = bench.feig->requests().size();
    EXPECT_EQ(bench.reader->readByName(kOutputCurrent).rawData, tag->blockBytes(24, 1));
    EXPECT_EQ(bench.feig->requests().size(), sent + 1);

    // An error answer to the combined read may be a neighbour's fault: the area is read alone.
    bench.reader->planReads(areas);
    tag->injectFault(TagOperationKind::Read, TagAnswer::Failed, std::nullopt, 1);
    sent = bench.feig->requests().size();
    EXPECT_EQ(bench.reader->readByName(ztv).rawData, tag->blockBytes(25, 2));
    ASSERT_EQ(bench.feig->requests().size(), sent + 2);
    EXPECT_EQ(lastCommand(), (Bytes{0xB0, 0x23, 0x00, 25, 2}));

    // Without a plan each area is its own command again.
    bench.reader->planReads({});
    sent = bench.feig->requests().size();
    bench.reader->readByName(kOutputCurrent);
    bench.reader->readByName(ztv);
    EXPECT_EQ(bench.feig->requests().size(), sent + 2);
}

TEST(BleReader, AnUnansweredCommandTimesOutAfterTheCountdownAndTheMainQueueIsRefused) {
    loadShippedAddressMap();
    ReaderBench bench(tickTiming(5));
    bench.feig->putTag(sampleTag());
    {
        LogCapture log; // not connected: nothing is sent
        EXPECT_EQ(bench.reader->writeByName(kOutputCurrent, kOutputCurrent1).data,
                  "Reading old bytes was empty");
        EXPECT_EQ(countdownLines(log), fullCountdown(kTimeout));
    }
    bench.connect();
    LogCapture log;
    ResultObj onMainQueue;
    bench.loop.sync([&] { onMainQueue = bench.reader->readByName(kScanNfc); });
    EXPECT_EQ(onMainQueue.error, ErrorCode::ERROR);
    EXPECT_TRUE(countdownLines(log).empty()); // refused at once
    EXPECT_TRUE(bench.feig->requests().empty());

    bench.feig->planNextAnswer(FeigAnswerPlan::dropped());
    EXPECT_EQ(bench.reader->readByName(kOutputCurrent).data, "read failed");
    EXPECT_EQ(countdownLines(log), fullCountdown(kTimeout));
}

TEST(BleReader, AnAnswerThatComesAfterItsWaitIsNotTakenByTheNextCommand) {
    loadShippedAddressMap();
    const Timing timing = tickTiming(25);
    ReaderBench bench(timing);
    bench.connect();
    const auto tag = sampleTag();
    bench.feig->putTag(tag);
    LogCapture log;

    bench.feig->planNextAnswer(FeigAnswerPlan::delayed(timing.countdownLimit() + 3 * timing.countdownTick));
    EXPECT_EQ(bench.reader->readByName(kProperties).error, ErrorCode::ERROR);
    ASSERT_TRUE(log.waitFor("A entire frame is received", kPatience)); // late, nobody waiting

    // The next answer takes its time: the late one is there first, and must not be taken.
    bench.feig->planNextAnswer(FeigAnswerPlan::delayed(2 * timing.countdownTick));
    EXPECT_EQ(bench.reader->readByName(kOutputCurrent).rawData, tag->blockBytes(24, 1));
}

// Answers come from outside: nothing is read beyond the bytes that arrived.
TEST(BleResponseFrame, MalformedAnswersGiveNothingAndReadNoFurtherThanTheirBytes) {
    ReaderResponseFrame untouched;
    EXPECT_FALSE(parseResponseFrame(Bytes{0x02, 0x00, 0x08, 0x00, 0xB0, 0x00, 0x12}, untouched));
    EXPECT_EQ(untouched.status, 1);

    Bytes lying = feig::responseFrame(0xB0, 0x00, Bytes{0x11, 0x22});
    lying[2] = 0x40; // the length field says more than came
    ReaderResponseFrame parsed;
    ASSERT_TRUE(parseResponseFrame(lying, parsed));
    EXPECT_EQ(parsed.data, (Bytes{0x11, 0x22}));

    for (const Bytes& data : {Bytes{}, Bytes{0x01}, Bytes{0x00, 0x04}, Bytes{0x01, 0x04, 0x00, 0x01, 0x02},
                              Bytes{0x01, 0x00, 0x00}}) {
        EXPECT_TRUE(extractBlockData(data).empty()) << toHex(data);
    }
    EXPECT_FALSE(frameComplete({0x02}));
}

} // namespace
} // namespace wynfc::test
