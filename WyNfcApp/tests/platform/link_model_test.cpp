#include "platform/sim/link_model.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace wynfc {
namespace {

using namespace std::chrono_literals;

TEST(LinkModel, RfAirTimeFollowsTheHighDataRateAndTheFrameLengths) {
    const RfLinkModel rf;
    // Read Single Block, non-addressed: 5 bytes out (flags, command, block, CRC), 7 back
    // (flags, 4 data bytes, CRC). 1,624 µs out, 321 µs turnaround, 2,417 µs back.
    EXPECT_EQ(rf.request(5), 1624us);
    EXPECT_EQ(rf.answer(7), 2417us);
    EXPECT_EQ(rf.exchange(5, 7, false), 4362us);

    // 26.48 kbit/s: a thousand bytes more take 302.1 ms more, either way.
    EXPECT_NEAR(static_cast<double>((rf.answer(1007) - rf.answer(7)).count()), 302'100.0, 100.0);
    EXPECT_NEAR(static_cast<double>((rf.request(1005) - rf.request(5)).count()), 302'100.0, 100.0);

    // A block write answers once the block is programmed.
    RfLinkModel slowTag;
    slowTag.blockProgramming = 8ms;
    EXPECT_EQ(slowTag.exchange(9, 3, true) - slowTag.exchange(9, 3, false), 8ms);
}

TEST(LinkModel, EachCommandCostsItsOwnFrames) {
    const RfLinkModel rf;
    EXPECT_EQ(rf.readSingleBlock(4), 4362us); // the frames worked out above
    // Read Multiple Blocks: one byte more out (the count); each block's security status byte
    // comes back before its data when asked for.
    EXPECT_EQ(rf.readMultipleBlocks(1, 4), rf.exchange(6, 7));
    EXPECT_EQ(rf.readMultipleBlocks(8, 4, true), rf.exchange(6, 3 + 8 * 5));
    // Write Single Block: the data goes out, flags alone come back after the programming time.
    EXPECT_EQ(rf.writeSingleBlock(4), rf.exchange(9, 3, true));
    EXPECT_EQ(rf.inventory(), rf.exchange(5, 12));
    EXPECT_EQ(rf.getSystemInformation(), rf.exchange(4, 17));
}

TEST(LinkModel, BleExchangesTakeWholeConnectionEvents) {
    const BleLinkModel ble; // 30 ms, 20-byte notifications, 4 per event
    EXPECT_EQ(ble.notifications(0), 1U) << "an answer is at least one notification";
    EXPECT_EQ(ble.notifications(20), 1U);
    EXPECT_EQ(ble.notifications(21), 2U);

    // A short answer after a few milliseconds of RF: the request's event and the answer's.
    EXPECT_EQ(ble.exchange(12, 5ms), 60ms);
    // Up to four notifications share the answer's event; the fifth needs another.
    EXPECT_EQ(ble.exchange(80, 5ms), 60ms);
    EXPECT_EQ(ble.exchange(81, 5ms), 90ms);
    // Reader work longer than an interval misses the next event.
    EXPECT_EQ(ble.exchange(12, 31ms), 90ms);
    EXPECT_EQ(ble.exchange(12, 0ms), 60ms) << "a written request costs two events at least";

    BleLinkModel fast = ble;
    fast.connectionInterval = 7500us;
    EXPECT_EQ(fast.exchange(12, 5ms), 15ms);
}

TEST(LinkModel, NamesAndAccount) {
    for (const LinkModelKind kind : {LinkModelKind::None, LinkModelKind::Ble, LinkModelKind::Nfc}) {
        EXPECT_EQ(linkModelFromName(linkModelName(kind)), kind);
    }
    EXPECT_EQ(linkModelFromName("BLE"), std::nullopt);
    EXPECT_EQ(linkModelFromName(""), std::nullopt);

    // The simulated readers add from their own threads.
    LinkAccount account;
    std::vector<std::thread> readers;
    for (int reader = 0; reader < 4; ++reader) {
        readers.emplace_back([&] {
            for (int exchange = 0; exchange < 250; ++exchange) {
                account.add(2ms);
            }
        });
    }
    for (std::thread& reader : readers) {
        reader.join();
    }
    EXPECT_EQ(account.totals().exchanges, 1000U);
    EXPECT_EQ(account.totals().linkTime, 2s);
    account.reset();
    EXPECT_EQ(account.totals().exchanges, 0U);
}

} // namespace
} // namespace wynfc
