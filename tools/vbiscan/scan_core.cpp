#include "scan_core.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "averaging_slicer.h"
#include "level_slicer.h"
#include "runin_slicer.h"

// --- frame counter -------------------------------------------------------

CounterEvent counter_add(CounterStats *c, uint32_t counter)
{
    CounterEvent ev = COUNTER_FIRST;
    if (c->blocks == 0) {
        c->first = counter;
    } else {
        int32_t jump = (int32_t)(counter - c->last);
        if (jump == 1) {
            c->steps++;
            ev = COUNTER_STEP;
        } else if (jump == 0) {
            c->repeats++;
            ev = COUNTER_REPEAT;
        } else if (jump > 1) {
            c->gaps++;
            c->missing += (uint64_t)(jump - 1);
            ev = COUNTER_GAP;
        } else {
            c->backward++;
            ev = COUNTER_BACKWARD;
        }
    }
    c->last = counter;
    c->blocks++;
    return ev;
}

const char *counter_event_name(CounterEvent e)
{
    return e == COUNTER_GAP ? "gap" : e == COUNTER_REPEAT ? "repeat" : e == COUNTER_BACKWARD ? "backward" : "step";
}

// --- clock run-in ----------------------------------------------------------

namespace {

constexpr double OMEGA = 2 * M_PI / CAPTION_BIT;
constexpr int RUNIN_SPAN = 398;      // seven cycles, rounded down
constexpr int RUNIN_LAST_START = 600;
constexpr double MIN_AMPLITUDE = 6;  // half swing: crests 12 levels above the troughs
constexpr double CYCLE_SHARE = 0.4;  // every cycle at least this share of the mean
constexpr double NEIGHBOUR_SHARE = 0.5;
constexpr double MIN_FIT = 0.3;      // share of the cycles' variance the clock explains

// cos and sin of the clock phase at every sample, and their running sums.
struct ClockTables {
    double c[VBI_LINE_SIZE], s[VBI_LINE_SIZE];
    double csum[VBI_LINE_SIZE + 1], ssum[VBI_LINE_SIZE + 1];
    ClockTables()
    {
        csum[0] = ssum[0] = 0;
        for (int i = 0; i < VBI_LINE_SIZE; i++) {
            c[i] = cos(OMEGA * i);
            s[i] = sin(OMEGA * i);
            csum[i + 1] = csum[i] + c[i];
            ssum[i + 1] = ssum[i] + s[i];
        }
    }
};
const ClockTables clock_tables;

// One clock cycle centred on the crest position p, fitted with a sinusoid
// in phase with that crest: its mean, its half swing (negative when the
// line is in antiphase) and the variance around the mean; and the sums it
// took, so that neighbouring cycles add up to a longer stretch.
struct Cycle {
    double mean, amplitude, var;
    bool inside;
    int lo, hi;          // samples [lo, hi)
    double sum, sc, ss;  // of the samples, times cos, times sin of the clock
};

// A cycle whose crest lies in the line but whose start falls before it (a
// run-in timed early, its rise cut off by the line's start): the part in
// the line, fitted by least squares, since the sinusoid no longer spans a
// whole period there.
Cycle fit_cut_cycle(const uint8_t *line, double p)
{
    Cycle cy = {};
    cy.lo = 0;
    cy.hi = (int)ceil(p + CAPTION_BIT / 2);
    const ClockTables &t = clock_tables;
    // cos(w(i - p)) = cos(wi) cos(wp) + sin(wi) sin(wp), from the tables.
    const double cp = cos(OMEGA * p), sp = sin(OMEGA * p);
    double n = cy.hi, su = 0, suu = 0, svu = 0, sq = 0;
    for (int i = 0; i < cy.hi; i++) {
        double v = line[i], u = t.c[i] * cp + t.s[i] * sp;
        cy.sum += v;
        sq += v * v;
        cy.sc += v * t.c[i];
        cy.ss += v * t.s[i];
        su += u;
        suu += u * u;
        svu += v * u;
    }
    double det = n * suu - su * su;
    if (det <= 0)
        return cy;
    cy.amplitude = (n * svu - su * cy.sum) / det;
    cy.mean = (cy.sum - cy.amplitude * su) / n;
    cy.var = sq - cy.sum * cy.sum / n;
    cy.inside = true;
    return cy;
}

Cycle fit_cycle(const uint8_t *line, double p)
{
    Cycle cy = {};
    cy.lo = (int)ceil(p - CAPTION_BIT / 2);
    cy.hi = (int)ceil(p + CAPTION_BIT / 2);
    if (cy.lo < 0 && p >= 0)
        return fit_cut_cycle(line, p);
    if (cy.lo < 0 || cy.hi > VBI_LINE_SIZE)
        return cy;
    const ClockTables &t = clock_tables;
    // Integer sums, and two accumulators for each product, so that the
    // additions do not wait on each other.
    uint32_t sum = 0, sq = 0;
    double sc[2] = {0, 0}, ss[2] = {0, 0};
    for (int i = cy.lo; i < cy.hi; i++) {
        uint32_t v = line[i];
        sum += v;
        sq += v * v;
        sc[i & 1] += v * t.c[i];
        ss[i & 1] += v * t.s[i];
    }
    int n = cy.hi - cy.lo;
    cy.sum = sum;
    cy.sc = sc[0] + sc[1];
    cy.ss = ss[0] + ss[1];
    double mean = cy.sum / n;
    double ci = cy.sc - mean * (t.csum[cy.hi] - t.csum[cy.lo]);
    double si = cy.ss - mean * (t.ssum[cy.hi] - t.ssum[cy.lo]);
    // cos(w(i - p)) = cos(wi) cos(wp) + sin(wi) sin(wp); over one period
    // the sum of its squares is n / 2.
    double corr = ci * cos(OMEGA * p) + si * sin(OMEGA * p);
    cy.mean = mean;
    cy.amplitude = corr / (n / 2.0);
    cy.var = sq - cy.sum * mean;
    cy.inside = true;
    return cy;
}

// Running sums of the line, and of the line times cos and times sin of the
// clock phase, kept every CHUNK samples: the sums from sample 0 to any
// sample are a kept sum plus at most CHUNK - 1 samples.
enum { CHUNK = 4, SEARCH_END = RUNIN_LAST_START + RUNIN_SPAN + CHUNK };
struct ClockSums {
    double s0[SEARCH_END / CHUNK + 1], s1[SEARCH_END / CHUNK + 1], s2[SEARCH_END / CHUNK + 1];
    const uint8_t *line;

