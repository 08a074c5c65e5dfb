// The caption receiver fed pair streams made in memory: what a viewer sees,
// when, on which service, and how damaged pairs are met.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cc_decoder.h"
#include "cc_output.h"
#include "line21.h"

namespace {

struct Record : CcSink {
    std::vector<CcCaption> captions;
    std::vector<CcTextRow> texts;
    std::vector<CcXdsPacket> packets;
    void caption(const CcCaption &c) override { captions.push_back(c); }
    void text(const CcTextRow &t) override { texts.push_back(t); }
    void xds(const CcXdsPacket &p) override { packets.push_back(p); }
};

// A pair stream for one field, one pair a frame from frame 0 on.
struct Feed {
    int field = 1, channel = 1;
    std::vector<uint16_t> pairs;

    Feed &pair(int c1, int c2) { pairs.push_back(l21_word(l21_pair(c1, c2))); return *this; }
    // Control pairs go twice, as broadcasters send them.
    Feed &ctl(int b1, int b2) { return pair(l21_on_channel((uint8_t)b1, channel), b2).pair(l21_on_channel((uint8_t)b1, channel), b2); }
    Feed &misc(L21Misc m)
    {
        L21Pair p = l21_misc_pair(m, field, channel);
        pairs.push_back(l21_word(p));
        pairs.push_back(l21_word(p));
        return *this;
    }
    Feed &pac(int row, int indent = 0, bool underline = false)
    {
        L21Pac p{row, L21_WHITE, false, indent, underline};
        uint8_t b1, b2;
        l21_pac_encode(p, &b1, &b2);
        return ctl(b1, b2);
    }
    Feed &text(const std::string &s)
    {
        for (size_t k = 0; k < s.size(); k += 2)
            pair(s[k], k + 1 < s.size() ? s[k + 1] : 0);
        return *this;
    }
    Feed &null(int n = 1)
    {
        while (n-- > 0)
            pairs.push_back(0x8080);
        return *this;
    }
    int64_t at() const { return (int64_t)pairs.size(); }
};

struct Decoded : Record {
    CcDecoder d;
    // Every feed from frame 0; the fields are interleaved frame by frame.
    explicit Decoded(std::vector<Feed> feeds, bool finish = true)
    {
        cc_init(&d, this);
        size_t frames = 0;
        for (const Feed &f : feeds)
            frames = std::max(frames, f.pairs.size());
        for (size_t k = 0; k < frames; k++)
            for (const Feed &f : feeds)
                cc_pair(&d, f.field, (int64_t)k, k < f.pairs.size() ? f.pairs[k] : 0x8080);
        if (finish)
            cc_finish(&d, (int64_t)frames);
    }
};

std::vector<std::string> rows_of(const CcCaption &c)
{
    std::vector<std::string> out;
    for (const CcCaptionRow &r : c.rows)
        out.push_back(cc_row_text(r));
    return out;
}

TEST(VbiccDecoder, PopOnCaptionShowsFromItsEocUntilTheNextEocOrEdm)
{
    Feed f;
    f.misc(L21_RCL).pac(14, 4).text("HELLO").pac(15, 0, true).text("WORLD");
    int64_t eoc1 = f.at();
    f.misc(L21_EOC).misc(L21_RCL).pac(15).text("NEXT");
    int64_t eoc2 = f.at();
    f.misc(L21_EOC).null(5);
    int64_t edm = f.at();
    f.misc(L21_EDM).null(3);
    Decoded d({f});
    ASSERT_EQ(d.captions.size(), 2u);
    const CcCaption &a = d.captions[0];
    EXPECT_EQ(a.mode, MODE_POP_ON);
    EXPECT_EQ(a.service, SVC_CC1);
    EXPECT_EQ(a.start_frame, eoc1);
    EXPECT_EQ(a.end_frame, eoc2);
    ASSERT_EQ(a.rows.size(), 2u);
    EXPECT_EQ(a.rows[0].row, 14);
    EXPECT_EQ(a.rows[0].column, 4);
    EXPECT_EQ(cc_row_text(a.rows[0]), "HELLO");
    EXPECT_EQ(a.rows[1].row, 15);
    EXPECT_TRUE(a.rows[1].cells[0].attr & CC_ATTR_UNDERLINE);
    EXPECT_EQ(d.captions[1].start_frame, eoc2);
    EXPECT_EQ(d.captions[1].end_frame, edm);
    EXPECT_EQ(rows_of(d.captions[1]), std::vector<std::string>{"NEXT"});
}

TEST(VbiccDecoder, RollUpRowsAppearOnceEachFromFirstCharacterUntilTheyLeave)
{
    Feed f;
    f.misc(L21_RU3).pac(15);
    std::vector<int64_t> starts, crs;
    for (int k = 0; k < 10; k++) {
        starts.push_back(f.at());
        f.text("LINE " + std::to_string(k));
        crs.push_back(f.at());
        f.misc(L21_CR);
    }
    int64_t edm = f.at();
    f.misc(L21_EDM);
    Decoded d({f});
    ASSERT_EQ(d.captions.size(), 10u);
    for (int k = 0; k < 10; k++) {
        const CcCaption &c = d.captions[(size_t)k];
        EXPECT_EQ(c.mode, MODE_ROLL_UP);
        EXPECT_EQ(rows_of(c), std::vector<std::string>{"LINE " + std::to_string(k)});
        EXPECT_EQ(c.rows[0].row, 15);
        EXPECT_EQ(c.start_frame, starts[(size_t)k]);
        // A row leaves a three-row window at the second CR after its own;
        // the last rows go with the erase.
        EXPECT_EQ(c.end_frame, k + 2 < 10 ? crs[(size_t)k + 2] : edm) << k;
    }
}

TEST(VbiccDecoder, PaintOnShowsEveryChangeFromItsFirstCharacter)
{
    Feed f;
    f.misc(L21_RDC).pac(3, 8);
    int64_t first = f.at();
    f.text("NOW").misc(L21_BS).text("W!");
    int64_t edm = f.at();
    f.misc(L21_EDM);
    Decoded d({f});
    ASSERT_EQ(d.captions.size(), 1u);
    EXPECT_EQ(d.captions[0].mode, MODE_PAINT_ON);
    EXPECT_EQ(d.captions[0].start_frame, first);
    EXPECT_EQ(d.captions[0].end_frame, edm);
    EXPECT_EQ(d.captions[0].rows[0].row, 3);
    EXPECT_EQ(d.captions[0].rows[0].column, 8);
    EXPECT_EQ(rows_of(d.captions[0]), std::vector<std::string>{"NOW!"});
}

TEST(VbiccDecoder, RepeatRuleAndDamagedPairs)
{
    L21Pair bs = l21_misc_pair(L21_BS, 1, 1);
    Feed f;
    f.misc(L21_RDC).pac(1).text("ABCDEF");
    // Three copies act twice; a copy after a null pair acts again.
    for (int k = 0; k < 3; k++)
        f.pairs.push_back(l21_word(bs));
    f.null().pairs.push_back(l21_word(bs));
    // A copy with a parity error is dropped and is no first copy: the
    // good one after it acts.
    f.pairs.push_back(l21_word(L21Pair{(uint8_t)(bs.b1 ^ 0x80), bs.b2}));
    f.pairs.push_back(l21_word(bs));
    // A character with a parity error shows as a solid block.
    L21Pair xy = l21_pair('X', 'Y');
    f.pairs.push_back(l21_word(L21Pair{xy.b1, (uint8_t)(xy.b2 ^ 0x80)}));
    Decoded d({f});
    ASSERT_EQ(d.captions.size(), 1u);
    EXPECT_EQ(rows_of(d.captions[0]), std::vector<std::string>{"ABX■"});
    EXPECT_EQ(d.d.counts.parity_errors[0], 2u);
    EXPECT_EQ(d.d.counts.pairs[0], f.pairs.size());
}

TEST(VbiccDecoder, CharacterSetsTabsAndTheLastColumn)
{
    Feed f;
    f.misc(L21_RCL).pac(2).text("caf").ctl(0x11, 0x37).text("u").ctl(0x12, 0x25);
    f.ctl(0x17, 0x22).text("*");   // tab offset 2, then 0x2A: á
    f.pac(4).text(std::string(34, 'x')).text("Z").misc(L21_EOC);
    Decoded d({f});
    ASSERT_EQ(d.captions.size(), 1u);
    // The extended ü replaces the fallback e; the special ♪ takes a column.
    EXPECT_EQ(rows_of(d.captions[0])[0], "caf♪ü  á");
    EXPECT_EQ(rows_of(d.captions[0])[1], std::string(31, 'x') + "Z");
}

TEST(VbiccDecoder, MidRowCodesStyleWhatFollowsAndTakeAColumn)
{
    Feed f;
    f.misc(L21_RCL).pac(15).text("A").ctl(0x11, 0x2E).text("IT").ctl(0x11, 0x29).text("U").misc(L21_EOC);
    Decoded d({f});
    ASSERT_EQ(d.captions.size(), 1u);
    const CcCaptionRow &r = d.captions[0].rows[0];
    // The column before IT stays outside the italics; an underline shows
    // on a space, so the column before U is underlined.
    EXPECT_EQ(styled_text(r, false), "A <i>IT</i><u> U</u>");
    // 0x29: red, underlined.
    EXPECT_EQ(styled_text(r, true), "A <i>IT</i><c.red><u> U</u></c>");
}

TEST(VbiccDecoder, ServicesStayApart)
{
    Feed cc1, cc2, cc3;
    cc1.misc(L21_RCL).pac(15).text("ONE").misc(L21_EOC);
    cc2.channel = 2;
    cc2.misc(L21_RCL).pac(15).text("TWO").misc(L21_EOC);
    cc3.field = 2;
    cc3.misc(L21_RCL).pac(15).text("THREE").misc(L21_EOC);
    // CC2 sends a whole caption while CC1 is loading its own.
    Feed f1 = cc1;
    f1.pairs.insert(f1.pairs.end() - 2, cc2.pairs.begin(), cc2.pairs.end());
    Decoded d({f1, cc3});
    std::vector<std::string> seen[SVC_COUNT];
    for (const CcCaption &c : d.captions)
        seen[c.service].push_back(rows_of(c)[0]);
    EXPECT_EQ(seen[SVC_CC1], std::vector<std::string>{"ONE"});
    EXPECT_EQ(seen[SVC_CC2], std::vector<std::string>{"TWO"});
    EXPECT_EQ(seen[SVC_CC3], std::vector<std::string>{"THREE"});
}

TEST(VbiccDecoder, TextServiceRowsEndAtCarriageReturns)
{
    Feed f;
    f.misc(L21_TR);
    int64_t first = f.at();
    f.text("WEATHER").misc(L21_CR).text("RAIN").misc(L21_RCL);
    Decoded d({f});
    EXPECT_TRUE(d.captions.empty());
    ASSERT_EQ(d.texts.size(), 2u);
    EXPECT_EQ(d.texts[0].service, SVC_T1);
    EXPECT_EQ(d.texts[0].text, "WEATHER");
    EXPECT_EQ(d.texts[0].frame, first);
    EXPECT_EQ(d.texts[1].text, "RAIN");
}

TEST(VbiccDecoder, ExtendedDataServicesWithContinueAndChecksum)
{
    std::vector<L21Pair> name = l21_xds_packet(L21_XDS_CURRENT, L21_XDS_TYPE_PROGRAM_NAME, "EVENING NEWS");
    std::vector<L21Pair> bad = l21_xds_packet(L21_XDS_CHANNEL, L21_XDS_TYPE_NETWORK, "PBS");
    bad.back().b2 = l21_add_parity((uint8_t)((bad.back().b2 + 1) & 0x7F));
    Feed f;
    f.field = 2;
    // The program name is interrupted by a CC3 caption and resumed.
    for (size_t k = 0; k < 3; k++)
        f.pairs.push_back(l21_word(name[k]));
    f.misc(L21_RCL).pac(15).text("CC3").misc(L21_EOC);
    f.pairs.push_back(l21_word(l21_pair(l21_xds_continue_code(L21_XDS_CURRENT), L21_XDS_TYPE_PROGRAM_NAME)));
    for (size_t k = 3; k < name.size(); k++)
        f.pairs.push_back(l21_word(name[k]));
    for (L21Pair p : bad)
        f.pairs.push_back(l21_word(p));
    Decoded d({f});
    ASSERT_EQ(d.packets.size(), 2u);
    std::string what;
    EXPECT_TRUE(d.packets[0].checksum_ok);
    EXPECT_EQ(xds_value(d.packets[0], &what), "EVENING NEWS");
    EXPECT_EQ(what, "program_name");
    EXPECT_FALSE(d.packets[1].checksum_ok);
    what.clear();
    EXPECT_EQ(xds_value(d.packets[1], &what), "");
    EXPECT_EQ(what, "");
    EXPECT_EQ(d.d.counts.xds_checksum_errors, 1u);
    ASSERT_EQ(d.captions.size(), 1u);
    EXPECT_EQ(rows_of(d.captions[0]), std::vector<std::string>{"CC3"});
}

}  // namespace
