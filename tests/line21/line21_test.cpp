#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "line21.h"

namespace {

TEST(Line21, ParityAndNullPair)
{
    for (int c = 0; c < 128; c++) {
        uint8_t b = l21_add_parity((uint8_t)c);
        EXPECT_EQ(b & 0x7F, c);
        EXPECT_TRUE(l21_parity_ok(b)) << c;
        EXPECT_FALSE(l21_parity_ok(b ^ 0x80)) << c;
    }
    EXPECT_EQ(l21_pair(0x14, 0x20), (L21Pair{0x94, 0x20}));  // SCC's 9420
    EXPECT_TRUE(l21_is_null(l21_pair(0, 0)));
    EXPECT_FALSE(l21_is_null(L21Pair{0x00, 0x00}));  // both bytes fail parity
    EXPECT_EQ(l21_word(L21Pair{0x94, 0x2C}), 0x2C94);  // first byte sent first
}

TEST(Line21, PairKindsByRangeChannelAndField)
{
    struct Case {
        uint8_t b1, b2;
        int field;
        L21Kind kind;
    } cases[] = {
        {0x00, 0x00, 1, L21_KIND_NULL},      {0x01, 0x03, 2, L21_KIND_XDS},
        {0x0F, 0x1D, 2, L21_KIND_XDS},       {0x01, 0x03, 1, L21_KIND_UNKNOWN},
        {0x14, 0x70, 1, L21_KIND_PAC},       {0x1C, 0x70, 1, L21_KIND_PAC},
        {0x10, 0x40, 1, L21_KIND_PAC},       {0x10, 0x60, 1, L21_KIND_UNKNOWN},  // row 11 only
        {0x11, 0x20, 1, L21_KIND_MIDROW},    {0x19, 0x2F, 1, L21_KIND_MIDROW},
        {0x11, 0x37, 1, L21_KIND_SPECIAL},   {0x12, 0x20, 1, L21_KIND_EXTENDED},
        {0x1B, 0x3F, 1, L21_KIND_EXTENDED},  {0x14, 0x2F, 1, L21_KIND_MISC},
        {0x1C, 0x20, 1, L21_KIND_MISC},      {0x15, 0x2C, 2, L21_KIND_MISC},
        {0x1D, 0x2C, 2, L21_KIND_MISC},      {0x15, 0x2C, 1, L21_KIND_UNKNOWN},
        {0x14, 0x2C, 2, L21_KIND_UNKNOWN},   {0x17, 0x21, 1, L21_KIND_TAB},
        {0x1F, 0x23, 1, L21_KIND_TAB},       {0x17, 0x24, 1, L21_KIND_UNKNOWN},
        {0x10, 0x2E, 1, L21_KIND_ATTRIBUTE}, {0x17, 0x2D, 1, L21_KIND_ATTRIBUTE},
        {0x48, 0x69, 1, L21_KIND_CHARS},     {0x48, 0x00, 1, L21_KIND_CHARS},
        {0x48, 0x05, 1, L21_KIND_UNKNOWN},   {0x00, 0x41, 1, L21_KIND_UNKNOWN},
        {0x16, 0x30, 1, L21_KIND_UNKNOWN},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(l21_kind(c.b1, c.b2, c.field), c.kind) << std::hex << (int)c.b1 << " " << (int)c.b2;
        // Parity bits do not change the kind.
        EXPECT_EQ(l21_kind(l21_add_parity(c.b1), l21_add_parity(c.b2), c.field), c.kind);
    }
    EXPECT_EQ(l21_channel(0x94), 1);
    EXPECT_EQ(l21_channel(0x1C), 2);
    EXPECT_EQ(l21_channel(0x41), 0);
    EXPECT_EQ(l21_on_channel(0x14, 2), 0x1C);
    EXPECT_EQ(l21_on_channel(0x1C, 1), 0x14);
    EXPECT_EQ(l21_misc_pair(L21_EOC, 1, 1), (L21Pair{0x94, 0x2F}));
    EXPECT_EQ(l21_misc_pair(L21_EOC, 2, 2), l21_pair(0x1D, 0x2F));
    EXPECT_STREQ(l21_misc_name(L21_RDC), "RDC");
    EXPECT_EQ(l21_misc_parse("ENM"), L21_ENM);
    EXPECT_EQ(l21_misc_parse("XYZ"), -1);
}

TEST(Line21, CharacterSetsBothWays)
{
    EXPECT_STREQ(l21_standard_char('A'), "A");
    EXPECT_STREQ(l21_standard_char(0x2A), "á");
    EXPECT_STREQ(l21_standard_char(0x7E), "ñ");
    EXPECT_STREQ(l21_standard_char(0x7F), "■");
    EXPECT_EQ(l21_standard_char(0x1F), nullptr);
    EXPECT_STREQ(l21_special_char(0x37), "♪");
    EXPECT_STREQ(l21_special_char(0x39), "\u00A0");
    EXPECT_STREQ(l21_extended_char(0x12, 0x25), "ü");
    EXPECT_STREQ(l21_extended_char(0x1B, 0x3F), "┘");
    EXPECT_EQ(l21_extended_char(0x11, 0x25), nullptr);
    EXPECT_STREQ(l21_received_char(l21_add_parity('e')), "e");
    EXPECT_STREQ(l21_received_char(l21_add_parity('e') ^ 0x80), "■");  // parity fails
    EXPECT_STREQ(l21_received_char(0x80), "");          // no second character

    // Every character of every set comes back to its own code (the standard
    // set wins where a glyph is in two sets; none is).
    auto back = [](const char *utf8) {
        L21CharCode c;
        EXPECT_EQ(l21_char_from_utf8(utf8, strlen(utf8), &c), strlen(utf8)) << utf8;
        return c;
    };
    for (int c = 0x20; c < 0x80; c++) {
        L21CharCode k = back(l21_standard_char((uint8_t)c));
        EXPECT_EQ(k.set, L21_SET_STANDARD);
        EXPECT_EQ(k.b1, c);
    }
    for (int b2 = 0x30; b2 < 0x40; b2++) {
        L21CharCode k = back(l21_special_char((uint8_t)b2));
        EXPECT_EQ(k.set, L21_SET_SPECIAL);
        EXPECT_EQ(k.b2, b2);
    }
    for (int b1 = 0x12; b1 <= 0x13; b1++)
        for (int b2 = 0x20; b2 < 0x40; b2++) {
            L21CharCode k = back(l21_extended_char((uint8_t)b1, (uint8_t)b2));
            EXPECT_EQ(k.set, L21_SET_EXTENDED);
            EXPECT_EQ(k.b1, b1);
            EXPECT_EQ(k.b2, b2);
            EXPECT_NE(l21_standard_char(k.fallback), nullptr);
        }
    // ASCII that the standard set gave away travels as extended characters.
    EXPECT_EQ(back("*").b2, 0x28);
    EXPECT_EQ(back("~").b1, 0x13);
    EXPECT_EQ(back("Ü").fallback, 'U');
    // Not on line 21, and malformed UTF-8.
    EXPECT_EQ(back("€").set, L21_SET_NONE);
    EXPECT_EQ(back("`").set, L21_SET_NONE);
    L21CharCode k;
    EXPECT_EQ(l21_char_from_utf8("\xC3", 1, &k), 0u);       // cut short
    EXPECT_EQ(l21_char_from_utf8("\xC0\xA1", 2, &k), 0u);   // overlong
    EXPECT_EQ(l21_char_from_utf8("\xED\xA0\x80", 3, &k), 0u);  // surrogate
    EXPECT_EQ(l21_char_from_utf8("", 0, &k), 0u);
}

TEST(Line21, PreambleAddressCodesBothWays)
{
    // Row 15 at column 4, and row 1 in white italics underlined.
    L21Pac p;
    ASSERT_TRUE(l21_pac_decode(0x94, 0x72, &p));
    EXPECT_EQ(p.row, 15);
    EXPECT_EQ(p.indent, 4);
    EXPECT_FALSE(p.italics);
    ASSERT_TRUE(l21_pac_decode(0x19, 0x4F, &p));
    EXPECT_EQ(p.row, 1);
    EXPECT_TRUE(p.italics);
    EXPECT_TRUE(p.underline);
    ASSERT_TRUE(l21_pac_decode(0x13, 0x48, &p));
    EXPECT_EQ(p.row, 12);
    EXPECT_EQ(p.colour, L21_RED);
    EXPECT_FALSE(l21_pac_decode(0x10, 0x60, &p));
    EXPECT_FALSE(l21_pac_decode(0x41, 0x41, &p));

    for (int row = 1; row <= 15; row++)
        for (int a = 0; a < 16; a++)
            for (int u = 0; u < 2; u++) {
                L21Pac in = {row, a < 7 ? (L21Colour)a : L21_WHITE, a == 7, a >= 8 ? 4 * (a - 8) : 0, u == 1};
                uint8_t b1, b2;
                ASSERT_TRUE(l21_pac_encode(in, &b1, &b2));
                L21Pac out;
                ASSERT_TRUE(l21_pac_decode(b1, b2, &out)) << row;
                EXPECT_EQ(out.row, row);
                EXPECT_EQ(out.colour, in.colour);
                EXPECT_EQ(out.italics, in.italics);
                EXPECT_EQ(out.indent, in.indent);
                EXPECT_EQ(out.underline, in.underline);
                EXPECT_EQ(l21_kind(l21_on_channel(b1, 2), b2, 1), L21_KIND_PAC);
            }
    uint8_t b1, b2;
    EXPECT_FALSE(l21_pac_encode(L21Pac{16, L21_WHITE, false, 0, false}, &b1, &b2));

    L21MidRow m;
    ASSERT_TRUE(l21_midrow_decode(0x91, 0xAE, &m));
    EXPECT_TRUE(m.italics);
    EXPECT_FALSE(m.underline);
    EXPECT_EQ(l21_midrow_encode(L21MidRow{L21_YELLOW, false, true}), 0x2B);
    EXPECT_FALSE(l21_midrow_decode(0x11, 0x30, &m));
    EXPECT_EQ(l21_tab_columns(0x97, 0xA2), 2);
    EXPECT_EQ(l21_tab_columns(0x1F, 0x23), 3);
    EXPECT_EQ(l21_tab_columns(0x17, 0x24), 0);
}

TEST(Line21, XdsPacketsAndTimeOfDay)
{
    std::vector<L21Pair> p = l21_xds_packet(L21_XDS_CURRENT, L21_XDS_TYPE_PROGRAM_NAME, "News");
    ASSERT_EQ(p.size(), 4u);  // start, "Ne", "ws", end
    EXPECT_EQ(p[0], l21_pair(0x01, 0x03));
    EXPECT_EQ(p[3].b1 & 0x7F, 0x0F);
    std::vector<uint8_t> bytes;
    for (L21Pair q : p) {
        EXPECT_TRUE(l21_parity_ok(q.b1) && l21_parity_ok(q.b2));
        bytes.push_back(q.b1);
        bytes.push_back(q.b2);
    }
    EXPECT_TRUE(l21_xds_checksum_ok(bytes.data(), bytes.size()));
    bytes[2] ^= 1;
    EXPECT_FALSE(l21_xds_checksum_ok(bytes.data(), bytes.size()));
    // An odd length is padded with 0x00.
    p = l21_xds_packet(L21_XDS_CHANNEL, L21_XDS_TYPE_NETWORK, "ABC");
    EXPECT_EQ(p[2], l21_pair('C', 0));

    L21XdsClass cls;
    bool cont;
    ASSERT_TRUE(l21_xds_class_of(0x86, &cls, &cont));  // parity bit set
    EXPECT_EQ(cls, L21_XDS_CHANNEL);
    EXPECT_TRUE(cont);
    EXPECT_FALSE(l21_xds_class_of(0x0F, &cls, &cont));  // the end code

    EXPECT_EQ(l21_weekday(2026, 12, 9), 4);  // a Wednesday
    EXPECT_EQ(l21_weekday(2000, 1, 1), 7);   // a Saturday
    EXPECT_EQ(l21_weekday(1990, 1, 7), 1);   // a Sunday
    L21XdsTime t = {2026, 12, 9, 21, 5, 4, false, true, false}, u;
    std::string data;
    ASSERT_TRUE(l21_xds_time_encode(t, &data));
    EXPECT_EQ(data, std::string("\x45\x55\x49\x5C\x44\x64", 6));
    std::string again;
    ASSERT_TRUE(l21_xds_time_decode(data, &u) && l21_xds_time_encode(u, &again));
    EXPECT_EQ(again, data);
    t.minute = 60;
    EXPECT_FALSE(l21_xds_time_encode(t, &data));
    EXPECT_FALSE(l21_xds_time_decode(std::string("\x05\x55\x49\x5C\x44\x64", 6), &u));  // no 0x40
    EXPECT_FALSE(l21_xds_time_decode("EUI", &u));
}

TEST(Line21, DropFrameTimeCodes)
{
    struct Case {
        int64_t frame;
        const char *tc;
    } cases[] = {
        {0, "00:00:00;00"},      {1799, "00:00:59;29"},       {1800, "00:01:00;02"},
        {3597, "00:01:59;29"},   {3598, "00:02:00;02"},       {17981, "00:09:59;29"},
        {17982, "00:10:00;00"},  {17983, "00:10:00;01"},      {19782, "00:11:00;02"},
        {107892, "01:00:00;00"}, {L21_LAST_TIMECODE_FRAME, "23:59:59;29"},
    };
    for (const Case &c : cases) {
        char tc[12];
        ASSERT_TRUE(l21_timecode_format(c.frame, tc));
        EXPECT_STREQ(tc, c.tc);
        int64_t f;
        const char *why;
        ASSERT_TRUE(l21_timecode_parse(c.tc, 11, &f, &why)) << c.tc;
        EXPECT_EQ(f, c.frame) << c.tc;
    }
    // Every frame of the first hour both ways.
    for (int64_t f = 0; f < 107892; f++) {
        char tc[12];
        int64_t back;
        const char *why;
        ASSERT_TRUE(l21_timecode_format(f, tc));
        ASSERT_TRUE(l21_timecode_parse(tc, 11, &back, &why));
        ASSERT_EQ(back, f) << tc;
    }
    char tc[12];
    EXPECT_FALSE(l21_timecode_format(L21_LAST_TIMECODE_FRAME + 1, tc));
    EXPECT_FALSE(l21_timecode_format(-1, tc));

    int64_t f;
    const char *why;
    ASSERT_TRUE(l21_timecode_parse("00:01:00:00", 11, &f, &why));  // non-drop
    EXPECT_EQ(f, 1800);
    ASSERT_TRUE(l21_timecode_parse("01:00:00:00", 11, &f, &why));
    EXPECT_EQ(f, 108000);
    for (const char *bad : {"24:00:00;00", "00:60:00;00", "00:00:00;30", "00:01:00;01", "0:00:00;00",
                            "00:00:00.00", "00:00:00;0x", "00:00:00;000"}) {
        EXPECT_FALSE(l21_timecode_parse(bad, strlen(bad), &f, &why)) << bad;
        EXPECT_NE(why, nullptr);
    }
}

std::vector<L21SccLine> read_scc(const std::string &text, L21SccError *err)
{
    std::vector<L21SccLine> lines;
    EXPECT_TRUE(l21_scc_read(text.data(), text.size(), &lines, err)) << err->line << ": " << err->message;
    return lines;
}

TEST(Line21, SccReader)
{
    L21SccError err;
    std::vector<L21SccLine> lines = read_scc("\xEF\xBB\xBFScenarist_SCC V1.0\r\n\r\n"
                                             "00:00:01;00\t9420 9420 94ae\r\n\r\n"
                                             "00:00:02;00  c845 ec80 \r\n"
                                             "00:00:02;00\tFFFF\n",
                                             &err);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].frame, 30);
    EXPECT_EQ(lines[0].line_number, 3);
    ASSERT_EQ(lines[0].pairs.size(), 3u);
    EXPECT_EQ(lines[0].pairs[2], (L21Pair{0x94, 0xAE}));
    EXPECT_EQ(lines[1].pairs[1], (L21Pair{0xEC, 0x80}));
    EXPECT_EQ(lines[2].pairs[0], (L21Pair{0xFF, 0xFF}));  // parity errors kept as written

    // More refusals, with vbigen's messages, in tests/tools.
    struct Bad {
        const char *text;
        int line;
        const char *says;
    } bad[] = {
        {"00:00:00;00\t9420\n", 1, "not an SCC file"},
        {"Scenarist_SCC V1.0\n\n00:00:00;00\t9420 94g0\n", 3, "'94g0'"},
        {"Scenarist_SCC V1.0\n\n00:00:00;00\n", 3, "no pairs"},
        {"Scenarist_SCC V1.0\n\nhello\t9420\n", 3, "'hello' is not a time code"},
    };
    for (const Bad &b : bad) {
        std::vector<L21SccLine> l;
        EXPECT_FALSE(l21_scc_read(b.text, strlen(b.text), &l, &err)) << b.text;
        EXPECT_EQ(err.line, b.line) << b.text;
        EXPECT_NE(err.message.find(b.says), std::string::npos) << err.message;
    }
}

