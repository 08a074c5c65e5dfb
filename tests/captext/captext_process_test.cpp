// captext as a user runs it: a real process reading /dev/vbi0, answered by
// the device stand-in from generated captures.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <random>
#include <string>

#include "process.h"
#include "streams.h"

namespace {

struct Captext : ::testing::Test {
    std::string dir = make_temp_dir();
    std::string capture = dir + "/capture.vbi";

    ProcessResult run(const std::string &stream, std::vector<std::string> env = {})
    {
        write_file(capture, stream);
        ProcessOptions opt;
        opt.env = standin_env();
        opt.env.push_back("STANDIN_VBI=" + capture);
        for (auto &e : env)
            opt.env.push_back(e);
        return run_process({bin_path("captext")}, opt);
    }
    void TearDown() override
    {
        unlink(capture.c_str());
        rmdir(dir.c_str());
    }
};

const char three_lines[] =
    "Hello there. how are you?\n"
    "\"Fine,\" she said!  yes.\n"
    "Last line\n";
// As the assembler writes them: sentence case, each line ended by the
// control pair's space.
const char three_lines_decoded[] =
    "hello there. How are you? \n"
    "\"fine,\" she said!  Yes. \n"
    "Last line \n";

TEST_F(Captext, DecodesGeneratedCaptionLines)
{
    ProcessResult r = run(make_stream(three_lines, default_gen()));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, three_lines_decoded);
    EXPECT_EQ(r.out, "");
}

TEST_F(Captext, RepeatedCountersAreDecodedOnce)
{
    GenOptions o = default_gen();
    o.repeat = 3;
    ProcessResult r = run(make_stream(three_lines, o));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, three_lines_decoded);
}

TEST_F(Captext, FieldTwoAndOddCountersAreIgnoredOrKept)
{
    // Captions carried on another line are not captext's.
    GenOptions o = default_gen();
    o.line = 27;
    EXPECT_EQ(run(make_stream(three_lines, o)).err, "");
    // Counters that jump, wrap past 2^32 or step by two are all new frames.
    o = default_gen();
    o.counter_start = 0xFFFFFFF0u;
    o.counter_step = 2;
    o.gap_every = 5;
    o.gap = 7;
    EXPECT_EQ(run(make_stream(three_lines, o)).err, three_lines_decoded);
}

TEST_F(Captext, FirstBlockWithCounterZeroIsSkipped)
{
    GenOptions o = default_gen();
    o.lead = 0;
    o.counter_start = 0;
    // The first frame carries "Xy": it is never decoded.
    ProcessResult r = run(make_stream("Xyz.\n", o));
    EXPECT_EQ(r.err, "z. \n");
}

TEST_F(Captext, MissingDevice)
{
    ProcessOptions opt;
    opt.env = standin_env();
    opt.unset = {"STANDIN_VBI"};
    ProcessResult r = run_process({bin_path("captext")}, opt);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "open /dev/vbi0: No such file or directory\n");
}

TEST_F(Captext, RandomBlocksNeverCrashAndPrintOnlyCaptionText)
{
    std::mt19937 rng(7);
    std::string s(400 * VBI_BLOCK_SIZE, '\0');
    for (auto &c : s)
        c = (char)(rng() & 0xFF);
    ProcessResult r = run(s);
    EXPECT_EQ(r.status, 0);
    for (char c : r.err)
        EXPECT_TRUE(c == '\n' || (c >= 0x20 && c < 0x7F)) << (int)c;
}

// A long noise-free stream decodes exactly to its source text.
TEST_F(Captext, TwoThousandBlocksDecodeExactly)
{
    std::string text, expected;
    for (int i = 0; i < 60; i++) {
        std::string n = std::to_string(i);
        text += "caption line " + n + " with some words\n";
        expected += "caption line " + n + " with some words \n";
    }
    GenOptions o = default_gen();
    o.blocks = 2000;
    o.lead = 0;
    std::string s = make_stream(text, o);
    ASSERT_EQ(s.size(), 2000u * VBI_BLOCK_SIZE);
    ProcessResult r = run(s);
    EXPECT_EQ(r.status, 0);
    // 2000 blocks hold the 60 lines (23 pairs each) and part of a second
    // pass; the part of the second pass that was flushed starts over.
    ASSERT_GE(r.err.size(), expected.size());
    EXPECT_EQ(r.err.substr(0, expected.size()), expected);
    EXPECT_EQ(r.err.substr(expected.size()), expected.substr(0, r.err.size() - expected.size()));
}

// The live feed: the program waits for every block.
TEST_F(Captext, LiveFeedBlockByBlock)
{
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sv), 0);
    std::string s = make_stream(three_lines, default_gen());
    pid_t feeder = fork();
    if (feeder == 0) {
        close(sv[1]);
        for (size_t off = 0; off < s.size(); off += VBI_BLOCK_SIZE)
            if (send(sv[0], s.data() + off, VBI_BLOCK_SIZE, MSG_NOSIGNAL) < 0)
                _exit(1);
        _exit(0);
    }
    close(sv[0]);
    ProcessOptions opt;
    opt.env = standin_env();
    opt.env.push_back("STANDIN_VBI=fd:" + std::to_string(sv[1]));
    opt.keep_fds = {sv[1]};
    ProcessResult r = run_process({bin_path("captext")}, opt);
    close(sv[1]);
    int st;
    waitpid(feeder, &st, 0);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, three_lines_decoded);
}

}  // namespace
