#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ticker.h"

namespace {

void append(ScopeTicker *t, const char *s)
{
    strcat(t->text, s);
    t->backlog += (uint32_t)strlen(s);
}

TEST(Ticker, StartsWith119Spaces)
{
    ScopeTicker t;
    ticker_init(&t);
    EXPECT_EQ(std::string(t.text), std::string(119, ' '));
    EXPECT_EQ(t.backlog, 0u);
    EXPECT_EQ(t.shift, 0);
}

TEST(Ticker, StandsStillWithOneOrNoneWaiting)
{
    ScopeTicker t;
    ticker_init(&t);
    ticker_step(&t);
    EXPECT_EQ(t.shift, 0);
    append(&t, "a");
    for (int i = 0; i < 5; i++)
        ticker_step(&t);
    EXPECT_EQ(t.shift, 0);
    EXPECT_EQ(strlen(t.text), 120u);
}

TEST(Ticker, SlidesTwelvePixelsInSixBlocksPerTwoCharacters)
{
    ScopeTicker t;
    ticker_init(&t);
    append(&t, "abcd");
    std::vector<int> shifts;
    std::vector<size_t> lengths;
    for (int i = 0; i < 13; i++) {
        ticker_step(&t);
        shifts.push_back(t.shift);
        lengths.push_back(strlen(t.text));
    }
    EXPECT_EQ(shifts, (std::vector<int>{12, 10, 8, 6, 4, 2, 12, 10, 8, 6, 4, 2, 0}));
    EXPECT_EQ(lengths.front(), 121u);
    EXPECT_EQ(lengths.back(), 119u);
    EXPECT_EQ(std::string(t.text).substr(115), "abcd");  // the front spaces left
}

TEST(Ticker, LongBacklogIsCutShortAndNeverPasses102)
{
    ScopeTicker t;
    ticker_init(&t);
    unsigned most = 0;
    size_t longest = 0;
    // The assembler adds at most two characters per drawn block.
    for (int i = 0; i < 400; i++) {
        append(&t, "xy");
        ticker_step(&t);
        most = std::max(most, t.backlog + 2);
        longest = std::max(longest, strlen(t.text) + 2);
        if (t.backlog > 100) {
            EXPECT_EQ(t.shift, 0);
        }
    }
    EXPECT_LE(most, 102u);
    EXPECT_LE(longest, 221u);
}

TEST(Ticker, StepThatLeavesHundredRestartsTheSlide)
{
    ScopeTicker t;
    ticker_init(&t);
    t.shift = 8;
    for (int i = 0; i < 101; i++)
        append(&t, "z");
    t.backlog = 102;
    ticker_step(&t);  // countdown cut short: a step at once
    EXPECT_EQ(t.backlog, 100u);
    EXPECT_EQ(t.shift, 12);
}

}  // namespace
