#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "averaging_slicer.h"
#include "vbigen_core.h"

namespace {

// A line held in a buffer that ends right after the furthest sample the
// slicer may read, so that AddressSanitizer catches any read beyond it.
struct Line {
    std::vector<uint8_t> buf;
    explicit Line(int level, size_t size = 2048) : buf(size, (uint8_t)level) {}
    uint8_t &operator[](size_t i) { return buf.at(i); }
    CaptionWord slice() const { return AveragingSlicer(buf.data()); }
    void fill(size_t from, size_t n, int level) { memset(&buf.at(from), level, n); }
};

TEST(AveragingSlicer, ConstantLinesGiveNothingAtEveryLevel)
{
    for (int level = 0; level < 256; level++)
        EXPECT_EQ(Line(level).slice(), 0) << "level " << level;
}

// The worked example: 20 everywhere but s[10] = 120 gives peak 10,
// bottom 20, threshold 70; the start window is s[488..519] and bit j's
// window starts at 545 + 57 j.
TEST(AveragingSlicer, PeakAtTenPlacesEveryWindow)
{
    Line l(20);
    l[10] = 120;
    EXPECT_EQ(l.slice(), 0);  // start window at level 20
    const uint16_t word = gen_pair('H', 'i');
    l.fill(488, 32, 120);
    for (int j = 0; j < 16; j++)
        if (word >> j & 1)
            l.fill(545 + 57 * j, 32, 120);
    EXPECT_EQ(l.slice(), word);
    // One sample before bit 0's window does not belong to it.
    Line shifted = l;
    shifted.fill(545, 32, 20);
    shifted[544] = 255;
    EXPECT_EQ(shifted.slice() & 1, 0);
}

TEST(AveragingSlicer, WindowEqualToThresholdIsZero)
{
    // top 120 at 10, bottom 20: threshold 70.
    Line l(20);
    l[10] = 120;
    l.fill(488, 32, 70);
    EXPECT_EQ(l.slice(), 0);  // start bit only equal to the threshold
    l.fill(488, 32, 71);
    // All data windows at 20: a word of zeros passes the parity rule.
    EXPECT_EQ(l.slice(), 0);
    // Bit 0 at exactly the threshold stays 0, at 71 it is 1 (and the odd
    // count with a clear parity bit passes).
    l.fill(545, 32, 70);
    EXPECT_EQ(l.slice(), 0);
    l.fill(545, 32, 71);
    EXPECT_EQ(l.slice(), 0x0001);
    // A window whose sum is one short of 71 * 32 rounds down to 70.
    l[545] = 70;
    EXPECT_EQ(l.slice(), 0);
}

TEST(AveragingSlicer, TenAboveTopDoesNotMoveThePeakNorFortyBelowEndTheSearch)
{
    // top rises to 50 at 5; s[6] = 60 is exactly 10 above and must not move
    // the peak; s[7] = 10 is exactly 40 below and must not end the search;
    // s[8] = 100 then makes peak 8, and s[9] = 0 ends the search with
    // bottom 0: threshold 50.  Either fault would end the search at s[7]
    // with a threshold of 25 or 30, and windows at 45 would then decode.
    auto line = [](int level) {
        Line l(0);
        l[5] = 50;
        l[6] = 60;
        l[7] = 10;
        l[8] = 100;
        l.fill(8 + 478, 32, level);
        l.fill(8 + 535, 32, level);
        return l;
    };
    EXPECT_EQ(line(51).slice(), 0x0001);
    EXPECT_EQ(line(45).slice(), 0);
}

TEST(AveragingSlicer, SearchEndsAfterSample249AndReadsNoFurtherThan1670)
{
    // Only s[249] rises: peak 249, threshold 100; the last bit window ends
    // at 249 + 535 + 57 * 15 + 31 = 1670, the last byte of the buffer.
    Line l(0, 1671);
    l[249] = 200;
    l.fill(249 + 478, 32, 200);
    l.fill(249 + 535 + 57 * 15, 32, 200);  // bit 15: parity of an empty byte
    EXPECT_EQ(l.slice(), 0x8000);
}

TEST(AveragingSlicer, ParityFailureGivesZero)
{
    Line l(20);
    l[10] = 120;
    l.fill(488, 32, 120);
    l.fill(545, 32, 120);            // bit 0: one data bit
    l.fill(545 + 57 * 7, 32, 120);   // and its parity bit set: refused
    EXPECT_EQ(l.slice(), 0);
}

// Every pair a broadcaster can send, on clean generated lines and with the
// timing and levels moved around.
TEST(AveragingSlicer, GeneratedLinesOfEveryPairDecode)
{
    GenOptions o;
    gen_default_options(&o);
    GenNoise noise;
    gen_noise_init(&noise, 1);
    uint8_t line[2048];
    int wrong = 0;
    for (int first = 0; first < 128; first++)
        for (int second = 0; second < 128; second++) {
            uint16_t word = gen_pair(first, second);
            gen_render_line(line, word, &o.signal, &noise);
            wrong += AveragingSlicer(line) != word;
        }
    EXPECT_EQ(wrong, 0);

    const double offsets[] = {-20, -6, 6, 20};
    const double levels[][2] = {{40, 100}, {60, 200}, {16, 235}};
    for (double off : offsets)
        for (auto &lv : levels) {
            o.signal.offset = off;
            o.signal.blank = lv[0];
            o.signal.data = lv[1];
            for (int c = 0x20; c < 0x80; c++) {
                uint16_t word = gen_pair(c, 0x7F - c + 0x20);
                gen_render_line(line, word, &o.signal, &noise);
                EXPECT_EQ(AveragingSlicer(line), word) << "offset " << off << " levels " << lv[0] << "/" << lv[1];
            }
        }
}

}  // namespace
