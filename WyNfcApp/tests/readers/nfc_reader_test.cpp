#include "readers/nfc_reader.h"

#include "nfc_test_rig.h"
#include "platform/sim/simulated_tag_reader.h"

#include <gtest/gtest.h>

#include <future>
#include <tuple>

namespace wynfc::test {
namespace {

const std::string kCorridor = "nfc_data_addr_dc_corridor"; // 10 bytes, blocks 30..32
const std::string kAoc = "nfc_data_addr_dc_aoc";           // 4 bytes, block 24
const std::string kPresenceLevel200 = R"([{"propName":"presence_level","value":200}])";
const std::string kInvalid = "Invalid Seesion or Tag";

Bytes merged(const std::string& area, const std::string& json, const Bytes& old) {
    return bytesFromNumbers(
        *sharedApi().updateValuesFromOldDataByName(area, json, numbersFromBytes(old), true, true));
}

// The transport on the simulated reader, with the sample driver's tag.
class NfcReaderTest : public ::testing::Test {
protected:
    void SetUp() override { loadShippedAddressMap(); }
    // The reader must not be let go by the service's own queue, which cannot stop itself.
    void TearDown() override {
        service->waitIdle();
        reader.reset();
    }

    // A new session that finds and connects the tag.
    void connectTag() {
        const int detected = receiver->count("DETECTED");
        reader->startScan(receiver, false);
        service->present(tag);
        service->waitIdle();
        ASSERT_EQ(receiver->count("DETECTED"), detected + 1);
    }
    std::shared_ptr<SimulatedTagReaderSession> session() const { return service->currentSession(); }
    // How the sheet closed: "success: " or "failure: ", then the text it showed; empty while open.
    std::string ending() {
        service->waitIdle();
        const auto end = session()->ending();
        if (!end) {
            return "";
        }
        return (end->reason == SheetEnding::Reason::Success ? "success: " : "failure: ") + end->message;
    }
    std::vector<SessionOperation> operations(SessionOperation::Kind kind) const {
        std::vector<SessionOperation> found = session()->operations();
        std::erase_if(found, [&](const SessionOperation& operation) { return operation.kind != kind; });
        return found;
    }

