#include "integrating_slicer.h"
#include "vbi.h"

#include <cmath>
#include <cstdint>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// The caption clock at the device's 28.636 MHz sample clock: one bit, and
// one run-in cycle, is 56.875 = 455 / 8 samples, so the clock's phase at
// sample i is 2 pi (8 i mod 455) / 455 and repeats exactly every 455
// samples.
constexpr double BIT = CAPTION_BIT;
constexpr double PI = 3.14159265358979323846;
constexpr double OMEGA = 2 * PI / BIT;
// Division by the clock's angular step, as a multiplication.
constexpr double PER_OMEGA = 1 / OMEGA;

// Where the first run-in crest lies on a line with no timing offset, and
// how far the centre of the start bit lies after it.
constexpr double NOMINAL_CREST = CAPTION_FIRST_CREST;
constexpr double CREST_TO_START = CREST_TO_START_BIT + CAPTION_BIT / 2;

// The timing offsets searched, in samples against the nominal crest.
constexpr double EARLIEST = -72;
constexpr double LATEST = 68;

enum {
    RUNIN_CYCLES = CAPTION_RUNIN_CYCLES,
    // Every run-in in the searched range covers samples 113 to 370; the
    // clock's phase is first measured on the two and a half cycles in
    // their middle (nine groups of 16 samples), which is enough to place
    // the grid of cycles on which the candidates are then weighed, and
    // short enough that the rest of the line's chain of steps waits little
    // on it.  (Two cycles let heavy noise misplace the grid now and then.)
    COARSE_FROM = 169,
    COARSE_TO = 313,
    // The clock tables reach past the last sample of a third candidate
    // beyond the range (at most 141 + 7.5 cycles), and the samples beyond
    // that which the sums of a cycle read (and mask out): 64 in all.
    CLOCK_SAMPLES = 640,
    CLOCK_SCALE = 4096,
    // Samples integrated per bit, centred on the bit: the bit's edges and
    // a few samples of timing error stay outside.
    BIT_WINDOW = 54,
    CANDIDATES = 3,
    // Groups of 16 that cover the shared cycles (at most 285 samples).
    SHARED_GROUPS = 18,
    CYCLES = CANDIDATES + RUNIN_CYCLES - 1,  // spanned by the candidates together
};

// The chance of a wrong pair above which a line is refused.  Set so that
// no more than one line in 200 is decoded wrongly wherever the noise
// lies, also where it refuses most lines.
constexpr double WEAK_LIMIT = 0.01;
// The odds that the line's framing is one bit off, before the start bit
// and the gap bit are weighed: at most FRAMING, falling with how clearly
// the chosen run-in stands out from its neighbours a cycle away (its lead
// in score against the noise on the two levels, times FRAMING_GAIN).
constexpr double FRAMING = 1;
constexpr double FRAMING_GAIN = 2;
constexpr double STRAY_LIMIT = 8;  // in units of the noise on a bit
// Neighbouring thirds of a bit window share part of the band-limited
// noise across their boundary, so their spread reads the noise on a
// window about 4.5 % low (in variance, 9.4 %).
constexpr double NOISE_SPREAD = 1.094;
// On a noisy line the levels are taken from the bits as well as from the
// run-in; the run-in's fitted levels count as this many bits each.
constexpr double RUNIN_LEVEL_BITS = 3;
// The levels so found still carry noise of about a twenty-fifth of a
// bit's (in variance), which every decision shares.
constexpr double LEVEL_DOUBT = 1.04;
// Degrees of freedom of the measured noise: two for each window's thirds.
constexpr double DOF = 36;
// A level's own spread rests on the few windows of its kind; it is drawn
// toward the line's whole measure as if that were this many windows more.
constexpr double POOL = 10;
// Bits this many units of log-likelihood from the threshold cannot make a
// line weak however many there are.
constexpr double SURE = 6;

// --- the clock tables, made by the compiler -----------------------------

constexpr double cx_sin(double x)  // x in [-pi, pi]
{
    double term = x, sum = x;
    for (int n = 1; n < 20; n++) {
        term *= -x * x / ((2 * n) * (2 * n + 1));
        sum += term;
    }
    return sum;
}

constexpr double cx_cos(double x)
{
    double y = x + PI / 2;
    return cx_sin(y > PI ? y - 2 * PI : y);
}

struct ClockTables {
    int16_t c[CLOCK_SAMPLES], s[CLOCK_SAMPLES];      // cos, sin of the clock phase, scaled
    int32_t csum[CLOCK_SAMPLES + 1], ssum[CLOCK_SAMPLES + 1];  // running sums of c and s
    double inverse[CLOCK_SAMPLES + 1];  // 1 / n (0 for 0), so that means cost no division
};

constexpr ClockTables make_clock_tables()
{
    ClockTables t{};
    for (int i = 0; i < CLOCK_SAMPLES; i++) {
        double x = 2 * PI * ((8 * i) % 455) / 455.0;
        if (x > PI)
            x -= 2 * PI;
        double c = cx_cos(x) * CLOCK_SCALE, s = cx_sin(x) * CLOCK_SCALE;
        t.c[i] = (int16_t)(c < 0 ? c - 0.5 : c + 0.5);
        t.s[i] = (int16_t)(s < 0 ? s - 0.5 : s + 0.5);
        t.csum[i + 1] = t.csum[i] + t.c[i];
        t.ssum[i + 1] = t.ssum[i] + t.s[i];
        t.inverse[i + 1] = 1.0 / (i + 1);
    }
    return t;
}