    explicit ClockSums(const uint8_t *l) : line(l)
    {
        const ClockTables &t = clock_tables;
        s0[0] = s1[0] = s2[0] = 0;
        for (int c = 0; c < SEARCH_END / CHUNK; c++) {
            const int i = c * CHUNK;
            double a0 = 0, a1 = 0, a2 = 0;
            for (int k = 0; k < CHUNK; k++) {
                double v = line[i + k];
                a0 += v;
                a1 += v * t.c[i + k];
                a2 += v * t.s[i + k];
            }
            s0[c + 1] = s0[c] + a0;
            s1[c + 1] = s1[c] + a1;
            s2[c + 1] = s2[c] + a2;
        }
    }

    // Sums over samples [0, y).
    void upto(int y, double *a0, double *a1, double *a2) const
    {
        const ClockTables &t = clock_tables;
        int c = y / CHUNK;
        *a0 = s0[c];
        *a1 = s1[c];
        *a2 = s2[c];
        for (int i = c * CHUNK; i < y; i++) {
            *a0 += line[i];
            *a1 += line[i] * t.c[i];
            *a2 += line[i] * t.s[i];
        }
    }

    // The clock's power over the window [x, x + RUNIN_SPAN), with the
    // in-phase and quadrature sums about the window's mean.
    double power(int x, double *ci, double *si) const
    {
        const ClockTables &t = clock_tables;
        int e = x + RUNIN_SPAN;
        double a0, a1, a2, b0, b1, b2;
        upto(x, &a0, &a1, &a2);
        upto(e, &b0, &b1, &b2);
        double mean = (b0 - a0) / RUNIN_SPAN;
        *ci = b1 - a1 - mean * (t.csum[e] - t.csum[x]);
        *si = b2 - a2 - mean * (t.ssum[e] - t.ssum[x]);
        return *ci * *ci + *si * *si;
    }
};

}  // namespace

