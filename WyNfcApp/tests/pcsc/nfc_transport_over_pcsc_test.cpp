// The NFC transport, unchanged, over the PC/SC session: whole drivers read and written
// through the daemon and the virtual reader, and the faults a real reader shows.

#include "pcsc_test_bench.h"
#include "platform/console_log.h"
#include "readers/nfc_reader.h"
#include "readers/shared_api.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <condition_variable>
#include <fstream>
#include <mutex>
#include <sstream>

namespace wynfc::test {
namespace {

const std::string kCorridor = "nfc_data_addr_dc_corridor"; // blocks 30..32
const std::string kPresenceLevel200 = R"([{"propName":"presence_level","value":200}])";

class Receiver final : public ResponseToReaderDelegate {
public:
    void onReaderEvent(const std::string& name, const std::optional<std::string>&, bool) override {
        std::lock_guard lock(mMutex);
        mEvents.push_back(name);
        mChanged.notify_all();
    }
    bool waitFor(const std::string& name, long occurrences = 1) {
        std::unique_lock lock(mMutex);
        return mChanged.wait_for(
            lock, kPatience, [&] { return std::count(mEvents.begin(), mEvents.end(), name) >= occurrences; });
    }

private:
    std::mutex mMutex;
    std::condition_variable mChanged;
    std::vector<std::string> mEvents;
};

struct Area {
    std::string name;
    int firstBlock = 0;
    int blockCount = 0;
};

std::vector<Area> shippedAreas() {
    std::ifstream file(std::string(WYNFC_RESOURCES_DIR) + "/address_map.json");
    const auto map = nlohmann::json::parse(file);
    std::vector<Area> areas;
    for (const auto& area : map.at("mapping")) {
        const int start = std::stoi(area.at("startAddress").get<std::string>(), nullptr, 16);
        const int bytes = area.at("byteCount").get<int>();
        areas.push_back({area.at("name").get<std::string>(), start / 4, (start % 4 + bytes + 3) / 4});
    }
    return areas;
}

Bytes merged(const std::string& area, const std::string& json, const Bytes& old) {
    std::vector<int> numbers(old.begin(), old.end());
    const auto result = sharedApi().updateValuesFromOldDataByName(area, json, numbers, true, true);
    Bytes bytes;
    for (const int number : result.value_or(std::vector<int>{})) {
        bytes.push_back(static_cast<std::uint8_t>(number));
    }
    return bytes;
}

class NfcTransportOverPcscTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::ifstream file(std::string(WYNFC_RESOURCES_DIR) + "/address_map.json");
        std::stringstream text;
        text << file.rdbuf();
        ASSERT_TRUE(sharedApi().loadAddressMapFile(text.str()));
    }

    void connectTag(int reader = 1) {
        card.insert(kReaderPort[reader]);
        nfc->startScan(receiver, false);
        ASSERT_TRUE(receiver->waitFor("DETECTED"));
    }
    // Each block of the area holds either its old or its new bytes.
    void expectOldOrNew(int firstBlock, const Bytes& old, const Bytes& wanted) {
        for (std::size_t block = 0; block < old.size() / 4; ++block) {
            const Bytes now = tag->blockBytes(firstBlock + static_cast<int>(block), 1);
            const Bytes before(old.begin() + static_cast<long>(block * 4),
                               old.begin() + static_cast<long>(block * 4 + 4));
            const Bytes after(wanted.begin() + static_cast<long>(block * 4),
                              wanted.begin() + static_cast<long>(block * 4 + 4));
            EXPECT_TRUE(now == before || now == after) << "block " << firstBlock + block;
        }
    }

