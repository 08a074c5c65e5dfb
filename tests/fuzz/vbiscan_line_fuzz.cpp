// Fuzzes the scanner's per-line statistics and the caption signal figures
// on arbitrary lines: the levels, the run-in search, the blanking stretch,
// the figures and the eye accumulation.  The line lives in a buffer of
// exactly 2048 samples, so AddressSanitizer stops any read past the line;
// every figure must come out finite and within its range.
#include <cmath>

#include "fuzz_line.h"
#include "scan_core.h"

static bool is_real(double v)
{
    return std::isfinite(v);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static EyeAccum eye;
    uint8_t *line = fuzz_line(data, size, VBI_LINE_SIZE);
    LineLevels lv = line_levels(line, VBI_LINE_SIZE);
    if (lv.min > lv.max || lv.sum < (uint32_t)lv.min * VBI_LINE_SIZE || lv.sum > (uint32_t)lv.max * VBI_LINE_SIZE)
        __builtin_trap();
    LineAccum acc;
    line_accum_add(&acc, lv, VBI_LINE_SIZE, false, false);
    line_verdict(acc);

    RunIn r;
    if (find_runin(line, &r)) {
        // The first crest lies where the search looks, the swing is real.
        if (!is_real(r.first_crest) || r.first_crest < -CAPTION_BIT || r.first_crest > 700 || !(r.amplitude >= 6) ||
            !is_real(r.level))
            __builtin_trap();
        int from, to;
        blanking_stretch(r, &from, &to);
        if (from < 0 || to < from || to > VBI_LINE_SIZE)
            __builtin_trap();
        SignalAccum a;
        // The input's first two bytes stand for the pair the slicer took.
        CaptionWord word = size >= 2 ? (CaptionWord)(data[0] | data[1] << 8) : 0;
        uint32_t sums[DATA_BITS];
        bool inside = bit_window_sums(line, r, sums);
        if (inside)
            runin_reading(sums, r);
        signal_add(&a, line, r, word, inside ? sums : nullptr);
        signal_add(&a, line, r, (CaptionWord)~word, inside ? sums : nullptr);
        SignalFigures f = signal_figures(a);
        if (!f.valid || !is_real(f.blanking) || !is_real(f.runin_level) || !is_real(f.noise_sigma) ||
            f.noise_sigma < 0 || !is_real(f.crest_spread) || f.crest_spread < 0 || f.eye_opening < 0 ||
            !is_real(f.eye_opening) || f.eye_opening_p99 < 0 || f.eye_opening_p99 > 1 ||
            (f.snr_valid && !is_real(f.snr_db)))
            __builtin_trap();
        eye_add(&eye, line, r);
    }
    free(line);
    return 0;
}