bool find_runin(const uint8_t *line, RunIn *r)
{
    const ClockTables &t = clock_tables;
    // The window of seven cycles where the clock is strongest.  Its power
    // changes slowly with the window's start (a cycle is 57 samples), so
    // it is looked at every 4 samples, then around the best.
    const ClockSums sums(line);
    double best = -1, best_i = 0, best_q = 0, ci, si;
    int best_x = 0;
    for (int x = 0; x <= RUNIN_LAST_START; x += CHUNK) {
        double power = sums.power(x, &ci, &si);
        if (power > best) {
            best = power;
            best_x = x;
        }
    }
    int from = best_x - CHUNK + 1 < 0 ? 0 : best_x - CHUNK + 1;
    int to = best_x + CHUNK - 1 > RUNIN_LAST_START ? RUNIN_LAST_START : best_x + CHUNK - 1;
    best = -1;
    for (int x = from; x <= to; x++) {
        double power = sums.power(x, &ci, &si);
        if (power > best) {
            best = power;
            best_i = ci;
            best_q = si;
            best_x = x;
        }
    }
    if (best <= 0)
        return false;

    // The crests of that clock lie where its phase is 0: at crest0 + m periods.
    double crest0 = atan2(best_q, best_i) / OMEGA;
    int m_lo = (int)floor((best_x - 1.5 * CAPTION_BIT - crest0) / CAPTION_BIT);
    int m_hi = (int)ceil((best_x + RUNIN_SPAN + 1.5 * CAPTION_BIT - crest0) / CAPTION_BIT);
    enum { MAX_CANDIDATES = 16 };
    Cycle cyc[MAX_CANDIDATES];
    double pos[MAX_CANDIDATES];
    int n = 0;
    for (int m = m_lo; m <= m_hi && n < MAX_CANDIDATES; m++) {
        double p = crest0 + m * CAPTION_BIT;
        Cycle c = fit_cycle(line, p);
        if (!c.inside)
            continue;
        cyc[n] = c;
        pos[n] = p;
        n++;
    }
    if (n < RUNIN_CYCLES)
        return false;
    // The seven successive cycles with the largest swing.
    int first = 0;
    double best_sum = -1e300;
    for (int k = 0; k + RUNIN_CYCLES <= n; k++) {
        double sum = 0;
        for (int j = 0; j < RUNIN_CYCLES; j++)
            sum += cyc[k + j].amplitude;
        if (sum > best_sum) {
            best_sum = sum;
            first = k;
        }
    }
    double amp = best_sum / RUNIN_CYCLES;
    if (amp < MIN_AMPLITUDE || pos[first] - CAPTION_BIT / 2 > RUNIN_LAST_START)
        return false;
    double explained = 0, var = 0, level = 0;
    double sum = 0, sc = 0, ss = 0;
    for (int j = 0; j < RUNIN_CYCLES; j++) {
        const Cycle &c = cyc[first + j];
        if (c.amplitude < CYCLE_SHARE * amp)
            return false;
        explained += c.amplitude * c.amplitude * (CAPTION_BIT / 2);
        var += c.var;
        level += c.mean + c.amplitude;
        sum += c.sum;
        sc += c.sc;
        ss += c.ss;
    }
    if (var <= 0 || explained < MIN_FIT * var)
        return false;
    // A run-in is a burst: no cycle of the clock just before or after it.
    const double before = pos[first] - CAPTION_BIT, after = pos[first] + RUNIN_CYCLES * CAPTION_BIT;
    for (double p : {before, after}) {
        Cycle c = fit_cycle(line, p);
        if (c.inside && c.amplitude >= NEIGHBOUR_SHARE * amp)
            return false;
    }

    // The phase once more, from the seven cycles alone (their spans follow
    // each other without gap or overlap).
    int lo = cyc[first].lo, hi = cyc[first + RUNIN_CYCLES - 1].hi;
    double mean = sum / (hi - lo);
    ci = sc - mean * (t.csum[hi] - t.csum[lo]);
    si = ss - mean * (t.ssum[hi] - t.ssum[lo]);
    double q0 = atan2(si, ci) / OMEGA;
    double crest = q0 + round((pos[first] - q0) / CAPTION_BIT) * CAPTION_BIT;

    r->first_crest = crest;
    r->level = level / RUNIN_CYCLES;
    r->amplitude = amp;
    return true;
}

double line_level_at(const uint8_t *line, double pos)
{
    if (pos <= 0)
        return line[0];
    if (pos >= VBI_LINE_SIZE - 1)
        return line[VBI_LINE_SIZE - 1];
    int i = (int)pos;
    double f = pos - i;
    return line[i] + f * (line[i + 1] - line[i]);
}

void blanking_stretch(const RunIn &r, int *from, int *to)
{
    // The run-in rises from blanking half a period before its first crest;
    // a few samples of margin keep its foot out.
    double rise = r.first_crest - CAPTION_BIT / 2 - 4;
    if (rise >= 8) {
        *from = 0;
        *to = (int)rise;
        return;
    }
    double a = r.first_crest + (RUNIN_CYCLES - 0.5) * CAPTION_BIT + 4;
    double b = r.first_crest + CREST_TO_START_BIT - 8;
    *from = a < 0 ? 0 : a > VBI_LINE_SIZE ? VBI_LINE_SIZE : (int)ceil(a);
    *to = b < *from ? *from : b > VBI_LINE_SIZE ? VBI_LINE_SIZE : (int)b;
}

// --- per-line levels -------------------------------------------------------

