#include "readers/read_ahead.h"

#include <gtest/gtest.h>

namespace wynfc {
namespace {

Bytes blocksFrom(int first, int count) {
    Bytes bytes(static_cast<std::size_t>(count) * 4, 0xA5);
    for (int i = 0; i < count; ++i) {
        bytes[static_cast<std::size_t>(i) * 4] = static_cast<std::uint8_t>(first + i); // each block its own
    }
    return bytes;
}

// Areas laid out as on a driver's tag: a run of bordering ones, a gap, one more.
ReadAhead plannedRun() {
    ReadAhead ahead;
    ahead.plan({{"aoc", 24, 1}, {"ztv", 25, 2}, {"ww_cw", 27, 3}, {"corridor", 30, 3}, {"dali", 55, 3}});
    return ahead;
}

TEST(ReadAhead, AnAreaIsReadWithTheUnfetchedPlannedAreasBorderingIt) {
    ReadAhead ahead = plannedRun();
    EXPECT_EQ(ahead.spanFor("aoc", 32), (ReadAhead::Span{24, 9})) << "over ztv, ww_cw, corridor";
    EXPECT_EQ(ahead.spanFor("ww_cw", 32), (ReadAhead::Span{24, 9})) << "after it, then before it";
    EXPECT_EQ(ahead.spanFor("dali", 32), (ReadAhead::Span{55, 3})) << "no block between areas is read";
    EXPECT_EQ(ahead.spanFor("aoc", 6), (ReadAhead::Span{24, 6})) << "whole areas within the limit";
    EXPECT_EQ(ahead.spanFor("aoc", 1), (ReadAhead::Span{24, 1}));
    EXPECT_EQ(ahead.spanFor("clo", 32), std::nullopt) << "an area outside the plan";

    ahead.keep(27, blocksFrom(27, 3));
    EXPECT_EQ(ahead.spanFor("aoc", 32), (ReadAhead::Span{24, 3})) << "a fetched neighbour is not read again";
    EXPECT_EQ(ahead.spanFor("corridor", 32), (ReadAhead::Span{30, 3}));
}

TEST(ReadAhead, AnAreaHasItsBytesOnlyOnceEveryBlockOfItCame) {
    ReadAhead ahead = plannedRun();
    ahead.keep(24, blocksFrom(24, 3));
    EXPECT_EQ(ahead.fetched("aoc"), blocksFrom(24, 1));
    EXPECT_EQ(ahead.fetched("ztv"), blocksFrom(25, 2));
    EXPECT_EQ(ahead.fetched("ww_cw"), std::nullopt) << "blocks 28 and 29 did not come";
    Bytes shortTail = blocksFrom(27, 3);
    shortTail.resize(shortTail.size() - 1);
    ahead.keep(27, shortTail);
    EXPECT_EQ(ahead.fetched("ww_cw"), std::nullopt) << "a block short of a byte is no block";
    EXPECT_EQ(ahead.fetched("dali"), std::nullopt);
}

TEST(ReadAhead, ANewPlanKeepsOnlyTheBlocksOfItsAreasAndClearingDropsAll) {
    ReadAhead ahead = plannedRun();
    ahead.keep(24, blocksFrom(24, 9));
    ahead.plan({{"ztv", 25, 2}, {"memory_bank", 96, 15}, {"broken", -1, 4}, {"empty", 40, 0}});
    EXPECT_EQ(ahead.fetched("ztv"), blocksFrom(25, 2));
    EXPECT_FALSE(ahead.planned("aoc"));
    EXPECT_FALSE(ahead.planned("broken"));
    EXPECT_FALSE(ahead.planned("empty"));
    ahead.plan({{"aoc", 24, 1}});
    EXPECT_EQ(ahead.fetched("aoc"), std::nullopt) << "block 24 was dropped with the plan that had it";

    ahead.keep(24, blocksFrom(24, 1));
    ahead.clear();
    EXPECT_FALSE(ahead.planned("aoc"));
    EXPECT_EQ(ahead.fetched("aoc"), std::nullopt);
}

} // namespace
} // namespace wynfc
