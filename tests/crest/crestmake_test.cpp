#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "crestmake_core.h"

namespace {

// A header buffer as read from a file that starts with text and goes on
// with filler bytes.
struct Header {
    uint8_t bytes[PPM_HEADER_SIZE];
    Header(const std::string &text, uint8_t fill = 'x')
    {
        memset(bytes, fill, sizeof bytes);
        memcpy(bytes, text.data(), std::min(text.size(), sizeof bytes));
    }
};

TEST(PpmNextLine, FindsTheEndOfTheLineOrGivesUp)
{
    Header h("P6\n\nabc\n");
    EXPECT_EQ(ppm_next_line(h.bytes, 0), 3);
    EXPECT_EQ(ppm_next_line(h.bytes, 3), 4);  // an empty line
    EXPECT_EQ(ppm_next_line(h.bytes, 4), 8);
    EXPECT_EQ(ppm_next_line(h.bytes, 8), PPM_NO_LINE);  // filler to the end
    EXPECT_EQ(ppm_next_line(h.bytes, PPM_HEADER_SIZE), PPM_NO_LINE);
    h.bytes[1023] = '\n';
    EXPECT_EQ(ppm_next_line(h.bytes, 8), 1024);
}

struct HeaderCase {
    const char *text;
    PpmHeaderStatus status;
    int offset;
};

TEST(PpmHeader, AcceptsOnlyTheNarrowShape)
{
    const HeaderCase cases[] = {
        {"P6\n128 128\n255\n", PPM_HEADER_OK, 15},
        {"P6\n# made by hand\n128 128\n255\n", PPM_HEADER_OK, 30},
        {"P6 whatever\n128 128\n255\n", PPM_HEADER_OK, 24},
        {"P6\n128 1280\n255\n", PPM_HEADER_OK, 16},
        {"P6\n128 128\n2555\n", PPM_HEADER_OK, 16},
        {"P3\n128 128\n255\n", PPM_NOT_RAW, 0},
        {"p6\n128 128\n255\n", PPM_NOT_RAW, 0},
        {"P6\n#one\n#two\n128 128\n255\n", PPM_BAD_SIZE, 0},
        {"P6\n\n128 128\n255\n", PPM_BAD_SIZE, 0},
        {"P6\n128  128\n255\n", PPM_BAD_SIZE, 0},
        {"P6\n128 127\n255\n", PPM_BAD_SIZE, 0},
        {"P6\n128 128\n# late\n255\n", PPM_BAD_DEPTH, 0},
        {"P6\n128 128\n25\n", PPM_BAD_DEPTH, 0},
        {"P6\n128 128\n65535\n", PPM_BAD_DEPTH, 0},
        // Everything on the magic line: the raster is taken as the size line.
        {"P6 128 128 255\nrgbrgb\n", PPM_BAD_SIZE, 0},
        {"P6 128 128 255\n", PPM_BAD_FILE, 0},
        {"P6\n128 128\n255", PPM_BAD_FILE, 0},
    };
    for (const HeaderCase &c : cases) {
        SCOPED_TRACE(c.text);
        Header h(c.text);
        int offset = -1;
        EXPECT_EQ(ppm_parse_header(h.bytes, &offset), c.status);
        if (c.status == PPM_HEADER_OK) {
            EXPECT_EQ(offset, c.offset);
        }
    }
}

TEST(PpmHeader, LinesMustEndInsideTheFirst1024Bytes)
{
    // A magic line that ends on the last header byte leaves no room for a
    // comment or a size line.
    std::string text = "P6" + std::string(1021, ' ') + "\n";
    Header h(text, '#');
    int offset;
    EXPECT_EQ(ppm_parse_header(h.bytes, &offset), PPM_BAD_FILE);
    // A comment that fills the header.
    Header c("P6\n#", '#');
    EXPECT_EQ(ppm_parse_header(c.bytes, &offset), PPM_BAD_FILE);
    // The maximum-value line's newline as the very last header byte.
    std::string full = "P6\n#" + std::string(1024 - 4 - 1 - 12, 'c') + "\n128 128\n255\n";
    ASSERT_EQ(full.size(), 1024u);
    Header f(full);
    EXPECT_EQ(ppm_parse_header(f.bytes, &offset), PPM_HEADER_OK);
    EXPECT_EQ(offset, 1024);
}

struct Match {
    int red, green, blue, index;
};

TEST(CrestMatch, GreenRanksRedAndBlueOnlyAdmit)
{
    CrestPalette p;
    crest_palette_build(&p);
    const Match matches[] = {
        {0, 0, 0, 0},       {255, 255, 255, 15}, {170, 85, 0, 3},     {85, 85, 85, 8},
        {255, 0, 0, 36},    {255, 255, 0, 236},  {252, 248, 252, 15}, {16, 16, 16, 41},
        {31, 31, 31, 41},   {33, 33, 33, 47},    {128, 128, 128, 128},
        // The window's bounds are inside it: 32 from 0 admits, 33 does not.
        {32, 0, 32, 0},     {0, 0, 33, 17},
    };
    for (const Match &m : matches) {
        SCOPED_TRACE(testing::Message() << m.red << "," << m.green << "," << m.blue);
        EXPECT_EQ(crest_match(m.red, m.green, m.blue, &p), m.index);
    }
}

TEST(CrestMatch, EveryEntryComesBackButFive)
{
    CrestPalette p;
    crest_palette_build(&p);
    for (int i = 0; i < CREST_PALETTE_SIZE; i++) {
        int expected = i;
        switch (i) {
        case 16: expected = 0; break;
        case 19: expected = 4; break;
        case 31: expected = 1; break;
        case 34: expected = 5; break;
        case 240: expected = 15; break;
        }
        EXPECT_EQ(crest_match(p.red[i], p.green[i], p.blue[i], &p), expected) << i;
    }
}

// The converter looks its answers up in a table made from the rule's
// structure; checked against the rule itself on every colour there is.
// Unoptimised under the sanitizers and emulated in the 32-bit build, the
// rule is too slow for all 2^24 colours: there a colour in 61 is checked,
// every red, green and blue value still coming round with every other.
TEST(CrestMatch, TableGivesTheRulesAnswerForEveryColour)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__i386__)
    const uint32_t stride = 61;
