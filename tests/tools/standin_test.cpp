// The device stand-in itself: what a program sees when it opens the VBI
// nodes, and the devstandin runner.
#include <gtest/gtest.h>

#include <elf.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cmath>
#include <future>
#include <random>
#include <cstring>
#include <filesystem>

#include "process.h"
#include "standin_args.h"
#include "standin_exec.h"
#include "standin_rules.h"
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
        std::filesystem::remove_all(dir);
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
    const char *rate[] = {"devstandin", "--pace=10", "--vbi-socket", "/tmp/s", "x", nullptr};
    EXPECT_EQ(standin_parse_args(5, (char **)rate, &a), nullptr);
    EXPECT_STREQ(a.pace, "10");
    EXPECT_STREQ(a.vbi, "socket:/tmp/s");
    EXPECT_STREQ(a.vbi_socket, "/tmp/s");
    const char *none[] = {"devstandin", "--vbi", "f", nullptr};
    EXPECT_STREQ(standin_parse_args(3, (char **)none, &a), "no program given");
    const char *bad[] = {"devstandin", "--fail-after", "x", "p", nullptr};
    EXPECT_NE(standin_parse_args(4, (char **)bad, &a), nullptr);
    const char *unknown[] = {"devstandin", "--frob", "1", "p", nullptr};
    EXPECT_STREQ(standin_parse_args(4, (char **)unknown, &a), "unknown option '--frob'");
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
    EXPECT_EQ(r.err, "devstandin: no program given\nTry 'devstandin --help'.\n");
}

// Runs a probe (vbiprobe, vbiprobe64, hw_mem_probe, ...) with the stand-in.
ProcessResult probe_run(const std::string &program, std::vector<std::string> args,
                        std::vector<std::string> env)
{
    ProcessOptions opt;
    opt.env = standin_env();
    for (auto &e : env)
        opt.env.push_back(e);
    opt.timeout = 30;
    args.insert(args.begin(), bin_path(program));
    return run_process(args, opt);
}

// A sparse memory file of `size` bytes (beyond 2 GiB, also in a 32-bit
// build).
void size_mem_file(const std::string &path, long long size)
{
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_LARGEFILE, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate64(fd, (off64_t)size), 0);
    close(fd);
}

const long long WINDOW = 0xE8000000LL;

double seconds_since(const struct timespec &a)
{
    struct timespec b;
    clock_gettime(CLOCK_MONOTONIC, &b);
    return (b.tv_sec - a.tv_sec) + (b.tv_nsec - a.tv_nsec) / 1e9;
}

// At 8 blocks per second a descriptor asked for right after a read is not
// yet readable, whichever call asks; the first block is there at once.  The
// 64-bit-time probe reaches the time64 entry points of a 32-bit libc.
TEST_F(Standin, PacedDescriptorIsHeldInEveryWaitingCall)
{
    write_file(file, blocks(3, 1));
    for (const char *program : {"vbiprobe", "vbiprobe64"})
        for (const char *wait : {"select", "pselect", "poll", "ppoll"}) {
            ProcessResult r = probe_run(program, {std::string("--wait=") + wait, "--check"},
                                        {"STANDIN_VBI=" + file, "STANDIN_VBI_PACE=8"});
            EXPECT_EQ(r.out, "ready 65536 1 0\nheld 65536 2 1\nheld 65536 3 2\nheld 0 3 2\n")
                << program << " " << wait << ": " << r.err;
        }
}

// A read that comes before the block is due waits like a blocking read of
// the device, or is refused with EAGAIN on a non-blocking descriptor; a
// read after the wait returns the block.
TEST_F(Standin, EarlyReadWaitsOrIsRefused)
{
    write_file(file, blocks(4, 1));
    struct timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    ProcessResult r = probe_run("vbiprobe", {"--wait=none"},
                                {"STANDIN_VBI=" + file, "STANDIN_VBI_PACE=20"});
    EXPECT_EQ(r.out, "65536 1 0\n65536 2 1\n65536 3 2\n65536 4 3\n0 4 3\n");
    // Five reads at 20 per second cannot be over in less than 0.2 s.
    EXPECT_GE(seconds_since(start), 0.19);

    write_file(file, blocks(3, 1));
    r = probe_run("vbiprobe", {"--wait=poll", "--nonblock"},
                  {"STANDIN_VBI=" + file, "STANDIN_VBI_PACE=8"});
    EXPECT_EQ(r.out, "65536 1 0\nEAGAIN 65536 2 1\nEAGAIN 65536 3 2\nEAGAIN 0 3 2\n");
    // Without pacing the file is always there, as before.
    r = probe_run("vbiprobe", {"--wait=ppoll", "--nonblock", "--check"}, {"STANDIN_VBI=" + file});
    EXPECT_EQ(r.out, "ready 65536 1 0\nready 65536 2 1\nready 65536 3 2\nready 0 3 2\n");
}

