// vbigen writing whole caption streams, run as a user runs it, its blocks
// read back with captext's own slicer on both fields.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "averaging_slicer.h"
#include "process.h"
#include "vbi.h"

namespace {

struct SccLine {
    const char *timecode;
    int64_t frame;  // the time code as a frame number, worked out by hand
    const char *pairs;
};

std::string scc_text(const std::vector<SccLine> &lines)
{
    std::string s = "Scenarist_SCC V1.0\n\n";
    for (const SccLine &l : lines)
        s += std::string(l.timecode) + "\t" + l.pairs + "\n\n";
    return s;
}

// The words a field should carry, by frame of the capture.
std::map<int64_t, uint16_t> words(const std::vector<SccLine> &lines, int64_t first)
{
    std::map<int64_t, uint16_t> m;
    for (const SccLine &l : lines) {
        std::string p = l.pairs;
        for (size_t i = 0; i + 4 <= p.size(); i += 5) {
            unsigned v = std::stoul(p.substr(i, 4), nullptr, 16);
            m[l.frame - first + (int64_t)i / 5] = (uint16_t)((v >> 8) | (v & 0xFF) << 8);
        }
    }
    return m;
}

// The words sliced from one line index of every block.
std::vector<uint16_t> slice(const std::string &capture, int line)
{
    std::vector<uint16_t> out;
    for (size_t b = 0; b + VBI_BLOCK_SIZE <= capture.size(); b += VBI_BLOCK_SIZE)
        out.push_back(AveragingSlicer((const uint8_t *)capture.data() + b + line * VBI_LINE_SIZE));
    return out;
}

// Field 1: a two-row pop-on caption (row 14 at column 4, row 15 in
// italics) with a special and an extended character, CC2 pairs, a roll-up
// passage with CRs, a pair with a parity error in its second byte.  Field
// 2: an XDS program name ("News", checksum 0x50) and a CC3 caption.  The
// files cross a minute, where drop-frame time skips two labels.
const std::vector<SccLine> field1 = {
    {"00:00:59;20", 1790, "9420 9420 94ae 94ae 9452 9452 c8e9 9137 9137 946e 946e d580 92a4 92a4 942f 942f"},
    {"00:01:00;18", 1816, "1c20 1c20 1cae 1cae 1ce0 1ce0 c8e5 ec80 1c2f 1c2f"},
    {"00:01:01;00", 1828, "9425 9425 94e0 94e0 4f6e e580 94ad 94ad 54f7 ef80 94ad 94ad"},
    {"00:01:01;15", 1843, "c865 942c 942c"},
};
const std::vector<SccLine> field2 = {
    {"00:00:59;25", 1795, "0183 cee5 f773 8fd0"},
    {"00:01:00;05", 1803, "1520 1520 94e0 94e0 c162 152f 152f"},
};

TEST(VbigenStreams, SccFilesComeBackPairForPairOnTheirFrames)
{
    std::string dir = make_temp_dir();
    write_file(dir + "/f1.scc", scc_text(field1));
    write_file(dir + "/f2.scc", scc_text(field2));
    ProcessResult r = run_process({bin_path("vbigen"), "--scc", dir + "/f1.scc", "--scc2", dir + "/f2.scc"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    // 30 frames before the earliest time code (1790), 30 after the last pair
    // (1845).
    const int64_t first = 1760, frames = 1845 - first + 1 + 30;
    ASSERT_EQ(r.out.size(), (size_t)frames * VBI_BLOCK_SIZE);
    std::map<int64_t, uint16_t> want1 = words(field1, first), want2 = words(field2, first);
    std::vector<uint16_t> got1 = slice(r.out, 11), got2 = slice(r.out, 27);
    for (int64_t f = 0; f < frames; f++) {
        EXPECT_EQ(got1[f], want1.count(f) ? want1[f] : 0x8080) << "field 1, frame " << f;
        EXPECT_EQ(got2[f], want2.count(f) ? want2[f] : 0x8080) << "field 2, frame " << f;
        EXPECT_EQ(vbi_frame_counter((const uint8_t *)r.out.data() + f * VBI_BLOCK_SIZE), 1u + f);
    }
    // The counter options apply as to any stream.
    r = run_process({bin_path("vbigen"), "--scc", dir + "/f1.scc", "--counter-start", "100", "--repeat", "2"});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(r.out.size(), 2u * (1845 - 1790 + 1 + 60) * VBI_BLOCK_SIZE);
    EXPECT_EQ(vbi_frame_counter((const uint8_t *)r.out.data() + 3 * VBI_BLOCK_SIZE), 101u);
}

TEST(VbigenStreams, LateLinesWaitAndBadFilesAreRefused)
{
    std::string dir = make_temp_dir();
    // The second line is due 2 frames into the first, which takes 5.
    write_file(dir + "/late.scc", scc_text({{"00:00:01;00", 30, "9420 9420 94ae 94ae c8e9"},
                                            {"00:00:01;02", 32, "942f 942f"}}));
    ProcessResult r = run_process({bin_path("vbigen"), "--scc", dir + "/late.scc"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "vbigen: " + dir + "/late.scc:5: the line before is still being sent; this one goes out 3 "
                     "frames late\n");
    std::vector<uint16_t> got = slice(r.out, 11);
    ASSERT_EQ(got.size(), 7u + 30 + 30);
    EXPECT_EQ(got[30 + 5], 0x2F94);

    struct Bad {
        const char *text;
        const char *message;  // after "vbigen: FILE:"
    } bad[] = {
        {"", "1: empty file, expected the header 'Scenarist_SCC V1.0'"},
        {"Scenarist SCC\n\n00:00:01;00\t9420\n", "1: not an SCC file: the first line is 'Scenarist SCC', "
                                                  "expected 'Scenarist_SCC V1.0'"},
        {"Scenarist_SCC V1.0\n\n00:00:01;00\t9420 94 20\n", "3: pair '94' is not four hexadecimal digits"},
        {"Scenarist_SCC V1.0\n\n00:00:02;00\t9420\n\n00:00:01;00\t9420\n",
         "5: time code 00:00:01;00 goes back (the line before starts at 00:00:02;00)"},
        {"Scenarist_SCC V1.0\n\n24:00:00;00\t9420\n",
         "3: time code '24:00:00;00' is out of range (00:00:00;00 to 23:59:59;29)"},
    };
    for (const Bad &b : bad) {
        write_file(dir + "/bad.scc", b.text);
        r = run_process({bin_path("vbigen"), "--scc2", dir + "/bad.scc"});
        EXPECT_EQ(r.status, 1) << b.text;
        EXPECT_EQ(r.err, "vbigen: " + dir + "/bad.scc:" + b.message + "\n");
        EXPECT_EQ(r.out.size(), 0u);
        // Nor is an output file left behind.
        r = run_process({bin_path("vbigen"), "--scc", dir + "/bad.scc", "-o", dir + "/out.vbi"});
        EXPECT_EQ(r.status, 1);
        struct stat st;
        EXPECT_NE(stat((dir + "/out.vbi").c_str(), &st), 0) << b.text;
    }
    r = run_process({bin_path("vbigen"), "--scc", dir + "/missing.scc"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "vbigen: " + dir + "/missing.scc: No such file or directory\n");
}

TEST(VbigenStreams, PopOnTextAndXdsFromTheCommandLine)
{
    ProcessResult r = run_process({bin_path("vbigen"), "--mode", "pop-on", "-t", "Hello, world."});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<uint16_t> got = slice(r.out, 11), other = slice(r.out, 27);
    // Two null pairs of lead; RCL RCL ENM ENM PAC PAC (row 15), the text two
    // characters a pair with parity, EOC EOC; up for 45 frames; EDM EDM.
    const uint16_t want[] = {0x8080, 0x8080, 0x2094, 0x2094, 0xAE94, 0xAE94, 0xE094, 0xE094, 0xE5C8, 0xECEC,
                             0x2CEF, 0xF720, 0xF2EF, 0x64EC, 0x80AE, 0x2F94, 0x2F94};
    ASSERT_EQ(got.size(), 2u + 60);
    for (size_t i = 0; i < got.size(); i++) {
        uint16_t w = i < sizeof want / sizeof want[0] ? want[i] : i >= 60 ? 0x2C94 : 0x8080;
        EXPECT_EQ(got[i], w) << "frame " << i;
        EXPECT_EQ(other[i], 0x8080) << "frame " << i;
    }

    // CC3 goes on field 2, with the program name between its captions.  A
    // caption that interrupts a packet begins with a control pair, the
    // packet goes on after a continue code, and its bytes sum to 0 modulo
    // 128.
    r = run_process({bin_path("vbigen"), "--mode", "roll-up", "--rows", "2", "--channel", "CC3",
                     "--xds-program-name", "Late News", "-n", "200", "-t", "Rain tonight."});
    ASSERT_EQ(r.status, 0) << r.err;
    got = slice(r.out, 27);
    EXPECT_EQ(got[2], 0x2515u);  // RU2 on field 2 (0x15) after the lead
    int packets = 0, resumed = 0;
    unsigned sum = 0;
    bool in_packet = false, caption = false;
    for (uint16_t w : got) {
        int b1 = w & 0x7F, b2 = w >> 8 & 0x7F;
        if (w == 0x8080)
            continue;
        if (b1 == 0x01)
            in_packet = true, caption = false, sum = 0;
        if (b1 == 0x02) {
            EXPECT_TRUE(in_packet && caption);
            caption = false, resumed++;
            continue;
        }
        if (b1 >= 0x10 && b1 <= 0x1F)
            caption = true;
        if (!in_packet || caption)
            continue;
        sum += b1 + b2;
        if (b1 == 0x0F) {
            EXPECT_EQ(sum % 128, 0u);
            packets++;
            in_packet = false;
        }
    }
    // One at frames 0 and 60 of each 80-frame pass (the first interrupted
    // by the caption), and one at 160.
    EXPECT_EQ(packets, 5);
    EXPECT_EQ(resumed, 3);
}

TEST(VbigenStreams, TextAndOptionsRefusedClearly)
{
    std::string dir = make_temp_dir();
    write_file(dir + "/talk.txt", "Fine.\nFive \xE2\x82\xAC.\n");
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string err;
    } cases[] = {
        {{"--mode", "pop-on", dir + "/talk.txt"}, 1,
         dir + "/talk.txt:2: character '\xE2\x82\xAC' (U+20AC) is not in the line-21 character sets"},
        {{"--mode", "text", "-t", "x", "-t", "a`b"}, 1,
         "-t:1: character '`' (U+0060) is not in the line-21 character sets"},
        {{"--mode", "pop-on", "--rows", "2"}, 2, "--rows: only --mode roll-up has rows"},
        {{"--mode", "pop-on", "--channel", "T1"}, 2,
         "--channel: T1-T4 are text services; use them with --mode text"},
        {{"--scc", dir + "/talk.txt", "-t", "x"}, 2,
         "--scc: the captions come from the SCC files; give no text with them"},
        {{"--mode", "pop-on", "--hold", "2"}, 2,
         "--hold: applies to the plain stream alone (no --mode, --scc or --xds-* options)"},
        {{"--xds-call-letters", "WXY"}, 2,
         "--xds-call-letters: 'WXY' is not 4 characters (or 6 with a channel number)"},
        {{"--xds-time", "2026-02-30T10:00Z"}, 2,
         "--xds-time: '2026-02-30T10:00Z' is not a time YYYY-MM-DDTHH:MMZ from 1990 to 2053"},
    };
    for (const Case &c : cases) {
        std::vector<std::string> argv = {bin_path("vbigen")};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        ProcessResult r = run_process(argv);
        EXPECT_EQ(r.status, c.status) << c.err;
        EXPECT_EQ(r.err.substr(0, r.err.find('\n')), "vbigen: " + c.err);
        EXPECT_EQ(r.out.size(), 0u) << c.err;
    }
}

// Text the generator cannot send is refused, named by file and line, in
// the plain stream as in the caption modes, before any output is made: a
// NUL byte (which once ended all the text after it), a UTF-16 file (which
// once gave one letter), a control character; a letter outside ASCII in
// the plain stream, which sends the codes as typed.
TEST(VbigenStreams, TextItCannotSendIsRefusedByFileAndLine)
{
    std::string dir = make_temp_dir(), out = dir + "/out.vbi";
    write_file(dir + "/a.txt", "Good.\n");
    write_file(dir + "/nul.txt", std::string("Fine.\nHello\0World\nAfter.\n", 25));
    write_file(dir + "/utf16.txt", std::string("\xFF\xFEH\0i\0\n\0", 8));
    write_file(dir + "/bell.txt", "Ring\a.\n");
    write_file(dir + "/cafe.txt", "\xEF\xBB\xBFTabs\tand CRLF.\r\nCaf\xC3\xA9.\n");
    struct Case {
        std::string file, plain, modes;
    } cases[] = {
        {"nul.txt", ":2: control character U+0000 is not in the line-21 character sets",
         ":2: control character U+0000 is not in the line-21 character sets"},
        {"utf16.txt", ":1: malformed UTF-8 at byte 1", ":1: malformed UTF-8 at byte 1"},
        {"bell.txt", ":1: control character U+0007 is not in the line-21 character sets",
         ":1: control character U+0007 is not in the line-21 character sets"},
        {"cafe.txt", ":2: character '\xC3\xA9' (U+00E9): the plain stream sends printable ASCII alone; choose a --mode",
         ""},
    };
    for (const Case &c : cases) {
        for (const char *mode : {"plain", "pop-on", "roll-up"}) {
            const std::string &want = std::string(mode) == "plain" ? c.plain : c.modes;
            ProcessResult r = run_process({bin_path("vbigen"), "--mode", mode, "-o", out, dir + "/a.txt",
                                           dir + "/" + c.file});
            if (want.empty()) {
                EXPECT_EQ(r.status, 0) << c.file << " " << mode << r.err;
                continue;
            }
            EXPECT_EQ(r.status, 1) << c.file << " " << mode;
            EXPECT_EQ(r.err, "vbigen: " + dir + "/" + c.file + want + "\n") << mode;
            EXPECT_NE(access(out.c_str(), F_OK), 0) << c.file << " " << mode;
            unlink(out.c_str());
        }
    }
    // An empty file is text with nothing in it: the lead alone goes out,
    // not the built-in sample.
    write_file(dir + "/empty.txt", "");
    ProcessResult r = run_process({bin_path("vbigen"), dir + "/empty.txt"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.size(), 2u * VBI_BLOCK_SIZE);
}

}  // namespace
