#include "readers/nfc_reader.h"

#include "nfc_scripted_tag_reader.h"
#include "nfc_test_support.h"
#include "platform/sim/simulated_tag_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <future>

namespace wynfc {
namespace {

using test::LogWatcher;
using test::RecordingReceiver;

const std::string kCorridor = "nfc_data_addr_dc_corridor"; // 10 bytes, blocks 30..32
const std::string kAoc = "nfc_data_addr_dc_aoc";           // 4 bytes, block 24
const std::string kPresenceLevel200 = R"([{"propName":"presence_level","value":200}])";
const std::string kInvalid = "Invalid Seesion or Tag";

std::vector<SessionOperation> operationsOf(const std::shared_ptr<SimulatedTagReaderSession>& session,
                                           SessionOperation::Kind kind) {
    std::vector<SessionOperation> found;
    for (const SessionOperation& operation : session->operations()) {
        if (operation.kind == kind) {
            found.push_back(operation);
        }
    }
    return found;
}

Bytes merged(const std::string& area, const std::string& json, const Bytes& old) {
    return bytesFromNumbers(
        *sharedApi().updateValuesFromOldDataByName(area, json, numbersFromBytes(old), true, true));
}

// The transport on the simulated reader, with the basic driver's tag.
class NfcReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::loadShippedAddressMap();
        service = std::make_shared<SimulatedTagReaderService>();
        reader = std::make_shared<NfcReader>(service, timing);
        tag = VirtualTag::load(std::string(WYNFC_RESOURCES_DIR) + "/samples/basic.json");
    }
    // A session task may hold the reader for a moment, and the reader holds the service:
    // the reader must not be let go by the service's own queue, which cannot stop itself.
    void TearDown() override {
        service->waitIdle();
        reader.reset();
    }

    // A new session that finds and connects the tag.
    void connectTag() {
        const int detected = static_cast<int>(std::ranges::count(receiver->names(), "DETECTED"));
        reader->startScan(receiver, false);
        service->present(tag);
        ASSERT_TRUE(receiver->waitFor("DETECTED", detected + 1));
    }
    std::shared_ptr<SimulatedTagReaderSession> session() const { return service->currentSession(); }
    std::optional<SheetEnding> ending() {
        service->waitIdle();
        return session()->ending();
    }

    Timing timing = test::shortTiming(5);
    LogWatcher log;
    std::shared_ptr<SimulatedTagReaderService> service;
    std::shared_ptr<NfcReader> reader;
    std::shared_ptr<VirtualTag> tag;
    std::shared_ptr<RecordingReceiver> receiver = std::make_shared<RecordingReceiver>();
};

TEST_F(NfcReaderTest, WithoutTagOnlyScanNfcSucceedsAndNoEventIsSent) {
    reader->startScan(receiver, true);
    ASSERT_TRUE(receiver->waitFor("OPEND"));
    EXPECT_TRUE(reader->isWriteMode());
    EXPECT_EQ(session()->alertMessage(), "Please keep the NFC reader close to the NFC antenna area.");
    EXPECT_TRUE(session()->pollingOptions().iso15693);
    EXPECT_FALSE(session()->pollingOptions().iso14443);

    const ResultObj scan = reader->readByName("SCAN_NFC");
    EXPECT_EQ(scan.error, ErrorCode::OK);
    EXPECT_FALSE(scan.rawData || scan.data);

    for (const ResultObj& result : {reader->readByName(kCorridor), reader->writeByName(kCorridor, "[]")}) {
        EXPECT_EQ(result.error, ErrorCode::ERROR);
        EXPECT_EQ(result.data, kInvalid);
        EXPECT_FALSE(result.rawData);
    }
    EXPECT_EQ(receiver->names(), std::vector<std::string>{"OPEND"});
    EXPECT_EQ(log.count(kInvalid), 2);

    connectTag();
    EXPECT_EQ(reader->readByName("SCAN_NFC").error, ErrorCode::OK);
    service->waitIdle();
    EXPECT_EQ(log.count("Got a ISO 15693 tag!"), 1);
}

