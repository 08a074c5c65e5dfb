// The scanner's computations on blocks made in memory with the generator:
// counter transitions, the run-in, the line verdicts, the signal figures,
// the waterfall's thinning, the three programs' block rules and their pass
// after the last read, the command line and the JSON report's shape.
#include <gtest/gtest.h>

#include <algorithm>
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
        {10, 10, 10, 10, "caption"}, {10, 6, 6, 10, "caption"},    {10, 6, 5, 10, "run-in only"},
        {10, 0, 6, 10, "caption"},   // read by the slicers, though no run-in was found
        {10, 5, 5, 10, "signal"},    {10, 0, 0, 1, "signal"},      {20, 0, 0, 1, "blank"},
        {10, 0, 1, 0, "signal"},     {10, 0, 0, 0, "blank"},       {0, 0, 0, 0, "blank"},
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

// --- where, when and why ---------------------------------------------------

namespace {

using Json = nlohmann::json;

std::string offset_stream(double offset, long blocks, double data = 130, double noise = 0, const char *text = "Offset test.\n")
{
    GenOptions o = default_gen();
    o.blocks = blocks;
    o.signal.offset = offset;
    o.signal.data = data;
    o.signal.noise = noise;
    return make_stream(text, o);
}

bool has(const std::vector<std::string> &v, const std::string &s)
{
    return std::find(v.begin(), v.end(), s) != v.end();
}

}  // namespace

TEST(ScanWhere, CounterFaultsAtTheirBlockAndTime)
{
    // A repeat, a gap of 5, a backward jump and a gap across the wrap.
    std::vector<std::pair<uint16_t, uint32_t>> blocks;
    for (uint32_t c : {10u, 11u, 11u, 12u, 18u, 19u, 15u, 16u, 0xFFFFFFFEu, 3u, 4u})
        blocks.push_back({0x8080, c});
    Scanned sc(pairs_stream(blocks));
    struct Want {
        const char *kind;
        uint64_t block;
        uint32_t from, to;
    } want[] = {{"repeat", 2, 11, 11}, {"gap", 4, 12, 18}, {"backward", 6, 19, 15}, {"backward", 8, 16, 0xFFFFFFFEu},
                {"gap", 9, 0xFFFFFFFEu, 3}};
    ASSERT_EQ(sc.s.faults.size(), 5u);
    Json j = Json::parse(json_report(sc.s, "x"));
    for (size_t k = 0; k < 5; k++) {
        const CounterFault &f = sc.s.faults[k];
        EXPECT_STREQ(counter_event_name(f.kind), want[k].kind) << k;
        EXPECT_EQ(f.block, want[k].block) << k;
        EXPECT_EQ(f.from, want[k].from) << k;
        EXPECT_EQ(f.to, want[k].to) << k;
        const Json &e = j["counter"]["events"][k];
        EXPECT_EQ(e["kind"], want[k].kind);
        EXPECT_EQ(e["block"], want[k].block);
        EXPECT_NEAR(e["time"].get<double>(), want[k].block * 1001.0 / 30000.0, 1e-4);
        EXPECT_EQ(e["to"], want[k].to);
    }
    EXPECT_FALSE(j["counter"].contains("events_truncated"));
    EXPECT_NE(scan_summary(sc.s).find("the first a repeat at block 2 (0.07 s)"), std::string::npos);
    std::string text = text_report(sc.s, "x");
    EXPECT_NE(text.find("gap      at block 9 (0.30 s): 4294967294 to 3"), std::string::npos) << text;

    // More faults than are listed: the count goes on, the list stops.
    std::string repeats, b = block_with(0, 7);
    for (int k = 0; k < EVENTS_KEPT + 3; k++)
        repeats += b;
    Scanned many(repeats);
    EXPECT_EQ(many.s.fault_count, (uint64_t)EVENTS_KEPT + 2);
    EXPECT_EQ(many.s.faults.size(), (size_t)EVENTS_KEPT);
    Json m = Json::parse(json_report(many.s, "x"));
    EXPECT_EQ(m["counter"]["events_truncated"], true);
    EXPECT_NE(text_report(many.s, "x").find("and 992 more"), std::string::npos);
}

