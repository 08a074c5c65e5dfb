// The caption scope's line-21 slicer: finds the first crest of the clock
// run-in, sets the threshold halfway between the highest and lowest levels
// seen on the way, and reads the start bit and the 16 data bits each from a
// single sample at a fixed distance from that crest.
#pragma once
#include <cstdint>

#include "caption.h"
#include "marks.h"

enum {
    SLICER_PEAK_SEARCH = 250,  // samples searched for the first run-in crest
    SLICER_START_BIT = 478,    // start-bit sample, counted from the crest
    SLICER_BIT0 = 535,         // data bit 0, counted from the crest
    SLICER_BIT = 57,           // samples per bit at 28.636 MHz (56.875)
    SLICER_LAST_SAMPLE = SLICER_PEAK_SEARCH - 1 + SLICER_BIT0 + 15 * SLICER_BIT,  // 1639
    SCOPE_SHOWN_SAMPLES = 1600,
    SMOOTH_LAST_SAMPLE = 1606,  // furthest sample the smoothing reads
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
