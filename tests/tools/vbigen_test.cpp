#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include <cmath>
#include <cstring>
#include <regex>

#include "process.h"
#include "streams.h"

namespace {

TEST(Vbigen, PairsCarryOddParity)
{
    EXPECT_EQ(gen_pair(0, 0), 0x8080);
    EXPECT_EQ(gen_pair('A', 'b'), 0x62C1);  // 0x41 has two ones, 0x62 three
    for (int c = 0; c < 128; c++)
        EXPECT_EQ(__builtin_popcount(gen_pair(c, c)) % 2, 0) << c;  // both bytes odd
}

TEST(Vbigen, TextBecomesPairsAndControlPattern)
{
    GenOptions o = default_gen();
    uint16_t pairs[64];
    size_t n = gen_text_pairs("abc\n\n\x01xy\n", &o, pairs, 64);
    // "ab", "c" + null, 6 control pairs, "xy" (the control byte is dropped
    // from the text), 6 control pairs.  An empty line sends nothing.
    ASSERT_EQ(n, 2u + 6 + 1 + 6);
    EXPECT_EQ(pairs[0], gen_pair('a', 'b'));
    EXPECT_EQ(pairs[1], gen_pair('c', 0));
    EXPECT_EQ(pairs[2], gen_pair(0x14, 0x20));
    EXPECT_EQ(pairs[3], gen_pair(0x14, 0x20));
    EXPECT_EQ(pairs[7], gen_pair(0x14, 0x2F));
    EXPECT_EQ(pairs[8], gen_pair('x', 'y'));
    // A full buffer stops cleanly.
    EXPECT_EQ(gen_text_pairs("abcdefgh\n", &o, pairs, 3), 3u);
}

TEST(Vbigen, LongLinesAreSentWhole)
{
    // A line is sent however long it is: none of it is cut off.
    GenOptions o = default_gen();
    std::string line(9001, 'a');
    line.back() = 'z';
    static uint16_t pairs[8192];
    size_t n = gen_text_pairs((line + "\nb\n").c_str(), &o, pairs, 8192);
    ASSERT_EQ(n, 4501u + 6 + 1 + 6);
    EXPECT_EQ(pairs[4499], gen_pair('a', 'a'));
    EXPECT_EQ(pairs[4500], gen_pair('z', 0));
    EXPECT_EQ(pairs[4507], gen_pair('b', 0));
}

TEST(Vbigen, BlockLayoutAndCounters)
{
    GenOptions o = default_gen();
    o.counter_start = 0xFFFFFFFEu;
    o.repeat = 2;
    o.gap_every = 2;
    o.gap = 10;
    o.lead = 1;
    o.line = 27;
    std::string s = make_stream("Hi\n", o);
    // lead + "Hi" + 6 controls = 8 frames, each twice.
    ASSERT_EQ(s.size(), 16u * VBI_BLOCK_SIZE);
    const uint32_t expect[] = {0xFFFFFFFEu, 0xFFFFFFFFu, 10, 11, 22, 23, 34, 35};
    for (int b = 0; b < 16; b++) {
        const uint8_t *blk = (const uint8_t *)s.data() + b * VBI_BLOCK_SIZE;
        EXPECT_EQ(vbi_frame_counter(blk), expect[b / 2]) << b;
        // Little-endian, in the last four bytes.
        EXPECT_EQ(blk[65532], expect[b / 2] & 0xFF);
        EXPECT_EQ(blk[65535], expect[b / 2] >> 24);
        // Only the chosen line carries a signal.
        for (int l = 0; l < 31; l++) {
            const uint8_t *line = blk + l * VBI_LINE_SIZE;
            bool flat = memchr(line, 130, VBI_LINE_SIZE) == nullptr;
            EXPECT_EQ(flat, l != 27) << "block " << b << " line " << l;
        }
    }
}

TEST(Vbigen, SignalFollowsTheLineModel)
{
    GenSignal s = default_gen().signal;
    uint16_t w = gen_pair('U', 'U');  // 0x55: alternating bits, 4 ones, parity 1
    // Run-in crests at 73 + 56.875 k reach the data level.
    for (int k = 0; k < 7; k++)
        EXPECT_NEAR(gen_level(73 + 56.875 * k, w, &s), 130, 0.5) << k;
    EXPECT_NEAR(gen_level(30, w, &s), 60, 1e-9);
    EXPECT_NEAR(gen_level(500, w, &s), 60, 1e-9);
    // Start bit, then bits 0..15 in the middle of each bit cell.
    EXPECT_NEAR(gen_level(538.5 + 28, w, &s), 130, 1e-9);
    for (int j = 0; j < 16; j++)
        EXPECT_NEAR(gen_level(538.5 + 56.875 * (j + 1) + 28, w, &s), (w >> j & 1) ? 130 : 60, 1e-9) << j;
    // An offset moves all of it.
    s.offset = 10;
    EXPECT_NEAR(gen_level(83, w, &s), 130, 0.5);
}

// Lines are rendered from tables kept between calls; they must hold the
// model's level, rounded, at every sample, whatever the signal.
TEST(Vbigen, RenderedLinesSampleTheModel)
{
    GenSignal signals[3] = {default_gen().signal, default_gen().signal, default_gen().signal};
    signals[1].offset = -20.3;
    signals[1].edge = 11;
    signals[2].offset = 17.7;
    signals[2].blank = 16;
    signals[2].data = 235;
    GenNoise noise;
    gen_noise_init(&noise, 1);
    uint8_t line[VBI_LINE_SIZE];
    for (const GenSignal &s : signals)
        for (uint16_t word : {gen_pair(0, 0), gen_pair('A', 'z'), (uint16_t)0xFFFF, (uint16_t)0x0001, (uint16_t)0x5555}) {
            gen_render_line(line, word, &s, &noise);
            for (int i = 0; i < VBI_LINE_SIZE; i++) {
                long want = lround(gen_level(i, word, &s));
                ASSERT_EQ(line[i], want < 0 ? 0 : want > 255 ? 255 : want) << "sample " << i << " word " << word;
            }
        }
}

TEST(Vbigen, CommandLine)
{
    std::string dir = make_temp_dir();
    ProcessResult r = run_process({bin_path("vbigen"), "-t", "Hi", "--counter-start", "5", "-n", "3"});
    EXPECT_EQ(r.status, 0);
    ASSERT_EQ(r.out.size(), 3u * VBI_BLOCK_SIZE);
    EXPECT_EQ(vbi_frame_counter((const uint8_t *)r.out.data() + 2 * VBI_BLOCK_SIZE), 7u);
    // Text from a file, written to a file, same as the library renders.
    write_file(dir + "/t.txt", "One line.\n");
    r = run_process({bin_path("vbigen"), "-o", dir + "/o.vbi", "--noise", "3", dir + "/t.txt"});
    EXPECT_EQ(r.status, 0);
    GenOptions o = default_gen();
    o.signal.noise = 3;
    EXPECT_EQ(read_file(dir + "/o.vbi"), make_stream("One line.\n", o));
    // Usage and bad values.
    r = run_process({bin_path("vbigen"), "--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("usage: "), std::string::npos);
    r = run_process({bin_path("vbigen"), "--line", "32"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("out of range"), std::string::npos);
    r = run_process({bin_path("vbigen"), "--controls", "2020"});
    EXPECT_EQ(r.status, 2);
    r = run_process({bin_path("vbigen"), dir + "/missing.txt"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("No such file"), std::string::npos);
    unlink((dir + "/t.txt").c_str());
    unlink((dir + "/o.vbi").c_str());
    rmdir(dir.c_str());
}

// Every refused command line names the option and the value; numbers are
// decimal whatever they look like.
TEST(Vbigen, OptionValuesAreCheckedOneByOne)
{
    struct Case {
        std::vector<const char *> args;
        const char *error;  // null: accepted
    } cases[] = {
        {{"--noise", "abc"}, "--noise: 'abc' is not a number"},
        {{"--noise", "nan"}, "--noise: 'nan' is not a number"},
        {{"--noise", "inf"}, "--noise: 'inf' is not a number"},
        {{"--blank", " 5"}, "--blank: ' 5' is not a number"},
        {{"--data", "0x20"}, "--data: '0x20' is not a number"},
        {{"--edge", "1e"}, "--edge: '1e' is not a number"},
        {{"--noise", "256"}, "--noise: '256' is out of range (0 to 255)"},
        {{"--offset", "-3.5e1"}, nullptr},
        {{"-x"}, "unknown option '-x'"},
        {{"--nosie", "3"}, "unknown option '--nosie'"},
        {{"--nois", "3"}, nullptr},  // the one option it abbreviates
        {{"--co", "3"}, "ambiguous option '--co' (--counter-start, --counter-step, --controls, --copies)"},
        {{"--seed"}, "--seed: needs a value"},
        {{"-n", "010"}, nullptr},
        {{"-n", "1.5"}, "-n: '1.5' is not a whole number"},
        {{"--counter-start", "0x10"}, "--counter-start: '0x10' is not a whole number"},
        {{"--counter-start", "4294967295"}, nullptr},
        {{"--counter-start", "4294967296"}, "--counter-start: '4294967296' is out of range (0 to 4294967295)"},
        {{"--gap", "-1"}, "--gap: '-1' is out of range (0 to 4294967295)"},
        {{"--line", "32"}, "--line: '32' is out of range (0 to 31)"},
        {{"--repeat", "99999999999999999999"}, "--repeat: '99999999999999999999' is too large"},
        {{"--controls", "2020"}, "--controls: '2020' is not a list of control pairs such as 1420,142c,142f"},
        {{"--controls", "142g"}, "--controls: '142g' is not a list of control pairs such as 1420,142c,142f"},
        {{"--controls", "1420,"}, nullptr},
    };
    for (const Case &c : cases) {
        std::vector<char *> argv{const_cast<char *>("vbigen")};
        for (const char *a : c.args)
            argv.push_back(const_cast<char *>(a));
        argv.push_back(nullptr);
        GenArgs a;
        const char *err = gen_parse_args((int)argv.size() - 1, argv.data(), &a);
        EXPECT_STREQ(err, c.error) << c.args[0];
    }
    GenArgs a;
    char *ten[] = {(char *)"vbigen", (char *)"-n", (char *)"010", (char *)"--lead", (char *)"08", nullptr};
    ASSERT_EQ(gen_parse_args(5, ten, &a), nullptr);
    EXPECT_EQ(a.opt.blocks, 10);
    EXPECT_EQ(a.opt.lead, 8);
    std::vector<char *> many{(char *)"vbigen"};
    for (int i = 0; i <= GEN_MAX_TEXTS; i++)
        many.insert(many.end(), {(char *)"-t", (char *)"x"});
    EXPECT_STREQ(gen_parse_args((int)many.size(), many.data(), &a), "-t: more than 64 lines");
}

// The stream is as long as asked, block for block, whatever the repeat; a
// refused block ends it.
TEST(Vbigen, StreamLengthAndEarlyStop)
{
    GenOptions o = default_gen();
    o.repeat = 3;
    o.hold = 2;
    o.lead = 1;
    uint16_t pairs[2] = {gen_pair('a', 'b'), gen_pair('c', 'd')};
    EXPECT_EQ(gen_stream_blocks(&o, 2), (1 + 2) * 2 * 3);
    o.blocks = 7;  // two whole frames and one of the third
    EXPECT_EQ(gen_stream_blocks(&o, 2), 7);
    struct Sink {
        std::vector<uint32_t> counters;
        size_t accept;
    } sink{{}, 100};
    GenPut put = [](const uint8_t *block, void *ctx) {
        Sink *s = (Sink *)ctx;
        if (s->counters.size() >= s->accept)
            return false;
        s->counters.push_back(vbi_frame_counter(block));
        return true;
    };
    EXPECT_EQ(gen_stream(&o, pairs, 2, put, &sink), 7);
    EXPECT_EQ(sink.counters, (std::vector<uint32_t>{1, 1, 1, 2, 2, 2, 3}));
    sink = Sink{{}, 4};
    EXPECT_EQ(gen_stream(&o, pairs, 2, put, &sink), 4);
    EXPECT_EQ(sink.counters.size(), 4u);
    // A count far beyond what 32 bits hold does not wrap.
    o.blocks = -1;
    o.lead = 1 << 20;
    o.hold = o.repeat = 1000;
    EXPECT_EQ(gen_stream_blocks(&o, 2), ((1 << 20) + 2) * 1000000LL);
}

// The generator as a user meets it in a shell: one line for a mistake,
// help and version on standard output, decimal numbers, a clean stop when
// the output fails, and no binary on a terminal.
TEST(Vbigen, ReportsLikeAUnixTool)
{
    std::string vbigen = bin_path("vbigen"), dir = make_temp_dir();
    ProcessResult r = run_process({vbigen, "--noise", "abc", "-o", dir + "/x.vbi"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "vbigen: --noise: 'abc' is not a number\nTry 'vbigen --help'.\n");
    EXPECT_EQ(access((dir + "/x.vbi").c_str(), F_OK), -1);
    r = run_process({vbigen, "-x"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "vbigen: unknown option '-x'\nTry 'vbigen --help'.\n");
    EXPECT_EQ(r.out, "");
    for (const char *help : {"-h", "--help"}) {
        r = run_process({vbigen, help});
        EXPECT_EQ(r.status, 0) << help;
        EXPECT_EQ(r.out.rfind("usage: vbigen [options] [textfile ...]\n", 0), 0u) << help;
        EXPECT_EQ(r.err, "") << help;
    }
    r = run_process({vbigen, "--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(std::regex_match(r.out, std::regex("vbigen \\(vbitools\\) [0-9]+\\.[0-9]+\\.[0-9]+\n"))) << r.out;
    r = run_process({vbigen, "--noise=7", "-n5", "-t", "Hi"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.size(), 5u * VBI_BLOCK_SIZE);
    r = run_process({vbigen, "-n", "99999999999999999999"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "vbigen: -n: '99999999999999999999' is too large\nTry 'vbigen --help'.\n");
    // A reader that stops early ends the generator by SIGPIPE, as it does
    // any filter; with SIGPIPE ignored (as this test runs it) it stops
    // quietly with status 0.
    r = run_process({"/bin/bash", "-c",
                     "env --default-signal=PIPE \"$0\" -n 1000 | head -c 100 >/dev/null; echo ${PIPESTATUS[0]}", vbigen});
    EXPECT_EQ(r.out, "141\n");
    r = run_process({"/bin/bash", "-c",
                     "env --ignore-signal=PIPE \"$0\" -n 1000 | head -c 100 >/dev/null; echo ${PIPESTATUS[0]}", vbigen});
    EXPECT_EQ(r.out, "0\n");
    EXPECT_EQ(r.err, "");
    r = run_process({vbigen, "-n", "010", "-t", "Ten."});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.size(), 10u * VBI_BLOCK_SIZE);
    r = run_process({vbigen, "-o", dir + "/x.vbi", dir});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "vbigen: " + dir + ": Is a directory\n");
    // A full disk ends the run at the first block (the count would take
    // hours to render), with one message.
    ProcessOptions quick;
    quick.timeout = 20;
    r = run_process({vbigen, "-n", "1073741824", "-o", "/dev/full"}, quick);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "vbigen: /dev/full: No space left on device\n");
    // Standard output on a terminal: refused before a byte is written.
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    r = run_process({"/bin/sh", "-c", "exec \"$0\" -t Hi >\"$1\"", vbigen, ptsname(master)}, quick);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "vbigen: standard output is a terminal; write the blocks to a file (-o FILE) or a pipe\n");
    char buf[64];
    EXPECT_LE(read(master, buf, sizeof buf), 0);
    close(master);
    rmdir(dir.c_str());
}

// Captures grow past 2 GiB (-n takes 2^30 blocks), in the 32-bit build as
// well; a write that fails part way through a block takes the part back
// off a regular file, so that the capture ends on a whole block.  A file
// size limit makes the write fail cheaply, here 2 GiB into a sparse file.
TEST(Vbigen, OutputGrowsPastTwoGibAndEndsOnAWholeBlock)
{
    std::string path = make_temp_dir() + "/big.vbi";
    int fd = open64(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    const long long start = (1LL << 31) - 1000;
    ASSERT_EQ(ftruncate64(fd, start), 0);
    ASSERT_EQ(lseek64(fd, 0, SEEK_END), start);
    struct rlimit saved, lim;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    lim = saved;
    lim.rlim_cur = (rlim_t)(start + VBI_BLOCK_SIZE + 5000);
    void (*handler)(int) = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &lim), 0);
    static uint8_t block[VBI_BLOCK_SIZE];
    GenOutput out;
    gen_output_init(&out, fd);
    bool first = gen_output_put(block, &out), second = gen_output_put(block, &out);
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, handler);
    EXPECT_TRUE(first);
    EXPECT_FALSE(second);
    EXPECT_EQ(out.error, EFBIG);
    EXPECT_EQ(out.blocks, 1);
    EXPECT_EQ(out.partial, 0u);
    struct stat64 st;
    ASSERT_EQ(fstat64(fd, &st), 0);
    EXPECT_EQ(st.st_size, start + VBI_BLOCK_SIZE);
    close(fd);
    unlink(path.c_str());
}

// The same through the program: a limit of 100 KiB keeps one whole block
// and says why, written to a file or to standard output; the file it opens
// itself is open for large files (the flags of its write-only descriptor
// show O_LARGEFILE, 0100000).
TEST(Vbigen, WriteFailureLeavesNoPartialBlock)
{
    std::string vbigen = bin_path("vbigen"), dir = make_temp_dir(), out = dir + "/out.vbi";
    ProcessResult r = run_process({"/bin/bash", "-c", "ulimit -f 100; exec \"$0\" -n 5 -o \"$1\"", vbigen, out});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "vbigen: " + out + ": File too large\n");
    EXPECT_EQ(read_file(out).size(), (size_t)VBI_BLOCK_SIZE);
    r = run_process({"/bin/bash", "-c", "ulimit -f 100; exec \"$0\" -n 5 >>\"$1\"", vbigen, out});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "vbigen: standard output: File too large\n");
    EXPECT_EQ(read_file(out).size(), (size_t)VBI_BLOCK_SIZE);
    r = run_process({"/bin/bash", "-c",
                     "\"$0\" -n 1073741824 -o /dev/null & pid=$!\n"
                     "for i in $(seq 200); do\n"
                     "  for fd in /proc/$pid/fd/*; do\n"
                     "    n=${fd##*/}\n"
                     "    flags=$(sed -n 's/^flags:[[:space:]]*//p' /proc/$pid/fdinfo/$n)\n"
                     "    case $(readlink $fd)$flags in /dev/null*1) echo $flags; kill $pid; exit 0;; esac\n"
                     "  done\n"
                     "  sleep 0.05\n"
                     "done\n"
                     "kill $pid; exit 1",
                     vbigen});
    ASSERT_EQ(r.status, 0);
    EXPECT_NE(std::stoul(r.out, nullptr, 8) & 0100000, 0u) << r.out;
}

}  // namespace
