// How far each of the caption slicers can be trusted: every setting of the
// grid below renders the same sequence of random caption pairs (printable
// and control pairs, odd parity) into line-21 lines with the signal
// generator, and hands each line to all four slicers:
//
//   `AveragingSlicer` (captext)        on the raw line,
//   `LevelSlicer` (capscope)           on a copy smoothed as capscope does,
//   `RunInSlicer` (capscope-runin)     on the raw line,
//   `IntegratingSlicer` (the tools')   on the raw line.
//
// For every setting and slicer it counts the pairs decoded correctly, the
// lines refused (word 0) and the pairs decoded wrongly (a word other than
// the one sent), and prints the shares as a Markdown table; --data also
// writes them as plain columns for plotting.  Pairs and noise come from
// fixed seeds, so two runs print the same table.
//
// With --ideal P it prints instead, for the same settings, what a slicer
// could reach that is told what no slicer knows: each bit's true place,
// the two levels and the noise on an integrated bit as measured over all
// the setting's lines.  It integrates every bit over the same 54 samples,
// puts right a byte whose parity fails by its weakest bit, and returns a
// pair when the chance that it is wrong is P or less: how much doubt a
// slicer must accept to return a given share.
//
// Usage: slicer-sweep [--pairs N] [--seed S] [--data FILE] [--ideal P]
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "caption_programs.h"
#include "integrating_slicer.h"
#include "vbi.h"
#include "vbigen_core.h"

enum {
    SWEEP_MAX_PAIRS = 100000,
    SWEEP_SLICERS = CAPTION_PROGRAMS + 1,   // the three programs', then the integrating slicer
};

// Column headings: the programs' slicers in the order of CaptionPrograms, then the fourth.
static const char *const slicer_names[SWEEP_SLICERS] = {"averaging", "level", "run-in", "integrating"};

// Noise standard deviations (of 256 levels): finer where the slicers part.
static const int noise_steps[] = {0, 10, 15, 20, 25, 30, 35, 40, 50, 60, 70, 80};
enum { SWEEP_NOISE_STEPS = sizeof noise_steps / sizeof noise_steps[0] };

// The grid: each variant of the signal is swept over the whole noise range.
// Offsets move the whole line (run-in, start bit and data) against the
// sampler; data levels change the swing above the blanking level of 60.
struct Variant {
    double data;
    double offset;
};
static const Variant variants[] = {
    {130, 0},    // the generator's default signal
    {130, -20},
    {130, 10},
    {130, 20},
    {130, -60},
    {130, 60},
    {100, 0},
    {200, 0},
    {200, 20},   // a crest high enough for capscope's slicer to find it, late
};
enum { SWEEP_VARIANTS = sizeof variants / sizeof variants[0] };

struct Tally {
    long correct, refused, wrong;
};

static Tally tallies[SWEEP_VARIANTS][SWEEP_NOISE_STEPS][SWEEP_SLICERS];
static uint16_t pairs[SWEEP_MAX_PAIRS];
static uint8_t line[VBI_LINE_SIZE];
static uint8_t sliced[VBI_LINE_SIZE];

static void tally(Tally *t, uint16_t sent, CaptionWord got)
{
    if (got == sent)
        t->correct++;
    else if (got == 0)
        t->refused++;
    else
        t->wrong++;
}

// xorshift32: a small fixed generator, so that the pairs do not depend on
// the C library's rand().
static uint32_t next_random(uint32_t *state)
{
    uint32_t x = *state;
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return *state = x;
}

// One caption pair in four is a control pair (first code 0x10-0x1F, second
// 0x20-0x7F), as the commands between caption lines; the rest carry two
// printable characters (0x20-0x7E).
static uint16_t random_pair(uint32_t *state)
{
    uint32_t r = next_random(state);
    if ((r & 3) == 0)
        return gen_pair(0x10 + (int)((r >> 2) & 0x0F), 0x20 + (int)((r >> 8) % 0x60));
    return gen_pair(0x20 + (int)((r >> 8) % 0x5F), 0x20 + (int)((r >> 16) % 0x5F));
}

static void sweep_setting(Tally t[SWEEP_SLICERS], const GenSignal *signal, size_t npairs, uint32_t seed)
{
    GenNoise noise;
    gen_noise_init(&noise, seed);
    for (size_t p = 0; p < npairs; p++) {
        gen_render_line(line, pairs[p], signal, &noise);
        // Each program's slicer on a copy: capscope's smooths the line in place.
        for (int s = 0; s < CAPTION_PROGRAMS; s++) {
            memcpy(sliced, line, sizeof line);
            tally(&t[s], pairs[p], CaptionPrograms[s].slice(sliced));
        }
        tally(&t[CAPTION_PROGRAMS], pairs[p], IntegratingSlicer(line, nullptr));
    }
}

