// The frame-gap count of capscope-runin: the driver numbers every frame it
// delivers, so a counter that does not advance by exactly one from block to
// block shows frames that were dropped (a jump), handed out again (the same
// number) or delivered out of order (a step back).
#pragma once
#include <cstdint>

struct FrameGaps {
    int32_t last_counter;  // counter of the previous block; 0 before the first
    int32_t frame_gaps;    // sum of the counter jumps that were not +1
};

// Takes the frame counter of the block just read.  The first block, and any
// block after one whose counter was 0, adds nothing.  The counter is a 32-bit
// number that wraps, so differences are taken modulo 2^32: a step from the
// largest counter to the smallest is an ordinary +1.
void count_frame_gap(FrameGaps *g, int32_t counter);