    LogCapture log;
    PrivatePcscd pcscd;
    std::shared_ptr<VirtualTag> tag = sampleTag("full_feature");
    VirtualPcscCard card{tag};
    Timing timing = [] {
        Timing shortTicks;
        shortTicks.countdownTick = Millis(200);
        return shortTicks;
    }();
    std::shared_ptr<PcscTagReaderService> service =
        std::make_shared<PcscTagReaderService>(std::nullopt, timing);
    std::shared_ptr<NfcReader> nfc = std::make_shared<NfcReader>(service, timing);
    std::shared_ptr<Receiver> receiver = std::make_shared<Receiver>();
};

TEST_F(NfcTransportOverPcscTest, ReadsEveryAreaOfASampleDriverAndWritesValuesBack) {
    connectTag();
    for (const Area& area : shippedAreas()) {
        const ResultObj result = nfc->readByName(area.name);
        ASSERT_EQ(result.error, ErrorCode::OK) << area.name;
        ASSERT_TRUE(result.rawData.has_value());
        EXPECT_EQ(*result.rawData, tag->blockBytes(area.firstBlock, area.blockCount)) << area.name;
        EXPECT_TRUE(result.data.has_value()) << area.name;
    }
    const Bytes old = tag->blockBytes(30, 3);
    const Bytes expected = merged(kCorridor, kPresenceLevel200, old);
    ASSERT_NE(expected, old);
    const ResultObj written = nfc->writeByName(kCorridor, kPresenceLevel200);
    EXPECT_EQ(written.error, ErrorCode::OK);
    EXPECT_EQ(tag->blockBytes(30, 2), Bytes(expected.begin(), expected.begin() + 8));
    EXPECT_EQ(nfc->readByName(kCorridor).rawData, tag->blockBytes(30, 3));
}

TEST_F(NfcTransportOverPcscTest, ALockedBlockFailsTheWriteAndEndsTheSession) {
    tag->protectBlock(31);
    connectTag();
    const Bytes old = tag->blockBytes(30, 3);
    const Bytes wanted = merged(kCorridor, kPresenceLevel200, old);
    const ResultObj result = nfc->writeByName(kCorridor, kPresenceLevel200);
    EXPECT_EQ(result.error, ErrorCode::ERROR);
    EXPECT_EQ(result.data, "Write data failed");
    EXPECT_EQ(tag->blockBytes(31, 1), Bytes(old.begin() + 4, old.begin() + 8));
    expectOldOrNew(30, old, wanted);
    EXPECT_TRUE(log.contains("Write was occurred an error"));
    // The session has ended: nothing more goes to the tag.
    EXPECT_EQ(nfc->readByName(kCorridor).error, ErrorCode::ERROR);
}

TEST_F(NfcTransportOverPcscTest, ACardTakenOutMidWriteOrMidReadFailsWithoutAVerdictOfSuccess) {
    connectTag(0);
    const Bytes old = tag->blockBytes(30, 3);
    const Bytes wanted = merged(kCorridor, kPresenceLevel200, old);
    // The read of the old bytes and the first block pass, the second block's write does not.
    tag->leaveFieldAfter(4);
    const ResultObj written = nfc->writeByName(kCorridor, kPresenceLevel200);
    EXPECT_EQ(written.error, ErrorCode::ERROR);
    expectOldOrNew(30, old, wanted);
    EXPECT_EQ(nfc->readByName(kCorridor).error, ErrorCode::ERROR);

    // Put back, a new session reads it; taken out in the middle of an area, the read fails.
    ASSERT_TRUE(waitForReader(kReaderName[0], false));
    card.insert(kReaderPort[0]);
    nfc->startScan(receiver, false);
    ASSERT_TRUE(receiver->waitFor("DETECTED", 2));
    ASSERT_EQ(nfc->readByName(kCorridor).rawData, tag->blockBytes(30, 3));
    tag->leaveFieldAfter(1);
    const ResultObj read = nfc->readByName(kCorridor);
    EXPECT_EQ(read.error, ErrorCode::ERROR);
    EXPECT_FALSE(read.rawData.has_value());
}

} // namespace
} // namespace wynfc::test