constexpr ClockTables clock = make_clock_tables();

// --- sums over stretches of the line --------------------------------------

// What a sinusoid fit needs of samples [from, to): their count and sum,
// and their products with the clock's cosine and sine.
struct ClockSums {
    int n;
    int32_t sum, sc, ss;
};

#if defined(__SSE2__)
// The sums of the lanes of a, b and c at once (a 4 x 4 transposition),
// stored as whole numbers: one way out of the vector unit instead of three
// chains of shuffles and moves.
inline ClockSums lanes_sums(int n, __m128i a, __m128i b, __m128i c)
{
    __m128i ab = _mm_add_epi32(_mm_unpacklo_epi32(a, b), _mm_unpackhi_epi32(a, b));
    __m128i c0 = _mm_add_epi32(_mm_unpacklo_epi32(c, _mm_setzero_si128()), _mm_unpackhi_epi32(c, _mm_setzero_si128()));
    alignas(16) int32_t out[4];
    _mm_store_si128(reinterpret_cast<__m128i *>(out),
                    _mm_add_epi32(_mm_unpacklo_epi64(ab, c0), _mm_unpackhi_epi64(ab, c0)));
    return {n, out[0], out[1], out[2]};
}

inline __m128i clock_at(const int16_t *table, int i)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(table + i));
}

// Lane sums of a stretch: of its samples, and of their products with the
// clock's cosine and sine.
struct ClockLanes {
    __m128i sum, c, s;
};

// Adds the 16 samples from sample i on: their sum in one instruction,
// their products with the clock's cosine and sine in two each (widened to
// 16 bits, multiplied and added in pairs).
inline __attribute__((always_inline)) void add_group(ClockLanes *k, __m128i bytes, int i)
{
    const __m128i zero = _mm_setzero_si128();
    __m128i lo = _mm_unpacklo_epi8(bytes, zero), hi = _mm_unpackhi_epi8(bytes, zero);
    k->sum = _mm_add_epi32(k->sum, _mm_sad_epu8(bytes, zero));
    k->c = _mm_add_epi32(k->c, _mm_add_epi32(_mm_madd_epi16(lo, clock_at(clock.c, i)),
                                             _mm_madd_epi16(hi, clock_at(clock.c, i + 8))));
    k->s = _mm_add_epi32(k->s, _mm_add_epi32(_mm_madd_epi16(lo, clock_at(clock.s, i)),
                                             _mm_madd_epi16(hi, clock_at(clock.s, i + 8))));
}
#endif

inline __attribute__((always_inline)) ClockSums clock_sums(const uint8_t *s, int from, int to)
{
    int i = from;
#if defined(__SSE2__)
    // Sixteen samples at a time: the stretches summed here (the coarse
    // one) are whole groups.
    const __m128i zero = _mm_setzero_si128();
    ClockLanes lanes = {zero, zero, zero};
    for (; i + 16 <= to; i += 16)
        add_group(&lanes, _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + i)), i);
    return lanes_sums(to - from, lanes.sum, lanes.c, lanes.s);
#else
    int32_t sum = 0, sc = 0, ss = 0;
    for (; i < to; i++) {
        int16_t v = s[i];
        sum += v;
        sc += v * clock.c[i];
        ss += v * clock.s[i];
    }
    return {to - from, sum, sc, ss};
#endif
}

// The components of the samples along the clock's cosine and sine, after
// taking out their mean (a stretch of a fraction of a cycle sees the mean
// through the clock too), in levels times samples.
inline __attribute__((always_inline)) void clock_components(const ClockSums &k, int from, int to, double *ci, double *si)
{
    double mean = k.sum * clock.inverse[k.n];
    *ci = ((double)k.sc - mean * (clock.csum[to] - clock.csum[from])) / CLOCK_SCALE;
    *si = ((double)k.ss - mean * (clock.ssum[to] - clock.ssum[from])) / CLOCK_SCALE;
}

#if defined(__SSE2__)
// The lanes of clock_sums of a stretch of at most 64 samples, such as one
// cycle: always four groups of 16, the samples past its end masked out, so
// that neither loop nor branch follows the stretch's varying length.
inline __attribute__((always_inline)) ClockLanes cycle_lanes(const uint8_t *s, int from, int to)
{
    // Byte k of group g is kept when k + 16 g < to - from (at most 64).
    const __m128i zero = _mm_setzero_si128();
    const __m128i length = _mm_set1_epi8((char)(to - from));
    const __m128i index = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    ClockLanes k = {zero, zero, zero};
#pragma GCC unroll 4
    for (int g = 0; g < 4; g++) {
        int i = from + 16 * g;
        __m128i mask = _mm_cmpgt_epi8(length, _mm_add_epi8(index, _mm_set1_epi8((char)(16 * g))));
        add_group(&k, _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i *>(s + i)), mask), i);
    }
    return k;
}