LineLevels line_levels(const uint8_t *line, int samples)
{
    uint8_t lo = 255, hi = 0;
    uint32_t sum = 0;
    int i = 0;
#ifdef __SSE2__
    // Sixteen samples at a time; psadbw sums bytes without widening them
    // first, which is most of the scan's cost per block otherwise.
    __m128i vlo = _mm_set1_epi8((char)0xFF), vhi = _mm_setzero_si128(), vsum = _mm_setzero_si128();
    for (; i + 16 <= samples; i += 16) {
        __m128i v = _mm_loadu_si128((const __m128i *)(line + i));
        vlo = _mm_min_epu8(vlo, v);
        vhi = _mm_max_epu8(vhi, v);
        vsum = _mm_add_epi64(vsum, _mm_sad_epu8(v, _mm_setzero_si128()));
    }
    alignas(16) uint8_t l[16], h[16];
    _mm_store_si128((__m128i *)l, vlo);
    _mm_store_si128((__m128i *)h, vhi);
    for (int k = 0; k < 16; k++) {
        lo = l[k] < lo ? l[k] : lo;
        hi = h[k] > hi ? h[k] : hi;
    }
    sum = (uint32_t)_mm_cvtsi128_si32(vsum) + (uint32_t)_mm_cvtsi128_si32(_mm_srli_si128(vsum, 8));
#endif
    for (; i < samples; i++) {
        uint8_t v = line[i];
        lo = v < lo ? v : lo;
        hi = v > hi ? v : hi;
        sum += v;
    }
    return {lo, hi, sum};
}

void line_accum_add(LineAccum *a, const LineLevels &lv, int samples, bool runin, bool decoded)
{
    a->blocks++;
    a->sum += lv.sum;
    a->samples += (uint64_t)samples;
    a->min = lv.min < a->min ? lv.min : a->min;
    a->max = lv.max > a->max ? lv.max : a->max;
    a->runin_blocks += runin;
    a->decoded_blocks += decoded;
    a->active_blocks += lv.max - lv.min >= LINE_ACTIVE_RANGE;
}

const char *line_verdict(const LineAccum &a)
{
    if (a.blocks == 0)
        return "blank";
    // What the decoders read decides, whatever the run-in search made of
    // the line.
    if (a.decoded_blocks * 2 > a.blocks)
        return "caption";
    if (a.runin_blocks * 2 > a.blocks)
        return "run-in only";
    // Something that varies in a tenth of the blocks is a signal of its own.
    if (a.runin_blocks > 0 || a.decoded_blocks > 0 || a.active_blocks * 10 >= a.blocks)
        return "signal";
    return "blank";
}

bool bit_window_sums(const uint8_t *line, const RunIn &r, uint32_t sums[DATA_BITS])
{
    for (int k = 0; k < DATA_BITS; k++) {
        int w0 = (int)lround(bit_centre(r, k) - CAPTION_BIT_WINDOW / 2.0);
        if (w0 < 0 || w0 + CAPTION_BIT_WINDOW > VBI_LINE_SIZE)
            return false;
        uint32_t sum = 0;
        for (int i = 0; i < CAPTION_BIT_WINDOW; i++)
            sum += line[w0 + i];
        sums[k] = sum;
    }
    return true;
}

CaptionWord runin_reading(const uint32_t sums[DATA_BITS], const RunIn &r)
{
    // The run-in swings about the level that parts ones from zeros.
    const double threshold = r.level - r.amplitude;
    uint32_t bits = 0;
    for (int k = 0; k < DATA_BITS; k++)
        if (sums[k] > threshold * CAPTION_BIT_WINDOW)
            bits |= 1u << k;
    return caption_parity_ok(bits) ? (CaptionWord)bits : 0;
}

bool slicers_read(const uint8_t *line, CaptionWord expected)
{
    if (!expected)
        return false;
    // The cheapest first; capscope's smooths its copy in place.
    static uint8_t copy[VBI_LINE_SIZE];
    for (int p : {PROG_CAPTEXT, PROG_RUNIN, PROG_CAPSCOPE}) {
        memcpy(copy, line, VBI_LINE_SIZE);
        if (CaptionPrograms[p].slice(copy) == expected)
            return true;
    }
    return false;
}

// --- the caption signal's quality ----------------------------------------

void level_sums_add(LevelSums *l, const uint8_t *line, const RunIn &r)
{
    l->runin_blocks++;
    l->level_sum += r.level;
    int from, to;
    blanking_stretch(r, &from, &to);
    for (int i = from; i < to; i++) {
        l->blank_sum += line[i];
        l->blank_sq += (uint64_t)line[i] * line[i];
    }
    l->blank_n += (uint64_t)(to - from);
}

void level_sums_figures(const LevelSums &l, double *runin, double *blanking, double *noise)
{
    *runin = l.runin_blocks ? l.level_sum / (double)l.runin_blocks : 0;
    *blanking = *noise = 0;
    if (l.blank_n > 0) {
        double bn = (double)l.blank_n;
        *blanking = (double)l.blank_sum / bn;
        double bvar = (double)l.blank_sq / bn - *blanking * *blanking;
        *noise = bvar > 0 ? sqrt(bvar) : 0;
    }
}