TEST(StandinRules, RatesCountsErrorNumbersAndRanges)
{
    long long period = 0;
    EXPECT_TRUE(standin_pace_period("29.97", &period));
    EXPECT_EQ(period, 33366700);
    EXPECT_TRUE(standin_pace_period("1e-8", &period));
    EXPECT_EQ(period, 100000000000000000LL);
    for (const char *bad : {"0", "-1", "nan", "inf", "0x10", "", "abc", "1e-10", "1e400", "10x"})
        EXPECT_FALSE(standin_pace_period(bad, &period)) << bad;
    // A schedule that would overflow is "never", not a time in the past.
    EXPECT_EQ(standin_due_ns(5, 3, 10), 35);
    EXPECT_EQ(standin_due_ns(1000, 100, 100000000000000000LL), LLONG_MAX);
    EXPECT_EQ(standin_due_ns(LLONG_MAX - 5, 1, 10), LLONG_MAX);

    long long n;
    EXPECT_TRUE(standin_count("0", &n));
    EXPECT_FALSE(standin_count("99999999999999999999", &n));
    EXPECT_FALSE(standin_count("-1", &n));
    int e;
    EXPECT_TRUE(standin_errno("4095", &e));
    EXPECT_EQ(e, 4095);
    for (const char *bad : {"0", "4096", "-5", "EINVAL", "22x", ""})
        EXPECT_FALSE(standin_errno(bad, &e)) << bad;

    EXPECT_TRUE(standin_map_fits(0xE8000000ull, 131072, 0xE8000000ll + 131072));
    EXPECT_FALSE(standin_map_fits(0xE8000000ull, 131072, 0xE8000000ll + 131071));
    EXPECT_FALSE(standin_map_fits(~0ull - 10, 4096, LLONG_MAX));  // no wrap past 2^64
}

TEST(StandinArgs, ValuesAreCheckedAndPaceTakesNoWord)
{
    StandinArgs a;
    // "--pace capture.vbi captext": the capture is the program's place.
    const char *pace[] = {"devstandin", "--pace", "capture.vbi", "captext", nullptr};
    EXPECT_EQ(standin_parse_args(4, (char **)pace, &a), nullptr);
    EXPECT_STREQ(a.pace, "29.97");
    EXPECT_EQ(a.program, 2);
    const char *rate[] = {"devstandin", "--rate", "12.5", "--vbi=c.vbi", "--fb-fail=22", "p", nullptr};
    EXPECT_EQ(standin_parse_args(6, (char **)rate, &a), nullptr);
    EXPECT_STREQ(a.pace, "12.5");
    EXPECT_STREQ(a.vbi, "c.vbi");
    EXPECT_STREQ(a.fb_fail, "22");
    const char *help[] = {"devstandin", "--help", nullptr};
    EXPECT_EQ(standin_parse_args(2, (char **)help, &a), nullptr);
    EXPECT_TRUE(a.help);

    const std::string long_path(108, 's');
    struct {
        std::vector<const char *> args;
        const char *message;
    } bad[] = {
        {{"--rate", "0", "p"}, "--rate: '0' is not a rate of at least 1e-9 blocks per second"},
        {{"--pace=-2", "p"}, "--pace: '-2' is not a rate of at least 1e-9 blocks per second"},
        {{"--rate", "nan", "p"}, "--rate: 'nan' is not a rate of at least 1e-9 blocks per second"},
        {{"--rate=1e-12", "p"}, "--rate: '1e-12' is not a rate of at least 1e-9 blocks per second"},
        {{"--fb-fail", "0", "p"}, "--fb-fail: '0' is out of range (1 to 4095)"},
        {{"--fb-fail", "4096", "p"}, "--fb-fail: '4096' is out of range (1 to 4095)"},
        {{"--fail-after", "-1", "p"}, "--fail-after: '-1' is out of range (0 or more)"},
        {{"--help=yes"}, "--help: takes no value"},
        {{"--mem"}, "--mem: needs a value"},
        {{"--vbi-socket", long_path.c_str(), "p"},
         "--vbi-socket: 'ssssssssssssssssssssssssssssssssssssssssssssssssssssssssssssssssssssssssss"
         "ssssssssssssssssssssssssssssssssss' is not a socket path of 1 to 107 bytes"},
    };
    for (auto &b : bad) {
        std::vector<const char *> argv = {"devstandin"};
        argv.insert(argv.end(), b.args.begin(), b.args.end());
        argv.push_back(nullptr);
        const char *err = standin_parse_args((int)argv.size() - 1, (char **)argv.data(), &a);
        ASSERT_NE(err, nullptr) << b.args[0];
        EXPECT_STREQ(err, b.message);
    }
}