// The sums of the lanes of each of a, b, c and d, in one vector.
inline __m128i lanes_sums4(__m128i a, __m128i b, __m128i c, __m128i d)
{
    __m128i ab = _mm_add_epi32(_mm_unpacklo_epi32(a, b), _mm_unpackhi_epi32(a, b));
    __m128i cd = _mm_add_epi32(_mm_unpacklo_epi32(c, d), _mm_unpackhi_epi32(c, d));
    return _mm_add_epi32(_mm_unpacklo_epi64(ab, cd), _mm_unpackhi_epi64(ab, cd));
}

// The lanes of clock_sums of the five cycles all run-in candidates share
// (284 or 285 samples): seventeen whole groups and a masked eighteenth.
inline __attribute__((always_inline)) ClockLanes shared_lanes(const uint8_t *s, int from, int to)
{
    const __m128i zero = _mm_setzero_si128();
    ClockLanes k = {zero, zero, zero};
    for (int g = 0; g < SHARED_GROUPS - 1; g++)
        add_group(&k, _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + from + 16 * g)), from + 16 * g);
    int i = from + 16 * (SHARED_GROUPS - 1);
    const __m128i index = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    __m128i mask = _mm_cmpgt_epi8(_mm_set1_epi8((char)(to - i)), index);
    add_group(&k, _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i *>(s + i)), mask), i);
    return k;
}
#endif

// floor(x) as a whole number, for the positions on a line (|x| below
// 2^20), without the library call that targets before SSE4.1 make of it:
// shifted to where truncation is floor, one conversion and no comparison
// on the line's chain of dependent steps.
inline int floor_int(double x)
{
    return (int)(x + 1048576.0) - 1048576;
}

// min and max in one instruction each (std::fmin and fmax, minding NaNs,
// are calls).
inline double lesser(double a, double b)
{
    return a < b ? a : b;
}

inline double greater(double a, double b)
{
    return a > b ? a : b;
}

enum { THIRD = BIT_WINDOW / 3 };

#if !defined(__SSE2__)
// The sum of a third of a bit window.
inline int sum_third(const uint8_t *p)
{
    int sum = 0;
    for (int i = 0; i < THIRD; i++)
        sum += p[i];
    return sum;
}
#endif

// The sum of the BIT_WINDOW samples from w on.
inline __attribute__((always_inline)) int window_sum(const uint8_t *w)
{
#if defined(__SSE2__)
    // Three groups of 16 and the last 6 of a fourth, summed at once.
    static_assert(BIT_WINDOW == 3 * 16 + 6, "a window is 54 samples");
    const __m128i zero = _mm_setzero_si128();
    const __m128i six = _mm_set_epi32(0, 0, 0xFFFF, -1);
    __m128i x = _mm_add_epi64(
        _mm_add_epi64(_mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(w)), zero),
                      _mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(w + 16)), zero)),
        _mm_add_epi64(_mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(w + 32)), zero),
                      _mm_sad_epu8(_mm_and_si128(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(w + 48)), six),
                                   zero)));
    return _mm_cvtsi128_si32(_mm_add_epi64(x, _mm_unpackhi_epi64(x, x)));
#else
    return sum_third(w) + sum_third(w + THIRD) + sum_third(w + 2 * THIRD);
#endif
}

// One bit integrated over the BIT_WINDOW samples around its centre c.  The
// window is summed in three thirds: on the flat top or bottom of a bit
// they differ only by noise, so their spread measures the noise that the
// bit's mean level carries, whatever the noise's bandwidth (as long as its
// correlation is short against a third).
struct BitRead {
    int sum;        // of the whole window
    int spread;     // 3 times the sum of squared deviations of the thirds' sums from their mean
};

inline __attribute__((always_inline)) BitRead read_bit(const uint8_t *w)
{
#if defined(__SSE2__)
    // The three groups of 16 summed at once and brought over from the
    // vector unit in two moves rather than six (the moves are what the
    // eighteen windows wait on), the 2 samples left of each third added
    // one by one.
    const __m128i zero = _mm_setzero_si128();
    auto sad = [&](int at) {
        return _mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(w + at)), zero);
    };
    __m128i x = sad(0), y = sad(THIRD), z = sad(2 * THIRD);
    __m128i xy = _mm_add_epi32(_mm_unpacklo_epi32(x, y), _mm_unpackhi_epi32(x, y));
    alignas(8) int32_t ab[2];
    _mm_storel_epi64(reinterpret_cast<__m128i *>(ab), xy);
    int a = ab[0] + w[16] + w[17];
    int b = ab[1] + w[THIRD + 16] + w[THIRD + 17];
    int d = _mm_cvtsi128_si32(_mm_add_epi32(z, _mm_unpackhi_epi64(z, z))) + w[2 * THIRD + 16] + w[2 * THIRD + 17];
#else
    int a = sum_third(w), b = sum_third(w + THIRD), d = sum_third(w + 2 * THIRD);
#endif
    int total = a + b + d;
    // sum (t - total/3)^2 = (3 sum t^2 - total^2) / 3, kept in whole
    // numbers: with thirds of at most 18 * 255, below 2^28.
    return {total, 3 * (a * a + b * b + d * d) - total * total};
}

