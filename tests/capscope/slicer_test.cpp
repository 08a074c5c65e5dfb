// The level slicer and the smoothing that precedes it, on lines built here
// and on lines from the signal generator.  Every line sits at the very end
// of a buffer of exactly the size the function may read, so that a read one
// sample too far is caught by AddressSanitizer.
#include <gtest/gtest.h>

#include <vector>

#include "level_slicer.h"
#include "scope_helpers.h"
#include "vbigen_core.h"

namespace {

const int kSliced = SLICER_LAST_SAMPLE + 1;   // 1640 samples
const int kSmoothed = SMOOTH_LAST_SAMPLE + 1; // 1607 samples

struct Line {
    std::vector<uint8_t> s;
    explicit Line(int level, int size = kSliced) : s((size_t)size, (uint8_t)level) {}
    uint8_t &operator[](int i) { return s.at((size_t)i); }
};

// Puts a start bit and the 16 bits of word at their sample positions for a
// crest at peak.
void place_word(Line &l, int peak, uint16_t word, int high, int low)
{
    l[peak + CAPTION_CREST_TO_START] = (uint8_t)high;
    for (int k = 0; k < 16; k++)
        l[peak + CAPTION_CREST_TO_BIT0 + CAPTION_BIT_STEP * k] = (uint8_t)(word >> k & 1 ? high : low);
}

TEST(LevelSlicer, ConstantLineNeverSlices)
{
    for (int level = 0; level <= 255; level++) {
        Line l(level);
        ScopeMarks marks;
        marks_clear(&marks);
        EXPECT_EQ(LevelSlicer(l.s.data(), &marks), 0) << level;
        // Up to 128 the start sample is not above the threshold; from 129 to
        // 138 all sixteen bits are 1 and parity refuses them; above 138 the
        // start sample only equals the threshold.
        int expected = level >= 129 && level <= 138 ? 19 : 2;
        EXPECT_EQ(marks.count, expected) << level;
    }
}

TEST(LevelSlicer, DefaultCrestMarkers)
{
    Line l(100);  // nothing more than 10 above 128: the crest stays at 48
    ScopeMarks marks;
    marks_clear(&marks);
    EXPECT_EQ(LevelSlicer(l.s.data(), &marks), 0);
    ASSERT_EQ(marks.count, 2);
    expect_line(marks.mark[0], MARK_MARKER_GC, 24, 30, 255);
    expect_line(marks.mark[1], MARK_MARKER_GC, 263, 30, 256);
}

TEST(LevelSlicer, CrestSearchBoundaries)
{
    auto crest = [](Line &l) {
        ScopeMarks marks;
        marks_clear(&marks);
        LevelSlicer(l.s.data(), &marks);
        return marks.mark[0].x1 * 2;
    };
    // Exactly 10 above the level so far does not move the crest; 11 does.
    Line a(128);
    a[60] = 138;
    EXPECT_EQ(crest(a), 48);
    a[60] = 139;
    EXPECT_EQ(crest(a), 60);

    // Exactly 40 below the crest does not end the search, so a later and
    // higher crest is still found; 41 below ends it.
    Line b(170);
    b[100] = 200;
    b[101] = 160;
    b[180] = 220;
    EXPECT_EQ(crest(b), 180);
    b[101] = 159;
    EXPECT_EQ(crest(b), 100);

    // With no fall of more than 40 the search runs to s[249] and no further.
    Line c(128);
    c[249] = 200;
    c[250] = 255;
    EXPECT_EQ(crest(c), 248);  // x = 124, an odd index drawn at (i - 1) / 2
}

TEST(LevelSlicer, SampleAtThresholdIsZero)
{
    // Level 100 throughout: top 128, bottom 100, threshold 114.
    Line l(100);
    const uint16_t word = gen_pair('H', 'i');
    place_word(l, 48, word, 115, 100);
    EXPECT_EQ(LevelSlicer(l.s.data(), nullptr), word);

    l[48 + CAPTION_CREST_TO_START] = 114;  // the start sample equal to the threshold
    ScopeMarks marks;
    marks_clear(&marks);
    EXPECT_EQ(LevelSlicer(l.s.data(), &marks), 0);
    EXPECT_EQ(marks.count, 2);

    // A 1 bit at exactly the threshold reads as 0: here the pair then fails
    // parity, since bit 7 ('H' | 0x80) stays set over odd data bits.
    l[48 + CAPTION_CREST_TO_START] = 115;
    l[48 + CAPTION_CREST_TO_BIT0 + 3 * CAPTION_BIT_STEP] = 114;  // 'H' = 0x48 has bit 3 set
    EXPECT_EQ(LevelSlicer(l.s.data(), nullptr), 0);
}

TEST(LevelSlicer, LatestCrestReadsSample1639AndMarksEveryBit)
{
    Line l(100);
    l[249] = 200;  // crest at the last searched sample: top 200, threshold 150
    const uint16_t word = gen_pair('A', 'A');  // 0xC1C1: bit 15 set
    place_word(l, 249, word, 200, 100);
    ASSERT_EQ(l.s.size(), (size_t)1640);
    ScopeMarks marks;
    marks_clear(&marks);
    EXPECT_EQ(LevelSlicer(l.s.data(), &marks), word);
    ASSERT_EQ(marks.count, 19);
    expect_line(marks.mark[0], MARK_MARKER_GC, 124, 30, 255);
    expect_line(marks.mark[1], MARK_MARKER_GC, (249 + 478) / 2, 30, 256);
    expect_line(marks.mark[2], MARK_TEXT_GC, (249 + 478) / 2, 30, 256);
    for (int k = 0; k < 16; k++) {
        int x = (249 + 535 + 57 * k) / 2;
        if (word >> k & 1)
            expect_line(marks.mark[3 + k], MARK_TEXT_GC, x, 30, 106);
        else
            expect_line(marks.mark[3 + k], MARK_TEXT_GC, x, 106, 256);
    }

    // Bit 15 is read from s[1639] itself.
    l[1639] = 100;
    EXPECT_NE(LevelSlicer(l.s.data(), nullptr), word);
}

TEST(LevelSlicer, ParityFailureAfterAllMarkers)
{
    Line l(100);
    place_word(l, 48, 0x8101, 115, 100);  // one data bit and the parity bit set
    ScopeMarks marks;
    marks_clear(&marks);
    EXPECT_EQ(LevelSlicer(l.s.data(), &marks), 0);
    EXPECT_EQ(marks.count, 19);
}

TEST(Smoothing, ConstantLinesUnchanged)
{
    for (int level : {0, 1, 60, 127, 130, 254, 255}) {
        Line l(level, kSmoothed);
        smooth_line(l.s.data());
        for (int i = 0; i < kSmoothed; i++)
            ASSERT_EQ(l[i], level) << "level " << level << " sample " << i;
    }
}

TEST(Smoothing, BrightSampleSpreadsToLowerIndices)
{
    Line l(0, kSmoothed);
    l[800] = 255;
    smooth_line(l.s.data());
    // Nothing reaches the higher indices; the lower ones receive it, up to
    // some 40 samples before the bright one, while its own place fades out.
    for (int i = 792; i < kSmoothed; i++)
        ASSERT_EQ(l[i], 0) << i;
    int spread = 0;
    for (int i = 740; i < 792; i++)
        spread += l[i] > 0;
    EXPECT_GT(spread, 30);
}

TEST(Smoothing, ReadsUpToSample1606AndWritesUpTo1600)
{
    Line l(0, kSmoothed);
    l[1606] = 255;
    smooth_line(l.s.data());
    EXPECT_GT(l[1600], 0);
    for (int i = 1601; i < 1606; i++)
        EXPECT_EQ(l[i], 0) << i;
    EXPECT_EQ(l[1606], 255);
}

// The smoothing as plainly written: six rounds, each a forward pass while
// the partner ahead is unchanged and a backward pass over x[1600] to x[1].
void smooth_reference(uint8_t *x)
{
    for (int s = 1; s <= 6; s++) {
        for (int k = 0; k < 1600; k++)
            x[k] = (uint8_t)((x[k] + x[k + s]) / 2);
        for (int k = 1600; k >= 1; k--)
            x[k] = (uint8_t)((x[k] + x[k + s]) / 2);
    }
}

// The fast smoothing gives the plain one's result sample for sample, on
// noise of every amplitude, on steps and on single spikes near both ends.
TEST(Smoothing, SameAsThePlainRounds)
{
    uint32_t seed = 12345;
    auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
    for (int trial = 0; trial < 2000; trial++) {
        std::vector<uint8_t> line(2048);
        int kind = trial % 4;
        for (int i = 0; i < 2048; i++) {
            uint32_t r = next() >> 24;
            line[i] = kind == 0   ? (uint8_t)r
                      : kind == 1 ? (uint8_t)(60 + r % (1 + trial % 64))
                      : kind == 2 ? (uint8_t)(i < (int)(next() % 1700) ? 255 : 0)
                                  : (uint8_t)0;
        }
        if (kind == 3)
            line[next() % 1607] = 255;
        std::vector<uint8_t> want = line;
        smooth_reference(want.data());
        smooth_line(line.data());
        ASSERT_EQ(line, want) << "trial " << trial;
    }
}

// Every pair the generator can send, on a clean line and after the scope's
// smoothing, slices back to itself.
TEST(LevelSlicer, SlicesEveryGeneratedPair)
{
    GenOptions o;
    gen_default_options(&o);
    GenNoise noise;
    gen_noise_init(&noise, 1);
    std::vector<uint8_t> line(2048);
    int failures = 0;
    for (int first = 0; first < 128; first++)
        for (int second = 0; second < 128; second++) {
            uint16_t word = gen_pair(first, second);
            gen_render_line(line.data(), word, &o.signal, &noise);
            smooth_line(line.data());
            CaptionWord got = LevelSlicer(line.data(), nullptr);
            if (got != word && ++failures <= 5)
                ADD_FAILURE() << std::hex << "pair " << word << " sliced as " << got;
        }
    EXPECT_EQ(failures, 0);
}

}  // namespace
