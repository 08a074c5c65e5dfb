#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "integrating_slicer.h"
#include "vbigen_core.h"

namespace {

// A line held in a buffer that ends right after the furthest sample the
// slicer may read, so that AddressSanitizer catches any read beyond it.
struct Line {
    std::vector<uint8_t> full = std::vector<uint8_t>(2048);
    std::vector<uint8_t> buf;

    Line(uint16_t word, double data = 130, double offset = 0, double noise = 0, uint32_t seed = 1)
    {
        GenOptions o;
        gen_default_options(&o);
        o.signal.data = data;
        o.signal.offset = offset;
        o.signal.noise = noise;
        GenNoise n;
        gen_noise_init(&n, seed);
        gen_render_line(full.data(), word, &o.signal, &n);
        sync();
    }
    void sync() { buf.assign(full.begin(), full.begin() + INTEGRATING_LAST_SAMPLE + 1); }
    CaptionWord slice(IntegratingResult *r) const { return IntegratingSlicer(buf.data(), r); }
};

const uint16_t HI = gen_pair('H', 'i');

TEST(IntegratingSlicer, CleanLinesAtEveryOffsetAndLevel)
{
    for (double data : {100.0, 130.0, 200.0, 255.0})
        for (double offset : {-70.0, -65.0, -60.0, -20.0, 0.0, 0.5, 10.0, 20.0, 60.0, 66.0}) {
            Line l(HI, data, offset);
            IntegratingResult r;
            EXPECT_EQ(l.slice(&r), HI) << "data " << data << " offset " << offset;
            EXPECT_EQ(r.cause, INTEGRATING_OK);
            EXPECT_EQ(r.raw, HI);
            EXPECT_NEAR(r.first_crest, 72.9375 + offset, 0.5) << "offset " << offset;
            EXPECT_NEAR(r.blanking, 60, 3) << "data " << data << " offset " << offset;
            EXPECT_NEAR(r.crest, data, 3) << "data " << data << " offset " << offset;
            EXPECT_NEAR(r.threshold, (60 + data) / 2, 1.5);
            EXPECT_NEAR(r.margin, (data - 60) / 2, 4);
            EXPECT_LT(r.noise, 1.5);
            // A run-in cut by the line's start is fitted on what is left.
            EXPECT_EQ(r.cycles, offset < -44 ? 6 : 7) << "offset " << offset;
        }
}

TEST(IntegratingSlicer, EveryEighthOfASampleAndEveryClockPhase)
{
    // A bit is 56 7/8 samples, so the windows fall on the samples in eight
    // ways as the timing moves, and the run-in's phase takes every value
    // over a cycle.  Steps of 17/8 samples over the whole search range
    // meet every eighth and every part of the cycle; the fitted crest must
    // follow the timing closely throughout.
    for (int k = 0; k < 64; k++) {
        double offset = -70 + k * 17 / 8.0;
        Line l(HI, 130, offset);
        IntegratingResult r;
        EXPECT_EQ(l.slice(&r), HI) << "offset " << offset;
        EXPECT_NEAR(r.first_crest, 72.9375 + offset, 0.1) << "offset " << offset;
        EXPECT_GT(r.margin, 33) << "offset " << offset;
        EXPECT_LT(r.noise, 0.5) << "offset " << offset;
    }
}

TEST(IntegratingSlicer, EveryPairOfCodesSurvivesModerateNoise)
{
    // Control pairs and characters alike, at the noise the other slicers
    // lose most lines to.
    int ok = 0, wrong = 0, n = 0;
    for (int a = 0x10; a < 0x80; a += 7)
        for (int b = 0x20; b < 0x80; b += 11) {
            uint16_t w = gen_pair(a, b);
            CaptionWord got = Line(w, 130, (n % 9) * 10 - 40, 20, (uint32_t)n + 1).slice(nullptr);
            ok += got == w;
            wrong += got != 0 && got != w;
            n++;
        }
    EXPECT_GE(ok, n * 98 / 100);
    EXPECT_EQ(wrong, 0);
}

TEST(IntegratingSlicer, BlankAndFlatLinesHaveNoRunIn)
{
    IntegratingResult r;
    EXPECT_EQ(Line(0).slice(&r), 0);  // the generator's line without captions
    EXPECT_EQ(r.cause, INTEGRATING_NO_RUNIN);
    EXPECT_EQ(r.raw, 0);
    for (int level : {0, 60, 255}) {
        std::vector<uint8_t> flat(INTEGRATING_LAST_SAMPLE + 1, (uint8_t)level);
        EXPECT_EQ(IntegratingSlicer(flat.data(), &r), 0);
        EXPECT_EQ(r.cause, INTEGRATING_NO_RUNIN) << level;
    }
    // Noise alone: never a pair.
    for (uint32_t seed = 1; seed <= 200; seed++)
        EXPECT_EQ(Line(0, 130, 0, 30, seed).slice(nullptr), 0) << seed;
}

TEST(IntegratingSlicer, RunInMissingButBitsPresent)
{
    // The data of a good line with its run-in flattened to blanking.
    Line l(HI);
    memset(l.full.data(), 60, 520);
    l.sync();
    IntegratingResult r;
    EXPECT_EQ(l.slice(&r), 0);
    EXPECT_NE(r.cause, INTEGRATING_OK);
    EXPECT_EQ(r.raw, 0);
}

TEST(IntegratingSlicer, StartBitMissing)
{
    Line l(HI);
    int from = (int)(538.5 + 8), to = (int)(538.5 + 56.875 - 8);
    memset(l.full.data() + from, 60, (size_t)(to - from));
    l.sync();
    IntegratingResult r;
    EXPECT_EQ(l.slice(&r), 0);
    EXPECT_EQ(r.cause, INTEGRATING_START_BIT);
    EXPECT_EQ(r.raw, 0);
    EXPECT_NEAR(r.first_crest, 72.94, 0.5);  // the run-in is still reported
}

// Sets data bit b of a default line to level v over its middle, or over
// the whole bit.
void force_bit(Line &l, int b, int v, bool whole = false)
{
    double from = 538.5 + 56.875 * (b + 1);
    memset(l.full.data() + (int)from + (whole ? 0 : 4), v, whole ? 57 : 49);
    l.sync();
}

TEST(IntegratingSlicer, OneFlippedBitIsAParityErrorWithTheBitsAsRead)
{
    for (int b : {0, 6, 7, 8, 15}) {
        Line l(HI);
        bool was = HI >> b & 1;
        force_bit(l, b, was ? 60 : 130);
        IntegratingResult r;
        EXPECT_EQ(l.slice(&r), 0) << b;
        EXPECT_EQ(r.cause, INTEGRATING_PARITY) << b;
        EXPECT_EQ(r.raw, HI ^ (1u << b)) << b;
    }
}

TEST(IntegratingSlicer, AByteIsPutRightOnlyWhenOneBitIsSurelyTheMisreadOne)
{
    // Noise of 30 levels (about 8 on an integrated bit), then bits of the
    // first byte ('H': bit 2 is 0, bit 3 is 1) set at the threshold's
    // wrong side (it lies at 95).  One bit 5 levels over it, every other
    // bit at its level: that bit is surely the misread one.
    // (Now and then another bit of the byte lies near enough the
    // threshold by chance to leave a doubt, and the line is refused.)
    int read = 0, corrected = 0;
    for (uint32_t seed = 1; seed <= 20; seed++) {
        Line one(HI, 130, 0, 30, seed);
        force_bit(one, 2, 100, true);
        IntegratingResult r;
        CaptionWord got = one.slice(&r);
        EXPECT_TRUE(got == HI || (got == 0 && r.cause == INTEGRATING_PARITY)) << seed;
        if (got == HI) {
            EXPECT_EQ(r.raw, HI) << seed;
            read++;
            corrected += r.corrected;
        }

        // Two bits at one level just over the threshold: parity fails
        // whichever side the threshold puts them, and either could be the
        // misread one.
        Line two(HI, 130, 0, 30, seed);
        force_bit(two, 2, 97, true);
        force_bit(two, 3, 97, true);
        EXPECT_EQ(two.slice(&r), 0) << seed;
        EXPECT_EQ(r.cause, INTEGRATING_PARITY) << seed;
    }
    // (The threshold, measured on the noisy line, puts the bit on its
    // right side now and then.)
    EXPECT_GE(read, 17);
    EXPECT_GE(corrected, 14);
}

TEST(IntegratingSlicer, TwoFlippedBitsPassParityAsAnotherPair)
{
    // Parity cannot see two clean flips in one byte: the line is another
    // valid pair, read with full confidence.
    Line l(HI);
    force_bit(l, 0, HI & 1 ? 60 : 130);
    force_bit(l, 1, HI & 2 ? 60 : 130);
    IntegratingResult r;
    EXPECT_EQ(l.slice(&r), HI ^ 3);
    EXPECT_EQ(r.cause, INTEGRATING_OK);
}

TEST(IntegratingSlicer, BitsNearTheThresholdAreRefusedAsWeak)
{
    // Two bits of the first byte halfway and just off: parity holds either
    // way they are read, so the line cannot be trusted.
    Line l(HI);
    force_bit(l, 2, 96);
    force_bit(l, 3, 94);
    Line n = l;  // with some noise to measure
    GenNoise g;
    gen_noise_init(&g, 7);
    GenOptions o;
    gen_default_options(&o);
    o.signal.noise = 4;
    gen_render_line(n.full.data(), HI, &o.signal, &g);
    for (int k = 0; k < 2048; k++)
        n.full[k] = (uint8_t)(l.full[k] + (int)n.full[k] - (int)Line(HI).full[k]);
    n.sync();
    IntegratingResult r;
    EXPECT_EQ(n.slice(&r), 0);
    EXPECT_EQ(r.cause, INTEGRATING_WEAK);
    EXPECT_LT(r.margin, 4);
}

TEST(IntegratingSlicer, HeavyNoiseRefusesRatherThanGuesses)
{
    // Noise of 70 levels against a swing of 70: about one line in six can
    // be read with confidence, and at most one in 200 may come out wrong.
    int wrong = 0, refused = 0;
    for (uint32_t seed = 1; seed <= 3000; seed++) {
        IntegratingResult r;
        CaptionWord got = Line(HI, 130, 0, 70, seed).slice(&r);
        wrong += got != 0 && got != HI;
        refused += got == 0;
        if (got == 0) {
            EXPECT_NE(r.cause, INTEGRATING_OK);
        }
        if (r.cause == INTEGRATING_PARITY || r.cause == INTEGRATING_WEAK) {
            EXPECT_NE(r.raw, 0);
        }
    }
    EXPECT_LE(wrong, 15);
    EXPECT_GT(refused, 2000);
}

TEST(IntegratingSlicer, NullResultIsAllowed)
{
    EXPECT_EQ(Line(HI).slice(nullptr), HI);
    EXPECT_EQ(Line(0).slice(nullptr), 0);
}

}  // namespace