// The 16 data bits as read against a threshold, and the extremes of the
// ones (the start bit among them) and of the zeros; with no zeros,
// min_zero and max_zero stay at the far ends of a window sum's range.
struct BitLevels {
    unsigned bits;
    int min_one, max_one, min_zero, max_zero;
};

#if defined(__SSE2__)
// The least and the greatest of eight 16-bit lanes, in every lane.
inline __m128i lanes_min(__m128i v)
{
    v = _mm_min_epi16(v, _mm_shuffle_epi32(v, 0x4E));
    v = _mm_min_epi16(v, _mm_shuffle_epi32(v, 0xB1));
    return _mm_min_epi16(v, _mm_shufflelo_epi16(v, 0xB1));
}

inline __m128i lanes_max(__m128i v)
{
    v = _mm_max_epi16(v, _mm_shuffle_epi32(v, 0x4E));
    v = _mm_max_epi16(v, _mm_shuffle_epi32(v, 0xB1));
    return _mm_max_epi16(v, _mm_shufflelo_epi16(v, 0xB1));
}
#endif

// Window sums are at most 54 * 255, so they fit 16 bits and the data bits
// are weighed eight at a time.  No branches: data bits are as random as
// the text.
inline __attribute__((always_inline)) BitLevels classify_bits(const int sums[17], int above)
{
    static_assert(BIT_WINDOW * 255 <= INT16_MAX, "window sums fit 16 bits");
#if defined(__SSE2__)
    auto at = [&](int i) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(sums + i)); };
    __m128i lo = _mm_packs_epi32(at(1), at(5)), hi = _mm_packs_epi32(at(9), at(13));
    __m128i thr = _mm_set1_epi16((int16_t)above);
    __m128i one_lo = _mm_cmpgt_epi16(lo, thr), one_hi = _mm_cmpgt_epi16(hi, thr);
    unsigned bits = (unsigned)_mm_movemask_epi8(_mm_packs_epi16(one_lo, one_hi));
    const __m128i top = _mm_set1_epi16(INT16_MAX), bottom = _mm_set1_epi16(INT16_MIN);
    // Each kind's lanes, the other kind's set where they cannot win.
    auto pick = [](__m128i mask, __m128i v, __m128i other) {
        return _mm_or_si128(_mm_and_si128(mask, v), _mm_andnot_si128(mask, other));
    };
    __m128i start = _mm_set1_epi16((int16_t)sums[0]);
    __m128i min1 = lanes_min(_mm_min_epi16(_mm_min_epi16(pick(one_lo, lo, top), pick(one_hi, hi, top)), start));
    __m128i max1 = lanes_max(_mm_max_epi16(_mm_max_epi16(pick(one_lo, lo, bottom), pick(one_hi, hi, bottom)), start));
    __m128i min0 = lanes_min(_mm_min_epi16(pick(one_lo, top, lo), pick(one_hi, top, hi)));
    __m128i max0 = lanes_max(_mm_max_epi16(pick(one_lo, bottom, lo), pick(one_hi, bottom, hi)));
    return {bits, (int16_t)_mm_cvtsi128_si32(min1), (int16_t)_mm_cvtsi128_si32(max1),
            (int16_t)_mm_cvtsi128_si32(min0), (int16_t)_mm_cvtsi128_si32(max0)};
#else
    BitLevels lv = {0, sums[0], sums[0], INT16_MAX, INT16_MIN};
    for (int b = 1; b < 17; b++) {
        int v = sums[b];
        bool one = v > above;
        lv.bits |= (unsigned)one << (b - 1);
        lv.min_one = one && v < lv.min_one ? v : lv.min_one;
        lv.max_one = one && v > lv.max_one ? v : lv.max_one;
        lv.min_zero = !one && v < lv.min_zero ? v : lv.min_zero;
        lv.max_zero = !one && v > lv.max_zero ? v : lv.max_zero;
    }
    return lv;
#endif
}

// atan2(y, x) to within 1e-8 radians (a thousandth of a millionth of a
// sample of the clock), without the library's care for every corner of
// the plane: the arctangent of the smaller over the larger component as an
// odd polynomial on [0, 1], then placed in its octant.
double phase_angle(double y, double x)
{
    double ax = std::fabs(x), ay = std::fabs(y);
    double lo = ax < ay ? ax : ay, hi = ax < ay ? ay : ax;
    double t = lo / hi;  // the caller makes sure not both are 0
    // The polynomial in t^2 is evaluated in pairs of terms (Estrin's
    // scheme) rather than term by term: a third of the chain of dependent
    // multiplications, and the line's timing waits on this twice.
    double t2 = t * t, t4 = t2 * t2, t8 = t4 * t4;
    double p01 = 0.9999993329 + t2 * -0.3332985605, p23 = 0.1994653599 + t2 * -0.1390853351;
    double p45 = 0.0964200441 + t2 * -0.0559098861, p67 = 0.0218612288 + t2 * -0.0040540580;
    double a = t * ((p01 + t4 * p23) + t8 * (p45 + t4 * p67));
    // Into the octant by arithmetic rather than branches, which the
    // random phases of the lines would make the processor guess wrongly.
    double steep = ay > ax, back = x < 0;
    a += steep * (PI / 2 - 2 * a);
    a += back * (PI - 2 * a);
    return std::copysign(a, y);
}

