#include "vbigen_core.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cli.h"
#include "gen_streams.h"
#include "vbi.h"

void gen_default_options(GenOptions *o)
{
    memset(o, 0, sizeof *o);
    o->signal.blank = 60;
    o->signal.data = 130;
    o->signal.noise = 0;
    o->signal.offset = 0;
    o->signal.edge = 6;
    o->signal.bit = CAPTION_BIT;
    o->line = VBI_CAPTION_LINE;
    o->counter_start = 1;
    o->counter_step = 1;
    o->repeat = 1;
    o->hold = 1;
    o->lead = 2;
    o->blocks = -1;
    // Resume caption loading, erase displayed memory, end of caption.
    o->controls[0] = 0x2014;
    o->controls[1] = 0x2C14;
    o->controls[2] = 0x2F14;
    o->ncontrols = 3;
    o->control_copies = 2;
    o->seed = 1;
}

static int odd_parity(int code)
{
    code &= 0x7F;
    return __builtin_popcount((unsigned)code) & 1 ? code : code | 0x80;
}

uint16_t gen_pair(int first, int second)
{
    return (uint16_t)(odd_parity(first) | odd_parity(second) << 8);
}

size_t gen_line_pairs(const char *s, size_t len, const GenOptions *o, uint16_t *out, size_t max)
{
    // Only the printable codes travel as text, a tab as a space; anything
    // else is dropped here (vbigen refuses such text before it comes here).
    size_t n = 0;
    int held = -1;  // a character waiting for the second half of its pair
    bool any = false;
    for (size_t i = 0; i < len && n < max; i++) {
        int c = s[i] == '\t' ? ' ' : (unsigned char)s[i];
        if (c < 0x20 || c >= 0x7F)
            continue;
        any = true;
        if (held < 0) {
            held = c;
        } else {
            out[n++] = gen_pair(held, c);
            held = -1;
        }
    }
    if (held >= 0 && n < max)
        out[n++] = gen_pair(held, 0);
    if (any)
        for (int c = 0; c < o->ncontrols; c++)
            for (int copy = 0; copy < o->control_copies && n < max; copy++)
                out[n++] = gen_pair(o->controls[c] & 0x7F, o->controls[c] >> 8);
    return n;
}

size_t gen_text_pairs(const char *text, const GenOptions *o, uint16_t *out, size_t max)
{
    size_t n = 0;
    const char *p = text;
    while (*p && n < max) {
        size_t len = strcspn(p, "\n");
        n += gen_line_pairs(p, len, o, out + n, max - n);
        p += len;
        if (*p == '\n')
            p++;
    }
    return n;
}

// A smooth step of length e centred on 0.
static double ramp(double x, double e)
{
    if (x <= -e / 2)
        return 0;
    if (x >= e / 2)
        return 1;
    return (1 - cos(M_PI * (x + e / 2) / e)) / 2;
}

// The level of the bit region at u (signal time): cells holds the start bit
// at bit 0 and the data bits above it.  Only the cells whose span, widened
// by half an edge, holds u contribute.
static double cells_level(double u, uint32_t cells, const GenSignal *s)
{
    double rel = u - CAPTION_START_BIT, half = s->edge / 2;
    if (rel <= -half || rel >= 17 * s->bit + half)
        return 0;
    int lo = (int)floor((rel - half) / s->bit), hi = (int)floor((rel + half) / s->bit);
    double level = 0;
    for (int j = lo < 0 ? 0 : lo; j <= hi && j < 17; j++) {
        if (!(cells >> j & 1))
            continue;
        double a = CAPTION_START_BIT + j * s->bit, b = a + s->bit;
        level += ramp(u - a, s->edge) - ramp(u - b, s->edge);
    }
    return level;
}

