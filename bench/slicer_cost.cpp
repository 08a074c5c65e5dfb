// What the integrating slicer costs per line against captext's averaging
// slicer, measured side by side in one run on the same generated lines
// (default signal, a mix of noise levels and timing offsets).  Prints both
// times per line and their ratio; the aim is 3 or less.
//
// Usage: slicer-cost [--lines N]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "averaging_slicer.h"
#include "integrating_slicer.h"
#include "vbi.h"
#include "vbigen_core.h"

enum { COST_LINES = 256 };

static uint8_t lines[COST_LINES][VBI_LINE_SIZE];

template <class F> static double ns_per_line(F slice, long rounds, unsigned *sink)
{
    auto t0 = std::chrono::steady_clock::now();
    for (long k = 0; k < rounds; k++)
        for (int i = 0; i < COST_LINES; i++)
            *sink += slice(lines[i]);
    auto t1 = std::chrono::steady_clock::now();
    return std::chrono::duration<double, std::nano>(t1 - t0).count() / (double)(rounds * COST_LINES);
}

int main(int argc, char **argv)
{
    long total = 2000000;
    if (argc == 3 && strcmp(argv[1], "--lines") == 0)
        total = strtol(argv[2], nullptr, 10);
    else if (argc != 1) {
        fprintf(stderr, "usage: slicer-cost [--lines N]\n");
        return 2;
    }
    long rounds = total / COST_LINES < 1 ? 1 : total / COST_LINES;
    GenOptions o;
    gen_default_options(&o);
    GenNoise noise;
    gen_noise_init(&noise, 1);
    for (int i = 0; i < COST_LINES; i++) {
        o.signal.noise = (i % 5) * 5;
        o.signal.offset = (i % 7) * 10 - 30;
        gen_render_line(lines[i], gen_pair(0x20 + i % 0x5F, 0x20 + (i * 7) % 0x5F), &o.signal, &noise);
    }
    unsigned sink = 0;
    // The better of two passes each, alternating, so that neither gains
    // from running second.
    double avg = 1e30, integ = 1e30;
    for (int pass = 0; pass < 2; pass++) {
        double a = ns_per_line(AveragingSlicer, rounds, &sink);
        double b = ns_per_line([](const uint8_t *l) { return IntegratingSlicer(l, nullptr); }, rounds, &sink);
        avg = a < avg ? a : avg;
        integ = b < integ ? b : integ;
    }
    printf("lines per slicer and pass: %ld (%u)\n", rounds * COST_LINES, sink & 1);
    printf("averaging    %8.1f ns/line\n", avg);
    printf("integrating  %8.1f ns/line\n", integ);
    printf("ratio integrating/averaging: %.2f (aim: 3 or less)\n", integ / avg);
    return 0;
}