void signal_add(SignalAccum *a, const uint8_t *line, const RunIn &r, CaptionWord word, const uint32_t *sums)
{
    level_sums_add(&a->levels, line, r);
    a->crest_sum += r.first_crest;
    a->crest_sq += r.first_crest * r.first_crest;
    if (word == 0)
        return;
    a->eye_blocks++;
    for (int k = 0; k < DATA_BITS; k++) {
        double v = line_level_at(line, bit_centre(r, k));
        bool one = word >> k & 1;
        if (one)
            a->lowest_one = v < a->lowest_one ? v : a->lowest_one;
        else
            a->highest_zero = v > a->highest_zero ? v : a->highest_zero;
        // The slicers judge a bit on a window of samples about its centre,
        // which averages much of the noise away: the percentile figure
        // looks at the bits as they do.
        if (!sums)
            continue;
        int bin = (int)(sums[k] * EYE_BIN_STEPS / CAPTION_BIT_WINDOW);
        (one ? a->ones : a->zeros)[bin < EYE_BINS ? bin : EYE_BINS - 1]++;
    }
}

// The level below which the lowest share of a histogram's entries lie
// (from_top: above which the highest share lie); fallback when empty.
static double percentile_level(const std::vector<uint32_t> &h, double share, bool from_top, double fallback)
{
    uint64_t total = 0;
    for (uint32_t v : h)
        total += v;
    if (total == 0)
        return fallback;
    const double limit = share * (double)total;
    uint64_t seen = 0;
    for (int k = 0; k < EYE_BINS; k++) {
        int bin = from_top ? EYE_BINS - 1 - k : k;
        seen += h[(size_t)bin];
        if ((double)seen > limit)
            return (double)bin / EYE_BIN_STEPS;
    }
    return fallback;
}

SignalFigures signal_figures(const SignalAccum &a)
{
    SignalFigures f;
    if (a.levels.runin_blocks == 0)
        return f;
    f.valid = true;
    double n = (double)a.levels.runin_blocks;
    f.crest_mean = a.crest_sum / n;
    double var = a.crest_sq / n - f.crest_mean * f.crest_mean;
    f.crest_spread = var > 0 ? sqrt(var) : 0;
    level_sums_figures(a.levels, &f.runin_level, &f.blanking, &f.noise_sigma);
    f.swing = f.runin_level - f.blanking;
    f.threshold = (f.runin_level + f.blanking) / 2;
    if (a.eye_blocks > 0 && f.swing > 0) {
        f.eye_valid = true;
        // A pair of all ones or all zeros leaves one side unmeasured: the
        // eye is then bounded by the threshold on that side.
        double one = a.lowest_one < 1e8 ? a.lowest_one : f.threshold;
        double zero = a.highest_zero > -1e8 ? a.highest_zero : f.threshold;
        double open = (one - zero) / f.swing;
        f.eye_opening = open > 0 ? open : 0;
        double one99 = percentile_level(a.ones, 0.01, false, f.threshold);
        double zero99 = percentile_level(a.zeros, 0.01, true, f.threshold);
        double open99 = (one99 - zero99) / f.swing;
        f.eye_opening_p99 = open99 > 0 ? (open99 < 1 ? open99 : 1) : 0;
    }
    if (f.noise_sigma > 0 && f.swing > 0) {
        f.snr_valid = true;
        f.snr_db = 20 * log10(f.swing / f.noise_sigma);
    }
    return f;
}

// --- eye diagram -----------------------------------------------------------

void eye_add(EyeAccum *e, const uint8_t *line, const RunIn &r)
{
    if (e->blocks++ % e->stride != 0)
        return;
    const uint32_t weight = e->stride;
    if (++e->drawn == EYE_MAX_BLOCKS) {
        e->stride *= 2;
        e->drawn = EYE_MAX_BLOCKS / 2;
    }
    const double per_pixel = 2 * CAPTION_BIT / EYE_WIDTH;
    uint32_t *hits = e->hits.data();
    for (int k = 0; k < DATA_BITS; k++) {
        double t0 = bit_centre(r, k) - CAPTION_BIT;
        // Within the line, the level between two samples is interpolated
        // directly; at its ends line_level_at holds the end sample.
        bool inside = t0 >= 0 && t0 + 2 * CAPTION_BIT + 1 < VBI_LINE_SIZE - 1;
        int prev = -1;
        double pos = t0 + 0.5 * per_pixel;
        for (int x = 0; x < EYE_WIDTH; x++, pos += per_pixel) {
            double v;
            if (inside) {
                int i = (int)pos;
                v = line[i] + (pos - i) * (line[i + 1] - line[i]);
            } else {
                v = line_level_at(line, pos);
            }
            int y = EYE_HEIGHT - 1 - (int)(v + 0.5);
            y = y < 0 ? 0 : y >= EYE_HEIGHT ? EYE_HEIGHT - 1 : y;
            // A steep edge passes several levels between two columns: the
            // trace covers them all, so that edges show as lines.
            int a = y, b = y;
            if (prev >= 0) {
                if (prev < y)
                    a = prev + 1;
                else if (prev > y)
                    b = prev - 1;
            }
            for (int yy = a; yy <= b; yy++)
                hits[(size_t)yy * EYE_WIDTH + (size_t)x] += weight;
            prev = y;
        }
    }
}