TEST(ScanWhere, RefusalRunsSplitByCauseAndByReadBlocks)
{
    RefusalRuns r;
    // Blocks 0-2 refused (no run-in), 3 read, 4 refused (no pair), 5-9
    // refused (no run-in), still open at the end.
    for (uint64_t b = 0; b < 10; b++)
        refusal_add(&r, b, b != 3, b == 4 ? "no pair" : "no run-in");
    std::vector<RefusalRun> list = refusal_list(r);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].first_block, 0u);
    EXPECT_EQ(list[0].last_block, 2u);
    EXPECT_EQ(list[1].count, 1u);
    EXPECT_STREQ(list[1].cause, "no pair");
    EXPECT_EQ(list[2].first_block, 5u);
    EXPECT_EQ(list[2].count, 5u);
    std::vector<RefusalRun> longest = refusal_longest(r);
    ASSERT_EQ(longest.size(), 3u);
    EXPECT_EQ(longest[0].first_block, 5u);
    EXPECT_EQ(longest[1].first_block, 0u);
    EXPECT_EQ(r.total, 3u);

    // capscope's skipped odd counters neither end nor join its runs: a
    // signal-free stretch is one run of its even blocks.
    std::string flat;
    for (uint32_t c = 1; c <= 8; c++)
        flat += std::string(VBI_BLOCK_SIZE - 4, '\0') + std::string((const char *)&c, 4);
    Scanned sc(flat);
    Json j = Json::parse(json_report(sc.s, "x"));
    const Json &runs = j["caption_line"]["programs"]["capscope"]["refusals"];
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0]["first_block"], 1);
    EXPECT_EQ(runs[0]["last_block"], 7);
    EXPECT_EQ(runs[0]["count"], 4);
    EXPECT_EQ(runs[0]["cause"], "no signal");
    EXPECT_EQ(j["caption_line"]["integrating"]["causes"]["no run-in"], 8);
}

TEST(ScanVerdicts, EveryOffsetASlicerReadsIsACaption)
{
    for (double offset : {-65.0, -50.0, 0.0, 40.0, 60.0}) {
        SCOPED_TRACE(offset);
        Scanned sc(offset_stream(offset, 40));
        EXPECT_STREQ(line_verdict(sc.s.lines[VBI_CAPTION_LINE]), "caption");
        SignalFigures f = sc.figures();
        ASSERT_TRUE(f.valid);
        EXPECT_NEAR(f.crest_mean, NOMINAL_FIRST_CREST + offset, 1);
        EXPECT_EQ(sc.s.lines[VBI_CAPTION_LINE].runin_blocks, 40u);
    }
    // Far too late for any slicer: never a caption, whatever pairs a
    // slicer's mistimed reading happens to find.
    Scanned late(offset_stream(280, 60));
    EXPECT_STREQ(line_verdict(late.s.lines[VBI_CAPTION_LINE]), "run-in only");
    EXPECT_EQ(scan_summary(late.s).rfind("captions no", 0), 0u);
    EXPECT_TRUE(has(scan_diagnosis(late.s), "the run-in starts 280 samples late (nominal 72.9)"));
    // Early, capscope (which times the line from a fixed crest when the
    // crests stay low) refuses and the diagnosis says why.
    Scanned early(offset_stream(-50, 40));
    std::vector<std::string> d = scan_diagnosis(early.s);
    EXPECT_TRUE(has(d, "the run-in starts 50 samples early (nominal 72.9)"));
    EXPECT_NE(scan_summary(early.s).find("mistimed (first crest 22.9, nominal 72.9)"), std::string::npos);
}