    LogCapture log;
    std::shared_ptr<SimulatedTagReaderService> service = std::make_shared<SimulatedTagReaderService>();
    std::shared_ptr<NfcReader> reader = std::make_shared<NfcReader>(service, tickTiming(5));
    std::shared_ptr<VirtualTag> tag = sampleTag();
    std::shared_ptr<RecordingReceiver> receiver = std::make_shared<RecordingReceiver>();
};

TEST_F(NfcReaderTest, BeforeATagIsConnectedOnlyScanNfcSucceeds) {
    service->setReadingAvailable(false);
    reader->startScan(receiver, false);
    EXPECT_EQ(service->sessionCount(), 0);
    EXPECT_EQ(log.count("Scan is unsupported!!"), 1);

    service->setReadingAvailable(true);
    reader->startScan(receiver, true);
    service->waitIdle();
    EXPECT_TRUE(session()->pollingOptions().iso15693);
    EXPECT_EQ(session()->alertMessage(), "Please keep the NFC reader close to the NFC antenna area.");
    const ResultObj scan = reader->readByName(kScanNfc);
    EXPECT_TRUE(scan.isOk() && !scan.rawData && !scan.data);
    for (const ResultObj& result : {reader->readByName(kCorridor), reader->writeByName(kCorridor, "[]")}) {
        EXPECT_EQ(result.error, ErrorCode::ERROR);
        EXPECT_EQ(result.data, kInvalid);
    }
    EXPECT_EQ(receiver->events(), Texts{"OPEND"});
}

TEST_F(NfcReaderTest, ReadGivesTheAreaBlocksInOrderAndTheirValues) {
    connectTag();
    const ResultObj scan = reader->readByName(kScanNfc);
    EXPECT_TRUE(scan.isOk() && !scan.rawData && !scan.data);
    const ResultObj result = reader->readByName(kCorridor);

    EXPECT_EQ(result.rawData, tag->blockBytes(30, 3));
    EXPECT_EQ(result.data,
              sharedApi().getJsonValuesFromDataByName(kCorridor, numbersFromBytes(tag->blockBytes(30, 3))));
    EXPECT_NE(result.data.value_or("").find("presence_level"), std::string::npos);
    const auto reads = operations(SessionOperation::Kind::ReadBlocks);
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(std::tie(reads[0].flags, reads[0].firstBlock, reads[0].count), std::tuple(0x22, 30, 3));

    // Success is reported as "READ_ERROR" with the error flag: the work page relies on it.
    EXPECT_EQ(receiver->events(), (Texts{"OPEND", "DETECTED", "READ_ERROR (error)"}));
    EXPECT_TRUE(session()->isActive());
}

TEST_F(NfcReaderTest, ClosingTheSheetEndsAWaitingReadAtOnce) {
    reader = std::make_shared<NfcReader>(service, tickTiming(50));
    connectTag();
    tag->injectFault(TagOperationKind::Read, TagAnswer::NoAnswer);

    auto read = std::async(std::launch::async, [&] { return reader->readByName(kCorridor); });
    ASSERT_TRUE(log.waitFor("Current Countdown Number: 5", kPatience));
    ASSERT_TRUE(service->closeSheet());
    const ResultObj result = read.get();

    EXPECT_EQ(result.error, ErrorCode::ERROR); // a timeout would give no verdict
    EXPECT_FALSE(result.rawData || result.data);
}

TEST_F(NfcReaderTest, UnansweredReadEndsOnTheSixthTickWithoutVerdict) {
    connectTag();
    tag->injectFault(TagOperationKind::Read, TagAnswer::NoAnswer);
    const ResultObj result = reader->readByName(kCorridor);

    EXPECT_FALSE(result.error || result.rawData || result.data);
    EXPECT_EQ(ending(), "failure: Read timeout");
    EXPECT_EQ(receiver->events(), (Texts{"OPEND", "DETECTED", "READ_ERROR (error)"}));
    EXPECT_EQ(countdownLines(log), fullCountdown("WAIT NFC RESPONSE TIMEOUT!!"));
}

TEST_F(NfcReaderTest, WriteMergesIntoTheOldBytesBlockByBlockAndStopsAtAFailingBlock) {
    connectTag();
    const Bytes expected = merged(kCorridor, kPresenceLevel200, tag->blockBytes(30, 3));
    ASSERT_EQ(expected[1], 200);
    const ResultObj result = reader->writeByName(kCorridor, kPresenceLevel200);

    EXPECT_EQ(result.error, ErrorCode::OK);
    EXPECT_EQ(result.data, "null");
    EXPECT_EQ(tag->blockBytes(30, 3), expected);
    const auto writes = operations(SessionOperation::Kind::WriteBlock);
    ASSERT_EQ(writes.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(std::tie(writes[i].flags, writes[i].firstBlock), std::tuple(0x22, 30 + i));
    }
    EXPECT_EQ(receiver->count("READ_ERROR"), 4); // the read, then each block

    const std::string level100 = R"([{"propName":"presence_level","value":100}])";
    const Bytes second = merged(kCorridor, level100, expected);
    tag->injectFault(TagOperationKind::Write, TagAnswer::Failed, 31, 1);
    const ResultObj failed = reader->writeByName(kCorridor, level100);

    EXPECT_EQ(failed.error, ErrorCode::ERROR);
    EXPECT_EQ(failed.data, "Write data failed");
    EXPECT_EQ(tag->blockBytes(30, 1), Bytes(second.begin(), second.begin() + 4));
    EXPECT_EQ(operations(SessionOperation::Kind::WriteBlock).size(), 5u); // none after block 31
    EXPECT_EQ(ending(), "failure: Write failed");
}

TEST_F(NfcReaderTest, UnansweredBlockWriteFailsOnTheSixthTick) {
    connectTag();
    tag->injectFault(TagOperationKind::Write, TagAnswer::NoAnswer, 31);
    const ResultObj result = reader->writeByName(kCorridor, kPresenceLevel200);

    EXPECT_EQ(result.error, ErrorCode::ERROR);
    EXPECT_EQ(result.data, "Write data failed");
    EXPECT_EQ(operations(SessionOperation::Kind::WriteBlock).size(), 2u); // none after block 31
    EXPECT_EQ(countdownLines(log), fullCountdown("WAIT WRITE RESPONSE TIMEOUT!!"));
    EXPECT_EQ(ending(), "failure: Write timeout");

    // The block write itself: ERROR, with the timeout's text.
    connectTag();
    const ResultObj block = reader->writeBlock(31, {1, 2, 3, 4});
    EXPECT_EQ(block.error, ErrorCode::ERROR);
    EXPECT_EQ(block.data, "Write timeout!");
}

TEST_F(NfcReaderTest, AnEndingSessionForgetsOnlyItsOwnTag) {
    // An older session ends after a newer one connected: the newer one's tag stays.
    connectTag();
    const auto older = session();
    connectTag();
    const auto connected = session();
    older->invalidate("older");
    service->waitIdle();
    EXPECT_EQ(reader->readByName(kAoc).rawData, tag->blockBytes(24, 1));

    // A newer session ends before it connected (its connection failed): the same.
    service->failNextConnect({NfcError::kTagResponseError, "Tag response error"});
    reader->startScan(receiver, false);
    EXPECT_EQ(ending(), "failure: Tag response error");
    EXPECT_EQ(reader->readByName(kAoc).rawData, tag->blockBytes(24, 1));

    // The session of the connected tag ends: its tag goes with it.
    connected->invalidate("connected");
    service->waitIdle();
    EXPECT_EQ(reader->readByName(kAoc).data, kInvalid);
}

TEST_F(NfcReaderTest, WriteWithoutUsableOldBytesWritesNothing) {
    // The first read times out; the area of the second is unknown; the values of the third are no JSON.
    tag->injectFault(TagOperationKind::Read, TagAnswer::NoAnswer, std::nullopt, 1);
    for (const auto& [area, json, error] :
         {std::tuple{kCorridor, kPresenceLevel200, "Reading old bytes was empty"},
          std::tuple{std::string("nfc_data_addr_not_in_the_map"), kPresenceLevel200,
                     "Reading old bytes was empty"},
          std::tuple{kCorridor, std::string("not json"), "Parse old bytes was failed"}}) {
        SCOPED_TRACE(area + " " + json);
        connectTag();
        EXPECT_EQ(reader->writeByName(area, json).data, error);
        EXPECT_TRUE(operations(SessionOperation::Kind::WriteBlock).empty());
    }
}

TEST_F(NfcReaderTest, TwoTagsOrAnUnsupportedTagEndTheSessionAndAFeliCaTagIsIgnored) {
    const auto other = std::make_shared<VirtualTag>(TagImage::blank({9, 9, 9, 9, 9, 9, 9, 0xE0}, 8));
    const auto foreign = [](TagKind kind) { return std::make_shared<const ForeignTag>(ForeignTag{kind}); };
    using Case = std::pair<std::vector<FieldTag>, std::string>;
    for (const auto& [tags, shown] :
         {Case{{tag, other}, "failure: More than 1 tags was found. Please present only 1 tag."},
          Case{{foreign(TagKind::Other)}, "failure: Unsupported tag!"},
          Case{{foreign(TagKind::FeliCa)}, ""}}) {
        service->removeAll();
        reader->startScan(receiver, false);
        service->present(tags);
        EXPECT_EQ(ending(), shown);
    }
    EXPECT_EQ(receiver->count("DETECTED"), 0);
}

TEST_F(NfcReaderTest, ALostConnectionOrAFailedConnectIsAReadError) {
    connectTag();
    ASSERT_TRUE(service->endSession({NfcError::kTagConnectionLost, "Tag connection lost"}));
    service->waitIdle();
    ASSERT_FALSE(receiver->events().empty());
    EXPECT_EQ(receiver->events().back(), "READ_ERROR (error): Tag connection lost");
    EXPECT_EQ(reader->readByName(kCorridor).data, kInvalid);

    service->failNextConnect({NfcError::kTagResponseError, "Tag response error"});
    reader->startScan(receiver, false);
    service->waitIdle();
    ASSERT_FALSE(receiver->events().empty());
    EXPECT_EQ(receiver->events().back(), "READ_ERROR (error): Tag response error");
    EXPECT_EQ(ending(), "failure: Tag response error");
}

TEST_F(NfcReaderTest, FinishAndAbortShowTheirMessage) {
    connectTag();
    reader->finishSession("Read Completed", true);
    EXPECT_EQ(ending(), "success: Read Completed");

    connectTag();
    reader->finishSession("Read Failed", false);
    EXPECT_EQ(ending(), "failure: Read Failed");

    connectTag();
    reader->abortSession("Driver subtype is not match.");
    EXPECT_EQ(ending(), "failure: Driver subtype is not match.");
}

// The transport on a tag that answers when, and with what, the test says.
class ScriptedNfcReaderTest : public ::testing::Test {
protected:
    void SetUp() override { loadShippedAddressMap(); }
    void TearDown() override {
        tagReader->waitIdle();
        reader.reset();
    }
    void connectTag(int detections = 1) {
        reader->startScan(receiver, false);
        tagReader->presentTag();
        tagReader->waitIdle();
        ASSERT_EQ(receiver->count("DETECTED"), detections);
    }
    std::future<ResultObj> onWorker(const std::string& area, const std::optional<std::string>& json) {
        return std::async(std::launch::async, [this, area, json] {
            return json ? reader->writeByName(area, *json) : reader->readByName(area);
        });
    }