// --- waterfall ---------------------------------------------------------------

void waterfall_add(Waterfall *w, const uint8_t *line, const uint8_t prog[3], uint8_t counter)
{
    long b = w->blocks++;
    if (b % w->step == 0 && w->rows == w->max_rows) {
        // Full: keep every second row, each now standing for twice the
        // blocks, with the marks of both.  The rows held max_rows (even)
        // times the old step, so this block starts a row of the new step.
        int half = w->rows / 2;
        for (int r = 0; r < half; r++) {
            memmove(&w->samples[(size_t)r * WATERFALL_SAMPLES], &w->samples[(size_t)2 * r * WATERFALL_SAMPLES],
                    WATERFALL_SAMPLES);
            for (int k = 0; k < 4; k++)
                w->marks[(size_t)r * 4 + k] = w->marks[(size_t)2 * r * 4 + k] | w->marks[(size_t)(2 * r + 1) * 4 + k];
        }
        w->rows = half;
        w->step *= 2;
    }
    if (b % w->step != 0) {
        // Not a kept block: its marks go to the row that stands for it.
        uint8_t *m = &w->marks[(size_t)(w->rows - 1) * 4];
        for (int p = 0; p < 3; p++)
            m[p] |= prog[p];
        m[3] |= counter;
        return;
    }
    if (w->samples.size() < (size_t)w->max_rows * WATERFALL_SAMPLES) {
        w->samples.resize((size_t)w->max_rows * WATERFALL_SAMPLES);
        w->marks.resize((size_t)w->max_rows * 4);
    }
    memcpy(&w->samples[(size_t)w->rows * WATERFALL_SAMPLES], line, WATERFALL_SAMPLES);
    uint8_t *m = &w->marks[(size_t)w->rows * 4];
    for (int p = 0; p < 3; p++)
        m[p] = prog[p];
    m[3] = counter;
    w->rows++;
}

// --- refusals ----------------------------------------------------------------

static void keep_longest(RefusalRuns *r, const RefusalRun &run)
{
    // Longest first; of two equal runs the earlier stays ahead.
    int at = r->longest_n;
    while (at > 0 && r->longest[at - 1].count < run.count)
        at--;
    if (at >= LONGEST_RUNS)
        return;
    int last = r->longest_n < LONGEST_RUNS ? r->longest_n : LONGEST_RUNS - 1;
    for (int k = last; k > at; k--)
        r->longest[k] = r->longest[k - 1];
    r->longest[at] = run;
    if (r->longest_n < LONGEST_RUNS)
        r->longest_n++;
}

static void close_run(RefusalRuns *r)
{
    if (!r->open)
        return;
    if (r->runs.size() < RUNS_KEPT)
        r->runs.push_back(r->current);
    keep_longest(r, r->current);
    r->open = false;
}

void refusal_add(RefusalRuns *r, uint64_t block, bool refused, const char *cause)
{
    if (r->open && (!refused || strcmp(r->current.cause, cause) != 0))
        close_run(r);
    if (!refused)
        return;
    if (!r->open) {
        r->open = true;
        r->total++;
        r->current = RefusalRun();
        r->current.first_block = block;
        r->current.cause = cause;
    }
    r->current.last_block = block;
    r->current.count++;
}

std::vector<RefusalRun> refusal_list(const RefusalRuns &r)
{
    RefusalRuns copy = r;
    close_run(&copy);
    return copy.runs;
}

std::vector<RefusalRun> refusal_longest(const RefusalRuns &r)
{
    RefusalRuns copy;
    for (int k = 0; k < r.longest_n; k++)
        copy.longest[k] = r.longest[k];
    copy.longest_n = r.longest_n;
    if (r.open)
        keep_longest(&copy, r.current);
    return std::vector<RefusalRun>(copy.longest, copy.longest + copy.longest_n);
}

// --- the three caption programs -----------------------------------------

const char *const DecoderNames[DECODERS] = {CaptionPrograms[PROG_CAPTEXT].name, CaptionPrograms[PROG_CAPSCOPE].name,
                                            CaptionPrograms[PROG_RUNIN].name, "integrating"};

const char *integrating_cause_name(IntegratingCause c)
{
    switch (c) {
    case INTEGRATING_OK: return "read";
    case INTEGRATING_NO_RUNIN: return "no run-in";
    case INTEGRATING_START_BIT: return "no start bit";
    case INTEGRATING_PARITY: return "parity";
    case INTEGRATING_WEAK: return "too weak";
    }
    return "?";
}

