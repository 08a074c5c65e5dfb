// Layout of one read from the video4linux VBI device.
#pragma once
#include <cstdint>

enum {
    VBI_BLOCK_SIZE = 65536,      // one read: 32 lines of 2048 samples
    VBI_LINE_SIZE = 2048,        // samples per line, one byte each
    VBI_LINES = 32,
    VBI_CAPTION_LINE = 11,       // line index that carries line 21 of field 1
    VBI_COUNTER_OFFSET = 65532,  // driver's frame counter, 32-bit little-endian
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
