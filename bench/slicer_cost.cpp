// What the integrating slicer costs per line against captext's averaging
// slicer, measured side by side in one run on the same generated lines
// (default signal, a mix of noise levels and timing offsets).  Prints both
// times per line and their ratio; the aim is 3 or less.
//
// The two slicers take turns, one round of all lines each, and each one's
// time is the median of its rounds: on a machine shared with other work,
// whatever slows one round slows both slicers alike or is left out.
//
// Usage: slicer-cost [--lines N]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "averaging_slicer.h"
#include "integrating_slicer.h"
#include "vbi.h"
#include "vbigen_core.h"

enum { COST_LINES = 256, MAX_ROUNDS = 100000 };

static uint8_t lines[COST_LINES][VBI_LINE_SIZE];
static double times[2][MAX_ROUNDS];

// One round: every line once, in ns per line.
template <class F> static double round_ns(F slice, unsigned *sink)
{
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < COST_LINES; i++)
        *sink += slice(lines[i]);
    auto t1 = std::chrono::steady_clock::now();
    return std::chrono::duration<double, std::nano>(t1 - t0).count() / COST_LINES;
}

static double median(double *t, long n)
{
    std::nth_element(t, t + n / 2, t + n);
    return t[n / 2];
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
    rounds = rounds > (long)MAX_ROUNDS ? (long)MAX_ROUNDS : rounds;
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
    auto integrating = [](const uint8_t *l) { return IntegratingSlicer(l, nullptr); };
    for (long k = 0; k < rounds; k++) {
        // Which goes first changes every round, so that neither gains from it.
        if (k & 1) {
            times[0][k] = round_ns(AveragingSlicer, &sink);
            times[1][k] = round_ns(integrating, &sink);
        } else {
            times[1][k] = round_ns(integrating, &sink);
            times[0][k] = round_ns(AveragingSlicer, &sink);
        }
    }
    double avg = median(times[0], rounds), integ = median(times[1], rounds);
    printf("lines per slicer: %ld (%u)\n", rounds * COST_LINES, sink & 1);
    printf("averaging    %8.1f ns/line\n", avg);
    printf("integrating  %8.1f ns/line\n", integ);
    printf("ratio integrating/averaging: %.2f (aim: 3 or less)\n", integ / avg);
    return 0;
}
