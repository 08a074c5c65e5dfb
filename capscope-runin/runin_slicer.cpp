#include "runin_slicer.h"

// The crests of a good run-in fall about 57 samples apart from sample 73
// on; each cycle gets a little more room than that, the last one a lot, so
// that a late run-in is still found whole.
const int RunInSearchLimits[7] = {200, 260, 320, 380, 440, 500, 600};

bool window_above(const uint8_t *w, int32_t t)
{
    int32_t sum = 0;
    for (int k = 0; k < RUNIN_WINDOW; k++)
        sum += w[k];
    return sum > RUNIN_WINDOW * t;
}

CaptionWord RunInSlicer(const uint8_t *s, ScopeMarks *marks)
{
    int32_t extreme[7], peak[7], trough[7];
    for (int c = 0; c < 7; c++)
        extreme[c] = peak[c] = trough[c] = -1;
    int32_t k = 0, x = 0;

    // Follow the signal sample by sample: a running maximum becomes a crest
    // once the signal has fallen 46 below it, a running minimum becomes a
    // trough once it has risen 46 above it.  After each confirmation the
    // scan resumes 17 samples past the extreme, over the edge it just left.
    for (int32_t i = RUNIN_SCAN_START; k <= 6 && i < RunInSearchLimits[k]; i++) {
        int32_t v = s[i];
        if (peak[k] == -1) {
            if (v > RUNIN_PEAK_FLOOR && v > extreme[k]) {
                extreme[k] = v;
                x = i;
            } else if (extreme[k] - v >= RUNIN_HYSTERESIS) {
                marks_line(marks, MARK_TEXT_GC, x, 30, x, 128);
                peak[k] = x;
                i = x + RUNIN_SKIP;
                if (k > 0) {
                    // The spacing is shown above the trough between the two
                    // crests, also when it ends the search.
                    int32_t d = x - peak[k - 1];
                    marks_number(marks, MARK_TEXT_GC, trough[k - 1], 50, d);
                    if (d < RUNIN_MIN_SPACING || d > RUNIN_MAX_SPACING)
                        return 0;
                }
            }
        } else {
            if (v < extreme[k]) {
                extreme[k] = v;
                x = i;
            } else if (v - extreme[k] >= RUNIN_HYSTERESIS) {
                if (k <= 5) {
                    marks_number(marks, MARK_TEXT_GC, x, 225, extreme[k]);
                    marks_line(marks, MARK_TEXT_GC, x, 226, x, 256);
                }
                trough[k] = x;
                i = x + RUNIN_SKIP;
                k++;
            }
        }
    }
    if (k != 7)
        return 0;

    // Decide the bits halfway through the last run-in cycle, a little high
    // so that noise on the blanking level reads as 0.
    int32_t p = peak[6], q = trough[6];
    int32_t t = (s[p] + s[q]) / 2 + RUNIN_THRESHOLD_OFFSET;

    int32_t start = p + RUNIN_START_BIT;
    if (!window_above(s + start, t))
        return 0;
    marks_line(marks, MARK_TEXT_GC, start, 30, start, 256);

    uint32_t bits = 0;
    for (int b = 0; b < 16; b++) {
        int32_t w = p + RUNIN_FIRST_BIT + RUNIN_BIT_STEP * b;
        if (window_above(s + w, t)) {
            bits |= 1u << b;
            marks_line(marks, MARK_TEXT_GC, w, 30, w, 256 - t);
        } else {
            marks_line(marks, MARK_TEXT_GC, w, 256 - t, w, 256);
        }
    }
    // No parity test: the scope shows every pair it completes as sliced.
    return (CaptionWord)bits;
}
