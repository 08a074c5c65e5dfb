// The device stand-in itself: what a program sees when it opens the VBI
// nodes, and the devstandin runner.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <filesystem>

#include "process.h"
#include "standin_args.h"
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