// A file where the program belongs is called a capture only when it looks
// like one: whole blocks, or a block or more that cannot run; never a
// program or a script.
TEST(StandinArgs, CaptureWhereTheProgramBelongs)
{
    const unsigned char samples[4] = {60, 61, 59, 60}, elf[4] = {0x7f, 'E', 'L', 'F'}, script[4] = {'#', '!', '/', 'b'};
    EXPECT_TRUE(standin_is_capture(samples, 4, 65536, false));
    EXPECT_TRUE(standin_is_capture(samples, 4, 3 * 65536, true));   // an execute bit from a FAT stick
    EXPECT_TRUE(standin_is_capture(samples, 4, 65536 + 100, false));  // cut short
    EXPECT_FALSE(standin_is_capture(samples, 4, 65536 + 100, true));
    EXPECT_FALSE(standin_is_capture(samples, 4, 300, false));  // notes, not a capture
    EXPECT_FALSE(standin_is_capture(samples, 0, 0, false));
    EXPECT_FALSE(standin_is_capture(elf, 4, 65536, false));
    EXPECT_FALSE(standin_is_capture(script, 4, 65536, true));

    // Numbers reach the library in plain decimal, as it reads them.
    StandinArgs a;
    const char *numbers[] = {"devstandin", "--fail-after=+007", "--fb-fail", "022", "p", nullptr};
    EXPECT_EQ(standin_parse_args(5, (char **)numbers, &a), nullptr);
    EXPECT_STREQ(a.fail_after, "7");
    EXPECT_STREQ(a.fb_fail, "22");
}

// Usage errors, files that cannot stand for their device and a program
// that cannot run are all said in the runner's name before anything runs.
TEST_F(Standin, RunnerRefusesBeforeTheProgramStarts)
{
    std::string sub = dir + "/sub";
    ASSERT_EQ(mkdir(sub.c_str(), 0755), 0);
    write_file(file, blocks(1, 1));
    std::string nosuch = dir + "/nosuch.vbi";
    struct {
        std::vector<std::string> args;
        std::string err;
        int status;
    } cases[] = {
        {{"--vbi", nosuch}, nosuch + ": No such file or directory", 1},
        {{"--vbi", sub}, sub + ": Is a directory", 1},
        {{"--vbi-socket", file}, file + ": not a socket", 1},
        {{"--fb", nosuch}, nosuch + ": No such file or directory", 1},
        {{"--mem", sub}, sub + ": Is a directory", 1},
        {{"--cmap", dir + "/none/cmap.txt"}, dir + "/none/cmap.txt: No such file or directory", 1},
        {{"--cmap", file + "/cmap.txt"}, file + "/cmap.txt: Not a directory", 1},
        {{"--cmap", sub}, sub + ": Is a directory", 1},
        {{"--rate", "0"}, "--rate: '0' is not a rate of at least 1e-9 blocks per second\n"
                          "Try 'devstandin --help'.", 125},
        {{"--pace", file}, file + ": is a capture, not a program (did you mean --vbi " + file + "?)", 127},
    };
    for (auto &c : cases) {
        std::vector<std::string> argv = {bin_path("devstandin")};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        if (c.args[0] != "--pace")
            argv.push_back(bin_path("vbiprobe"));
        argv.push_back("--show-pid");
        ProcessResult r = run_process(argv);
        EXPECT_EQ(r.status, c.status) << c.args[0];
        EXPECT_EQ(r.err, "devstandin: " + c.err + "\n") << c.args[0];
        EXPECT_EQ(r.out, "") << c.args[0];
    }
}

