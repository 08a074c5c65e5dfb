// What the formats write for a caption, the SRT reader, the comparison's
// verdicts and the command line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cc_compare.h"
#include "cc_output.h"
#include "vbicc_args.h"

namespace {

CcCaptionRow row(int r, int column, const std::string &ascii, uint8_t attr = 0)
{
    CcCaptionRow out{r, column, {}};
    for (char ch : ascii) {
        CcCell c{};
        c.glyph[0] = ch;
        c.len = 1;
        c.attr = attr;
        out.cells.push_back(c);
    }
    return out;
}

CcCaption caption(int64_t start, int64_t end, std::vector<CcCaptionRow> rows, int field = 1)
{
    return CcCaption{field == 1 ? SVC_CC1 : SVC_CC3, MODE_POP_ON, field, start, end, std::move(rows)};
}

TEST(VbiccOutput, TimesAtTwentyNineNinetySeven)
{
    EXPECT_EQ(frame_ms(30, 1), 1001);
    EXPECT_EQ(frame_ms(30, 2), 1018);           // half a frame later, 1017.68 ms
    EXPECT_EQ(frame_ms(107892, 1), 3599996);    // 107892 frames: 3599.9964 s
    EXPECT_EQ(clock_time(3723004), "01:02:03.004");
    EXPECT_EQ(clock_time(3723004, ','), "01:02:03,004");
    EXPECT_EQ(drop_frame_code(1799), "00:00:59;29");
    EXPECT_EQ(drop_frame_code(1800), "00:01:00;02");
    EXPECT_EQ(drop_frame_code(17982), "00:10:00;00");
    for (int64_t f : {0, 1, 29, 1000, 54000})
        for (int field : {1, 2})
            EXPECT_EQ(ms_to_frame(frame_ms(f, field), field), f) << f << " " << field;
}

TEST(VbiccOutput, CueFormats)
{
    CcCaption c = caption(30, 60, {row(14, 4, " HELLO "), row(15, 8, "WORLD", CC_ATTR_ITALIC | 1)});
    EXPECT_EQ(text_line(c), "00:00:01.001  HELLO | WORLD");
    EXPECT_EQ(srt_cue(7, c), "7\n00:00:01,001 --> 00:00:02,002\nHELLO\n<i>WORLD</i>\n\n");
    // The top row 14 and the leftmost text at column 5 of 32.
    EXPECT_EQ(vtt_cue(c), "00:00:01.001 --> 00:00:02.002 line:79.33% position:22.5% align:start\n"
                          "HELLO\n<c.green><i>WORLD</i></c>\n\n");
    CcCaption blank = caption(1, 2, {row(1, 0, "   ")});
    EXPECT_EQ(text_line(blank), "");
    EXPECT_EQ(srt_cue(1, blank), "");
    EXPECT_EQ(styled_text(row(1, 0, "a<b&"), true), "a&lt;b&amp;");
}

TEST(VbiccCompare, SrtReaderNamesTheBadLine)
{
    std::vector<SrtCue> cues;
    int line = 0;
    std::string why;
    ASSERT_TRUE(read_srt("\xEF\xBB\xBF" "1\r\n00:00:01,000 --> 00:00:02,500\r\n<i>Hi</i> there\r\nrow 2\r\n\r\n"
                         "2\n00:00:03.000 --> 00:00:04.000 X:1\nok\n",
                         &cues, &line, &why));
    ASSERT_EQ(cues.size(), 2u);
    EXPECT_EQ(cues[0].start_ms, 1000);
    EXPECT_EQ(cues[0].end_ms, 2500);
    EXPECT_EQ(srt_plain_text(cues[0]), "Hi there\nrow 2");
    struct Bad {
        std::string text;
        int line;
    } bad[] = {
        {"one\n00:00:01,000 --> 00:00:02,000\nx\n", 1},
        {"1\n00:00:01,000 -> 00:00:02,000\nx\n", 2},
        {"1\n00:00:-1,000 --> 00:00:02,000\nx\n", 2},
        {"1\n00:00:01,000 --> 00:00:02,000\nx\n\n2\n00:00:05,000 --> 00:00:04,000\n", 6},
        {"1\n00:00:01,000 --> 00:00:02,000\nx\n\n2\n", 5},
    };
    for (const Bad &b : bad) {
        EXPECT_FALSE(read_srt(b.text, &cues, &line, &why)) << b.text;
        EXPECT_EQ(line, b.line) << b.text << why;
    }
}

TEST(VbiccCompare, CharacterErrorRate)
{
    EXPECT_EQ(char_error_rate("HELLO", "HELLO"), 0);
    EXPECT_DOUBLE_EQ(char_error_rate("HELLO", "HELO"), 0.2);
    EXPECT_DOUBLE_EQ(char_error_rate("ñandú", "nandú"), 0.2);   // code points, not bytes
    EXPECT_EQ(char_error_rate("AB", "XYZW"), 1);
}

TEST(VbiccCompare, Verdicts)
{
    std::vector<CueText> ref = {{100, 150, "ONE"}, {200, 250, "TWO"}, {300, 350, "THREE"}, {400, 450, "FOUR"}};
    CompareOptions opt{"ref.srt", "cap.vbi", "CC1", false, 2};
    // A constant offset is no fault; a cue within the tolerance is in time.
    std::vector<CueText> got = ref;
    for (CueText &c : got)
        c.start += 45;
    got[1].start += 2;
    CompareResult r = compare_captions(ref, got, {}, {}, opt);
    EXPECT_TRUE(r.same) << r.report;
    EXPECT_NE(r.report.find("cues: 4 in the reference, 4 matched, 0 text differs, 0 missing, 0 extra"),
              std::string::npos) << r.report;
    EXPECT_NE(r.report.find("offset: +45 frames (median), largest deviation 2 frames"), std::string::npos);

    got[1].start += 1;
    got[2].text = "THRE";
    got.erase(got.begin() + 3);
    got.push_back({900, 950, "NEW"});
    r = compare_captions(ref, got, {}, {}, opt);
    EXPECT_FALSE(r.same);
    EXPECT_NE(r.report.find("2 matched, 1 text differs, 1 missing, 1 extra"), std::string::npos) << r.report;
    EXPECT_NE(r.report.find("text differs: cue 3 at 00:00:10.010 (character error rate 20.0 %)"),
              std::string::npos) << r.report;
    EXPECT_NE(r.report.find("missing: cue 4 at 00:00:13.347: FOUR"), std::string::npos) << r.report;
    EXPECT_NE(r.report.find("late: cue 2 at 00:00:06.673 by +3 frames"), std::string::npos) << r.report;
}

TEST(VbiccCompare, PairsFrameByFrame)
{
    std::vector<PairAt> sent;
    for (int64_t f = 10; f < 30; f++)
        sent.push_back({f, 0x9420, true});
    std::vector<PairAt> got;
    for (const PairAt &p : sent)
        if (p.frame < 15 || p.frame > 17)
            got.push_back({p.frame + 5, p.raw, p.frame != 20});
    got.push_back({100, 0x4141, true});
    CompareOptions opt{"ref.scc", "cap.vbi", "CC1", true, 2};
    CompareResult r = compare_captions({}, {}, sent, got, opt);
    EXPECT_NE(r.report.find("pairs: 20 sent, 16 received intact, 1 with a parity error, 3 missing, 1 extra"),
              std::string::npos) << r.report;
    EXPECT_NE(r.report.find("missing: frames 15-17 (00:00:00;15-00:00:00;17)"), std::string::npos) << r.report;
}

TEST(VbiccArgs, UsageErrors)
{
    struct Case {
        std::vector<std::string> argv;
        std::string message;
    } cases[] = {
        {{"-c", "CC9"}, "-c: 'CC9' is no service (CC1, CC2, CC3, CC4, T1, T2, T3, T4)"},
        {{"-f", "xml"}, "-f: 'xml' is no format (text, srt, vtt, scc, json)"},
        {{"--tolerance", "-1"}, "--tolerance: '-1' is out of range (0 to 100000)"},
        {{"--slicer", "best"}, "--slicer: 'best' is no slicer (integrating, averaging, level, runin)"},
        {{"-c", "T2", "-f", "srt"}, "-f srt: T2 is a text service, not captions; its rows go to -f text and -f json"},
        {{"a.vbi", "b.vbi"}, "one capture at most: 'a.vbi' and 'b.vbi'"},
        {{"--bogus"}, "unknown option '--bogus'"},
        {{"-o"}, "-o: needs a value"},
        {{"--tolerance=2x"}, "--tolerance: '2x' is not a whole number"},
    };
    for (const Case &c : cases) {
        std::vector<char *> argv = {(char *)"vbicc"};
        for (const std::string &a : c.argv)
            argv.push_back((char *)a.c_str());
        VbiccArgs a;
        EXPECT_EQ(parse_vbicc_args((int)argv.size(), argv.data(), &a), c.message);
    }
    std::vector<const char *> good = {"vbicc", "-c", "CC3", "-f", "json", "--tolerance=0", "--slicer", "level", "-"};
    VbiccArgs a;
    EXPECT_EQ(parse_vbicc_args((int)good.size(), (char **)good.data(), &a), "");
    EXPECT_EQ(a.service, SVC_CC3);
    EXPECT_TRUE(a.service_given);
    EXPECT_EQ(a.format, FMT_JSON);
    EXPECT_EQ(a.tolerance, 0);
    EXPECT_EQ(a.slicer, SLICER_LEVEL);
    EXPECT_EQ(a.capture, "-");
}

}  // namespace
