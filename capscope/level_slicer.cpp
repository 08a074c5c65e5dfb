#include "level_slicer.h"

// Screen mapping shared with the waveform: two samples per pixel across the
// 800-pixel window, sample value v at y = 256 - v.
static int sample_x(int i)
{
    return i / 2;
}

CaptionWord LevelSlicer(const uint8_t *s, ScopeMarks *marks)
{
    // The first run-in crest: a rise of more than 10 over the best level so
    // far raises it; a fall of more than 40 below it means the crest has
    // passed.  Without a crest the search keeps the default position.
    int top = 128, peak = 48, bottom = 255;
    for (int i = 0; i < SLICER_PEAK_SEARCH; i++) {
        int v = s[i];
        if (v - top > 10) {
            top = v;
            peak = i;
        }
        if (v < bottom)
            bottom = v;
        if (top - v > 40)
            break;
    }
    marks_line(marks, MARK_MARKER_GC, sample_x(peak), 30, sample_x(peak), 255);
    int start = peak + SLICER_START_BIT;
    marks_line(marks, MARK_MARKER_GC, sample_x(start), 30, sample_x(start), 256);

    int threshold = (top + bottom) / 2;
    if (s[start] <= threshold)
        return 0;
    marks_line(marks, MARK_TEXT_GC, sample_x(start), 30, sample_x(start), 256);

    uint32_t bits = 0;
    for (int k = 0; k < 16; k++) {
        int p = peak + SLICER_BIT0 + SLICER_BIT * k;
        if (s[p] > threshold) {
            bits |= 1u << k;
            marks_line(marks, MARK_TEXT_GC, sample_x(p), 30, sample_x(p), 256 - threshold);
        } else {
            marks_line(marks, MARK_TEXT_GC, sample_x(p), 256 - threshold, sample_x(p), 256);
        }
    }
    if (!caption_parity_ok(bits))
        return 0;
    return (CaptionWord)bits;
}

void smooth_line(uint8_t *x)
{
    // Each round averages with the sample s places ahead: forward, while
    // the partner is still unchanged, then backward over x[1600] to x[1],
    // where the partner has already been averaged.  Since the partner is
    // always ahead, a bright sample spreads to its lower-index neighbours.
    for (int s = 1; s <= 6; s++) {
        for (int k = 0; k < SCOPE_SHOWN_SAMPLES; k++)
            x[k] = (uint8_t)((x[k] + x[k + s]) / 2);
        for (int k = SCOPE_SHOWN_SAMPLES; k >= 1; k--)
            x[k] = (uint8_t)((x[k] + x[k + s]) / 2);
    }
}
