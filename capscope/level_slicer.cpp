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
    RunInCrest crest = find_runin_crest(s, LEVEL_CREST_FLOOR, LEVEL_CREST_DEFAULT);
    int top = crest.top, peak = crest.peak, bottom = crest.bottom;
    marks_line(marks, MARK_MARKER_GC, sample_x(peak), 30, sample_x(peak), 255);
    int start = peak + CAPTION_CREST_TO_START;
    marks_line(marks, MARK_MARKER_GC, sample_x(start), 30, sample_x(start), 256);

    int threshold = (top + bottom) / 2;
    if (s[start] <= threshold)
        return 0;
    marks_line(marks, MARK_TEXT_GC, sample_x(start), 30, sample_x(start), 256);

    uint32_t bits = 0;
    for (int k = 0; k < 16; k++) {
        int p = peak + CAPTION_CREST_TO_BIT0 + CAPTION_BIT_STEP * k;
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

// One round of the smoothing with the partner S samples ahead.  The
// distance is a constant here, so the forward pass (whose partners are
// still the unchanged samples) becomes vector code, and the backward pass
// (whose partners were averaged just before) keeps the last S results in
// registers instead of reading each back from the line it has just
// written.  The result is the same, sample for sample, as the plain loops.
template <int S> static void smooth_round(uint8_t *x)
{
    for (int k = 0; k < SCOPE_SHOWN_SAMPLES; k++)
        x[k] = (uint8_t)((x[k] + x[k + S]) / 2);
    unsigned ahead[S];
    for (int j = 0; j < S; j++)
        ahead[j] = x[SCOPE_SHOWN_SAMPLES + 1 + j];
    // ahead[j] holds the partner of x[k] with k + S = SCOPE_SHOWN_SAMPLES + 1 + j
    // at first; each new sample then becomes the partner S steps further down.
    int k = SCOPE_SHOWN_SAMPLES;
    for (; k >= S; k -= S) {
        for (int j = S - 1; j >= 0; j--) {
            unsigned v = (x[k - (S - 1 - j)] + ahead[j]) / 2;
            x[k - (S - 1 - j)] = (uint8_t)v;
            ahead[j] = v;
        }
    }
    // The last k < S samples, x[k] down to x[1].
    for (int j = S - 1; j >= 0 && k >= 1; k--, j--)
        x[k] = (uint8_t)((x[k] + ahead[j]) / 2);
}

void smooth_line(uint8_t *x)
{
    // Each round averages with the sample s places ahead: forward, while
    // the partner is still unchanged, then backward over x[1600] to x[1],
    // where the partner has already been averaged.  Since the partner is
    // always ahead, a bright sample spreads to its lower-index neighbours.
    smooth_round<1>(x);
    smooth_round<2>(x);
    smooth_round<3>(x);
    smooth_round<4>(x);
    smooth_round<5>(x);
    smooth_round<6>(x);
}