// The level of a caption signal carrying word at t, whatever the word: run-in,
// start bit and the 16 bits (all of them 0 for a pair of zero bytes).
static double signal_level(double t, uint16_t word, const GenSignal *s)
{
    double amp = s->data - s->blank;
    double u = t - s->offset;
    // Clock run-in: seven raised-cosine cycles, one per bit time, rising
    // from blanking to the data level and back.
    double runin_start = CAPTION_RUNIN_START, runin_end = CAPTION_RUNIN_START + 7 * s->bit;
    if (u >= runin_start && u < runin_end)
        return s->blank + amp * (1 - cos(2 * M_PI * (u - runin_start) / s->bit)) / 2;
    // Start bit (always 1) then the 16 data bits, NRZ with smooth edges.
    return s->blank + amp * cells_level(u, 1u | (uint32_t)word << 1, s);
}

double gen_level(double t, uint16_t word, const GenSignal *s)
{
    return word == 0 ? s->blank : signal_level(t, word, s);
}

void gen_noise_init(GenNoise *n, uint32_t seed)
{
    n->state = 0x9E3779B97F4A7C15ull ^ seed;
    for (double &t : n->taps)
        t = 0;
}

static double uniform(GenNoise *n)
{
    // xorshift64*
    n->state ^= n->state >> 12;
    n->state ^= n->state << 25;
    n->state ^= n->state >> 27;
    return ((n->state * 2685821657736338717ull) >> 11) * (1.0 / 9007199254740992.0);
}

// Gaussian noise through a four-sample moving average: about 4 MHz of
// bandwidth at this sample rate, like the video path in front of the
// sampler.  Scaled so that its standard deviation is 1.
static double band_limited(GenNoise *n)
{
    double u1 = uniform(n), u2 = uniform(n);
    double g = sqrt(-2 * log(u1 + 1e-300)) * cos(2 * M_PI * u2);
    n->taps[3] = n->taps[2];
    n->taps[2] = n->taps[1];
    n->taps[1] = n->taps[0];
    n->taps[0] = g;
    return (n->taps[0] + n->taps[1] + n->taps[2] + n->taps[3]) / 2;
}

static uint8_t to_sample(double v)
{
    long r = lround(v);
    return (uint8_t)(r < 0 ? 0 : r > 255 ? 255 : r);
}

// Lines of one signal share most of their work, which is worth keeping
// between calls (rendering in floating point is slow where the FPU is
// emulated): everything before the start bit is the same on every line,
// and in the bit region a sample depends only on its own bit cell and the
// cells beside it, so a clean sample is one of eight precomputed values.
enum { NO_CELL = -128 };
struct LineCache {
    GenSignal signal;
    bool valid;
    int start;                          // first sample that a bit can reach
    double level[VBI_LINE_SIZE];        // levels before the start bit
    int8_t cell[VBI_LINE_SIZE];         // bit cell of a sample, or NO_CELL
    uint8_t clean[VBI_LINE_SIZE][8];    // by the bits of cells j-1, j, j+1
    double exact[VBI_LINE_SIZE][8];     // the same before rounding, for noise
};
static LineCache cache;

static void cache_signal(const GenSignal *s)
{
    if (cache.valid && memcmp(&cache.signal, s, sizeof *s) == 0)
        return;
    cache.signal = *s;
    cache.valid = true;
    double half = s->edge / 2;
    int start = (int)floor(CAPTION_START_BIT - half + s->offset) + 1;
    cache.start = start < 0 ? 0 : start > VBI_LINE_SIZE ? VBI_LINE_SIZE : start;
    for (int i = 0; i < cache.start; i++)
        cache.level[i] = signal_level(i, 0x8080, s);
    for (int i = cache.start; i < VBI_LINE_SIZE; i++) {
        double rel = i - s->offset - CAPTION_START_BIT;
        if (rel >= 17 * s->bit + half) {
            cache.cell[i] = NO_CELL;
            continue;
        }
        int j = (int)floor(rel / s->bit);
        cache.cell[i] = (int8_t)j;
        for (uint32_t c = 0; c < 8; c++) {
            uint32_t cells = 0;
            for (int k = 0; k < 3; k++)
                if (c >> (2 - k) & 1 && j - 1 + k >= 0)
                    cells |= 1u << (j - 1 + k);
            cache.exact[i][c] = s->blank + (s->data - s->blank) * cells_level(i - s->offset, cells, s);
            cache.clean[i][c] = to_sample(cache.exact[i][c]);
        }
    }
}

