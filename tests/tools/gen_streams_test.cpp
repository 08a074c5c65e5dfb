#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gen_streams.h"
#include "vbi.h"

namespace {

// Pairs written as SCC writes them: "9420 c8e5".
std::vector<L21Pair> hex_pairs(const std::string &s)
{
    std::vector<L21Pair> out;
    for (size_t i = 0; i + 4 <= s.size(); i += 5) {
        unsigned v = std::stoul(s.substr(i, 4), nullptr, 16);
        out.push_back(L21Pair{(uint8_t)(v >> 8), (uint8_t)v});
    }
    return out;
}

std::string hex(const std::vector<L21Pair> &pairs, size_t from = 0, size_t count = SIZE_MAX)
{
    std::string s;
    for (size_t i = from; i < pairs.size() && i - from < count; i++) {
        char b[6];
        snprintf(b, sizeof b, "%s%02x%02x", s.empty() ? "" : " ", pairs[i].b1, pairs[i].b2);
        s += b;
    }
    return s;
}

std::vector<L21Pair> build(const std::vector<std::string> &texts, GenMode mode, L21Service service, int rows = 3)
{
    std::vector<GenTextLine> lines;
    for (size_t i = 0; i < texts.size(); i++)
        lines.push_back(GenTextLine{texts[i], "-t", (int)i + 1});
    std::vector<L21Pair> pairs;
    std::string error;
    EXPECT_TRUE(gen_caption_pairs(lines, GenCaptionStyle{mode, rows, service}, &pairs, &error)) << error;
    return pairs;
}

TEST(GenStreams, PopOnCaptionsWaitToBeRead)
{
    // A second caption waits for the first to be read; 60 characters
    // take 4 s (120 frames).  Two rows: 14 and 15.  CC2 sets the channel
    // bit of every control pair.
    std::string sixty(28, 'a');
    sixty += " " + std::string(32, 'b');
    std::vector<L21Pair> p = build({sixty, "Next."}, GEN_MODE_POP_ON, L21_CC2);
    EXPECT_EQ(hex(p, 0, 6), "1c20 1c20 1cae 1cae 1c40 1c40");  // row 14
    std::vector<size_t> eoc;
    for (size_t i = 0; i < p.size(); i++)
        if (p[i] == hex_pairs("1c2f")[0])
            eoc.push_back(i);
    ASSERT_EQ(eoc.size(), 4u);
    EXPECT_EQ(eoc[2] - eoc[0], 120u);
}

TEST(GenStreams, ModesChannelsAndFields)
{
    // Roll-up on CC3 (field 2: misc codes on 0x15), 2 rows: RU2, PAC 15, the
    // row, CR once it has been read.
    std::vector<L21Pair> p = build({"Hi there", "Bye"}, GEN_MODE_ROLL_UP, L21_CC3, 2);
    EXPECT_EQ(hex(p, 0, 8), "1525 1525 94e0 94e0 c8e9 20f4 68e5 f2e5");
    size_t cr = 8;
    while (p[cr] == L21_NULL_PAIR)
        cr++;
    EXPECT_EQ(cr, 4u + 16);  // 8 characters at 15 a second: 16 frames from the first
    EXPECT_EQ(hex(p, cr, 4), "15ad 15ad c279 e580");
    EXPECT_EQ(hex(p, p.size() - 2), "152c 152c");

    // Paint-on: RDC, EDM, PAC, text.
    p = build({"Now"}, GEN_MODE_PAINT_ON, L21_CC1);
    EXPECT_EQ(hex(p, 0, 8), "9429 9429 942c 942c 94e0 94e0 ceef f780");

    // Text on T2: TR, the row, CR; no PAC, nothing erased after.
    p = build({"Weather"}, GEN_MODE_TEXT, L21_T2);
    EXPECT_EQ(hex(p), "1c2a 1c2a 57e5 61f4 68e5 f280 1cad 1cad");

    // Special and extended characters: ♪ travels alone, twice; Ü after its
    // fallback U; an odd standard character before either is padded.
    p = build({"a\u266A\u00DC"}, GEN_MODE_TEXT, L21_T1);
    EXPECT_EQ(hex(p, 2, 6), "6180 9137 9137 d580 92a4 92a4");
    // A tab is a space; an empty line sends nothing.
    EXPECT_EQ(build({"", "\t"}, GEN_MODE_POP_ON, L21_CC1).size(), 0u);
}

TEST(GenStreams, WrapAtWordsAndRefuseMalformedText)
{
    auto rows = [](const std::string &s) {
        std::vector<L21CharCode> cells;
        for (char c : s)
            cells.push_back(L21CharCode{L21_SET_STANDARD, (uint8_t)c, 0, 0, (uint32_t)c});
        std::vector<std::string> out;
        for (GenRowRange r : gen_wrap(cells))
            out.push_back(s.substr(r.begin, r.end - r.begin));
        return out;
    };
    EXPECT_EQ(rows("short"), std::vector<std::string>{"short"});
    // Exactly 32 columns stay on one row; the space at a break goes.
    std::string a32(32, 'a');
    EXPECT_EQ(rows(a32 + " b"), (std::vector<std::string>{a32, "b"}));
    EXPECT_EQ(rows("one two three four five six seven eight"),
              (std::vector<std::string>{"one two three four five six", "seven eight"}));
    // A word longer than a row is cut.
    EXPECT_EQ(rows(std::string(40, 'x')), (std::vector<std::string>{std::string(32, 'x'), std::string(8, 'x')}));
    EXPECT_EQ(rows("  "), std::vector<std::string>{});

    std::vector<L21Pair> pairs;
    std::string error;
    std::vector<GenTextLine> lines = {{"bad \xC3 byte", "-t", 1}};
    EXPECT_FALSE(gen_caption_pairs(lines, GenCaptionStyle{GEN_MODE_TEXT, 3, L21_T1}, &pairs, &error));
    EXPECT_EQ(error, "-t:1: malformed UTF-8 at byte 5");
}

L21SccLine line(int64_t frame, const std::string &pairs, int number)
{
    return L21SccLine{frame, hex_pairs(pairs), number};
}

TEST(GenStreams, SccCaptureStartsNoEarlierThanTimeCodeZero)
{
    GenSccPlan plan;
    // Never before 00:00:00;00.
    gen_scc_plan({line(10, "9420", 3)}, {}, &plan);
    EXPECT_EQ(plan.first_timecode, 0);
    EXPECT_EQ(plan.fields.field1[10], hex_pairs("9420")[0]);
    EXPECT_EQ(plan.fields.field1.size(), 41u);
}

TEST(GenStreams, XdsRoundsInterleaveWithCaptions)
{
    GenXds xds;
    xds.program_name = "Evening News";
    ASSERT_TRUE(gen_xds_time_parse("2026-12-31T23:59Z", &xds.time));
    xds.has_time = true;
    EXPECT_EQ(xds.time.weekday, 5);  // a Thursday
    L21XdsTime next = gen_xds_time_at(xds.time, 1800);  // 60.06 s later
    EXPECT_EQ(next.year, 2027);
    EXPECT_EQ(next.month, 1);
    EXPECT_EQ(next.day, 1);
    EXPECT_EQ(next.hour, 0);
    EXPECT_EQ(next.minute, 0);
    EXPECT_EQ(next.weekday, 6);
    for (const char *bad : {"2026-02-29T10:00Z", "2026-12-31 10:00Z", "2026-1-31T10:00Z", "2026-12-31T10:00"}) {
        L21XdsTime t;
        EXPECT_FALSE(gen_xds_time_parse(bad, &t)) << bad;
    }

    // Field 2 carries a caption control pair twice at frame 3; the program
    // name packet starts at frame 0 and resumes after it with the continue
    // code.
    GenFields f;
    gen_fields_extend(&f, 130);
    f.field2[3] = f.field2[4] = l21_misc_pair(L21_EDM, 2, 1);
    xds.has_time = false;
    gen_xds_interleave(&f, xds);
    EXPECT_EQ(hex(f.field2, 0, 7), "0183 4576 e56e 152c 152c 0283 e96e");
    // Again every 60 frames.
    EXPECT_EQ(hex(f.field2, 60, 1), "0183");
    EXPECT_EQ(hex(f.field2, 120, 1), "0183");

    // No XDS pair right before caption characters: a caption interrupting
    // a packet must begin with a control pair.
    GenFields g;
    gen_fields_extend(&g, 20);
    g.field2[5] = l21_pair('H', 'i');
    gen_xds_interleave(&g, xds);
    for (size_t i = 0; i < 5; i++)
        EXPECT_EQ(g.field2[i], L21_NULL_PAIR) << i;
    EXPECT_EQ(hex(g.field2, 6, 1), "0183");
    EXPECT_GE(g.field2.size(), 6u + 8);  // lengthened to hold the whole packet
}

TEST(GenStreams, ZeroBytesAreASignalNotABlankLine)
{
    // A pair 0x00 0x00 (both parity bits wrong, as an SCC file may write
    // it) keeps its run-in and start bit.
    GenOptions o;
    gen_default_options(&o);
    uint8_t line[VBI_LINE_SIZE];
    GenNoise noise;
    gen_noise_init(&noise, 1);
    gen_render_signal(line, 0, &o.signal, &noise);
    EXPECT_GT(line[73], 120);   // a run-in crest
    EXPECT_GT(line[566], 120);  // the start bit
    EXPECT_LT(line[700], 70);   // data bit 2
}

}  // namespace