// The samples the ideal slicer integrates per bit: as many as the
// integrating slicer does.
enum { IDEAL_WINDOW = 54 };

// The mean level of the IDEAL_WINDOW samples around the centre of bit b
// (0 the start bit, 1 to 16 the data bits) of a line with the given offset.
static double ideal_bit(const uint8_t *l, double offset, int b)
{
    double centre = CAPTION_START_BIT + CAPTION_BIT / 2 + offset + b * CAPTION_BIT;
    int from = (int)(centre - IDEAL_WINDOW / 2.0 + 0.5);
    double sum = 0;
    for (int i = 0; i < IDEAL_WINDOW; i++)
        sum += l[from + i];
    return sum / IDEAL_WINDOW;
}

static Tally ideal_setting(const GenSignal *signal, size_t npairs, uint32_t seed, double limit)
{
    // First the levels and the noise, over all lines.
    GenNoise noise;
    gen_noise_init(&noise, seed);
    double level[2] = {0, 0}, square[2] = {0, 0};
    long count[2] = {0, 0};
    for (size_t p = 0; p < npairs; p++) {
        gen_render_line(line, pairs[p], signal, &noise);
        for (int b = 0; b < 16; b++) {
            int one = pairs[p] >> b & 1;
            double v = ideal_bit(line, signal->offset, b + 1);
            level[one] += v;
            square[one] += v * v;
            count[one]++;
        }
    }
    double var = 0;
    for (int k = 0; k < 2; k++) {
        level[k] /= (double)count[k];
        var += square[k] - (double)count[k] * level[k] * level[k];
    }
    var /= (double)(count[0] + count[1]);
    double mid = (level[0] + level[1]) / 2, gain = (level[1] - level[0]) / var;

    Tally t = {0, 0, 0};
    gen_noise_init(&noise, seed);
    for (size_t p = 0; p < npairs; p++) {
        gen_render_line(line, pairs[p], signal, &noise);
        unsigned word = 0;
        double doubt = 0;
        for (int byte = 0; byte < 2; byte++) {
            double e[8], sum = 0, pairs_e = 0;
            int weakest = 0;
            unsigned bits = 0;
            for (int b = 0; b < 8; b++) {
                double d = ideal_bit(line, signal->offset, 1 + 8 * byte + b) - mid;
                bits |= (unsigned)(d > 0) << b;
                e[b] = std::exp(-gain * std::fabs(d));
                weakest = e[b] > e[weakest] ? b : weakest;
                sum += e[b];
            }
            for (int i = 0; i < 8; i++)
                for (int j = i + 1; j < 8; j++)
                    pairs_e += e[i] * e[j];
            if (__builtin_popcount(bits) & 1) {
                doubt += pairs_e;
            } else {
                bits ^= 1u << weakest;
                doubt += (sum - e[weakest]) / sum;
            }
            word |= bits << (8 * byte);
        }
        tally(&t, pairs[p], doubt <= limit ? (CaptionWord)word : 0);
    }
    return t;
}

static double share(long n, size_t total)
{
    return 100.0 * (double)n / (double)total;
}

static void print_table(FILE *f, size_t npairs)
{
    fprintf(f, "| data | offset | noise |");
    for (const char *name : slicer_names)
        fprintf(f, " %s ok | refused | wrong |", name);
    fprintf(f, "\n|---:|---:|---:|");
    for (int s = 0; s < SWEEP_SLICERS; s++)
        fprintf(f, "---:|---:|---:|");
    fprintf(f, "\n");
    for (int v = 0; v < SWEEP_VARIANTS; v++)
        for (int n = 0; n < SWEEP_NOISE_STEPS; n++) {
            fprintf(f, "| %.0f | %+.0f | %d |", variants[v].data, variants[v].offset, noise_steps[n]);
            for (int s = 0; s < SWEEP_SLICERS; s++) {
                const Tally *t = &tallies[v][n][s];
                fprintf(f, " %.1f | %.1f | %.1f |", share(t->correct, npairs), share(t->refused, npairs),
                        share(t->wrong, npairs));
            }
            fprintf(f, "\n");
        }
}

