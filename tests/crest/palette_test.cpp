#include <gtest/gtest.h>

#include <set>
#include <tuple>

#include "crest.h"

namespace {

struct Entry {
    int index, red, green, blue;
};

TEST(Palette, TellingEntries)
{
    CrestPalette p;
    crest_palette_build(&p);
    const Entry entries[] = {
        {0, 0, 0, 0},       {3, 170, 85, 0},    {8, 85, 85, 85},   {15, 255, 255, 255},
        {16, 0, 0, 0},      {17, 0, 0, 63},     {20, 0, 0, 252},   {21, 63, 0, 0},
        {36, 252, 0, 0},    {40, 252, 0, 252},  {41, 0, 31, 0},    {216, 0, 248, 0},
        {239, 252, 248, 189}, {240, 252, 248, 252},
    };
    for (const Entry &e : entries) {
        SCOPED_TRACE(e.index);
        EXPECT_EQ(p.red[e.index], e.red);
        EXPECT_EQ(p.green[e.index], e.green);
        EXPECT_EQ(p.blue[e.index], e.blue);
    }
}

// Every cube colour occurs exactly once, at the levels the device's DAC
// steps through, and no cube component reaches full scale.
TEST(Palette, CubeHoldsEveryLevelOnce)
{
    CrestPalette p;
    crest_palette_build(&p);
    std::set<std::tuple<int, int, int>> seen;
    for (int i = 16; i < CREST_PALETTE_SIZE; i++) {
        EXPECT_EQ(p.red[i] % 63, 0) << i;
        EXPECT_EQ(p.blue[i] % 63, 0) << i;
        EXPECT_EQ(p.green[i] % 31, 0) << i;
        EXPECT_LE(p.red[i], 252);
        EXPECT_LE(p.blue[i], 252);
        EXPECT_LE(p.green[i], 248);
        seen.insert({p.red[i], p.green[i], p.blue[i]});
    }
    EXPECT_EQ(seen.size(), 225u);
}

TEST(Palette, BlackOnlyAtZeroAndSixteen)
{
    CrestPalette p;
    crest_palette_build(&p);
    for (int i = 0; i < CREST_PALETTE_SIZE; i++) {
        bool black = p.red[i] == 0 && p.green[i] == 0 && p.blue[i] == 0;
        EXPECT_EQ(black, i == 0 || i == 16) << i;
    }
}

}  // namespace
