#include "level_slicer.h"

#include "runin_crest.h"

// Screen mapping shared with the waveform: two samples per pixel across the
// 800-pixel window, sample value v at y = 256 - v.
static int sample_x(int i)
{
    return i / 2;
}

CaptionWord LevelSlicer(const uint8_t *s, ScopeMarks *marks)
{
    // Without a crest above 138 the search keeps the default position.
    RunInCrest crest = find_runin_crest(s, 128, 48);
    int top = crest.top, peak = crest.peak, bottom = crest.bottom;
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