TEST_F(NfcReaderTest, ScanWithoutReaderSendsNothing) {
    service->setReadingAvailable(false);
    reader->startScan(receiver, false);
    EXPECT_EQ(service->sessionCount(), 0);
    EXPECT_EQ(log.count("Scan is unsupported!!"), 1);
    EXPECT_TRUE(receiver->events().empty());
}

TEST_F(NfcReaderTest, ReadReturnsTheAreaBlocksInOrderAndTheirValues) {
    connectTag();
    const ResultObj result = reader->readByName(kCorridor);

    ASSERT_EQ(result.error, ErrorCode::OK);
    EXPECT_EQ(result.rawData, tag->blockBytes(30, 3));
    EXPECT_EQ(result.data,
              sharedApi().getJsonValuesFromDataByName(kCorridor, numbersFromBytes(tag->blockBytes(30, 3))));
    ASSERT_TRUE(result.data);
    EXPECT_NE(result.data->find("presence_level"), std::string::npos);

    const auto reads = operationsOf(session(), SessionOperation::Kind::ReadBlocks);
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0].flags, 0x22);
    EXPECT_EQ(reads[0].firstBlock, 30);
    EXPECT_EQ(reads[0].count, 3);

    // Success is reported as "READ_ERROR" with the error flag: the work page relies on it.
    const auto events = receiver->events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[2].name, "READ_ERROR");
    EXPECT_TRUE(events[2].isError);
    EXPECT_FALSE(events[2].message);
    EXPECT_EQ(log.count("Parse frame ok!!!"), 1);
    EXPECT_TRUE(session()->isActive());
}

TEST_F(NfcReaderTest, ClosingTheSheetEndsAWaitingReadAtOnce) {
    timing = test::shortTiming(25);
    reader = std::make_shared<NfcReader>(service, timing);
    connectTag();
    tag->injectFault(TagOperationKind::Read, TagAnswer::NoAnswer);

    auto read = std::async(std::launch::async, [&] { return reader->readByName(kCorridor); });
    ASSERT_TRUE(log.waitFor("Current Countdown Number: 5"));
    ASSERT_TRUE(service->closeSheet());
    const ResultObj result = read.get();

    EXPECT_EQ(result.error, ErrorCode::ERROR);
    EXPECT_FALSE(result.rawData || result.data);
    EXPECT_EQ(log.count("Parse frame error"), 1);
    EXPECT_EQ(log.count("WAIT NFC RESPONSE TIMEOUT!!"), 0);
    EXPECT_EQ(reader->readByName(kCorridor).data, kInvalid);
}

TEST_F(NfcReaderTest, UnansweredReadEndsOnTheSixthTickWithoutVerdict) {
    connectTag();
    tag->injectFault(TagOperationKind::Read, TagAnswer::NoAnswer);
    const auto started = std::chrono::steady_clock::now();
    const ResultObj result = reader->readByName(kCorridor);

    EXPECT_GE(std::chrono::steady_clock::now() - started, timing.countdownLimit());
    EXPECT_FALSE(result.error || result.rawData || result.data);
    ASSERT_TRUE(ending());
    EXPECT_EQ(ending()->reason, SheetEnding::Reason::ErrorMessage);
    EXPECT_EQ(ending()->message, "Read timeout");
    EXPECT_EQ(receiver->names(), (std::vector<std::string>{"OPEND", "DETECTED", "READ_ERROR"}));

    std::vector<std::string> countdown;
    for (const std::string& line : log.lines()) {
        if (line.find("Current Countdown Number") != std::string::npos ||
            line.find("TIMEOUT") != std::string::npos) {
            countdown.push_back(line.substr(line.find("------ ", 1) + 7));
        }
    }
    EXPECT_EQ(countdown,
              (std::vector<std::string>{"Current Countdown Number: 5", "Current Countdown Number: 4",
                                        "Current Countdown Number: 3", "Current Countdown Number: 2",
                                        "Current Countdown Number: 1", "WAIT NFC RESPONSE TIMEOUT!!"}));
}

