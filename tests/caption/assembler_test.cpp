#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "caption.h"

namespace {

// Odd parity on each byte, as a broadcaster sends it.
uint32_t pair(int first, int second)
{
    auto odd = [](int c) {
        int ones = __builtin_popcount(c & 0x7F);
        return (c & 0x7F) | ((ones & 1) ? 0 : 0x80);
    };
    return (uint32_t)odd(first) | (uint32_t)odd(second) << 8;
}

// An assembler whose caption lines go to a memory buffer.
struct Fixture : ::testing::Test {
    char out_buf[65536];
    CaptionAssembler a;
    char ticker[384];

    void SetUp() override { start(5, false); }

    void start(int flush_after, bool with_ticker)
    {
        memset(out_buf, 0, sizeof out_buf);
        ticker[0] = '\0';
        caption_assembler_init(&a, flush_after, with_ticker ? ticker : nullptr, sizeof ticker);
        a.out = fmemopen(out_buf, sizeof out_buf, "w");
        setvbuf(a.out, nullptr, _IONBF, 0);
    }
    void TearDown() override { fclose(a.out); }
    std::string written() const { return out_buf; }
    std::string line() const { return a.line; }
    int add(int first, int second) { return add_word(&a, pair(first, second)); }
    void text(const char *s)
    {
        for (; s[0]; s += 2) {
            add(s[0], s[1]);
            if (!s[1])
                break;
        }
    }
    void controls(int n)
    {
        for (int i = 0; i < n; i++)
            add(0x14, 0x2C);
    }
};

using Assembler = Fixture;

std::string line_of(const std::string &pair, int times)
{
    std::string s;
    for (int i = 0; i < times; i++)
        s += pair;
    return s;
}

TEST(Parity, RefusesOnlyOddDataWithParitySet)
{
    // Data with an odd number of ones: parity clear passes, set fails.
    EXPECT_TRUE(caption_parity_ok(0x01));
    EXPECT_FALSE(caption_parity_ok(0x81));
    // Even number of ones passes with the parity bit clear or set.
    EXPECT_TRUE(caption_parity_ok(0x03));
    EXPECT_TRUE(caption_parity_ok(0x83));
    EXPECT_TRUE(caption_parity_ok(0x0000));
    // The second byte is judged the same way, independently.
    EXPECT_FALSE(caption_parity_ok(0x8100));
    EXPECT_TRUE(caption_parity_ok(0x0100));
    EXPECT_TRUE(caption_parity_ok(0x8300));
    EXPECT_FALSE(caption_parity_ok(0x8181));
    // Every byte with proper odd parity passes.
    for (int c = 0; c < 128; c++)
        EXPECT_TRUE(caption_parity_ok(pair(c, c))) << c;
}

TEST(CharMap, FoldsTheCaptionSetToPlainAscii)
{
    EXPECT_EQ(CaptionCharMap[0x41 - 0x20], 'a');
    EXPECT_EQ(CaptionCharMap[0x5A - 0x20], 'z');
    EXPECT_EQ(CaptionCharMap[0x2A - 0x20], 'a');
    EXPECT_EQ(CaptionCharMap[0x5C - 0x20], 'e');
    EXPECT_EQ(CaptionCharMap[0x5E - 0x20], 'i');
    EXPECT_EQ(CaptionCharMap[0x5F - 0x20], 'o');
    EXPECT_EQ(CaptionCharMap[0x60 - 0x20], 'u');
    EXPECT_EQ(CaptionCharMap[0x7B - 0x20], 'c');
    EXPECT_EQ(CaptionCharMap[0x7C - 0x20], '/');
    EXPECT_EQ(CaptionCharMap[0x7D - 0x20], 'N');
    EXPECT_EQ(CaptionCharMap[0x7E - 0x20], 'n');
    EXPECT_EQ(CaptionCharMap[0x7F - 0x20], '.');
    const char same[] = " !\"#$%&'()+,-./0123456789:;<=>?@[]abcdefghijklmnopqrstuvwxyz";
    for (const char *c = same; *c; c++)
        EXPECT_EQ(CaptionCharMap[*c - 0x20], *c) << *c;
}

TEST_F(Assembler, FifthControlPairWritesTheLine)
{
    EXPECT_EQ(add('H', 'e'), 2);
    EXPECT_EQ(add('l', 'l'), 2);
    EXPECT_EQ(add('o', ' '), 2);
    controls(4);
    EXPECT_EQ(written(), "");
    controls(1);
    EXPECT_EQ(written(), "hello \n");
    EXPECT_EQ(line(), "");
}

TEST_F(Assembler, CapitalisingMarksCarryAcrossSpacesButNotQuotes)
{
    text("end. a");
    EXPECT_EQ(line(), "end. A");
    start(5, false);
    text(".\"a");
    EXPECT_EQ(line(), ".\"a");
    start(5, false);
    text(">> x");
    EXPECT_EQ(line(), ">> X");
    start(5, false);
    for (const char *mark : {"!a", "?a", "[a", "]a"}) {
        text(mark);
    }
    EXPECT_EQ(line(), "!A?A[A]A");
}

TEST_F(Assembler, MarkSurvivesAFlush)
{
    text("ok.");
    controls(5);
    EXPECT_EQ(written(), "ok. \n");
    text("so");
    EXPECT_EQ(line(), "So");
}

TEST_F(Assembler, NullAndControlCodesInPrintablePairs)
{
    // First code 0 with a printable second: nothing, and no error.
    EXPECT_EQ(add_word(&a, 0x80 | 0x41 << 8), 0);
    EXPECT_EQ(a.error_count, 0);
    EXPECT_EQ(line(), "");
    // A printable first with a control second puts only the first.
    EXPECT_EQ(add('x', 0x14), 1);
    EXPECT_EQ(line(), "x");
    // Codes that the map folds.
    EXPECT_EQ(add(0x41, 0x7D), 2);
    EXPECT_EQ(add(0x2A, 0x7F), 2);
    EXPECT_EQ(line(), "xaNa.");
}

TEST_F(Assembler, ControlPairsOnEmptyLinesAndAfterSpaces)
{
    // Nothing collected yet: neither appended nor counted.
    controls(10);
    EXPECT_EQ(written(), "");
    EXPECT_EQ(a.control_pairs, 0);
    add('h', 'i');
    EXPECT_EQ(add(0x14, 0x2C), 1);  // the space
    EXPECT_EQ(line(), "hi ");
    EXPECT_EQ(add(0x14, 0x2C), 0);  // already ends in a space
    EXPECT_EQ(a.control_pairs, 2);
    controls(3);
    EXPECT_EQ(written(), "hi \n");
    // After a flush control pairs are not counted until text arrives.
    controls(7);
    EXPECT_EQ(a.control_pairs, 0);
    EXPECT_EQ(written(), "hi \n");
}

TEST_F(Assembler, ZeroWordCountsAsAnError)
{
    add('a', 'b');
    EXPECT_EQ(add_word(&a, 0), 0);
    EXPECT_EQ(add_word(&a, 0), 0);
    EXPECT_EQ(a.error_count, 2);
    EXPECT_EQ(line(), "ab");
}

TEST_F(Assembler, FlushAfterFifteen)
{
    start(15, false);
    text("run in");
    controls(14);
    EXPECT_EQ(written(), "");
    controls(1);
    EXPECT_EQ(written(), "run in \n");
}

TEST_F(Assembler, TickerGetsExactlyTheAppendedCharacters)
{
    start(5, true);
    int total = 0;
    total += add('A', 'b');
    total += add('.', 0x10);
    total += add(0x14, 0x2C);
    total += add(0x14, 0x2C);
    total += add('c', 'd');
    total += add_word(&a, 0);
    EXPECT_EQ(std::string(ticker), "ab. Cd");
    EXPECT_EQ(total, 6);
}

TEST_F(Assembler, FullLineIsWrittenEarlyAndNothingIsLost)
{
    start(5, true);
    std::string sent;
    long appended = 0;
    for (int i = 0; i < 1500; i++) {
        int c1 = 'a' + i % 26, c2 = 'a' + (i + 7) % 26;
        appended += add(c1, c2);
        sent += (char)c1;
        sent += (char)c2;
        if (strlen(ticker) > 200)
            ticker[0] = '\0';  // the scope scrolls it; keep it short here
    }
    EXPECT_EQ(appended, 3000);
    // One full line of 2047 characters went out early, the rest waits.
    ASSERT_EQ(written().size(), 2048u);
    EXPECT_EQ(written(), sent.substr(0, 2047) + "\n");
    EXPECT_EQ(line(), sent.substr(2047));
    controls(5);
    EXPECT_EQ(written(), sent.substr(0, 2047) + "\n" + sent.substr(2047) + " \n");

    // A line full to the last place: the control pairs after it find no
    // room for their space, still count, and their flush writes the line as
    // it stands.  No line of a lone space follows.
    std::string before = written();
    ticker[0] = '\0';
    for (int i = 0; i < 1023; i++)
        add('f', 'g');
    EXPECT_EQ(add('h', 0x10), 1);
    ASSERT_EQ(line().size(), 2047u);
    EXPECT_EQ(add(0x14, 0x2C), 0);
    EXPECT_EQ(line().size(), 2047u);
    controls(4);
    EXPECT_EQ(written(), before + line_of("fg", 1023) + "h\n");
    EXPECT_EQ(line(), "");

    // A space that finds the line full is dropped, line and ticker alike;
    // the next printable pair writes the full line and starts the next.
    for (int i = 0; i < 1023; i++)
        add('x', 'y');
    ticker[0] = '\0';
    EXPECT_EQ(add('o', ' '), 1);
    EXPECT_EQ(std::string(ticker), "o");
    EXPECT_EQ(line().size(), 2047u);
    EXPECT_EQ(add('a', 'b'), 2);
    EXPECT_EQ(std::string(ticker), "oab");
    EXPECT_EQ(line(), "ab");
    controls(5);
    EXPECT_EQ(written(), before + line_of("fg", 1023) + "h\n" + line_of("xy", 1023) + "o\nab \n");
}

TEST_F(Assembler, EarlyWriteInTheMiddleOfAPairKeepsBothCharacters)
{
    start(5, true);
    for (int i = 0; i < 1023; i++)
        add('x', 'y');  // 2046 characters
    ticker[0] = '\0';
    EXPECT_EQ(add('p', 'q'), 2);  // p fills the line, q starts the next
    EXPECT_EQ(std::string(ticker), "pq");
    EXPECT_EQ(written().size(), 2048u);
    EXPECT_EQ(written().substr(2045), "yp\n");
    EXPECT_EQ(line(), "q");
}

}  // namespace
