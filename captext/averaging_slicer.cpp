#include "averaging_slicer.h"

// Mean of a 32-sample window, rounded down.
static int window_level(const uint8_t *w)
{
    int sum = 0;
    for (int k = 0; k < 32; k++)
        sum += w[k];
    return sum >> 5;
}

CaptionWord AveragingSlicer(const uint8_t *s)
{
    // The first crest of the clock run-in: follow the rise in steps of more
    // than 10 and stop once the signal has fallen more than 40 below it.
    int top = 0, peak = 0, bottom = 255;
    for (int i = 0; i < 250; i++) {
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
    int threshold = (top + bottom) / 2;

    // The start bit lies one bit (57 samples) before data bit 0.
    if (window_level(s + peak + 478) <= threshold)
        return 0;
    uint32_t bits = 0;
    for (int j = 0; j < 16; j++)
        if (window_level(s + peak + 535 + 57 * j) > threshold)
            bits |= 1u << j;
    if (!caption_parity_ok(bits))
        return 0;
    return (CaptionWord)bits;
}