TEST_F(Standin, RunnerHelpAndVersion)
{
    ProcessResult r = run_process({bin_path("devstandin"), "--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, standin_usage);
    EXPECT_EQ(r.err, "");
    r = run_process({bin_path("devstandin"), "--version", "ignored"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, std::string("devstandin (vbitools) ") + VT_VERSION + "\n");
}

// A colour map that cannot be recorded was not loaded: the program hears
// it from FBIOPUTCMAP, and reports it.
TEST_F(Standin, UnrecordedColourMapIsARefusedMap)
{
    std::string fb = dir + "/fb";
    write_file(fb, "");
    ProcessResult r = run_process(
        {bin_path("devstandin"), "--fb", fb, "--cmap", "/dev/full", bin_path("fbpalette")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "FBIOPUTCMAP /dev/fb0: No space left on device\n");
    r = run_process({bin_path("devstandin"), "--fb", fb, "--cmap", dir + "/cmap.txt", "--fb-fail",
                     "4095", bin_path("fbpalette")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "FBIOPUTCMAP /dev/fb0: " + std::string(strerror(4095)) + "\n");
    EXPECT_EQ(read_file(dir + "/cmap.txt").substr(0, 40), "FBIOPUTCMAP start=0 len=256 transp=null\n");
}

// /dev/mem maps only what the memory file backs: a window that reaches
// past its end is refused, so the program reports a failed mapping rather
// than dying of a bus error on the first page the file does not hold.
TEST_F(Standin, MappingPastTheMemoryFileIsRefused)
{
    std::string mem = dir + "/mem";
    size_mem_file(mem, WINDOW + 4095);
    ProcessResult r = probe_run("hw_mem_probe", {}, {"STANDIN_MEM=" + mem});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "mmap /dev/mem: Invalid argument\n");
    size_mem_file(mem, WINDOW + 4096);
    r = probe_run("hw_mem_probe", {}, {"STANDIN_MEM=" + mem});
    EXPECT_EQ(r.status, 0) << r.err;

    // vmemburst's window is 128 KiB: one byte short is refused, before its
    // own mapping at address 0 is even tried.
    size_mem_file(mem, WINDOW + 131071);
    r = run_process({bin_path("devstandin"), "--mem", mem, bin_path("vmemburst")});
    EXPECT_EQ(r.status, 1);
    const std::string refused =
        "mmap 131072 bytes of /dev/mem at physical 0xe8000000 to virtual 0x00000000: "
        "Invalid argument\n";
    EXPECT_EQ(r.err, refused);
    // Under qemu's user-mode emulation address 0 can be mapped, so there the
    // file's end is all that stands in the way.
    const char *qemu = "/usr/bin/qemu-i386-static";
    if (sizeof(void *) == 4 && access(qemu, X_OK) == 0) {
        ProcessOptions opt;
        opt.env = standin_env();
        opt.env.push_back("STANDIN_MEM=" + mem);
        r = run_process({qemu, bin_path("vmemburst")}, opt);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, refused);
    }
}

// Standard input closed: the live feed ends at once and the program ends
// with its own status, rather than reading its feed from descriptor 0.
TEST_F(Standin, ClosedStandardInputEndsTheLiveFeed)
{
    ProcessOptions opt;
    opt.timeout = 30;
    ProcessResult r = run_process({"/bin/sh", "-c", "exec \"$0\" --vbi - \"$1\" <&-",
                                   bin_path("devstandin"), bin_path("vbiprobe")},
                                  opt);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "0 0 0\n");
}

// Starts devstandin with its standard output on a pipe (and, for a live
// feed, its standard input on a pipe the test holds open).
struct Runner {
    pid_t pid = -1;
    int out = -1, in = -1;
    std::string text;

    void start(const std::vector<std::string> &args, bool feed)
    {
        int o[2], i[2];
        ASSERT_EQ(pipe2(o, O_CLOEXEC), 0);
        ASSERT_EQ(pipe2(i, O_CLOEXEC), 0);
        std::vector<char *> argv;
        for (auto &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            for (int sig : {SIGTERM, SIGINT, SIGHUP})
                signal(sig, SIG_DFL);
            dup2(o[1], 1);
            if (feed)
                dup2(i[0], 0);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(o[1]);
        close(i[0]);
        out = o[0];
        in = i[1];
    }

    // Reads until `lines` lines have come, or 20 s have passed.
    void read_lines(int lines)
    {
        for (int waited = 0; std::count(text.begin(), text.end(), '\n') < lines && waited < 200;) {
            struct pollfd p = {out, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) {
                waited++;
                continue;
            }
            char buf[256];
            ssize_t n = read(out, buf, sizeof buf);
            if (n <= 0)
                break;
            text.append(buf, (size_t)n);
        }
    }

    // The runner's exit status, or -1 when it did not end within 20 s.
    int wait_status()
    {
        int status;
        for (int i = 0; i < 200; i++) {
            if (waitpid(pid, &status, WNOHANG) == pid)
                return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
            usleep(100000);
        }
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return -1;
    }

    ~Runner()
    {
        close(out);
        close(in);
    }
};

// Killing the runner ends the program it runs, whether the runner is
// waiting for it or feeding it from standard input, and the runner ends
// with the program's status.
TEST_F(Standin, KillingTheRunnerEndsTheProgram)
{
    write_file(file, blocks(50, 1));
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        for (bool feed : {false, true}) {
            Runner run;
            std::vector<std::string> args = {bin_path("devstandin"), "--vbi",
                                             feed ? "-" : file, "--pace=2",
                                             bin_path("vbiprobe"), "--show-pid", "--wait=poll"};
            run.start(args, feed);
            run.read_lines(feed ? 1 : 2);
            int probe_pid = atoi(run.text.c_str() + 4);
            ASSERT_GT(probe_pid, 0) << run.text;
            kill(run.pid, sig);
            EXPECT_EQ(run.wait_status(), 128 + sig) << strsignal(sig) << (feed ? " feed" : " file");
            EXPECT_EQ(kill(probe_pid, 0), -1) << "the program outlived its runner";
            EXPECT_EQ(errno, ESRCH);
        }
}

// Descriptors of 1024 and above (a shell or a supervisor can pass a
// thousand on): every stand-in node is still tracked there.
struct HighDescriptors : Standin {
    struct rlimit saved;
    std::vector<int> fillers;
    void SetUp() override
    {
        getrlimit(RLIMIT_NOFILE, &saved);
        struct rlimit more = saved;
        if (more.rlim_max != RLIM_INFINITY && more.rlim_max < 1100)
            GTEST_SKIP() << "the hard limit of descriptors is " << more.rlim_max;
        more.rlim_cur = more.rlim_max == RLIM_INFINITY || more.rlim_max > 2048 ? 2048 : more.rlim_max;
        ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &more), 0);
        // Inherited by the programs run, so their own opens land above.
        for (;;) {
            int fd = open("/dev/null", O_RDONLY);
            ASSERT_GE(fd, 0);
            fillers.push_back(fd);
            if (fd >= 1030)
                break;
        }
    }
    void TearDown() override
    {
        for (int fd : fillers)
            close(fd);
        setrlimit(RLIMIT_NOFILE, &saved);
        Standin::TearDown();
    }
};

TEST_F(HighDescriptors, EveryNodeIsTracked)
{
    write_file(file, blocks(3, 1));
    ProcessResult r = probe_run("vbiprobe", {"--wait=ppoll", "--check", "--show-fd"},
                                {"STANDIN_VBI=" + file, "STANDIN_VBI_PACE=8"});
    EXPECT_EQ(r.out, "fd 1024 or above\nready 65536 1 0\nheld 65536 2 1\nheld 65536 3 2\nheld 0 3 2\n");
    r = probe_run("vbiprobe", {"--wait=poll", "--show-fd"},
                  {"STANDIN_VBI=" + file, "STANDIN_VBI_FAIL_AFTER=1"});
    EXPECT_EQ(r.out, "fd 1024 or above\n65536 1 0\nerror Input/output error\n");

    std::string mem = dir + "/mem";
    size_mem_file(mem, WINDOW + 100);
    r = probe_run("hw_mem_probe", {}, {"STANDIN_MEM=" + mem});
    EXPECT_EQ(r.err, "mmap /dev/mem: Invalid argument\n");

    std::string fb = dir + "/fb";
    write_file(fb, "");
    r = probe_run("fbpalette", {}, {"STANDIN_FB=" + fb, "STANDIN_FB_FAIL=5"});
    EXPECT_EQ(r.err, "FBIOPUTCMAP /dev/fb0: Input/output error\n");
}

}  // namespace