void gen_render_signal(uint8_t *line, uint16_t word, const GenSignal *s, GenNoise *noise)
{
    cache_signal(s);
    uint32_t cells = 1u | (uint32_t)word << 1;
    for (int i = 0; i < VBI_LINE_SIZE; i++) {
        double v;
        if (i < cache.start) {
            v = cache.level[i];
        } else if (cache.cell[i] == NO_CELL) {
            v = s->blank;
        } else {
            int j = cache.cell[i];
            uint32_t around = j >= 1 ? cells >> (j - 1) : cells << (1 - j);
            int k = (around & 1) << 2 | (around & 2) | (around >> 2 & 1);
            if (s->noise <= 0) {
                line[i] = cache.clean[i][k];
                continue;
            }
            v = cache.exact[i][k];
        }
        line[i] = to_sample(s->noise > 0 ? v + s->noise * band_limited(noise) : v);
    }
}

void gen_render_line(uint8_t *line, uint16_t word, const GenSignal *s, GenNoise *noise)
{
    if (word == 0) {
        for (int i = 0; i < VBI_LINE_SIZE; i++)
            line[i] = to_sample(s->blank + (s->noise > 0 ? s->noise * band_limited(noise) : 0));
        return;
    }
    gen_render_signal(line, word, s, noise);
}

uint32_t gen_counter(const GenOptions *o, int64_t frame)
{
    // The driver's counter is 32 bits wide and wraps; so does this one.
    uint32_t c = o->counter_start + (uint32_t)frame * o->counter_step;
    if (o->gap_every > 0)
        c += (uint32_t)(frame / o->gap_every) * o->gap;
    return c;
}

void gen_render_block(uint8_t *block, uint16_t word, int64_t frame, const GenOptions *o, GenNoise *noise)
{
    // Lines without captions sit at blanking; only the caption line carries
    // noise, which is where the slicers look.
    memset(block, (int)lround(o->signal.blank), VBI_BLOCK_SIZE);
    gen_render_line(block + o->line * VBI_LINE_SIZE, word, &o->signal, noise);
    vbi_set_frame_counter(block, gen_counter(o, frame));
}

uint16_t gen_frame_word(const GenOptions *o, const uint16_t *pairs, size_t npairs, int64_t frame)
{
    int64_t slot = frame / (o->hold > 0 ? o->hold : 1);
    if (slot < o->lead || npairs == 0)
        return gen_pair(0, 0);
    return pairs[(uint64_t)(slot - o->lead) % npairs];
}

int64_t gen_stream_blocks(const GenOptions *o, size_t npairs)
{
    if (o->blocks >= 0)
        return o->blocks;
    return ((int64_t)o->lead + (int64_t)npairs) * (o->hold > 0 ? o->hold : 1) * (o->repeat > 0 ? o->repeat : 1);
}

int64_t gen_stream_frames(const GenOptions *o, int64_t total, GenRenderFrame render, const void *src, GenPut put,
                          void *ctx)
{
    static uint8_t block[VBI_BLOCK_SIZE];
    GenNoise noise;
    gen_noise_init(&noise, o->seed);
    int64_t done = 0;
    int repeat = o->repeat > 0 ? o->repeat : 1;
    // A frame delivered again keeps its samples and its counter; with a
    // block count that is not a whole number of frames the last frame is
    // cut short.
    for (int64_t frame = 0; done < total; frame++) {
        render(block, frame, src, &noise);
        for (int r = 0; r < repeat && done < total; r++, done++)
            if (!put(block, ctx))
                return done;
    }
    return done;
}

// The plain stream's pairs and options, for its frame renderer.
struct PlainSource {
    const GenOptions *o;
    const uint16_t *pairs;
    size_t npairs;
};

static void render_plain(uint8_t *block, int64_t frame, const void *src, GenNoise *noise)
{
    const PlainSource *p = (const PlainSource *)src;
    gen_render_block(block, gen_frame_word(p->o, p->pairs, p->npairs, frame), frame, p->o, noise);
}