TEST(ScanWhy, WeakSignalNamesTheSwingAndTheSlicersThatNeedMore)
{
    Scanned sc(offset_stream(0, 60, 100));
    std::vector<std::string> d = scan_diagnosis(sc.s);
    EXPECT_TRUE(has(d, "swing 40 is below the 46 capscope-runin's slicer needs")) << ::testing::PrintToString(d);
    EXPECT_EQ(sc.s.programs[PROG_RUNIN].decoded, 0u);
    EXPECT_NE(scan_summary(sc.s).find("signal weak (swing 40)"), std::string::npos);
    // A clean signal has nothing to explain.
    Scanned clean(offset_stream(0, 60));
    EXPECT_TRUE(scan_diagnosis(clean.s).empty());
    EXPECT_NE(scan_summary(clean.s).find("captions yes (captext 100 %, capscope 100 %, capscope-runin 100 %, "
                                         "integrating 100 %); signal clean"),
              std::string::npos);
}

TEST(ScanWhy, EyeAtNinetyNineStaysOpenWhileCaptextDecodes)
{
    double last = 2;
    for (double noise : {0.0, 4.0, 8.0, 16.0, 30.0}) {
        SCOPED_TRACE(noise);
        Scanned sc(offset_stream(0, 300, 130, noise, "Noise test line, long enough to hold many bits.\n"));
        SignalFigures f = sc.figures();
        ASSERT_TRUE(f.eye_valid);
        const ProgramRun &cap = sc.s.programs[PROG_CAPTEXT];
        if (cap.decoded * 100 >= cap.handled * 95) {
            EXPECT_GT(f.eye_opening_p99, 0.3);
        }
        EXPECT_LT(f.eye_opening_p99, last);
        EXPECT_GE(f.eye_opening_p99, f.eye_opening);
        last = f.eye_opening_p99;
    }
}

TEST(ScanReport, TimelineTextWidthAndEveryLine)
{
    GenOptions o = default_gen();
    o.blocks = 600;
    std::string stream = make_stream("one\ntwo\nthree\nfour\nfive\nsix\nseven\neight\nnine\nten eleven twelve thirteen fourteen\n", o);
    Scanned sc(stream);
    Json j = Json::parse(json_report(sc.s, "x"));
    // A second is 30 blocks: 600 blocks make 20 of them.
    ASSERT_EQ(j["timeline"].size(), 20u);
    EXPECT_EQ(j["timeline"][19]["first_block"], 570);
    EXPECT_EQ(j["timeline"][3]["decoded_share"]["captext"], 1.0);
    EXPECT_NEAR(j["timeline"][3]["swing"].get<double>(), 70, 1);
    EXPECT_TRUE(j["summary"].is_string());
    EXPECT_TRUE(j["diagnosis"].is_array());
    EXPECT_EQ(j["caption_line"]["programs"]["capscope"]["even_counters_only"], true);
    EXPECT_EQ(j["caption_line"]["programs"]["captext"]["even_counters_only"], false);
    EXPECT_NEAR(j["caption_line"]["signal"]["first_crest"]["nominal"].get<double>(), 72.9375, 1e-4);

    size_t lines = program_lines(sc.s.programs[PROG_CAPTEXT]).size();
    ASSERT_GT(lines, (size_t)8);
    for (bool all : {false, true}) {
        std::string text = text_report(sc.s, std::string(200, 'n'), all);
        EXPECT_EQ(text.find("... " + std::to_string(lines - 8) + " more lines") != std::string::npos, !all);
        EXPECT_NE(text.find("capscope prints (it decodes even counters only)"), std::string::npos);
        size_t start = 0;
        for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
            if (text.compare(start, 6, "stream") != 0) {  // the capture's own name may be long
                EXPECT_LE(nl - start, 80u) << text.substr(start, nl - start);
            }
        if (all) {
            for (const std::string &l : program_lines(sc.s.programs[PROG_CAPTEXT]))
                EXPECT_NE(text.find(l), std::string::npos) << l;
        }
    }
    // A folded caption line gives the line back exactly.
    std::string line = std::string(70, 'a') + "\xc3\xa9" + std::string(100, 'b');
    std::string folded = fold_caption_line(line), back;
    size_t start = 0;
    for (size_t nl; (nl = folded.find('\n', start)) != std::string::npos; start = nl + 1)
        back += folded.substr(start + 4, nl - start - 4);
    EXPECT_EQ(back, line);
}
