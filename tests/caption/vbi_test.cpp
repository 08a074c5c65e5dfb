// The layout of a VBI block as the caption programs walk it.
#include <gtest/gtest.h>

#include "vbi.h"

namespace {

TEST(LineStep, TwentyOnePressesReachLineZeroAndThirtyTwoComeBack)
{
    int32_t off = 22528;
    for (int i = 0; i < 20; i++)
        off = line_offset_step(off);
    EXPECT_EQ(off, 31 * 2048);
    off = line_offset_step(off);
    EXPECT_EQ(off, 0);
    for (int i = 0; i < 11; i++)
        off = line_offset_step(off);
    EXPECT_EQ(off, 22528);
}

}  // namespace
