// The scanner's computations on blocks made in memory with the generator:
// counter transitions, the run-in, the line verdicts, the signal figures,
// the waterfall's thinning, the three programs' block rules and their pass
// after the last read, the command line and the JSON report's shape.
#include <gtest/gtest.h>

#include <cstring>
#include <nlohmann/json.hpp>
#include <random>

#include "pictures.h"
#include "report.h"
#include "scan_core.h"
#include "scope_helpers.h"
#include "streams.h"

namespace {

// A scan of whole blocks taken from a stream of concatenated blocks.
struct Scanned {
    Scan s;
    explicit Scanned(const std::string &stream, bool end = true, int line = VBI_CAPTION_LINE, bool pictures = false)
    {
        ScanOptions o;
        o.line = line;
        o.pictures = pictures;
        EXPECT_TRUE(scan_init(&s, o));
        static uint8_t buf[VBI_BLOCK_SIZE];
        size_t whole = stream.size() / VBI_BLOCK_SIZE, trailing = stream.size() % VBI_BLOCK_SIZE;
        for (size_t b = 0; b < whole; b++) {
            memcpy(buf, stream.data() + b * VBI_BLOCK_SIZE, VBI_BLOCK_SIZE);
            scan_block(&s, buf);
        }
        // As a read would leave it: the short read's bytes over the last block.
        memcpy(buf, stream.data() + whole * VBI_BLOCK_SIZE, trailing);
        if (end)
            scan_end(&s, buf, trailing);
    }
    ~Scanned() { scan_free(&s); }
    SignalFigures figures() const { return signal_figures(s.signal); }
};

std::string block_with(uint16_t word, uint32_t counter)
{
    std::vector<uint8_t> b = make_block(word, counter);
    return std::string(b.begin(), b.end());
}

TEST(ScanCounter, TransitionsModuloTwoToThe32)
{
    struct Case {
        std::vector<uint32_t> counters;
        uint64_t steps, repeats, gaps, missing, backward;
    } cases[] = {
        {{5, 6, 7}, 2, 0, 0, 0, 0},
        {{5, 5, 6, 6, 6}, 1, 3, 0, 0, 0},
        {{1, 4, 5, 15}, 1, 0, 2, 2 + 9, 0},
        {{9, 4, 5}, 1, 0, 0, 0, 1},
        {{0xFFFFFFFEu, 0xFFFFFFFFu, 0, 1}, 3, 0, 0, 0, 0},   // the wrap is a step
        {{0xFFFFFFF0u, 3}, 0, 0, 1, 18, 0},                  // a gap across the wrap
        {{3, 0xFFFFFFF0u}, 0, 0, 0, 0, 1},                   // back across it
        {{0, 0x7FFFFFFFu, 0}, 0, 0, 1, 0x7FFFFFFEu, 1},     // the largest jumps either way
    };
    for (const Case &c : cases) {
        CounterStats s;
        for (uint32_t v : c.counters)
            counter_add(&s, v);
        SCOPED_TRACE(::testing::PrintToString(c.counters));
        EXPECT_EQ(s.first, c.counters.front());
        EXPECT_EQ(s.last, c.counters.back());
        EXPECT_EQ(s.steps, c.steps);
        EXPECT_EQ(s.repeats, c.repeats);
        EXPECT_EQ(s.gaps, c.gaps);
        EXPECT_EQ(s.missing, c.missing);
        EXPECT_EQ(s.backward, c.backward);
    }
}

TEST(ScanRunIn, FirstCrestFollowsTheSignalsTiming)
{
    GenOptions o = default_gen();
    uint8_t line[VBI_LINE_SIZE];
    for (double offset : {-40.0, -12.5, 0.0, 0.3, 7.25, 60.0, 150.0}) {
        o.signal.offset = offset;
        GenNoise noise;
        gen_noise_init(&noise, 7);
        gen_render_line(line, gen_pair('h', 'i'), &o.signal, &noise);
        RunIn r;
        ASSERT_TRUE(find_runin(line, &r)) << offset;
        // The generator's first crest: 44.5 + half a bit after the offset.
        EXPECT_NEAR(r.first_crest, 44.5 + CAPTION_BIT / 2 + offset, 0.25) << offset;
        EXPECT_NEAR(r.level, 130, 2) << offset;
        EXPECT_NEAR(r.amplitude, 35, 2) << offset;
    }
}

TEST(ScanRunIn, RefusesWhatIsNotASevenCycleBurst)
{
    uint8_t line[VBI_LINE_SIZE];
    RunIn r;
    memset(line, 60, sizeof line);
    EXPECT_FALSE(find_runin(line, &r));  // flat
    std::mt19937 rng(3);
    for (int k = 0; k < 3000; k++) {     // random samples, never
        for (uint8_t &v : line)
            v = (uint8_t)rng();
        ASSERT_FALSE(find_runin(line, &r)) << k;
    }
    // The clock running on across the whole line is a test tone, not a run-in.
    for (int i = 0; i < VBI_LINE_SIZE; i++)
        line[i] = (uint8_t)lround(95 - 35 * cos(2 * M_PI * i / CAPTION_BIT));
    EXPECT_FALSE(find_runin(line, &r));
    // Six cycles only.
    GenOptions o = default_gen();
    GenNoise noise;
    gen_noise_init(&noise, 1);
    gen_render_line(line, gen_pair('h', 'i'), &o.signal, &noise);
    RunIn full;
    ASSERT_TRUE(find_runin(line, &full));
    for (int i = 0; i < (int)(44.5 + CAPTION_BIT); i++)
        line[i] = 60;
    EXPECT_FALSE(find_runin(line, &r));
}

TEST(ScanLines, VerdictsAndFieldNumbering)
{
    LineLevels flat = {60, 60, 60 * 2048}, varies = {40, 150, 90 * 2048};
    struct Case {
        int blocks, runin, decoded, active;
        const char *verdict;
    } cases[] = {
        {10, 10, 10, 10, "caption"}, {10, 6, 4, 10, "caption"},    {10, 6, 3, 10, "run-in only"},
        {10, 5, 5, 10, "signal"},    {10, 0, 0, 1, "signal"},      {20, 0, 0, 1, "blank"},
        {10, 0, 0, 0, "blank"},      {0, 0, 0, 0, "blank"},
    };
    for (const Case &c : cases) {
        LineAccum a;
        for (int b = 0; b < c.blocks; b++)
            line_accum_add(&a, b < c.active ? varies : flat, 2048, b < c.runin, b < c.decoded);
        EXPECT_STREQ(line_verdict(a), c.verdict) << c.blocks << " " << c.runin << " " << c.decoded;
    }
    EXPECT_EQ(line_number(0), 10);
    EXPECT_EQ(line_number(11), 21);
    EXPECT_EQ(line_number(15), 25);
    EXPECT_EQ(line_number(16), 273);
    EXPECT_EQ(line_number(27), 284);
    EXPECT_EQ(line_field(15), 1);
    EXPECT_EQ(line_field(16), 2);
}

TEST(ScanSignal, CleanCaptureFiguresAndVerdicts)
{
    GenOptions o = default_gen();
    o.blocks = 60;
    Scanned sc(make_stream("Hello there\n", o));
    SignalFigures f = sc.figures();
    ASSERT_TRUE(f.valid);
    EXPECT_NEAR(f.blanking, 60, 0.5);
    EXPECT_NEAR(f.runin_level, 130, 1);
    EXPECT_NEAR(f.swing, 70, 1);
    EXPECT_LT(f.noise_sigma, 1.5);
    EXPECT_NEAR(f.crest_mean, 72.9375, 0.25);
    EXPECT_LT(f.crest_spread, 0.1);
    ASSERT_TRUE(f.eye_valid);
    EXPECT_GT(f.eye_opening, 0.9);
    for (int k = 0; k < VBI_LINES; k++)
        EXPECT_STREQ(line_verdict(sc.s.lines[k]), k == VBI_CAPTION_LINE ? "caption" : "blank") << k;
    EXPECT_EQ(sc.s.lines[0].min, 60);
    EXPECT_EQ(sc.s.lines[0].max, 60);
}

TEST(ScanSignal, NoiseIsMeasuredAndClosesTheEye)
{
    double last_eye = 2;
    for (double noise : {2.0, 5.0, 10.0, 20.0}) {
        GenOptions o = default_gen();
        o.blocks = 120;
        o.signal.noise = noise;
        o.seed = (uint32_t)noise;
        Scanned sc(make_stream("Noise test line\n", o));
        SignalFigures f = sc.figures();
        ASSERT_TRUE(f.valid) << noise;
        EXPECT_NEAR(f.noise_sigma, noise, 0.2 * noise) << noise;
        EXPECT_NEAR(f.crest_mean, 72.9375, 1) << noise;
        EXPECT_NEAR(f.snr_db, 20 * log10(f.swing / f.noise_sigma), 1e-9);
        double eye = f.eye_valid ? f.eye_opening : 0;
        EXPECT_LE(eye, last_eye) << noise;
        if (noise <= 2) {
            EXPECT_GT(eye, 0.6);
        }
        if (noise >= 20) {
            EXPECT_EQ(eye, 0);
        }
        last_eye = eye;
    }
}

TEST(ScanSignal, RandomAndZeroBlocksAreNeverCaptions)
{
    std::mt19937 rng(11);
    std::string random(40 * VBI_BLOCK_SIZE, '\0');
    for (char &c : random)
        c = (char)rng();
    Scanned r(random, true, VBI_CAPTION_LINE, true);
    for (int k = 0; k < VBI_LINES; k++)
        EXPECT_STREQ(line_verdict(r.s.lines[k]), "signal") << k;
    EXPECT_FALSE(r.figures().valid);
    Scanned z(std::string(10 * VBI_BLOCK_SIZE, '\0'), true, VBI_CAPTION_LINE, true);
    for (int k = 0; k < VBI_LINES; k++)
        EXPECT_STREQ(line_verdict(z.s.lines[k]), "blank") << k;
    EXPECT_EQ(z.s.counter.repeats, 9u);
    // captext skips a first counter of 0 and every repeat; capscope takes
    // every block (0 is even); capscope-runin takes every block.
    EXPECT_EQ(z.s.programs[PROG_CAPTEXT].handled, 0u);
    EXPECT_EQ(z.s.programs[PROG_CAPSCOPE].refused, 10u);
    EXPECT_EQ(z.s.programs[PROG_RUNIN].refused, 10u);
    // The pictures draw whatever came: a waterfall row per block, an eye
    // without traces.
    for (const Scan *s : {&r.s, &z.s}) {
        Image w = render_waterfall(*s), e = render_eye(*s), l = render_lines(*s);
        EXPECT_EQ(w.height, WF_HEADER + (int)s->counter.blocks);
        EXPECT_EQ(s->eye.blocks, 0u);
        EXPECT_GT(e.width, EYE_WIDTH);
        EXPECT_GT(l.height, VBI_LINES * 40);
    }
}

TEST(ScanWaterfall, ThinsEvenlyAndKeepsEveryMark)
{
    Waterfall w;
    w.max_rows = 8;
    uint8_t line[WATERFALL_SAMPLES];
    const uint8_t none[3] = {0, 0, 0}, refused[3] = {0, ROW_REFUSED, 0};
    for (int b = 0; b < 37; b++) {
        memset(line, b, sizeof line);
        waterfall_add(&w, line, b == 13 ? refused : none, b == 30 ? ROW_GAP : 0);
    }
    // 37 blocks in at most 8 rows: every 8th block, rows for 0, 8, ... 32.
    EXPECT_EQ(w.step, 8);
    ASSERT_EQ(w.rows, 5);
    for (int r = 0; r < w.rows; r++)
        EXPECT_EQ(w.samples[(size_t)r * WATERFALL_SAMPLES], r * 8) << r;
    // Block 13 lives in row 1 (blocks 8..15), block 30 in row 3.
    for (int r = 0; r < w.rows; r++) {
        EXPECT_EQ(w.marks[(size_t)r * 4 + 1], r == 1 ? ROW_REFUSED : 0) << r;
        EXPECT_EQ(w.marks[(size_t)r * 4 + 3], r == 3 ? ROW_GAP : 0) << r;
    }
}

// Caption pairs as whole blocks with the given counters.
std::string pairs_stream(const std::vector<std::pair<uint16_t, uint32_t>> &blocks)
{
    std::string s;
    for (auto &b : blocks)
        s += block_with(b.first, b.second);
    return s;
}

TEST(ScanPrograms, BlockRulesAndTheirOwnAssemblers)
{
    const uint16_t hi = gen_pair('h', 'i'), ctl = gen_pair(0x14, 0x2C);
    std::vector<std::pair<uint16_t, uint32_t>> b = {{hi, 2}, {hi, 2}, {hi, 3}};
    for (uint32_t c = 4; c < 4 + 2 * 6; c++)
        b.push_back({ctl, c});
    Scanned sc(pairs_stream(b), false);
    const ProgramRun *p = sc.s.programs;
    // captext: counters 2, 3 and the twelve controls; the repeat is skipped.
    EXPECT_EQ(p[PROG_CAPTEXT].handled, 14u);
    EXPECT_EQ(program_lines(p[PROG_CAPTEXT]), std::vector<std::string>{"hihi "});
    // capscope: even counters only: 2, 2, then six controls.
    EXPECT_EQ(p[PROG_CAPSCOPE].handled, 8u);
    EXPECT_EQ(program_lines(p[PROG_CAPSCOPE]), std::vector<std::string>{"hihi "});
    // capscope-runin: every block, but 12 controls do not reach its 15.
    EXPECT_EQ(p[PROG_RUNIN].handled, 15u);
    EXPECT_EQ(p[PROG_RUNIN].decoded, 15u);
    EXPECT_TRUE(program_lines(p[PROG_RUNIN]).empty());
    EXPECT_STREQ(p[PROG_RUNIN].end_pass, "none");
}

TEST(ScanPrograms, LastPassOverTheReadBufferAfterTheStreamEnds)
{
    // The programs end their stream with one more pass over what their read
    // buffer holds.  After a final empty read that is the last block again:
    // captext skips it (same counter); capscope takes it (even again) but
    // smooths its already smoothed line once more, which its slicer
    // refuses; capscope-runin hands the same pair over once more.
    const uint16_t ab = gen_pair('a', 'b'), ctl = gen_pair(0x14, 0x2F);
    std::vector<std::pair<uint16_t, uint32_t>> c = {{ab, 2}, {ctl, 4}, {ctl, 6}, {ctl, 8}, {ctl, 10}};
    std::string scope = pairs_stream(c);
    Scanned ended(scope), cut(scope, false);
    EXPECT_STREQ(ended.s.programs[PROG_CAPTEXT].end_pass, "not handled");
    EXPECT_STREQ(ended.s.programs[PROG_CAPSCOPE].end_pass, "refused");
    EXPECT_STREQ(ended.s.programs[PROG_RUNIN].end_pass, "decoded");
    EXPECT_STREQ(cut.s.programs[PROG_CAPSCOPE].end_pass, "none");
    EXPECT_TRUE(program_lines(ended.s.programs[PROG_CAPSCOPE]).empty());
    // A short read that brings a fresh caption line gives capscope its
    // fifth control pair: the line is written.  Only whole blocks count.
    std::string fresh = block_with(ctl, 77).substr(0, (VBI_CAPTION_LINE + 1) * VBI_LINE_SIZE);
    Scanned flushed(scope + fresh);
    EXPECT_EQ(program_lines(flushed.s.programs[PROG_CAPSCOPE]), std::vector<std::string>{"ab "});
    EXPECT_STREQ(flushed.s.programs[PROG_CAPSCOPE].end_pass, "decoded");
    EXPECT_EQ(flushed.s.programs[PROG_CAPSCOPE].handled, 5u);
    // One that stops short of line 11 leaves capscope its smoothed line.
    Scanned early(scope + fresh.substr(0, VBI_CAPTION_LINE * VBI_LINE_SIZE));
    EXPECT_STREQ(early.s.programs[PROG_CAPSCOPE].end_pass, "refused");

    std::vector<std::pair<uint16_t, uint32_t>> b = {{ab, 2}};
    for (uint32_t k = 3; k < 3 + 14; k++)
        b.push_back({ctl, k});
    Scanned runin(pairs_stream(b));
    EXPECT_EQ(program_lines(runin.s.programs[PROG_RUNIN]), std::vector<std::string>{"ab "});
    EXPECT_EQ(runin.s.programs[PROG_RUNIN].handled, 15u);

    // A trailing piece that covers line 11 of a new frame: the programs
    // slice the new line over the old block's counter.
    std::string piece = block_with(gen_pair('z', 'z'), 40).substr(0, (VBI_CAPTION_LINE + 1) * VBI_LINE_SIZE);
    Scanned tail(scope + piece);
    EXPECT_EQ(tail.s.trailing_bytes, piece.size());
    EXPECT_EQ(tail.s.counter.blocks, 5u);
    // capscope: the piece replaces its smoothed line, counter 10 is even,
    // "zz" is appended and nothing flushes; captext: counter 10 again.
    EXPECT_STREQ(tail.s.programs[PROG_CAPSCOPE].end_pass, "decoded");
    EXPECT_STREQ(tail.s.programs[PROG_CAPTEXT].end_pass, "not handled");
    EXPECT_TRUE(program_lines(tail.s.programs[PROG_CAPSCOPE]).empty());
}

TEST(ScanReport, JsonCarriesEveryFigureUnderItsKey)
{
    GenOptions o = default_gen();
    o.blocks = 30;
    o.signal.noise = 3;
    o.gap_every = 10;
    o.gap = 2;
    Scanned sc(make_stream("Quote \"this\" back\n", o));
    nlohmann::json j = nlohmann::json::parse(json_report(sc.s, "cap.vbi"));
    EXPECT_EQ(j["blocks"], 30);
    EXPECT_EQ(j["trailing_bytes"], 0);
    for (const char *k : {"first", "last", "steps", "repeats", "gaps", "missing", "backward"})
        EXPECT_TRUE(j["counter"].contains(k)) << k;
    EXPECT_EQ(j["counter"]["gaps"], 2);
    EXPECT_EQ(j["counter"]["missing"], 4);
    ASSERT_EQ(j["lines"].size(), 32u);
    for (int k = 0; k < 32; k++) {
        const auto &l = j["lines"][k];
        EXPECT_EQ(l["index"], k);
        EXPECT_EQ(l["field"], line_field(k));
        EXPECT_EQ(l["line"], line_number(k));
        for (const char *key : {"min", "mean", "max", "runin_share", "verdict"})
            EXPECT_TRUE(l.contains(key)) << key;
    }
    const auto &cl = j["caption_line"];
    EXPECT_EQ(cl["index"], 11);
    for (const char *p : {"captext", "capscope", "capscope-runin"})
        for (const char *key : {"handled", "decoded", "refused", "text"})
            EXPECT_TRUE(cl["programs"][p].contains(key)) << p << key;
    for (const char *key : {"blanking", "runin_level", "swing", "noise_sigma", "eye_opening", "snr_db"})
        EXPECT_TRUE(cl["signal"][key].is_number()) << key;
    EXPECT_TRUE(cl["signal"]["first_crest"]["mean"].is_number());
    EXPECT_TRUE(cl["signal"]["first_crest"]["spread"].is_number());
    // The caption text survives the trip byte for byte, quotes and all.
    std::vector<std::string> text = cl["programs"]["captext"]["text"];
    EXPECT_EQ(text, program_lines(sc.s.programs[PROG_CAPTEXT]));
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text[0], "quote \"this\" back ");
}

}  // namespace