int64_t gen_stream(const GenOptions *o, const uint16_t *pairs, size_t npairs, GenPut put, void *ctx)
{
    PlainSource src = {o, pairs, npairs};
    return gen_stream_frames(o, gen_stream_blocks(o, npairs), render_plain, &src, put, ctx);
}

static const char *refuse(GenArgs *a, const std::string &why)
{
    snprintf(a->error, sizeof a->error, "%s", why.c_str());
    return a->error;
}

template <typename T>
static const char *parse_int(GenArgs *a, const char *opt, const char *s, long long lo, long long hi, T *out)
{
    long long v = 0;
    std::string why;
    if (!cli_whole(opt, s, lo, hi, &v, &why))
        return refuse(a, why);
    *out = (T)v;
    return nullptr;
}

static const char *parse_double(GenArgs *a, const char *opt, const char *s, double lo, double hi, double *out)
{
    std::string why;
    return cli_real(opt, s, lo, hi, out, &why) ? nullptr : refuse(a, why);
}

// A list such as 1420,142c,142f: first and second byte of each control
// pair in hexadecimal, without parity; the first byte is a control code.
static bool parse_controls(const char *s, GenOptions *o)
{
    o->ncontrols = 0;
    while (*s) {
        char *end;
        unsigned long v = strtoul(s, &end, 16);
        if (end - s != 4 || !isxdigit((unsigned char)*s) || o->ncontrols >= GEN_MAX_CONTROLS)
            return false;
        int first = (int)(v >> 8) & 0x7F, second = (int)v & 0x7F;
        if (first < 0x01 || first > 0x1F)
            return false;
        o->controls[o->ncontrols++] = (uint16_t)(first | second << 8);
        s = end;
        if (*s == ',')
            s++;
        else if (*s)
            return false;
    }
    return o->ncontrols > 0;
}

// The long options; those without a short form are told apart by a val
// above any character.
enum {
    OPT_BLANK = 256, OPT_DATA, OPT_NOISE, OPT_OFFSET, OPT_EDGE, OPT_LINE, OPT_COUNTER_START,
    OPT_COUNTER_STEP, OPT_REPEAT, OPT_GAP_EVERY, OPT_GAP, OPT_HOLD, OPT_LEAD, OPT_CONTROLS,
    OPT_COPIES, OPT_SEED, OPT_VERSION, OPT_SCC, OPT_SCC2, OPT_MODE, OPT_ROWS, OPT_CHANNEL,
    OPT_XDS_PROGRAM_NAME, OPT_XDS_NETWORK, OPT_XDS_CALL_LETTERS, OPT_XDS_TIME,
};
static const struct option long_options[] = {
    {"blank", required_argument, nullptr, OPT_BLANK},
    {"data", required_argument, nullptr, OPT_DATA},
    {"noise", required_argument, nullptr, OPT_NOISE},
    {"offset", required_argument, nullptr, OPT_OFFSET},
    {"edge", required_argument, nullptr, OPT_EDGE},
    {"line", required_argument, nullptr, OPT_LINE},
    {"counter-start", required_argument, nullptr, OPT_COUNTER_START},
    {"counter-step", required_argument, nullptr, OPT_COUNTER_STEP},
    {"repeat", required_argument, nullptr, OPT_REPEAT},
    {"gap-every", required_argument, nullptr, OPT_GAP_EVERY},
    {"gap", required_argument, nullptr, OPT_GAP},
    {"hold", required_argument, nullptr, OPT_HOLD},
    {"lead", required_argument, nullptr, OPT_LEAD},
    {"controls", required_argument, nullptr, OPT_CONTROLS},
    {"copies", required_argument, nullptr, OPT_COPIES},
    {"seed", required_argument, nullptr, OPT_SEED},
    {"scc", required_argument, nullptr, OPT_SCC},
    {"scc2", required_argument, nullptr, OPT_SCC2},
    {"mode", required_argument, nullptr, OPT_MODE},
    {"rows", required_argument, nullptr, OPT_ROWS},
    {"channel", required_argument, nullptr, OPT_CHANNEL},
    {"xds-program-name", required_argument, nullptr, OPT_XDS_PROGRAM_NAME},
    {"xds-network", required_argument, nullptr, OPT_XDS_NETWORK},
    {"xds-call-letters", required_argument, nullptr, OPT_XDS_CALL_LETTERS},
    {"xds-time", required_argument, nullptr, OPT_XDS_TIME},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, OPT_VERSION},
    {nullptr, 0, nullptr, 0},
};