TEST_F(NfcReaderTest, WriteMergesIntoTheOldBytesAndWritesEachBlock) {
    connectTag();
    const Bytes old = tag->blockBytes(30, 3);
    const Bytes before = tag->blockBytes(29, 1);
    const Bytes after = tag->blockBytes(33, 1);
    const ResultObj result = reader->writeByName(kCorridor, kPresenceLevel200);

    EXPECT_EQ(result.error, ErrorCode::OK);
    EXPECT_EQ(result.data, "null");
    const Bytes expected = merged(kCorridor, kPresenceLevel200, old);
    EXPECT_EQ(expected[1], 200);
    EXPECT_EQ(tag->blockBytes(30, 3), expected);
    EXPECT_EQ(tag->blockBytes(29, 1), before);
    EXPECT_EQ(tag->blockBytes(33, 1), after);

    const auto writes = operationsOf(session(), SessionOperation::Kind::WriteBlock);
    ASSERT_EQ(writes.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(writes[i].flags, 0x22);
        EXPECT_EQ(writes[i].firstBlock, 30 + i);
    }
    EXPECT_EQ(std::ranges::count(receiver->names(), "READ_ERROR"), 4); // the read, then each block
    EXPECT_EQ(log.count("Write ok"), 3);
}

TEST_F(NfcReaderTest, FailingSecondBlockStopsTheWrite) {
    connectTag();
    const Bytes old = tag->blockBytes(30, 3);
    tag->injectFault(TagOperationKind::Write, TagAnswer::Failed, 31, 1);
    const ResultObj result = reader->writeByName(kCorridor, kPresenceLevel200);

    EXPECT_EQ(result.error, ErrorCode::ERROR);
    EXPECT_EQ(result.data, "Write data failed");
    const Bytes expected = merged(kCorridor, kPresenceLevel200, old);
    EXPECT_EQ(tag->blockBytes(30, 1), Bytes(expected.begin(), expected.begin() + 4));
    EXPECT_EQ(tag->blockBytes(31, 2), Bytes(old.begin() + 4, old.end()));
    EXPECT_EQ(operationsOf(session(), SessionOperation::Kind::WriteBlock).size(), 2u);
    ASSERT_TRUE(ending());
    EXPECT_EQ(ending()->message, "Write failed");
    EXPECT_EQ(log.count(">>>>>> Write failed"), 1);
    EXPECT_EQ(log.count("Write was occurred an error"), 1);
}

TEST_F(NfcReaderTest, WriteWithoutOldBytesWritesNothing) {
    connectTag();
    const Bytes memory = tag->memory();
    tag->injectFault(TagOperationKind::Read, TagAnswer::NoAnswer);
    const ResultObj result = reader->writeByName(kCorridor, kPresenceLevel200);

    EXPECT_EQ(result.error, ErrorCode::ERROR);
    EXPECT_EQ(result.data, "Reading old bytes was empty");
    EXPECT_TRUE(operationsOf(session(), SessionOperation::Kind::WriteBlock).empty());
    EXPECT_EQ(tag->memory(), memory);
}

TEST_F(NfcReaderTest, AreaUnknownToTheLibraryIsNeverSent) {
    connectTag();
    const ResultObj result = reader->writeByName("nfc_data_addr_not_in_the_map", kPresenceLevel200);

    EXPECT_EQ(result.error, ErrorCode::ERROR);
    EXPECT_EQ(result.data, "Reading old bytes was empty");
    EXPECT_TRUE(operationsOf(session(), SessionOperation::Kind::ReadBlocks).empty());
    EXPECT_TRUE(operationsOf(session(), SessionOperation::Kind::WriteBlock).empty());
}

