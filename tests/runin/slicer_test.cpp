#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "caption.h"
#include "runin_slicer.h"
#include "scope_helpers.h"
#include "vbigen_core.h"

namespace {

// Every call is made on a copy of the line that ends right after the
// furthest sample the slicer may read, so that AddressSanitizer catches any
// read beyond it.
CaptionWord slice(const std::vector<uint8_t> &line, ScopeMarks *marks, size_t size = RUNIN_LAST_SAMPLE + 1)
{
    std::unique_ptr<uint8_t[]> copy(new uint8_t[size]);
    memcpy(copy.get(), line.data(), size);
    marks_clear(marks);
    return RunInSlicer(copy.get(), marks);
}

enum { LOW = 20, BLANK = 60, HIGH = 150 };

// A line drawn sample by sample: blanking everywhere, one crest sample of
// HIGH per run-in cycle with one trough sample of LOW halfway to the next
// crest, then the start bit and the data bits as flat windows.
struct TestLine {
    std::vector<uint8_t> s = std::vector<uint8_t>(2048, BLANK);
    int peaks[7];
    int troughs[7];

    void fill(int from, int to, int v)
    {
        for (int i = from; i < to; i++)
            s[i] = (uint8_t)v;
    }
};

// Crests at first, first + spacing[0], ...; each trough halfway to the next
// crest (the seventh 28 samples after its crest), or trough_after samples
// after its crest, and confirmed at once by a rise of 46 in the next sample.
TestLine runin(int first, const int spacing[6], uint16_t word, bool start = true, int trough_after = 0)
{
    TestLine t;
    t.peaks[0] = first;
    for (int k = 1; k < 7; k++)
        t.peaks[k] = t.peaks[k - 1] + spacing[k - 1];
    for (int k = 0; k < 7; k++)
        t.troughs[k] = t.peaks[k] + (trough_after ? trough_after : k < 6 ? spacing[k] / 2 : 28);
    for (int k = 0; k < 7; k++) {
        t.s[t.peaks[k]] = HIGH;
        t.s[t.troughs[k]] = LOW;
        t.s[t.troughs[k] + 1] = LOW + 46;
    }
    int p = t.peaks[6];
    if (start)
        t.fill(p + RUNIN_START_BIT, p + RUNIN_FIRST_BIT, HIGH);
    for (int b = 0; b < 16; b++) {
        int w = p + RUNIN_FIRST_BIT + RUNIN_BIT_STEP * b;
        if (word >> b & 1)
            t.fill(w, w + RUNIN_BIT_STEP, HIGH);
    }
    return t;
}

const int regular[6] = {57, 57, 57, 57, 57, 57};
const int threshold = (HIGH + LOW) / 2 + 7;  // 92

std::vector<ScopeMark> numbers(const ScopeMarks &m)
{
    std::vector<ScopeMark> v;
    for (int i = 0; i < m.count; i++)
        if (m.mark[i].kind == MARK_NUMBER)
            v.push_back(m.mark[i]);
    return v;
}

void expect_number(const ScopeMark &m, int x, int y, int value)
{
    EXPECT_EQ(m.kind, MARK_NUMBER);
    EXPECT_EQ(m.gc, MARK_TEXT_GC);
    EXPECT_EQ(m.x1, x);
    EXPECT_EQ(m.y1, y);
    EXPECT_EQ(m.value, value);
}

TEST(WindowAbove, ComparesTheSumWithoutRounding)
{
    uint8_t w[32];
    memset(w, 92, sizeof w);
    EXPECT_FALSE(window_above(w, 92));
    EXPECT_TRUE(window_above(w, 91));
    w[31] = 93;  // mean 92.03
    EXPECT_TRUE(window_above(w, 92));
    memset(w, 255, sizeof w);
    EXPECT_TRUE(window_above(w, 254));
    EXPECT_FALSE(window_above(w, 255));
}

TEST(RunInSearch, ConstantLinesConfirmNothing)
{
    ScopeMarks m;
    for (int level : {0, 60, 61, 128, 255}) {
        std::vector<uint8_t> s(2048, (uint8_t)level);
        EXPECT_EQ(slice(s, &m), 0) << level;
        EXPECT_EQ(m.count, 0) << level;
    }
}

TEST(RunInSearch, PeakFloorAndHysteresis)
{
    ScopeMarks m;
    // A crest of exactly 60 is no candidate, 61 is.
    std::vector<uint8_t> s(2048, 0);
    s[100] = 60;
    EXPECT_EQ(slice(s, &m), 0);
    EXPECT_EQ(m.count, 0);
    s[100] = 61;
    slice(s, &m);
    ASSERT_GE(m.count, 1);
    expect_line(m.mark[0], 100, 30, 128);

    // A fall of 45 confirms no crest, one of 46 does.
    s.assign(2048, 61);
    s[100] = 106;
    EXPECT_EQ(slice(s, &m), 0);
    EXPECT_EQ(m.count, 0);
    s.assign(2048, 60);
    s[100] = 106;
    slice(s, &m);
    ASSERT_EQ(m.count, 1);
    expect_line(m.mark[0], 100, 30, 128);

    // After the crest the trough search starts 17 samples on; a rise of 45
    // above the lowest sample confirms nothing, one of 46 does, and the
    // first of several equal minima holds.
    s.assign(2048, 40);
    s[100] = 150;
    s[130] = 85;
    slice(s, &m);
    EXPECT_EQ(m.count, 1);
    s[131] = 86;
    slice(s, &m);
    ASSERT_EQ(m.count, 3);
    expect_number(m.mark[1], 117, 225, 40);
    expect_line(m.mark[2], 117, 226, 256);
}

TEST(RunInSearch, SamplesNearerThan17ToAnExtremeAreSkipped)
{
    ScopeMarks m;
    std::vector<uint8_t> s(2048, 60);
    s[100] = 150;
    s[116] = 0;  // skipped: 16 after the crest
    s[117] = 50;
    s[118] = 100;
    slice(s, &m);
    ASSERT_EQ(m.count, 3);
    expect_number(m.mark[1], 117, 225, 50);
}

TEST(RunInSearch, SpacingLimitsAreInclusive)
{
    ScopeMarks m;
    for (int d : {42, 84}) {
        int spacing[6] = {57, d, 57, 57, 57, 57};
        TestLine t = runin(73, spacing, gen_pair('H', 'i'));
        EXPECT_EQ(slice(t.s, &m), gen_pair('H', 'i')) << d;
        std::vector<ScopeMark> n = numbers(m);
        ASSERT_EQ(n.size(), 12u);
        expect_number(n[3], t.troughs[1], 50, d);
    }
}

TEST(RunInSearch, BadSpacingIsDrawnThenRefused)
{
    ScopeMarks m;
    for (int d : {41, 85}) {
        int spacing[6] = {57, 57, d, 57, 57, 57};
        TestLine t = runin(73, spacing, gen_pair('H', 'i'));
        EXPECT_EQ(slice(t.s, &m), 0) << d;
        // Crests 0-3, troughs 0-2, spacings 57, 57, then the bad one last.
        ASSERT_EQ(m.count, 4 + 3 * 2 + 3);
        expect_line(m.mark[m.count - 2], t.peaks[3], 30, 128);
        expect_number(m.mark[m.count - 1], t.troughs[2], 50, d);
    }
}

TEST(RunInSearch, MarksOfAGoodLineInDrawingOrder)
{
    ScopeMarks m;
    uint16_t word = gen_pair('C', 'c');
    TestLine t = runin(73, regular, word);
    ASSERT_EQ(slice(t.s, &m), word);
    ASSERT_EQ(m.count, 7 + 6 + 6 * 2 + 1 + 16);
    int i = 0;
    expect_line(m.mark[i++], t.peaks[0], 30, 128);
    for (int k = 0; k < 6; k++) {
        expect_number(m.mark[i++], t.troughs[k], 225, LOW);
        expect_line(m.mark[i++], t.troughs[k], 226, 256);
        expect_line(m.mark[i++], t.peaks[k + 1], 30, 128);
        expect_number(m.mark[i++], t.troughs[k], 50, 57);
    }
    // No label or marker for the seventh trough.
    int p = t.peaks[6];
    expect_line(m.mark[i++], p + 144, 30, 256);
    for (int b = 0; b < 16; b++) {
        int w = p + 201 + 57 * b;
        if (word >> b & 1)
            expect_line(m.mark[i++], w, 30, 256 - threshold);
        else
            expect_line(m.mark[i++], w, 256 - threshold, 256);
    }
}

TEST(RunInSearch, EachCycleMustEndBeforeItsLimit)
{
    ScopeMarks m;
    uint16_t word = gen_pair('O', 'k');
    // A late run-in whose seventh trough (498) is confirmed only by the
    // sample at 599 or at 600; the start bit lies past both.
    for (int confirm : {599, 600}) {
        TestLine t = runin(128, regular, word);
        ASSERT_EQ(t.troughs[6], 498);
        t.fill(499, confirm, LOW);
        t.s[confirm] = LOW + 46;
        EXPECT_EQ(slice(t.s, &m), confirm == 599 ? word : 0) << confirm;
        EXPECT_EQ(numbers(m).size(), 12u);
    }
    // The first crest and its trough must be confirmed below 200.
    for (int confirm : {199, 200}) {
        TestLine t;
        t.s[150] = HIGH;
        t.fill(151, confirm, LOW);
        t.s[confirm] = LOW + 46;
        slice(t.s, &m);
        EXPECT_EQ(m.count, confirm == 199 ? 3 : 1) << confirm;
    }
}

TEST(RunInBits, ThresholdFromTheSeventhCycleAndStartWindow)
{
    ScopeMarks m;
    uint16_t word = gen_pair('A', 'z');
    // A start window whose mean equals the threshold is no start bit; the
    // whole run-in has been drawn by then.
    TestLine t = runin(73, regular, word, false);
    int start = t.peaks[6] + 144;
    t.fill(start, start + 32, threshold);
    EXPECT_EQ(slice(t.s, &m), 0);
    EXPECT_EQ(m.count, 7 + 6 + 6 * 2);
    t.s[start + 31] = threshold + 1;
    EXPECT_EQ(slice(t.s, &m), word);

    // The threshold follows the seventh crest and trough only: raising them
    // raises it, and a bit at the old level turns to 0.
    t = runin(73, regular, 0xFFFF);
    int p = t.peaks[6];
    t.s[p] = 200;
    t.fill(p + 17, p + 144, 100);  // trough 100 at p + 17: threshold 157, above HIGH
    t.fill(p + 144, p + 201, 255);
    EXPECT_EQ(slice(t.s, &m), 0);
    EXPECT_EQ(m.count, 7 + 6 + 6 * 2 + 1 + 16);
    expect_line(m.mark[m.count - 1], p + 201 + 57 * 15, 256 - 157, 256);
}

TEST(RunInBits, ParityIsNotTested)
{
    ScopeMarks m;
    uint16_t bad = 0xC3 | 0x41 << 8;  // 'C' with its parity bit wrong
    ASSERT_FALSE(caption_parity_ok(bad));
    EXPECT_EQ(slice(runin(73, regular, bad).s, &m), bad);
    EXPECT_EQ(slice(runin(73, regular, 0x0100).s, &m), 0x0100);
}

TEST(RunInBits, LatestRunInReadsNothingPastItsLastWindow)
{
    // The latest seventh crest a run-in can have: the sixth trough is
    // confirmed just below 500, the seventh crest 84 samples after the
    // sixth, and its trough just below 600.
    ScopeMarks m;
    int spacing[6] = {57, 57, 57, 57, 84, 84};
    uint16_t word = gen_pair(0x7F, 0x7F);
    TestLine t = runin(481 - 57 * 4 - 84, spacing, word, true, 17);
    ASSERT_EQ(t.troughs[5] + 1, 499);
    ASSERT_EQ(t.peaks[6], 565);
    int end = t.peaks[6] + 201 + 57 * 15 + 32;
    EXPECT_EQ(slice(t.s, &m, (size_t)end), word);
    EXPECT_LE(end, RUNIN_LAST_SAMPLE + 1);
}

TEST(RunInGenerated, CleanLinesOfManyPairsDecode)
{
    GenOptions o;
    gen_default_options(&o);
    GenNoise noise;
    gen_noise_init(&noise, 7);
    std::vector<uint8_t> line(2048);
    ScopeMarks m;
    int n = 0;
    for (double offset : {-20.0, 13.5, 40.0}) {
        o.signal.offset = offset;
        for (int first = 0; first < 0x80; first += 7) {
            for (int second : {0x00, 0x14, 0x7F - first, first ^ 0x55}) {
                uint16_t word = gen_pair(first, second);
                gen_render_line(line.data(), word, &o.signal, &noise);
                ASSERT_EQ(slice(line, &m), word) << std::hex << word << " offset " << offset;
                n++;
            }
        }
    }
    EXPECT_GT(n, 200);
}

TEST(RunInGenerated, BlankLineAndNoisyLine)
{
    GenOptions o;
    gen_default_options(&o);
    GenNoise noise;
    gen_noise_init(&noise, 3);
    std::vector<uint8_t> line(2048);
    ScopeMarks m;
    gen_render_line(line.data(), 0, &o.signal, &noise);
    EXPECT_EQ(slice(line, &m), 0);
    EXPECT_EQ(m.count, 0);

    o.signal.noise = 3;
    int good = 0;
    for (int c = 0x20; c < 0x80; c += 3) {
        gen_render_line(line.data(), gen_pair(c, 0x7F - c + 0x20), &o.signal, &noise);
        good += slice(line, &m) == gen_pair(c, 0x7F - c + 0x20);
    }
    EXPECT_EQ(good, 32);
}

}  // namespace