// The crest of the clock with phase (ci, si) nearest to crest m of a clock
// whose crests lie at p0 + m cycles (p0 within half a cycle of 0, like
// the phase itself, so they lie less than a cycle apart: whole
// comparisons, no division and floor).
double crest_near(double ci, double si, double p0, int m)
{
    double p = phase_angle(si, ci) * PER_OMEGA, d = p0 - p;
    return p + BIT * (m + (d >= BIT / 2) - (d < -BIT / 2));
}

int odd_parity(unsigned byte)
{
    return __builtin_popcount(byte & 0xFF) & 1;
}

// The first crest is searched from here to here.
constexpr double FIRST_CREST_LO = NOMINAL_CREST + EARLIEST;
constexpr double FIRST_CREST_HI = NOMINAL_CREST + LATEST;


// The chance that the pair decided is wrong, from the log-likelihood
// ratios (one against zero) of the start bit, the 16 data bits and the
// gap; the bits as read come in, the pair decided goes out.
//
// e = exp(-|L|) are the odds that a bit was read wrongly.  A byte that
// passes the parity check yet is wrong has an even number of bits read
// wrongly, most likely two: the sum of e_j e_k over its pairs of bits.  A
// byte that fails it has an odd number, most likely one, and most likely
// the one nearest the threshold: that bit is turned over, and the byte is
// wrong when another bit was the wrong one, with chance
// (sum of e - e_weakest) / sum of e.  A line's framing one bit off shows
// as a weak start bit or gap bit.
double pair_doubt(const double llr[17], double gap, double framing, unsigned *bits)
{
    double doubt = framing * (std::exp(lesser(-llr[0], 40)) + std::exp(lesser(gap, 40)));
    for (int byte = 0; byte < 2; byte++) {
        double e1 = 0, e2 = 0, weakest = 0;
        int at = 0;
        for (int b = 0; b < 8; b++) {
            // Beyond 40 the bit's share is nothing against the limit.
            double l = std::fabs(llr[1 + byte * 8 + b]);
            double e = l > 40 ? 0 : std::exp(-l);
            e1 += e;
            e2 += e * e;
            at = e > weakest ? b : at;
            weakest = e > weakest ? e : weakest;
        }
        if (odd_parity(*bits >> (8 * byte))) {
            doubt += (e1 * e1 - e2) / 2;
        } else {
            *bits ^= 1u << (8 * byte + at);
            doubt += e1 > 0 ? (e1 - weakest) / e1 : 1;
        }
    }
    return doubt;
}

void refuse(IntegratingResult *r, IntegratingCause cause)
{
    if (r)
        r->cause = cause;
}

}  // namespace

