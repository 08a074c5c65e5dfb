#include <gtest/gtest.h>

#include <climits>
#include <initializer_list>

#include "frame_gaps.h"

namespace {

int32_t gaps_after(std::initializer_list<int32_t> counters)
{
    FrameGaps g = {0, 0};
    for (int32_t c : counters)
        count_frame_gap(&g, c);
    return g.frame_gaps;
}

TEST(FrameGaps, SumsTheJumpsThatAreNotOne)
{
    EXPECT_EQ(gaps_after({5, 6, 9}), 3);
    EXPECT_EQ(gaps_after({5, 5}), 0);
    EXPECT_EQ(gaps_after({9, 4}), -5);
    EXPECT_EQ(gaps_after({1, 2, 3, 4, 5}), 0);
    EXPECT_EQ(gaps_after({1, 4, 4, 2}), 3 + 0 - 2);
}

TEST(FrameGaps, FirstBlockAndBlocksAfterCounterZeroAddNothing)
{
    EXPECT_EQ(gaps_after({1000}), 0);
    EXPECT_EQ(gaps_after({-7}), 0);
    EXPECT_EQ(gaps_after({5, 0, 9}), -5);
    EXPECT_EQ(gaps_after({5, 0, 0, 0, 9}), -5);

    FrameGaps g = {0, 0};
    count_frame_gap(&g, 42);
    EXPECT_EQ(g.last_counter, 42);
}

TEST(FrameGaps, CounterWrapIsAnOrdinaryStep)
{
    // The driver's counter is a 32-bit number; its wrap must neither count
    // as a gap nor overflow the arithmetic.
    EXPECT_EQ(gaps_after({INT_MAX, INT_MIN}), 0);
    EXPECT_EQ(gaps_after({-1, 1}), 2);
    EXPECT_EQ(gaps_after({INT_MIN, INT_MAX}), -1);
}

}  // namespace
