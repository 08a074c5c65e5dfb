// What makes captext captext, beside its slicer: the blocks it decodes and
// how its assembler is set up.  Its main, the capture scanner's replay and
// every other tool that decodes as captext does take them from here.
#pragma once
#include <cstdint>

// captext writes a caption line at the fifth counted control pair.
enum { CAPTEXT_FLUSH_AFTER = 5 };

// The driver repeats a frame's counter when it hands the same frame out
// again; each frame is decoded once.  A block is decoded when its counter
// differs from that of the last decoded block (*last_counter, 0 before the
// first, so a first counter of 0 is skipped); *last_counter follows.
inline bool captext_takes_block(uint32_t *last_counter, uint32_t counter)
{
    if (counter == *last_counter)
        return false;
    *last_counter = counter;
    return true;
}