const char *program_refusal_cause(bool flat, bool runin)
{
    return flat ? "no signal" : !runin ? "no run-in" : "no pair";
}

bool program_skips_counters(int which)
{
    // A block rule that refuses a run of steadily rising counters skips
    // some of them for good; the others only skip faults.
    ProgramBlockState st;
    program_block_state_init(&st);
    for (uint32_t c = 1; c <= 4; c++)
        if (!CaptionPrograms[which].takes_block(&st, c))
            return true;
    return false;
}

bool program_init(ProgramRun *p, int which)
{
    p->program = &CaptionPrograms[which];
    p->out = open_memstream(&p->text, &p->text_size);
    if (!p->out)
        return false;
    // No ticker, which only ever receives what the caption line receives.
    caption_assembler_init(&p->assembler, p->program->flush_after, nullptr, 0);
    p->assembler.out = p->out;
    p->handled = p->decoded = p->refused = 0;
    program_block_state_init(&p->state);
    p->left_smoothed = false;
    p->end_pass = "none";
    p->refusals = RefusalRuns();
    return true;
}

void program_free(ProgramRun *p)
{
    if (p->out)
        fclose(p->out);
    free(p->text);
    p->out = nullptr;
    p->text = nullptr;
}

int program_block(ProgramRun *p, const uint8_t *block, int n, CaptionWord *sliced)
{
    // A new read: whatever the program left in its buffer is gone.
    p->left_smoothed = false;
    if (sliced)
        *sliced = 0;
    if (!p->program->takes_block(&p->state, vbi_frame_counter(block)))
        return 0;
    memcpy(p->left_line, block + n * VBI_LINE_SIZE, VBI_LINE_SIZE);
    CaptionWord word = p->program->slice(p->left_line);
    if (sliced)
        *sliced = word;
    p->left_smoothed = p->program->changes_line;
    p->handled++;
    add_word(&p->assembler, word);
    if (word) {
        p->decoded++;
        return ROW_DECODED;
    }
    p->refused++;
    return ROW_REFUSED;
}

void program_end_pass(ProgramRun *p, const uint8_t *buffer, size_t trailing, int n)
{
    const size_t base = (size_t)n * VBI_LINE_SIZE;
    if (!p->program->takes_block(&p->state, vbi_frame_counter(buffer))) {
        p->end_pass = "not handled";
        return;
    }
    // capscope's buffer still holds its smoothed line where the short read
    // did not reach.
    uint8_t line[VBI_LINE_SIZE];
    for (size_t j = 0; j < VBI_LINE_SIZE; j++)
        line[j] = p->left_smoothed && base + j >= trailing ? p->left_line[j] : buffer[base + j];
    CaptionWord word = p->program->slice(line);
    add_word(&p->assembler, word);
    p->end_pass = word ? "decoded" : "refused";
}

std::vector<std::string> program_lines(const ProgramRun &p)
{
    std::vector<std::string> lines;
    fflush(p.out);  // brings text and text_size up to date
    size_t start = 0;
    for (size_t i = 0; i < p.text_size; i++)
        if (p.text[i] == '\n') {
            lines.emplace_back(p.text + start, i - start);
            start = i + 1;
        }
    return lines;
}

// --- the whole scan --------------------------------------------------------

bool scan_init(Scan *s, const ScanOptions &opt)
{
    s->opt = opt;
    for (int p = 0; p < PROGRAMS; p++)
        if (!program_init(&s->programs[p], p))
            return false;
    if (opt.pictures) {
        s->mean_sum.assign(VBI_BLOCK_SIZE, 0);
        s->mean_total.assign(VBI_BLOCK_SIZE, 0);
        s->env_min.assign(VBI_BLOCK_SIZE, 255);
        s->env_max.assign(VBI_BLOCK_SIZE, 0);
    }
    return true;
}

void scan_free(Scan *s)
{
    for (int p = 0; p < PROGRAMS; p++)
        program_free(&s->programs[p]);
}

// Sums of at most this many blocks fit 16 bits per sample (257 x 255 is
// 65535); narrow sums halve the memory every block passes through.
static const uint64_t MEAN_FOLD = 257;

static void accumulate_block(Scan *s, const uint8_t *block)
{
    uint16_t *sum = s->mean_sum.data();
    uint8_t *lo = s->env_min.data(), *hi = s->env_max.data();
    for (size_t i = 0; i < VBI_BLOCK_SIZE; i++) {
        uint8_t v = block[i];
        sum[i] += v;
        lo[i] = v < lo[i] ? v : lo[i];
        hi[i] = v > hi[i] ? v : hi[i];
    }
    if (++s->mean_blocks == MEAN_FOLD) {
        for (size_t i = 0; i < VBI_BLOCK_SIZE; i++) {
            s->mean_total[i] += sum[i];
            sum[i] = 0;
        }
        s->mean_blocks = 0;
    }
}