namespace {

// ---- Reads, waits and signals as the device answers them ----------------

// Runs callseq on the stand-in's paced device (period_ms per block), or on
// a pipe a writer fills at the same rate.
ProcessResult callseq(const std::string &capture, int period_ms, std::vector<std::string> steps,
                      bool on_pipe = false, std::vector<std::string> env = {})
{
    std::vector<std::string> args = {std::to_string(period_ms)};
    if (on_pipe)
        args.insert(args.begin(), "--pipe");
    args.insert(args.end(), steps.begin(), steps.end());
    env.push_back("STANDIN_VBI=" + capture);
    env.push_back("STANDIN_VBI_PACE=" + std::to_string(1000.0 / period_ms));
    return probe_run("callseq", args, env);
}

// A signal that ends a wait leaves the caller's sets as they were, so the
// usual retry loop waits for the device again rather than for nothing; a
// block that falls due by the deadline is reported, not "no data".
TEST_F(Standin, WaitsEndedBySignalsOrDeadlinesAnswerAsTheKernel)
{
    write_file(file, blocks(8, 0));
    ProcessResult r = callseq(file, 200,
                              {"read", "select:-!", "pselect:-!", "select:-", "read", "pselect:1.0",
                               "read", "poll:1.0"});
    EXPECT_EQ(r.out, "read: 65536 0\n"
                     "select:-!: -1 EINTR device=1 idle=1\n"
                     "pselect:-!: -1 EINTR device=1 idle=1\n"
                     "select:-: 1 device=1 idle=0\n"
                     "read: 65536 1\n"
                     "pselect:1.0: 1 device=1 idle=0\n"
                     "read: 65536 2\n"
                     "poll:1.0: 1 device=0x1 idle=0\n")
        << r.err;
}

// One read, one block, whatever the buffer; a paced read waits as the
// device's does, and a signal ends the wait unless its handler restarts
// calls.
TEST_F(Standin, ReadsAreTheDevicesReads)
{
    write_file(file, blocks(6, 0));
    ProcessResult r = callseq(file, 200, {"bigread", "bigread", "read!", "read!r", "bigread"},
                              false, {"STANDIN_VBI_FAIL_AFTER=4"});
    EXPECT_EQ(r.out, "bigread: 65536 0\n"
                     "bigread: 65536 1\n"
                     "read!: -1 EINTR\n"
                     "read!r: 65536 2\n"
                     "bigread: 65536 3\n")
        << r.err;
    r = probe_run("callseq", {"200", "bigread", "bigread", "bigread", "bigread"},
                  {"STANDIN_VBI=" + file, "STANDIN_VBI_FAIL_AFTER=3"});
    EXPECT_EQ(r.out, "bigread: 65536 0\nbigread: 65536 1\nbigread: 65536 2\n"
                     "bigread: -1 Input/output error\n");

    // The live feeds keep the flags of the program's open.
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sv), 0);
    std::string path = dir + "/feed";
    int listener = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    struct sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    ASSERT_EQ(bind(listener, (struct sockaddr *)&addr, sizeof addr), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    for (std::string feed : {"fd:" + std::to_string(sv[1]), "socket:" + path}) {
        ProcessOptions opt;
        opt.env = standin_env();
        opt.env.push_back("STANDIN_VBI=" + feed);
        opt.keep_fds = {sv[1]};
        r = run_process({bin_path("fdprobe"), "flags"}, opt);
        EXPECT_EQ(r.out, "nonblock=1 cloexec=1\n") << feed;
    }
    close(listener);
    close(sv[0]);
    close(sv[1]);
}

