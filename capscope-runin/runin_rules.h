// What makes capscope-runin capscope-runin, beside its slicer: the blocks
// it decodes and how its assembler is set up.  Its main, the capture
// scanner's replay and every other tool that decodes as capscope-runin does
// take them from here.
#pragma once
#include <cstdint>

#include "frame_gaps.h"

// capscope-runin writes a caption line at the fifteenth counted control
// pair.
enum { RUNIN_FLUSH_AFTER = 15 };

// Every block is decoded, whatever its counter; the counter only feeds the
// frame-gap count (g may be null where nobody shows it).
inline bool runin_takes_block(FrameGaps *g, uint32_t counter)
{
    if (g)
        count_frame_gap(g, (int32_t)counter);
    return true;
}