TEST_F(NfcReaderTest, ValuesTheLibraryCannotMergeAreNotWritten) {
    connectTag();
    const ResultObj result = reader->writeByName(kCorridor, "not json");
    EXPECT_EQ(result.data, "Parse old bytes was failed");
    EXPECT_TRUE(operationsOf(session(), SessionOperation::Kind::WriteBlock).empty());
}

TEST_F(NfcReaderTest, TwoTagsOrAForeignTagAreRefused) {
    auto other = std::make_shared<VirtualTag>(TagImage::blank({9, 9, 9, 9, 9, 9, 9, 0xE0}, 8));
    reader->startScan(receiver, false);
    service->present({tag, other});
    ASSERT_TRUE(ending());
    EXPECT_EQ(ending()->message, "More than 1 tags was found. Please present only 1 tag.");

    service->removeAll();
    reader->startScan(receiver, false);
    service->present(std::make_shared<const ForeignTag>(ForeignTag{TagKind::Other}));
    ASSERT_TRUE(ending());
    EXPECT_EQ(ending()->message, "Unsupported tag!");

    // A FeliCa tag is only logged; the session waits on.
    service->removeAll();
    reader->startScan(receiver, false);
    service->present(std::make_shared<const ForeignTag>(ForeignTag{TagKind::FeliCa}));
    service->waitIdle();
    EXPECT_TRUE(session()->isActive());
    EXPECT_EQ(log.count("Got a FeliCa tag!"), 1);
    EXPECT_EQ(std::ranges::count(receiver->names(), "DETECTED"), 0);
}

TEST_F(NfcReaderTest, LostConnectionAndFailedConnectReportReadError) {
    connectTag();
    ASSERT_TRUE(service->endSession({NfcError::kTagConnectionLost, "Tag connection lost"}));
    ASSERT_TRUE(receiver->waitFor("READ_ERROR"));
    EXPECT_EQ(receiver->events().back().message, "Tag connection lost");
    EXPECT_EQ(reader->readByName(kCorridor).data, kInvalid);

    // Other endings are no read error.
    connectTag();
    ASSERT_TRUE(service->endSession({NfcError::kSessionTerminatedUnexpectedly, "Terminated"}));
    service->waitIdle();
    EXPECT_EQ(std::ranges::count(receiver->names(), "READ_ERROR"), 1);

    service->failNextConnect({NfcError::kTagResponseError, "Tag response error"});
    reader->startScan(receiver, false);
    ASSERT_TRUE(receiver->waitFor("READ_ERROR", 2));
    EXPECT_EQ(receiver->events().back().message, "Tag response error");
    EXPECT_EQ(ending()->message, "Tag response error");
}

TEST_F(NfcReaderTest, FinishAndAbortShowTheirMessage) {
    connectTag();
    reader->finishSession("Read Completed", true);
    ASSERT_TRUE(ending());
    EXPECT_EQ(ending()->reason, SheetEnding::Reason::Success);
    EXPECT_EQ(ending()->message, "Read Completed");

    connectTag();
    reader->finishSession("Read Failed", false);
    EXPECT_EQ(ending()->reason, SheetEnding::Reason::ErrorMessage);
    EXPECT_EQ(ending()->message, "Read Failed");

    connectTag();
    reader->abortSession("Driver subtype is not match.");
    EXPECT_EQ(ending()->message, "Driver subtype is not match.");
}

// The transport on a tag that answers when, and with what, the test says.
class ScriptedNfcReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::loadShippedAddressMap();
        reader = std::make_shared<NfcReader>(tagReader, test::shortTiming(20));
    }
    void TearDown() override {
        tagReader->waitIdle();
        reader.reset();
    }
    void connectTag(int detections = 1) {
        reader->startScan(receiver, false);
        tagReader->presentTag();
        ASSERT_TRUE(receiver->waitFor("DETECTED", detections));
    }

    LogWatcher log;
    std::shared_ptr<test::ScriptedTagReader> tagReader = std::make_shared<test::ScriptedTagReader>();
    std::shared_ptr<NfcReader> reader;
    std::shared_ptr<RecordingReceiver> receiver = std::make_shared<RecordingReceiver>();
};