// Copies of a descriptor are the same open device, a forked child shares
// it with its parent, and a descriptor closed behind the stand-in's back
// is not taken for the device when its number comes back.
TEST_F(Standin, DescriptorsAreFollowedLikeOpenFiles)
{
    write_file(file, blocks(8, 0));
    std::vector<std::string> env = {"STANDIN_VBI=" + file, "STANDIN_VBI_FAIL_AFTER=1"};
    EXPECT_EQ(probe_run("fdprobe", {"copies"}, env).out,
              "device 65536\ndup Input/output error\ndup2 Input/output error\n"
              "dup3 Input/output error\nF_DUPFD Input/output error\n"
              "F_DUPFD_CLOEXEC Input/output error\n");
    env[1] = "STANDIN_VBI_FAIL_AFTER=2";
    EXPECT_EQ(probe_run("fdprobe", {"fork"}, env).out,
              "parent 65536\nchild 65536\nparent Input/output error\n");
    std::string text = dir + "/plain.txt";
    write_file(text, "plain\n");
    env[1] = "STANDIN_VBI_FAIL_AFTER=0";
    EXPECT_EQ(probe_run("fdprobe", {"fclose", text}, env).out, "same number\nfile 6\n");
}

// A random sequence of calls whose outcomes do not hang on timing: every
// call starts 0.3 periods into a period, every timeout and signal falls at
// 0.5, and blocks come at whole periods, so that no two events lie closer
// than a fifth of a period.  Now and then the caller falls behind by a
// period or two and finds the blocks it missed.
std::vector<std::string> random_calls(unsigned seed, int calls)
{
    std::mt19937 gen(seed);
    auto pick = [&](int n) { return (int)(gen() % (unsigned)n); };
    const char *waits[] = {"select", "pselect", "poll", "ppoll"};
    const char *timeouts[] = {"0", "0.2", "1.0", "-"};
    std::vector<std::string> steps;
    double t = 0;  // in periods; block k is there from time k
    long consumed = 0;
    for (int i = 0; i < calls; i++) {
        if (i > 0) {
            t = std::floor(t) + 1.3 + (pick(6) == 0 ? 1 + pick(2) : 0);
            char at[32];
            snprintf(at, sizeof at, "at:%.1f", t);
            steps.push_back(at);
        }
        long there = (long)std::floor(t) + 1 - consumed;
        // Mostly a block there is read at once, so that most calls find
        // none and have to wait for the next.
        while (there > 0 && pick(3)) {
            steps.push_back("read");
            consumed++;
            there--;
        }
        int op = pick(6);
        int sig = there > 0 ? 0 : pick(3);  // none, "!", "!r"
        const char *mark = sig == 1 ? "!" : sig == 2 ? "!r" : "";
        if (op >= 4) {
            steps.push_back(std::string("read") + mark);
            if (sig == 1) {
                t += 0.2;
                continue;
            }
            if (there == 0)
                t = std::floor(t) + 1;
            consumed++;
            continue;
        }
        int w = pick(4);
        if (w < 2)
            sig = 0, mark = "";
        steps.push_back(std::string(waits[op]) + ":" + timeouts[w] + mark);
        bool ready = there > 0 || (w >= 2 && !sig);
        if (there == 0)
            t = sig ? t + 0.2 : w >= 2 ? std::floor(t) + 1 : t + (w ? 0.2 : 0);
        if (ready && pick(4)) {
            steps.push_back("read");
            consumed++;
        }
    }
    return steps;
}

