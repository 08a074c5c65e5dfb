// The run-in timing slicer of capscope-runin: it times the seven cycles of
// the clock run-in that opens a line-21 caption line, takes its decision
// threshold from the last cycle and samples the start bit and the 16 data
// bits at fixed distances from the seventh crest.  What it finds is recorded
// as marks for the scope to draw over the waveform.
#pragma once
#include <cstdint>

#include "caption.h"
#include "marks.h"
#include "vbi.h"

// The scan index below which the crest of run-in cycle k and the trough
// after it must both have been confirmed.
extern const int RunInSearchLimits[7];

// Sample distances from the seventh crest, and the window every bit is
// judged on (about 32 of the 56.875 samples a caption bit lasts).
enum {
    RUNIN_SCAN_START = 15,
    RUNIN_PEAK_FLOOR = 60,      // blanking level: a crest must lie above it
    RUNIN_HYSTERESIS = 46,
    RUNIN_SKIP = 16,
    RUNIN_MIN_SPACING = 42,
    RUNIN_MAX_SPACING = 84,
    RUNIN_THRESHOLD_OFFSET = 7,
    RUNIN_START_BIT = 144,
    RUNIN_FIRST_BIT = RUNIN_START_BIT + CAPTION_BIT_STEP,
    RUNIN_BIT_STEP = CAPTION_BIT_STEP,
    RUNIN_WINDOW = CAPTION_BIT_WINDOW,
    RUNIN_LAST_SAMPLE = 1686,   // furthest sample the slicer can read
};

// True when the mean of the 32 samples from w on lies strictly above t.
bool window_above(const uint8_t *w, int32_t t);

// Slices one line (s[0] to at most s[1686]) into a CaptionWord, parity bits
// as sliced; 0 when the run-in is incomplete or irregular or the start bit
// is missing.  Every marker and number it draws is appended to marks (which
// may be null), all for the white text context.
CaptionWord RunInSlicer(const uint8_t *s, ScopeMarks *marks);
