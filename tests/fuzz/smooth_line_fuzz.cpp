// Fuzzes capscope's smoothing on arbitrary lines.  It reads up to x[1606],
// writes only x[0] to x[1600], and since every step averages two samples
// no smoothed sample leaves the range of the line it started from.
#include "fuzz_line.h"
#include "level_slicer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const size_t reach = SMOOTH_LAST_SAMPLE + 1;
    uint8_t *x = fuzz_line(data, size, reach);
    static uint8_t before[SMOOTH_LAST_SAMPLE + 1];
    memcpy(before, x, reach);
    uint8_t lo = 255, hi = 0;
    for (size_t i = 0; i < reach; i++) {
        lo = x[i] < lo ? x[i] : lo;
        hi = x[i] > hi ? x[i] : hi;
    }
    smooth_line(x);
    if (memcmp(before + SCOPE_SHOWN_SAMPLES + 1, x + SCOPE_SHOWN_SAMPLES + 1,
               reach - SCOPE_SHOWN_SAMPLES - 1) != 0)
        __builtin_trap();
    for (size_t i = 0; i <= SCOPE_SHOWN_SAMPLES; i++)
        if (x[i] < lo || x[i] > hi)
            __builtin_trap();
    free(x);
    return 0;
}