CaptionWord IntegratingSlicer(const uint8_t *s, IntegratingResult *r)
{
    if (r)
        *r = IntegratingResult{};

    // The clock's phase where every run-in of the searched range lies: its
    // crests lie at p0 + m cycles for some whole m.
    static_assert((COARSE_TO - COARSE_FROM) % 16 == 0, "the coarse stretch is whole groups of 16");
    ClockSums coarse = clock_sums(s, COARSE_FROM, COARSE_TO);
    double ci, si;
    clock_components(coarse, COARSE_FROM, COARSE_TO, &ci, &si);
    if (ci == 0 && si == 0) {
        refuse(r, INTEGRATING_NO_RUNIN);
        return 0;
    }
    double p0 = phase_angle(si, ci) * PER_OMEGA;

    // Every crest of that clock from which a run-in may start: the searched
    // range is 140 samples, so two or three of them.  Three candidates are
    // always weighed, so that no branch or loop follows the line's timing;
    // a third beyond the range only loses.
    // (p0 lies within half a cycle of 0, so those are whole comparisons.)
    int m_lo = p0 < FIRST_CREST_LO ? 1 : 0;
    int m_hi = FIRST_CREST_HI - p0 >= 2 * BIT ? 2 : 1;
    int ncand = m_hi - m_lo + 1;
    if (ncand < 2 || ncand > CANDIDATES) {
        refuse(r, INTEGRATING_NO_RUNIN);
        return 0;
    }
    // The cycles the candidates span, on the grid of p0's crests: cycle j
    // holds samples [from[j], from[j + 1]) (the first clipped to the line).
    // (floor(c + j BIT) is floor((floor(8 c) + 455 j) / 8), as for the
    // bits below.)
    int eighths0 = floor_int(8 * (p0 + m_lo * BIT - BIT / 2 + 0.5));
    int from[CYCLES + 1];
#pragma GCC unroll 10
    for (int j = 0; j <= CYCLES; j++)
        from[j] = ((eighths0 + 8 * 1024 + 455 * j) >> 3) - 1024;

    // The run-in is the seven cycles that swing most in the clock's phase,
    // followed after the gap by a start bit that rises above the bit
    // before it.  Candidates lie whole cycles apart, so the cycles from
    // the last one's first to the first one's last belong to all of them
    // and cancel when they are compared: candidate k scores against
    // candidate 0 only the k cycles it adds at the end less the k it
    // leaves at the start.  Only those cycles are measured one by one.
    double norm = 1 / std::sqrt(ci * ci + si * si);
    double cos0 = ci * norm, sin0 = si * norm;  // of the clock's phase at p0
    static const int OWN[4] = {0, 1, RUNIN_CYCLES, RUNIN_CYCLES + 1};
    // The shared cycles are measured alongside: they wait on nothing but
    // the grid, as the candidates' own cycles do.
#if defined(__SSE2__)
    ClockLanes shared_k = shared_lanes(s, from[2], from[RUNIN_CYCLES]);
    ClockSums shared = lanes_sums(from[RUNIN_CYCLES] - from[2], shared_k.sum, shared_k.c, shared_k.s);
#else
    ClockSums shared = clock_sums(s, from[2], from[RUNIN_CYCLES]);
#endif
    ClockSums own[4];
    double inphase[4];
    int own_from[4], own_to[4];
    for (int o = 0; o < 4; o++) {
        int j = OWN[o];
        own_from[o] = from[j] < 0 ? 0 : from[j];
        own_to[o] = from[j + 1] < 0 ? 0 : from[j + 1];
    }
#if defined(__SSE2__)
    {
        // The four cycles side by side: their sums reduced by one
        // transposition each, their components two at a time.
        ClockLanes k[4];
        for (int o = 0; o < 4; o++)
            k[o] = cycle_lanes(s, own_from[o], own_to[o]);
        __m128i sum = lanes_sums4(k[0].sum, k[1].sum, k[2].sum, k[3].sum);
        __m128i sc = lanes_sums4(k[0].c, k[1].c, k[2].c, k[3].c);
        __m128i ss = lanes_sums4(k[0].s, k[1].s, k[2].s, k[3].s);
        alignas(16) int32_t v_sum[4], v_sc[4], v_ss[4];
        _mm_store_si128(reinterpret_cast<__m128i *>(v_sum), sum);
        _mm_store_si128(reinterpret_cast<__m128i *>(v_sc), sc);
        _mm_store_si128(reinterpret_cast<__m128i *>(v_ss), ss);
        const __m128d scale = _mm_set1_pd(1.0 / CLOCK_SCALE), vcos = _mm_set1_pd(cos0), vsin = _mm_set1_pd(sin0);
        for (int h = 0; h < 2; h++) {
            int o = 2 * h, a0 = own_from[o], b0 = own_to[o], a1 = own_from[o + 1], b1 = own_to[o + 1];
            auto pair = [&](__m128i v) { return _mm_cvtepi32_pd(h ? _mm_unpackhi_epi64(v, v) : v); };
            __m128d mean = _mm_mul_pd(pair(sum), _mm_setr_pd(clock.inverse[b0 - a0], clock.inverse[b1 - a1]));
            __m128d dc = _mm_cvtepi32_pd(_mm_setr_epi32(clock.csum[b0] - clock.csum[a0], clock.csum[b1] - clock.csum[a1], 0, 0));
            __m128d ds = _mm_cvtepi32_pd(_mm_setr_epi32(clock.ssum[b0] - clock.ssum[a0], clock.ssum[b1] - clock.ssum[a1], 0, 0));
            __m128d c = _mm_mul_pd(_mm_sub_pd(pair(sc), _mm_mul_pd(mean, dc)), scale);
            __m128d q = _mm_mul_pd(_mm_sub_pd(pair(ss), _mm_mul_pd(mean, ds)), scale);
            _mm_storeu_pd(inphase + o, _mm_add_pd(_mm_mul_pd(c, vcos), _mm_mul_pd(q, vsin)));
        }
        for (int o = 0; o < 4; o++)
            own[o] = {own_to[o] - own_from[o], v_sum[o], v_sc[o], v_ss[o]};
    }
#else
    for (int o = 0; o < 4; o++) {
        own[o] = clock_sums(s, own_from[o], own_to[o]);
        double c, q;
        clock_components(own[o], own_from[o], own_to[o], &c, &q);
        inphase[o] = c * cos0 + q * sin0;
    }
#endif
    // Candidates lie a bit apart, so each one's start bit is the bit
    // before the next one's.
    int start[CANDIDATES + 1];
    int start_eighths = floor_int(8 * (p0 + (m_lo - 1) * BIT + CREST_TO_START - BIT_WINDOW / 2.0 + 0.5));
    for (int k = 0; k <= CANDIDATES; k++)
        start[k] = window_sum(s + ((start_eighths + 455 * k) >> 3));
    double score1 = inphase[2] - inphase[0] + (start[2] - start[1]);
    double score2 = inphase[2] + inphase[3] - inphase[0] - inphase[1] + (start[3] - start[2]);
    double score0 = start[1] - start[0];
    int best = score1 > score0 ? 1 : 0;
    double best_score = score1 > score0 ? score1 : score0;
    best = ncand == 3 && score2 > best_score ? 2 : best;

    // The run-in's own phase, swing and mean level, fitted over its cycles
    // that lie whole inside the line (only the earliest candidate's first
    // cycle may not): the shared cycles and the candidate's own.
    ClockSums fit = shared;
    // The candidate's own cycles: 0 and 1 for the first, 1 and 7 for the
    // second, 7 and 8 for the third.
    bool use[4] = {best == 0 && from[0] >= 0, best <= 1, best >= 1, best == 2};
    for (int o = 0; o < 4; o++) {
        int w = use[o];
        fit.n += w * own[o].n;
        fit.sum += w * own[o].sum;
        fit.sc += w * own[o].sc;
        fit.ss += w * own[o].ss;
    }
    int fit_from = use[0] ? from[0] : use[1] ? from[1] : from[2];
    int fit_to = use[3] ? from[RUNIN_CYCLES + 2] : use[2] ? from[RUNIN_CYCLES + 1] : from[RUNIN_CYCLES];
    int cycles = RUNIN_CYCLES - (best == 0 && from[0] < 0);
    double fi, fq;
    clock_components(fit, fit_from, fit_to, &fi, &fq);
    int64_t n = fit.n, sum = fit.sum;
    if (cycles < 4 || (fi == 0 && fq == 0)) {
        refuse(r, INTEGRATING_NO_RUNIN);
        return 0;
    }
    double first = crest_near(fi, fq, p0, m_lo + best);
    double half = 2 * std::sqrt(fi * fi + fq * fq) * clock.inverse[n];
    double mid = (double)sum * clock.inverse[n];
    if (r) {
        r->first_crest = first;
        r->blanking = mid - half;
        r->crest = mid + half;
        r->threshold = mid;
        r->cycles = cycles;
    }
    if (half < 4) {
        refuse(r, INTEGRATING_NO_RUNIN);
        return 0;
    }

    // The start bit, then the 16 data bits, each integrated around its
    // centre; before the start bit the line rests at blanking.
    // The windows start at floor(base + k BIT) for the gap (k = 0), the
    // start bit (1) and the data bits (2 to 17); with BIT = 455/8 that is
    // floor((floor(8 base) + 455 k) / 8), in whole numbers.
    static_assert(BIT == 56 + 7 / 8.0, "a bit is 455/8 samples");
    double base = first + CREST_TO_START - BIT - BIT_WINDOW / 2.0 + 0.5;
    int eighths = floor_int(8 * base);  // base lies well inside the line
    int sums[17];     // of the start bit's and the data bits' windows
    int spreads[17];  // and their thirds' spreads
    BitRead gap = read_bit(s + (eighths >> 3));
    int64_t spread = gap.spread;
#pragma GCC unroll 17
    for (int b = 0; b < 17; b++) {
        int at = (eighths + 455 * (b + 1)) >> 3;
        BitRead k = read_bit(s + at);
        sums[b] = k.sum;
        spreads[b] = k.spread;
        spread += k.spread;
    }

    // From here on levels are window sums (BIT_WINDOW times the mean).  A
    // whole-number sum lies above the threshold exactly when it exceeds
    // the threshold's whole part.
    double mid_w = mid * BIT_WINDOW, half_w = half * BIT_WINDOW;
    int above = floor_int(mid_w);
    if (sums[0] <= above || gap.sum > above) {
        refuse(r, INTEGRATING_START_BIT);
        return 0;
    }
    // The bits as read, and the extremes of the ones (the start bit among
    // them) and of the zeros: how near the threshold the weakest bit lies,
    // and how far any bit strays from its level, follow from those.  No
    // branches: data bits are as random as the text.
    BitLevels lv = classify_bits(sums, above);
    unsigned bits = lv.bits;
    int min_one = lv.min_one, max_one = lv.max_one, min_zero = lv.min_zero, max_zero = lv.max_zero;
    double margin_w = lesser(min_one - mid_w, mid_w - max_zero);
    // Each window's thirds give two degrees of freedom of the noise on a
    // third's sum (18 windows: 36); a window's sum carries that noise three
    // times over (and spread holds three times the squared deviations).
    // (Kept squared: the decisions below need no root or division.)
    double noise2 = (double)spread / (2 * 18) / (BIT_WINDOW * BIT_WINDOW);
    if (r) {
        r->raw = (uint16_t)bits;
        r->margin = margin_w / BIT_WINDOW;
        r->noise = std::sqrt(noise2);
    }
    // A byte that fails the parity check is put right when one of its
    // bits lies so much nearer the threshold than the others that it is
    // surely the one misread; otherwise the line is refused for parity.
    // A line that passes is refused as weak when the chance that two bits
    // of a byte were misread is above the limit.
    double sigma2 = noise2 * NOISE_SPREAD < 0.25 ? 0.25 : noise2 * NOISE_SPREAD;  // sigma at least half a level
    double gain = 2 * half / sigma2 / BIT_WINDOW;   // per unit of window sum
    bool parity_ok = odd_parity(bits) && odd_parity(bits >> 8);
    // Every term is at most exp(-gain * least), the weakest bit's: when
    // that leaves the sum below the limit (2 FRAMING e^-6 + 56 e^-12 is
    // 0.0053), as on nearly every line, the sum need not be formed.
    double least_w = lesser(mid_w - gap.sum, margin_w);
    double doubt = 0;
    if (!parity_ok || gain * least_w < SURE) {
        // On a noisy line the run-in's levels, fitted on a few hundred
        // samples, still carry noise that moves every bit's decision the
        // same way.  The bits themselves tell the two levels as well: the
        // windows read as ones (the start bit among them) and as zeros
        // (the gap among them), each level weighed with the run-in's as
        // the samples each rests on.  The bits are read again against the
        // threshold between them.
        double ones_w = RUNIN_LEVEL_BITS * (mid_w + half_w) + sums[0];
        double zeros_w = RUNIN_LEVEL_BITS * (mid_w - half_w) + gap.sum;
        // The noise of each level apart: a signal clipped at the
        // sampler's range, or noise that grows with the level, spreads
        // the ones and the zeros differently.  Each kind's spread is drawn
        // toward the line's whole measure, as it rests on fewer windows.
        double ones_sp = spreads[0], zeros_sp = gap.spread;
        int ones = 1 + __builtin_popcount(bits);
        for (int b = 0; b < 16; b++) {
            bool one = bits >> b & 1;
            ones_w += one ? sums[1 + b] : 0;
            zeros_w += one ? 0 : sums[1 + b];
            ones_sp += one ? spreads[1 + b] : 0;
            zeros_sp += one ? 0 : spreads[1 + b];
        }
        int zeros = 18 - ones;
        double hi = ones_w / (RUNIN_LEVEL_BITS + ones), lo = zeros_w / (RUNIN_LEVEL_BITS + zeros);
        if (hi - lo < 8 * BIT_WINDOW) {
            refuse(r, INTEGRATING_WEAK);
            return 0;
        }
        // Window-sum variances (a window's spread holds two degrees of
        // freedom), widened by the doubt left in the levels.
        double pooled = (double)spread / 18;
        double floor_w2 = 0.25 * BIT_WINDOW * BIT_WINDOW;
        double var1 = greater(NOISE_SPREAD * LEVEL_DOUBT * (ones_sp + POOL * pooled) / (2 * (ones + POOL)), floor_w2);
        double var0 = greater(NOISE_SPREAD * LEVEL_DOUBT * (zeros_sp + POOL * pooled) / (2 * (zeros + POOL)), floor_w2);
        // Neither level is taken as quieter than the line as a whole: a
        // level near the sampler's floor is clipped, which narrows its
        // spread but leaves a long tail toward the threshold.
        double line_var = NOISE_SPREAD * LEVEL_DOUBT * pooled / 2;
        var0 = greater(var0, line_var);
        var1 = greater(var1, line_var);
        double log_ratio = 0.5 * std::log(var1 / var0);
        // The noise is itself measured, on 36 degrees of freedom: a line
        // whose noise happens to read low would otherwise look surer than
        // it is.  Student's t with those degrees of freedom instead of the
        // normal law weighs that doubt in.
        auto llr = [&](double v) {
            return (DOF + 1) / 2 * (std::log1p((v - lo) * (v - lo) / (DOF * var0)) -
                                    std::log1p((v - hi) * (v - hi) / (DOF * var1))) - log_ratio;
        };
        double l[17];
        bits = 0;
        for (int b = 0; b < 17; b++) {
            l[b] = llr(sums[b]);
            bits |= b > 0 ? (unsigned)(l[b] > 0) << (b - 1) : 0;
        }
        parity_ok = odd_parity(bits) && odd_parity(bits >> 8);
        if (r)
            r->raw = (uint16_t)bits;
        // How clearly the run-in chosen stands out from its neighbours a
        // cycle earlier or later: the odds that the line's framing is a
        // bit off follow from it.
        const double scores[CANDIDATES] = {score0, score1, ncand == 3 ? score2 : -1e300};
        double runner_up = -1e300;
        for (int k = 0; k < CANDIDATES; k++)
            runner_up = k != best && scores[k] > runner_up ? scores[k] : runner_up;
        double lead = scores[best] - runner_up;
        double framing = FRAMING * std::exp(-FRAMING_GAIN * lead * (hi - lo) / (var0 + var1));
        doubt = pair_doubt(l, llr(gap.sum), framing, &bits);
    }
    if (r)
        r->doubt = doubt;
    if (doubt > WEAK_LIMIT) {
        refuse(r, parity_ok ? INTEGRATING_WEAK : INTEGRATING_PARITY);
        return 0;
    }
    // A bit far from both levels on an otherwise quiet line is no noise but
    // something else on the line (a misplaced edge, interference): it is
    // not trusted either way.  (Sums beyond the extremes of their kind lie
    // nearer their level than the extremes do.)
    double high_w = mid_w + half_w, low_w = mid_w - half_w;
    double stray_w = greater(greater(max_one - high_w, high_w - min_one), 0.0);
    if (bits != 0xFFFF)
        stray_w = greater(stray_w, greater(max_zero - low_w, low_w - min_zero));
    // (stray_w is not negative, so squares compare as the distances do.)
    double stray_limit_w2 = STRAY_LIMIT * STRAY_LIMIT * sigma2 * BIT_WINDOW * BIT_WINDOW;
    if (stray_w * stray_w > stray_limit_w2) {
        refuse(r, INTEGRATING_WEAK);
        return 0;
    }
    if (r) {
        r->corrected = __builtin_popcount(r->raw ^ bits);
        r->raw = (uint16_t)bits;
    }
    refuse(r, INTEGRATING_OK);
    return (CaptionWord)bits;
}