void scan_block(Scan *s, const uint8_t *block)
{
    const int n = s->opt.line;
    const uint64_t index = s->counter.blocks;
    const uint32_t from = s->counter.last, to = vbi_frame_counter(block);
    CounterEvent ev = counter_add(&s->counter, to);
    if (ev == COUNTER_GAP || ev == COUNTER_REPEAT || ev == COUNTER_BACKWARD) {
        if (s->faults.size() < EVENTS_KEPT)
            s->faults.push_back({ev, index, from, to});
        s->fault_count++;
    }
    if (index / BLOCKS_PER_SECOND >= s->timeline.size())
        s->timeline.emplace_back();
    Second &sec = s->timeline.back();
    sec.blocks++;

    // The studied line: the programs and the integrating slicer first, so
    // that what they read counts for the line's verdict and the eye.
    const uint8_t *studied = block + (size_t)n * VBI_LINE_SIZE;
    uint8_t prog[PROGRAMS];
    CaptionWord words[PROGRAMS];
    for (int p = 0; p < PROGRAMS; p++)
        prog[p] = (uint8_t)program_block(&s->programs[p], block, n, &words[p]);
    IntegratingResult ir;
    CaptionWord iword = IntegratingSlicer(studied, &ir);
    IntegratingRun &ig = s->integrating;
    ig.handled++;
    ig.decoded += iword != 0;
    ig.refused += iword == 0;
    if (!iword)
        ig.causes[ir.cause]++;
    refusal_add(&ig.refusals, index, iword == 0, integrating_cause_name(ir.cause));

    bool studied_flat = true, studied_runin = false;
    for (int k = 0; k < VBI_LINES; k++) {
        const uint8_t *line = block + k * VBI_LINE_SIZE;
        int samples = line_samples(k);
        LineLevels lv = line_levels(line, samples);
        bool runin = false, decoded = false;
        RunIn r;
        // A line flatter than a run-in's smallest swing cannot carry one.
        bool flat = lv.max - lv.min < 2 * MIN_AMPLITUDE;
        if (!flat && find_runin(line, &r)) {
            runin = true;
            // A slicer reads the line when its pair is the one the run-in's
            // timing puts there: a slicer that times the line wrongly can
            // still find a pair whose parity holds.
            uint32_t sums[DATA_BITS];
            bool inside = bit_window_sums(line, r, sums);
            CaptionWord expected = inside ? runin_reading(sums, r) : 0;
            if (k == n) {
                for (int p = 0; p < PROGRAMS; p++)
                    decoded |= expected && words[p] == expected;
                // The eye needs the pair sent; any decoder's reading will do.
                CaptionWord word = iword;
                for (int p = 0; p < PROGRAMS && !word; p++)
                    word = words[p];
                signal_add(&s->signal, line, r, word, inside ? sums : nullptr);
                level_sums_add(&sec.levels, line, r);
                if (s->opt.pictures && word)
                    eye_add(&s->eye, line, r);
            } else {
                decoded = slicers_read(line, expected);
            }
        }
        if (k == n) {
            studied_flat = flat;
            studied_runin = runin;
        }
        line_accum_add(&s->lines[k], lv, samples, runin, decoded);
    }
    const char *cause = program_refusal_cause(studied_flat, studied_runin);
    for (int p = 0; p < PROGRAMS; p++) {
        if (prog[p] == 0)
            continue;
        sec.handled[p]++;
        sec.decoded[p] += prog[p] == ROW_DECODED;
        refusal_add(&s->programs[p].refusals, index, prog[p] == ROW_REFUSED, cause);
    }
    sec.handled[INTEGRATING]++;
    sec.decoded[INTEGRATING] += iword != 0;
    if (s->opt.pictures) {
        uint8_t cm = ev == COUNTER_GAP ? ROW_GAP : ev == COUNTER_REPEAT ? ROW_REPEAT
                   : ev == COUNTER_BACKWARD ? ROW_BACKWARD : 0;
        waterfall_add(&s->waterfall, block + n * VBI_LINE_SIZE, prog, cm);
        accumulate_block(s, block);
    }
}

void scan_end(Scan *s, const uint8_t *buffer, size_t trailing)
{
    s->trailing_bytes = trailing;
    if (s->counter.blocks == 0)
        return;
    for (int p = 0; p < PROGRAMS; p++)
        program_end_pass(&s->programs[p], buffer, trailing, s->opt.line);
}

std::vector<double> scan_mean_block(const Scan &s)
{
    std::vector<double> mean(VBI_BLOCK_SIZE, 0);
    if (s.counter.blocks == 0 || s.mean_sum.empty())
        return mean;
    for (size_t i = 0; i < VBI_BLOCK_SIZE; i++)
        mean[i] = (double)(s.mean_total[i] + s.mean_sum[i]) / (double)s.counter.blocks;
    return mean;
}
