// Layout of one read from the video4linux VBI device, the numbering of its
// lines, and where a line-21 caption lies within a line as the device
// samples it.
#pragma once
#include <cstdint>

enum {
    VBI_BLOCK_SIZE = 65536,      // one read: 32 lines of 2048 samples
    VBI_LINE_SIZE = 2048,        // samples per line, one byte each
    VBI_LINES = 32,
    VBI_FIELD_LINES = 16,        // line indexes 0-15 field 1, 16-31 field 2
    VBI_FIELD1_FIRST = 10,       // scan line of index 0
    VBI_FIELD2_FIRST = 273,      // scan line of index 16
    VBI_CAPTION_LINE = 11,       // line index that carries line 21 of field 1
    VBI_CAPTION_LINE_F2 = 27,    // line index that carries line 284 of field 2
    VBI_COUNTER_OFFSET = 65532,  // driver's frame counter, 32-bit little-endian
};

// The field (1 or 2) of a line index.
inline int line_field(int index)
{
    return index < VBI_FIELD_LINES ? 1 : 2;
}

// The television scan line of a line index: 10..25 in field 1, 273..288 in
// field 2.
inline int line_number(int index)
{
    return index < VBI_FIELD_LINES ? VBI_FIELD1_FIRST + index : VBI_FIELD2_FIRST + index - VBI_FIELD_LINES;
}

// The caption signal at the device's 28.636 MHz sample clock (8 x 3.579545
// MHz): one bit, and one cycle of the clock run-in, lasts 56.875 samples.
// The run-in's seven cycles start at sample 44.5, so its first crest lies
// at 72.9375; the start bit begins at sample 538.5, 465.5625 after that
// crest, and the 16 data bits follow it.
constexpr double CAPTION_BIT = 56.875;
constexpr double CAPTION_RUNIN_START = 44.5;
constexpr double CAPTION_START_BIT = 538.5;
constexpr double CAPTION_FIRST_CREST = CAPTION_RUNIN_START + CAPTION_BIT / 2;
constexpr double CREST_TO_START_BIT = CAPTION_START_BIT - CAPTION_FIRST_CREST;
enum { CAPTION_RUNIN_CYCLES = 7 };

// The same timing as the level and averaging slicers take it, in whole
// samples counted from the first run-in crest they find among the first
// CAPTION_CREST_SEARCH samples: the start bit's decision point, data bit 0's,
// and the step from one bit to the next.  The slicers that average judge a
// bit on CAPTION_BIT_WINDOW samples from its decision point, about the
// middle half of the bit.  The scopes show the first SCOPE_SHOWN_SAMPLES
// samples of a line.
enum {
    CAPTION_CREST_SEARCH = 250,
    CAPTION_CREST_TO_START = 478,
    CAPTION_CREST_TO_BIT0 = 535,
    CAPTION_BIT_STEP = 57,
    CAPTION_BIT_WINDOW = 32,
    SCOPE_SHOWN_SAMPLES = 1600,
};

// The frame counter the driver writes over the last four samples of line 31.
inline uint32_t vbi_frame_counter(const uint8_t *block)
{
    const uint8_t *p = block + VBI_COUNTER_OFFSET;
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

// The byte offset of the line after the one at line_offset, line 31 wrapping
// to line 0: where a scope moves at every key or button press.
inline int32_t line_offset_step(int32_t line_offset)
{
    line_offset += VBI_LINE_SIZE;
    if (line_offset >= VBI_BLOCK_SIZE)
        line_offset = 0;
    return line_offset;
}

inline void vbi_set_frame_counter(uint8_t *block, uint32_t counter)
{
    uint8_t *p = block + VBI_COUNTER_OFFSET;
    p[0] = (uint8_t)counter;
    p[1] = (uint8_t)(counter >> 8);
    p[2] = (uint8_t)(counter >> 16);
    p[3] = (uint8_t)(counter >> 24);
}