TEST_F(ScriptedNfcReaderTest, OnlyWholeBlocksOfTheMergedBytesAreWritten) {
    connectTag();
    const Bytes old{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    auto write =
        std::async(std::launch::async, [&] { return reader->writeByName(kCorridor, kPresenceLevel200); });
    const auto read = tagReader->waitForRequest(0);
    EXPECT_EQ(read.block, 30);
    tagReader->answerRead(0, {{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10}});
    tagReader->answerWrite(1);
    tagReader->answerWrite(2);
    const ResultObj result = write.get();

    EXPECT_EQ(result.error, ErrorCode::OK);
    EXPECT_EQ(result.data, "null");
    const Bytes expected = merged(kCorridor, kPresenceLevel200, old);
    ASSERT_EQ(tagReader->requestCount(), 3u);
    for (std::size_t i = 1; i <= 2; ++i) {
        const auto block = tagReader->waitForRequest(i);
        EXPECT_EQ(block.kind, test::TagRequest::Kind::Write);
        EXPECT_EQ(block.block, 29 + static_cast<int>(i));
        EXPECT_EQ(block.data, Bytes(expected.begin() + 4 * (i - 1), expected.begin() + 4 * i));
    }
}

TEST_F(ScriptedNfcReaderTest, FewerThanFourMergedBytesWriteNothing) {
    connectTag();
    auto write = std::async(std::launch::async, [&] {
        return reader->writeByName(kAoc, R"([{"propName":"aoc_config.aoc_enable","value":0,"bitValue":1}])");
    });
    tagReader->answerRead(0, {{0, 0xFF, 1}});
    const ResultObj result = write.get();
    EXPECT_EQ(result.error, ErrorCode::OK);
    EXPECT_EQ(result.data, "null");
    EXPECT_EQ(tagReader->requestCount(), 1u);
}

TEST_F(ScriptedNfcReaderTest, LateAnswerOfATimedOutReadDoesNotAnswerTheNextRead) {
    connectTag();
    auto first = std::async(std::launch::async, [&] { return reader->readByName(kCorridor); });
    tagReader->waitForRequest(0);
    EXPECT_FALSE(first.get().error); // timed out
    tagReader->waitIdle();

    connectTag(2);
    auto second = std::async(std::launch::async, [&] { return reader->readByName(kAoc); });
    tagReader->waitForRequest(1);
    tagReader->answerRead(0, {{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}});
    const ResultObj result = second.get();

    EXPECT_FALSE(result.error || result.rawData || result.data);
    EXPECT_EQ(log.count("answered after its wait had ended"), 1);
}

TEST_F(ScriptedNfcReaderTest, AbortReleasesAPendingBlockWriteAsFailed) {
    connectTag();
    auto write = std::async(std::launch::async, [&] {
        return reader->writeByName(kAoc, R"([{"propName":"output_current","value":700}])");
    });
    tagReader->answerRead(0, {{1, 0xFF, 1, 0xF4}});
    tagReader->waitForRequest(1);
    reader->abortSession("Driver subtype is not match.");
    const ResultObj result = write.get();

    EXPECT_EQ(result.error, ErrorCode::ERROR);
    EXPECT_EQ(result.data, "Write data failed");
    EXPECT_EQ(log.count("WAIT WRITE RESPONSE TIMEOUT!!"), 0);
    tagReader->waitIdle();
    EXPECT_EQ(tagReader->lastSession()->ending(), "Driver subtype is not match.");
}

} // namespace
} // namespace wynfc
