#include "averaging_slicer.h"

#include "runin_crest.h"
#include "vbi.h"

// Mean of a bit's window, rounded down.
static int window_level(const uint8_t *w)
{
    int sum = 0;
    for (int k = 0; k < CAPTION_BIT_WINDOW; k++)
        sum += w[k];
    return sum / CAPTION_BIT_WINDOW;
}

CaptionWord AveragingSlicer(const uint8_t *s)
{
    RunInCrest crest = find_runin_crest(s, 0, 0);
    int top = crest.top, peak = crest.peak, bottom = crest.bottom;
    int threshold = (top + bottom) / 2;

    // The start bit lies one bit before data bit 0.
    if (window_level(s + peak + CAPTION_CREST_TO_START) <= threshold)
        return 0;
    uint32_t bits = 0;
    for (int j = 0; j < 16; j++)
        if (window_level(s + peak + CAPTION_CREST_TO_BIT0 + CAPTION_BIT_STEP * j) > threshold)
            bits |= 1u << j;
    if (!caption_parity_ok(bits))
        return 0;
    return (CaptionWord)bits;
}