// The stand-in's paced device and a pipe that a writer fills at the same
// rate answer the same calls alike: what each call returns, and what it
// leaves in its descriptor sets, poll entries and timeout.
TEST_F(Standin, PacedDeviceAnswersLikeAPipe)
{
    write_file(file, blocks(100, 0));
    std::vector<std::string> calls = random_calls(20261228, 20);
    auto device = std::async(std::launch::async, [&] { return callseq(file, 400, calls); });
    ProcessResult pipe = callseq(file, 400, calls, true);
    ProcessResult stood_in = device.get();
    EXPECT_EQ(stood_in.out, pipe.out) << stood_in.err;
    // The sequence tries what it should: signals, timeouts and readiness.
    for (const char *seen : {"EINTR device=1 idle=1", "-1 EINTR\n", ": 0 device=0 idle=0",
                             "1 device=0x1", "read!r: 65536"})
        EXPECT_NE(pipe.out.find(seen), std::string::npos) << seen << " in\n" << pipe.out;
}

// ---- The runner keeps programs away from the real devices ---------------

// Starts a program with the runner, every node stood in for.
ProcessResult run_nodes(const std::string &dir, const std::string &program,
                        std::vector<std::string> env = {})
{
    write_file(dir + "/n.vbi", blocks(1, 0));
    write_file(dir + "/fb", "");
    write_file(dir + "/mem", "");
    ProcessOptions opt;
    opt.env = env;
    opt.timeout = 30;
    return run_process({bin_path("devstandin"), "--vbi", dir + "/n.vbi", "--fb", dir + "/fb",
                        "--mem", dir + "/mem", program},
                       opt);
}

const char all_opened[] = "/dev/vbi0 opened\n/dev/mem opened\n/dev/fb0 opened\n";

