// What makes capscope capscope, beside its slicer: the blocks it decodes,
// what it slices and how its assembler is set up.  Its main, the capture
// scanner's replay and every other tool that decodes as capscope does take
// them from here.
#pragma once
#include <cstdint>

#include "caption.h"
#include "level_slicer.h"
#include "marks.h"

// capscope writes a caption line at the fifth counted control pair.
enum { CAPSCOPE_FLUSH_AFTER = 5 };

// Only even frames are decoded and shown: the scope keeps pace with every
// second frame of a 29.97 Hz stream.
inline bool capscope_takes_block(uint32_t counter)
{
    return (counter & 1) == 0;
}

// capscope slices the smoothed line: line (at least SMOOTH_LAST_SAMPLE + 1
// samples) is smoothed in place, as the scope then draws it, and sliced.
inline CaptionWord capscope_slice(uint8_t *line, ScopeMarks *marks)
{
    smooth_line(line);
    return LevelSlicer(line, marks);
}
