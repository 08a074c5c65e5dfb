// The first crest of the clock run-in, as the level and averaging slicers
// find it: a rise of more than 10 over the best level so far raises it, and
// a fall of more than 40 below it means the crest has passed.  The search
// looks at the first CAPTION_CREST_SEARCH samples at most.
#pragma once
#include <cstdint>

#include "vbi.h"

// The rise that raises the crest, and the fall after it that ends the
// search: a run-in whose swing is no more than the fall is never confirmed.
enum {
    CAPTION_CREST_RISE = 10,
    CAPTION_CREST_FALL = 40,
};

struct RunInCrest {
    int top;     // level of the crest
    int peak;    // sample index at which top was last raised
    int bottom;  // lowest sample seen during the search
};

// top and peak start at the caller's defaults, kept when nothing rises.
inline RunInCrest find_runin_crest(const uint8_t *s, int top, int peak)
{
    RunInCrest c = {top, peak, 255};
    for (int i = 0; i < CAPTION_CREST_SEARCH; i++) {
        int v = s[i];
        if (v - c.top > CAPTION_CREST_RISE) {
            c.top = v;
            c.peak = i;
        }
        if (v < c.bottom)
            c.bottom = v;
        if (c.top - v > CAPTION_CREST_FALL)
            break;
    }
    return c;
}