    LogCapture log;
    std::shared_ptr<ScriptedTagReader> tagReader = std::make_shared<ScriptedTagReader>();
    std::shared_ptr<NfcReader> reader = std::make_shared<NfcReader>(tagReader, tickTiming(20));
    std::shared_ptr<RecordingReceiver> receiver = std::make_shared<RecordingReceiver>();
};

TEST_F(ScriptedNfcReaderTest, OnlyWholeBlocksOfTheMergedBytesAreWritten) {
    connectTag();
    auto write = onWorker(kCorridor, kPresenceLevel200);
    EXPECT_EQ(tagReader->request(0).block, 30);
    tagReader->answer(0, {{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10}});
    tagReader->answer(1);
    tagReader->answer(2);
    EXPECT_EQ(write.get().data, "null"); // OK
    const Bytes expected = merged(kCorridor, kPresenceLevel200, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    ASSERT_EQ(tagReader->requestCount(), 3u);
    for (int i = 1; i <= 2; ++i) {
        const TagRequest block = tagReader->request(i);
        EXPECT_EQ(block.block, 29 + i);
        EXPECT_EQ(block.written, Bytes(expected.begin() + 4 * (i - 1), expected.begin() + 4 * i));
    }

    // Fewer than 4 bytes make no whole block.
    write = onWorker(kAoc, R"([{"propName":"aoc_config.aoc_enable","value":0,"bitValue":1}])");
    tagReader->answer(3, {{0, 0xFF, 1}});
    EXPECT_EQ(write.get().data, "null");
    EXPECT_EQ(tagReader->requestCount(), 4u);
}

TEST_F(ScriptedNfcReaderTest, LateAnswerOfATimedOutReadDoesNotAnswerTheNextRead) {
    connectTag();
    auto first = onWorker(kCorridor, std::nullopt);
    tagReader->request(0);
    EXPECT_FALSE(first.get().error); // timed out
    tagReader->waitIdle();

    connectTag(2);
    auto second = onWorker(kAoc, std::nullopt);
    tagReader->request(1);
    tagReader->answer(0, {{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}});
    const ResultObj result = second.get();
    EXPECT_FALSE(result.error || result.rawData || result.data);
}

TEST_F(ScriptedNfcReaderTest, WritesNeverGoPastTheArea) {
    connectTag();
    // The tag answers the one-block area with two blocks: only the area's block is written.
    auto write = onWorker(kAoc, R"([{"propName":"output_current","value":700}])");
    tagReader->answer(0, {{1, 0xFF, 1, 0xF4}, {5, 6, 7, 8}});
    tagReader->answer(1);
    EXPECT_EQ(write.get().data, "null"); // OK
    EXPECT_EQ(tagReader->requestCount(), 2u);
    EXPECT_EQ(tagReader->request(1).block, 24);
}

TEST_F(ScriptedNfcReaderTest, LateAnswerOfATimedOutWriteDoesNotAnswerTheNextWrite) {
    const std::string json = R"([{"propName":"output_current","value":700}])";
    connectTag();
    auto first = onWorker(kAoc, json);
    tagReader->answer(0, {{1, 0xFF, 1, 0xF4}});
    tagReader->request(1);
    EXPECT_EQ(first.get().data, "Write data failed"); // timed out
    tagReader->waitIdle();

    connectTag(2);
    auto second = onWorker(kAoc, json);
    tagReader->answer(2, {{1, 0xFF, 1, 0xF4}});
    tagReader->request(3);
    tagReader->answer(1); // the first write's answer, late
    EXPECT_EQ(second.get().data, "Write data failed");
    EXPECT_EQ(log.count("WAIT WRITE RESPONSE TIMEOUT!!"), 2);
}

TEST_F(ScriptedNfcReaderTest, AbortReleasesAPendingBlockWriteAsFailed) {
    connectTag();
    auto write = onWorker(kAoc, R"([{"propName":"output_current","value":700}])");
    tagReader->answer(0, {{1, 0xFF, 1, 0xF4}});
    tagReader->request(1);
    reader->abortSession("Driver subtype is not match.");
    const ResultObj result = write.get();

    EXPECT_EQ(result.error, ErrorCode::ERROR);
    EXPECT_EQ(result.data, "Write data failed");
    EXPECT_EQ(log.count("WAIT WRITE RESPONSE TIMEOUT!!"), 0); // released at once

    // So does the end of the session the write was sent on.
    connectTag(2);
    write = onWorker(kAoc, R"([{"propName":"output_current","value":700}])");
    tagReader->answer(2, {{1, 0xFF, 1, 0xF4}});
    tagReader->request(3);
    tagReader->invalidate("closed");
    EXPECT_EQ(write.get().data, "Write data failed");
    EXPECT_EQ(log.count("WAIT WRITE RESPONSE TIMEOUT!!"), 0);
}

} // namespace
} // namespace wynfc::test