// Sets the option getopt_long returned as c to v.
static const char *parse_option(GenArgs *a, int c, const char *v)
{
    GenOptions *o = &a->opt;
    GenSignal *sig = &o->signal;
    const long long U32 = 0xFFFFFFFFll;
    const std::string name = cli_option_name(c, long_options);
    const char *opt = name.c_str();
    switch (c) {
    case 'h': a->help = true; break;
    case OPT_VERSION: a->version = true; break;
    case 'o': a->out = v; break;
    case 't':
        if (a->ntexts >= GEN_MAX_TEXTS) {
            snprintf(a->error, sizeof a->error, "-t: more than %d lines", GEN_MAX_TEXTS);
            return a->error;
        }
        a->texts[a->ntexts++] = v;
        break;
    case 'n': return parse_int(a, opt, v, 0, 1LL << 30, &o->blocks);
    case OPT_BLANK: return parse_double(a, opt, v, 0, 255, &sig->blank);
    case OPT_DATA: return parse_double(a, opt, v, 0, 255, &sig->data);
    case OPT_NOISE: return parse_double(a, opt, v, 0, 255, &sig->noise);
    case OPT_OFFSET: return parse_double(a, opt, v, -400, 400, &sig->offset);
    case OPT_EDGE: return parse_double(a, opt, v, 0, 56, &sig->edge);
    case OPT_LINE: return parse_int(a, opt, v, 0, 31, &o->line);
    case OPT_COUNTER_START: return parse_int(a, opt, v, 0, U32, &o->counter_start);
    case OPT_COUNTER_STEP: return parse_int(a, opt, v, 0, U32, &o->counter_step);
    case OPT_REPEAT: return parse_int(a, opt, v, 1, 1000, &o->repeat);
    case OPT_GAP_EVERY: return parse_int(a, opt, v, 1, 1LL << 30, &o->gap_every);
    case OPT_GAP: return parse_int(a, opt, v, 0, U32, &o->gap);
    case OPT_HOLD: return parse_int(a, opt, v, 1, 1000, &o->hold);
    case OPT_LEAD: return parse_int(a, opt, v, 0, 1LL << 20, &o->lead);
    case OPT_CONTROLS:
        if (!parse_controls(v, o))
            return refuse(a, std::string(opt) + ": '" + v + "' is not a list of control pairs such as 1420,142c,142f");
        break;
    case OPT_COPIES: return parse_int(a, opt, v, 1, 100, &o->control_copies);
    case OPT_SEED: return parse_int(a, opt, v, 0, U32, &o->seed);
    case OPT_SCC:
    case OPT_SCC2:
    case OPT_MODE:
    case OPT_CHANNEL:
    case OPT_XDS_PROGRAM_NAME:
    case OPT_XDS_NETWORK:
    case OPT_XDS_CALL_LETTERS:
    case OPT_XDS_TIME: return gen_stream_option(&a->stream, opt, v, a->error, sizeof a->error);
    case OPT_ROWS: return parse_int(a, opt, v, 2, 4, &a->stream.rows);
    }
    return nullptr;
}

const char *gen_parse_args(int argc, char **argv, GenArgs *a)
{
    memset(a, 0, sizeof *a);
    gen_default_options(&a->opt);
    opterr = 0;
    optind = 0;  // a fresh scan, also when called again
    int c;
    while ((c = getopt_long(argc, argv, ":ho:t:n:", long_options, nullptr)) != -1) {
        if (c == '?' || c == ':')
            return refuse(a, cli_option_error(argv, long_options, c));
        if (const char *err = parse_option(a, c, optarg))
            return err;
    }
    a->first_file = optind < argc ? optind : 0;
    return gen_stream_check(a, a->error, sizeof a->error);
}
