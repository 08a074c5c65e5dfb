// The caption scope's line-21 slicer: finds the first crest of the clock
// run-in, sets the threshold halfway between the highest and lowest levels
// seen on the way, and reads the start bit and the 16 data bits each from a
// single sample at a fixed distance from that crest.
#pragma once
#include <cstdint>

#include "caption.h"
#include "marks.h"
#include "vbi.h"

enum {
    // The furthest samples the slicer and the smoothing read.
    SLICER_LAST_SAMPLE = CAPTION_CREST_SEARCH - 1 + CAPTION_CREST_TO_BIT0 + 15 * CAPTION_BIT_STEP,  // 1639
    SMOOTH_LAST_SAMPLE = SCOPE_SHOWN_SAMPLES + 6,
    // The crest level the search starts from, and the crest position it
    // keeps when nothing rises more than CAPTION_CREST_RISE above it.
    LEVEL_CREST_FLOOR = 128,
    LEVEL_CREST_DEFAULT = 48,
};

// Slices one smoothed line s[0..1639] (read only).  Records its decision
// points as vertical marks in drawing order: the crest and start-bit
// markers in the marker context, the accepted start bit again and the 16
// bit markers in the text context.  Returns the 16 bits, parity bits
// included, or 0 when the start bit is missing or the parity rule refuses
// the pair.  marks may be null.
CaptionWord LevelSlicer(const uint8_t *s, ScopeMarks *marks);

// Smooths the shown part of a line in place: six rounds of forward and
// backward averaging with the sample 1..6 places ahead.  Writes x[0..1600],
// reads up to x[1606].
void smooth_line(uint8_t *x);