TEST(Line21, SccWriterLeavesNullPairsOut)
{
    std::vector<L21FramePair> in = {
        {30, l21_pair(0x14, 0x20)}, {31, l21_pair(0x14, 0x20)}, {32, L21_NULL_PAIR},
        {33, l21_pair('H', 'i')},   {40, L21Pair{0x00, 0x00}},  {41, l21_pair(0x14, 0x2F)},
    };
    std::string text;
    ASSERT_TRUE(l21_scc_write(in, &text));
    EXPECT_EQ(text, "Scenarist_SCC V1.0\n\n"
                    "00:00:01;00\t9420 9420\n\n"
                    "00:00:01;03\tc8e9\n\n"
                    "00:00:01;10\t0000 942f\n\n");
    // Read back: the same pairs at the same frames.
    L21SccError err;
    std::vector<L21SccLine> lines = read_scc(text, &err);
    std::vector<L21FramePair> out;
    for (const L21SccLine &l : lines)
        for (size_t i = 0; i < l.pairs.size(); i++)
            out.push_back({l.frame + (int64_t)i, l.pairs[i]});
    ASSERT_EQ(out.size(), 5u);
    EXPECT_EQ(out[2].frame, 33);
    EXPECT_EQ(out[3].frame, 40);
    EXPECT_EQ(out[3].pair, (L21Pair{0, 0}));

    L21SccWriter w;
    std::string s;
    EXPECT_TRUE(l21_scc_put(&w, 5, l21_pair('a', 'b'), &s));
    EXPECT_FALSE(l21_scc_put(&w, 5, l21_pair('a', 'b'), &s));  // not after the last
    EXPECT_FALSE(l21_scc_put(&w, L21_LAST_TIMECODE_FRAME + 1, l21_pair('a', 'b'), &s));
    std::string empty;
    ASSERT_TRUE(l21_scc_write({}, &empty));
    EXPECT_EQ(empty, "Scenarist_SCC V1.0\n\n");
}

}  // namespace