#else
    const uint32_t stride = 1;
#endif
    static CrestPalette p;
    crest_palette_build(&p);
    static CrestMatchTable table;
    crest_match_table_init(&table, &p);
    ASSERT_EQ(table.red_classes, 14);
    ASSERT_EQ(table.blue_classes, 14);
    uint32_t checked = 0, differ = 0;
    for (uint32_t c = 0; c < (1u << 24); c += stride) {
        int red = (int)(c >> 16), green = (int)(c >> 8 & 0xFF), blue = (int)(c & 0xFF);
        uint8_t want = crest_match(red, green, blue, &p);
        uint8_t got = crest_match_lookup(&table, red, green, blue);
        checked++;
        if (got != want && ++differ <= 5)
            ADD_FAILURE() << red << "," << green << "," << blue << ": table " << (int)got
                          << ", rule " << (int)want;
    }
    EXPECT_EQ(differ, 0u);
    EXPECT_EQ(checked, ((1u << 24) + stride - 1) / stride);
    RecordProperty("colours_checked", (int)checked);
    printf("%u of the 16777216 colours checked, %u answers differ\n", checked, differ);
}

// A palette whose values make more classes than the table holds is
// matched by the rule itself, the same answers only slower.
TEST(CrestMatch, TooManyClassesFallBackToTheRule)
{
    static CrestPalette p;
    crest_palette_build(&p);
    for (int k = 0; k < CREST_PALETTE_SIZE; k++)
        p.red[k] = k;
    static CrestMatchTable table;
    crest_match_table_init(&table, &p);
    EXPECT_EQ(table.red_classes, 0);
    for (int v = 0; v < 256; v += 5)
        EXPECT_EQ(crest_match_lookup(&table, v, 255 - v, v / 2), crest_match(v, 255 - v, v / 2, &p));
}

TEST(CrestmakeMode, DumpNeedsOnlyDashM)
{
    const char *dump1[] = {"crestmake", "-m"};
    const char *dump2[] = {"crestmake", "-mx", "a", "b"};
    const char *conv[] = {"crestmake", "a", "b", "c"};
    const char *one[] = {"crestmake", "-x"};
    const char *empty[] = {"crestmake", ""};
    EXPECT_EQ(crestmake_mode(2, dump1), CRESTMAKE_DUMP);
    EXPECT_EQ(crestmake_mode(4, dump2), CRESTMAKE_DUMP);
    EXPECT_EQ(crestmake_mode(4, conv), CRESTMAKE_CONVERT);
    EXPECT_EQ(crestmake_mode(2, one), CRESTMAKE_USAGE);
    EXPECT_EQ(crestmake_mode(2, empty), CRESTMAKE_USAGE);
    EXPECT_EQ(crestmake_mode(1, one), CRESTMAKE_USAGE);
}

}  // namespace
