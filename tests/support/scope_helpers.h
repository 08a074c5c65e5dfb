// What the tests of both scopes build and check alike: blocks as the device
// delivers them, carrying one caption pair, and the marker lines a slicer
// records for the picture.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "marks.h"
#include "vbi.h"
#include "vbigen_core.h"

// One block: every line at blanking, the generator's signal for word (0: a
// blank line) on line index line, with data as the level of a 1 bit (0: the
// generator's own level), and the frame counter in the last four bytes.
inline std::vector<uint8_t> make_block(uint16_t word, uint32_t counter, int line = VBI_CAPTION_LINE,
                                       double data = 0)
{
    GenOptions o;
    gen_default_options(&o);
    o.line = line;
    if (data > 0)
        o.signal.data = data;
    GenNoise noise;
    gen_noise_init(&noise, 1);
    std::vector<uint8_t> block(VBI_BLOCK_SIZE);
    gen_render_block(block.data(), word, 0, &o, &noise);
    vbi_set_frame_counter(block.data(), counter);
    return block;
}

// A vertical marker line at x from y1 to y2, drawn with context gc.
inline void expect_line(const ScopeMark &m, int gc, int x, int y1, int y2)
{
    EXPECT_EQ(m.kind, MARK_LINE);
    EXPECT_EQ(m.gc, gc);
    EXPECT_EQ(m.x1, x);
    EXPECT_EQ(m.x2, x);
    EXPECT_EQ(m.y1, y1);
    EXPECT_EQ(m.y2, y2);
}

// The same in white, the context of every mark of the run-in slicer.
inline void expect_line(const ScopeMark &m, int x, int y1, int y2)
{
    expect_line(m, MARK_TEXT_GC, x, y1, y2);
}