// One block per variant (two blank lines between blocks, as gnuplot's
// "index" expects), one row per noise level.
static void print_data(FILE *f, size_t npairs)
{
    fprintf(f, "# data offset noise");
    for (const char *name : slicer_names)
        fprintf(f, " %s_ok %s_refused %s_wrong", name, name, name);
    fprintf(f, "\n");
    for (int v = 0; v < SWEEP_VARIANTS; v++) {
        if (v > 0)
            fprintf(f, "\n\n");
        for (int n = 0; n < SWEEP_NOISE_STEPS; n++) {
            fprintf(f, "%.0f %.0f %d", variants[v].data, variants[v].offset, noise_steps[n]);
            for (int s = 0; s < SWEEP_SLICERS; s++) {
                const Tally *t = &tallies[v][n][s];
                fprintf(f, " %.2f %.2f %.2f", share(t->correct, npairs), share(t->refused, npairs),
                        share(t->wrong, npairs));
            }
            fprintf(f, "\n");
        }
    }
}

int main(int argc, char **argv)
{
    long npairs = 1000;
    unsigned long seed = 1;
    const char *data_path = nullptr;
    double ideal = -1;
    for (int i = 1; i < argc; i++) {
        char *end = nullptr;
        if (strcmp(argv[i], "--pairs") == 0 && i + 1 < argc) {
            npairs = strtol(argv[++i], &end, 10);
            if (*end || npairs < 1 || npairs > SWEEP_MAX_PAIRS) {
                fprintf(stderr, "slicer-sweep: --pairs takes 1 to %d\n", SWEEP_MAX_PAIRS);
                return 2;
            }
        } else if (strcmp(argv[i], "--seed") == 0 && i + 1 < argc) {
            seed = strtoul(argv[++i], &end, 0);
            if (*end || seed == 0 || seed > 0xFFFFFFFFul) {
                fprintf(stderr, "slicer-sweep: --seed takes 1 to 4294967295\n");
                return 2;
            }
        } else if (strcmp(argv[i], "--data") == 0 && i + 1 < argc) {
            data_path = argv[++i];
        } else if (strcmp(argv[i], "--ideal") == 0 && i + 1 < argc) {
            ideal = strtod(argv[++i], &end);
            if (*end || !(ideal >= 0 && ideal <= 1)) {
                fprintf(stderr, "slicer-sweep: --ideal takes a chance from 0 to 1\n");
                return 2;
            }
        } else {
            fprintf(stderr, "usage: slicer-sweep [--pairs N] [--seed S] [--data FILE] [--ideal P]\n");
            return 2;
        }
    }

    uint32_t state = (uint32_t)seed;
    for (long p = 0; p < npairs; p++)
        pairs[p] = random_pair(&state);

    GenOptions defaults;
    gen_default_options(&defaults);
    // The signal of grid point (v, n).  The same noise sequence at every
    // setting, only scaled: the settings differ by the signal alone.
    auto signal_at = [&](int v, int n) {
        GenSignal signal = defaults.signal;
        signal.data = variants[v].data;
        signal.offset = variants[v].offset;
        signal.noise = noise_steps[n];
        return signal;
    };
    if (ideal >= 0) {
        printf("| data | offset | noise | ideal ok | refused | wrong |\n|---:|---:|---:|---:|---:|---:|\n");
        for (int v = 0; v < SWEEP_VARIANTS; v++)
            for (int n = 0; n < SWEEP_NOISE_STEPS; n++) {
                GenSignal signal = signal_at(v, n);
                Tally t = ideal_setting(&signal, (size_t)npairs, (uint32_t)seed, ideal);
                printf("| %.0f | %+.0f | %d | %.1f | %.1f | %.1f |\n", variants[v].data, variants[v].offset,
                       noise_steps[n], share(t.correct, (size_t)npairs), share(t.refused, (size_t)npairs),
                       share(t.wrong, (size_t)npairs));
            }
        return 0;
    }
    for (int v = 0; v < SWEEP_VARIANTS; v++)
        for (int n = 0; n < SWEEP_NOISE_STEPS; n++) {
            GenSignal signal = signal_at(v, n);
            sweep_setting(tallies[v][n], &signal, (size_t)npairs, (uint32_t)seed);
        }

    print_table(stdout, (size_t)npairs);
    if (data_path) {
        FILE *f = fopen(data_path, "w");
        if (!f) {
            perror(data_path);
            return 1;
        }
        print_data(f, (size_t)npairs);
        if (fclose(f) != 0) {
            perror(data_path);
            return 1;
        }
    }
    return 0;
}
