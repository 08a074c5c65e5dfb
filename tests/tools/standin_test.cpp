// The device stand-in itself: what a program sees when it opens the VBI
// nodes, and the devstandin runner.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "process.h"
#include "standin_args.h"
#include "streams.h"

namespace {

std::string blocks(int n, uint32_t first_counter, size_t tail = 0)
{
    std::string s;
    for (int i = 0; i < n; i++) {
        std::string b(VBI_BLOCK_SIZE, (char)i);
        vbi_set_frame_counter((uint8_t *)&b[0], first_counter + (uint32_t)i);
        s += b;
    }
    s += std::string(tail, 'x');
    return s;
}

ProcessResult probe(std::vector<std::string> env, const char *node = "/dev/vbi0", std::vector<int> fds = {})
{
    ProcessOptions opt;
    opt.env = standin_env();
    for (auto &e : env)
        opt.env.push_back(e);
    opt.keep_fds = fds;
    return run_process({bin_path("vbiprobe"), node}, opt);
}

struct Standin : ::testing::Test {
    std::string dir = make_temp_dir();
    std::string file = dir + "/c.vbi";
    void TearDown() override
    {
        unlink(file.c_str());
        rmdir(dir.c_str());
    }
};

TEST_F(Standin, ReplaysACaptureOnBothNodes)
{
    write_file(file, blocks(3, 40, 100));
    for (const char *node : {"/dev/vbi0", "/dev/vbi"}) {
        ProcessResult r = probe({"STANDIN_VBI=" + file}, node);
        EXPECT_EQ(r.out, "65536 40 0\n65536 41 1\n65536 42 2\n100 42 120\n") << node;
    }
}

TEST_F(Standin, UnconfiguredNodesDoNotExist)
{
    ProcessOptions opt;
    opt.env = standin_env();
    opt.unset = {"STANDIN_VBI"};
    EXPECT_EQ(run_process({bin_path("vbiprobe"), "/dev/vbi"}, opt).out, "open No such file or directory\n");
}

TEST_F(Standin, InjectedReadError)
{
    write_file(file, blocks(5, 1));
    ProcessResult r = probe({"STANDIN_VBI=" + file, "STANDIN_VBI_FAIL_AFTER=2"});
    EXPECT_EQ(r.out, "65536 1 0\n65536 2 1\nerror Input/output error\n");
    r = probe({"STANDIN_VBI=" + file, "STANDIN_VBI_FAIL_AFTER=0"});
    EXPECT_EQ(r.out, "error Input/output error\n");
}

TEST_F(Standin, LiveFeedReadsOneMessageAsOneBlock)
{
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sv), 0);
    // Queue the messages first: each read must still return exactly one.
    std::string s = blocks(3, 7);
    for (int i = 0; i < 3; i++)
        ASSERT_EQ(send(sv[0], s.data() + i * VBI_BLOCK_SIZE, VBI_BLOCK_SIZE, 0), VBI_BLOCK_SIZE);
    ASSERT_EQ(send(sv[0], "short", 5, 0), 5);
    close(sv[0]);
    ProcessResult r = probe({"STANDIN_VBI=fd:" + std::to_string(sv[1])}, "/dev/vbi0", {sv[1]});
    close(sv[1]);
    EXPECT_EQ(r.out, "65536 7 0\n65536 8 1\n65536 9 2\n5 9 115\n");
}

TEST_F(Standin, PacedReplayWaitsForTheFrames)
{
    write_file(file, blocks(4, 1));
    struct timespec a, b;
    clock_gettime(CLOCK_MONOTONIC, &a);
    ProcessResult r = probe({"STANDIN_VBI=" + file, "STANDIN_VBI_PACE=20"});
    clock_gettime(CLOCK_MONOTONIC, &b);
    EXPECT_EQ(r.out.size(), 4 * strlen("65536 1 0\n") + strlen("0 4 3\n"));
    // Five reads at 20 per second cannot be over in less than 0.2 s.
    EXPECT_GE((b.tv_sec - a.tv_sec) + (b.tv_nsec - a.tv_nsec) / 1e9, 0.19);
}

TEST(StandinArgs, Parsing)
{
    const char *ok[] = {"devstandin", "--vbi", "-", "--pace", "--fail-after", "3", "captext", "-x", nullptr};
    StandinArgs a;
    EXPECT_EQ(standin_parse_args(8, (char **)ok, &a), nullptr);
    EXPECT_TRUE(a.vbi_stdin);
    EXPECT_STREQ(a.pace, "29.97");
    EXPECT_STREQ(a.fail_after, "3");
    EXPECT_EQ(a.program, 6);
    const char *rate[] = {"devstandin", "--pace", "10", "--vbi-socket", "/tmp/s", "x", nullptr};
    EXPECT_EQ(standin_parse_args(6, (char **)rate, &a), nullptr);
    EXPECT_STREQ(a.pace, "10");
    EXPECT_STREQ(a.vbi, "socket:/tmp/s");
    const char *none[] = {"devstandin", "--vbi", "f", nullptr};
    EXPECT_STREQ(standin_parse_args(3, (char **)none, &a), "no program given");
    const char *bad[] = {"devstandin", "--fail-after", "x", "p", nullptr};
    EXPECT_NE(standin_parse_args(4, (char **)bad, &a), nullptr);
    const char *unknown[] = {"devstandin", "--frob", "1", "p", nullptr};
    EXPECT_STREQ(standin_parse_args(4, (char **)unknown, &a), "unknown option");
}

TEST_F(Standin, RunnerPipesStandardInputAsALiveFeed)
{
    ProcessOptions opt;
    opt.input = make_stream("Piped in.\n", default_gen());
    ProcessResult r = run_process({bin_path("devstandin"), "--vbi", "-", bin_path("captext")}, opt);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "piped in. \n");
    // The program's own status comes back, and so does a failed start.
    write_file(file, make_stream("Piped in.\n", default_gen()));
    r = run_process({bin_path("devstandin"), "--vbi", file, "--fail-after", "1", bin_path("captext")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "read /dev/vbi0: Input/output error\n");
    r = run_process({bin_path("devstandin"), dir + "/no-such-program"});
    EXPECT_EQ(r.status, 127);
    r = run_process({bin_path("devstandin")});
    EXPECT_EQ(r.status, 125);
    EXPECT_NE(r.err.find("usage: "), std::string::npos);
}

}  // namespace