// A library path that LD_PRELOAD would split (a space, a colon) and a
// program of the other word size: the library is in the program, or the
// program does not start.
TEST_F(Standin, TheLibraryIsInEveryProgramTheRunnerStarts)
{
    std::string odd = dir + "/lib dir:x";
    ASSERT_EQ(mkdir(odd.c_str(), 0755), 0);
    std::filesystem::copy_file(bin_path("libdevstandin.so"), odd + "/libdevstandin.so");
    ProcessResult r = run_nodes(dir, bin_path("fdprobe"),
                                {"STANDIN_LIB=" + odd + "/libdevstandin.so"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, all_opened);

    // The other word size: run with its own library where there is one,
    // refused where there is none.
    int bits = sizeof(void *) == 8 ? 32 : 64;
    std::string other = bits == 32 ? bin_path("fdprobe32") : "/bin/true";
    if (access(other.c_str(), X_OK) != 0)
        GTEST_SKIP() << "no " << bits << "-bit program here: no 32-bit toolchain";
    if (bits == 32) {
        r = run_nodes(dir, other);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, all_opened);
    }
    r = run_nodes(dir, other, {"STANDIN_LIB=" + odd + "/libdevstandin.so"});
    EXPECT_EQ(r.status, 125);
    EXPECT_EQ(r.err, "devstandin: " + other + ": a " + std::to_string(bits) +
                         "-bit program; no " + std::to_string(bits) +
                         "-bit stand-in library is installed\n");
    EXPECT_EQ(r.out, "");

    // A script runs its interpreter, which is what the library enters.
    std::string script = dir + "/script";
    write_file(script, "#!" + other + "\n");
    chmod(script.c_str(), 0755);
    r = run_nodes(dir, script, {"STANDIN_LIB=" + odd + "/libdevstandin.so"});
    EXPECT_EQ(r.status, 125);
    EXPECT_EQ(r.err.substr(0, 12 + other.size()), "devstandin: " + other);
}

// What the dynamic linker would run without the library is not run, or
// not run on: a static program is refused, and a library that does not
// report in from the program (here a program given as the library, which
// the dynamic linker ignores) makes the runner fail.
TEST_F(Standin, ProgramsTheLibraryCannotEnterAreRefused)
{
    // A program without a program interpreter: fdprobe with its
    // PT_INTERP header blanked, as a statically linked program has none.
    std::string image = read_file(bin_path("fdprobe"));
    bool wide = image[EI_CLASS] == ELFCLASS64;
    uint64_t phoff = 0;
    uint16_t phentsize, phnum;
    memcpy(&phoff, &image[wide ? 32 : 28], wide ? 8 : 4);
    memcpy(&phentsize, &image[wide ? 54 : 42], 2);
    memcpy(&phnum, &image[wide ? 56 : 44], 2);
    for (uint16_t i = 0; i < phnum; i++) {
        uint32_t type;
        memcpy(&type, &image[phoff + i * phentsize], 4);
        if (type == PT_INTERP)
            memset(&image[phoff + i * phentsize], 0, 4);
    }
    std::string static_program = dir + "/static";
    write_file(static_program, image);
    chmod(static_program.c_str(), 0755);
    ProcessResult r = run_nodes(dir, static_program);
    EXPECT_EQ(r.status, 125);
    EXPECT_EQ(r.err, "devstandin: " + static_program +
                         ": a statically linked program; the stand-in library cannot enter it\n");
    EXPECT_EQ(r.out, "");

    r = run_nodes(dir, bin_path("fdprobe"), {"STANDIN_LIB=" + bin_path("fdprobe")});
    EXPECT_EQ(r.status, 125);
    const std::string said = "devstandin: " + bin_path("fdprobe") +
                             ": the stand-in library did not load into the program\n";
    ASSERT_GE(r.err.size(), said.size()) << r.err;
    EXPECT_EQ(r.err.substr(r.err.size() - said.size()), said);
}

// SIGKILL cannot be passed on: the program ends with its runner all the
// same, instead of running on against a stand-in that is gone.
TEST_F(Standin, TheProgramEndsWithAKilledRunner)
{
    write_file(file, blocks(50, 1));
    Runner run;
    run.start({bin_path("devstandin"), "--vbi", file, "--pace=2", bin_path("vbiprobe"),
               "--show-pid", "--wait=poll"},
              false);
    run.read_lines(2);
    int probe_pid = atoi(run.text.c_str() + 4);
    ASSERT_GT(probe_pid, 0) << run.text;
    kill(run.pid, SIGKILL);
    EXPECT_EQ(run.wait_status(), 1000 + SIGKILL);
    // Gone, or a zombie waiting for whoever adopted it.
    bool gone = false;
    for (int i = 0; i < 100 && !gone; i++) {
        std::string stat = read_file("/proc/" + std::to_string(probe_pid) + "/stat");
        gone = stat.empty() || stat.find(") Z ") != std::string::npos;
        if (!gone)
            usleep(50000);
    }
    EXPECT_TRUE(gone) << "the program outlived its runner";
}

}  // namespace
