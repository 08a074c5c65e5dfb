// The command-line pieces the workstation tools share, and vbiscan's
// command line read through them: every refusal names the option, the
// value and what is wrong with it.
#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>
#include <string>
#include <vector>

#include "cli.h"
#include "scan_args.h"

namespace {

// argv from words, the program's name first; the strings stay alive with
// the object, since getopt_long reorders the pointers.
struct Argv {
    std::vector<std::string> words;
    std::vector<char *> ptrs;
    Argv(std::vector<std::string> w) : words(std::move(w))
    {
        words.insert(words.begin(), "prog");
        for (std::string &s : words)
            ptrs.push_back(&s[0]);
        ptrs.push_back(nullptr);
    }
    int argc() const { return (int)ptrs.size() - 1; }
    char **argv() { return ptrs.data(); }
};

}  // namespace

TEST(CliNumbers, WholeAndRealNumbersSayWhatIsWrong)
{
    struct Whole {
        const char *text;
        long long lo, hi;
        const char *why;  // null: accepted
        long long value = 0;
    } wholes[] = {
        {"010", 0, 100, nullptr, 10},  // decimal: a leading 0 is no octal
        {"-5", -10, 10, nullptr, -5},
        {"+5", 0, 10, nullptr, 5},
        {"9223372036854775807", 0, LLONG_MAX, nullptr, LLONG_MAX},
        {"", 0, 10, "-n: '' is not a whole number"},
        {"-", 0, 10, "-n: '-' is not a whole number"},
        {" 5", 0, 10, "-n: ' 5' is not a whole number"},
        {"5 ", 0, 10, "-n: '5 ' is not a whole number"},
        {"0x10", 0, 100, "-n: '0x10' is not a whole number"},
        {"1.5", 0, 10, "-n: '1.5' is not a whole number"},
        {"99999999999999999999", 0, 10, "-n: '99999999999999999999' is too large"},
        {"-99999999999999999999", 0, 10, "-n: '-99999999999999999999' is too small"},
        {"11", 0, 10, "-n: '11' is out of range (0 to 10)"},
        {"-1", 0, LLONG_MAX, "-n: '-1' is out of range (0 or more)"},
    };
    for (const Whole &w : wholes) {
        long long v = -42;
        std::string why;
        EXPECT_EQ(cli_whole("-n", w.text, w.lo, w.hi, &v, &why), w.why == nullptr) << w.text;
        EXPECT_EQ(why, w.why ? w.why : "") << w.text;
        EXPECT_EQ(v, w.why ? -42 : w.value) << w.text;
    }
    struct Real {
        const char *text;
        const char *why;
        double value = 0;
    } reals[] = {
        {"7", nullptr, 7}, {"-3.5e1", nullptr, -35}, {".5", nullptr, 0.5}, {"5.", nullptr, 5},
        {"abc", "--noise: 'abc' is not a number"},
        {"nan", "--noise: 'nan' is not a number"},
        {"inf", "--noise: 'inf' is not a number"},
        {"0x1p3", "--noise: '0x1p3' is not a number"},
        {"1e", "--noise: '1e' is not a number"},
        {".", "--noise: '.' is not a number"},
        {"1e999", "--noise: '1e999' is too large"},
        {"-1e999", "--noise: '-1e999' is too small"},
        {"255.5", "--noise: '255.5' is out of range (-40 to 255)"},
    };
    for (const Real &r : reals) {
        double v = -42;
        std::string why;
        EXPECT_EQ(cli_real("--noise", r.text, -40, 255, &v, &why), r.why == nullptr) << r.text;
        EXPECT_EQ(why, r.why ? r.why : "") << r.text;
        EXPECT_EQ(v, r.why ? -42 : r.value) << r.text;
    }
    EXPECT_EQ(cli_version("vbigen"), std::string("vbigen (vbitools) ") + VT_VERSION + "\n");
}

// What getopt_long refuses, in words, wherever in the command line the
// fault lies: a bundle, after a long option, an abbreviation.
TEST(CliOptions, RefusalsNameTheOptionAsTyped)
{
    enum { JSON = 256, LINE, COPIES, CONTROLS };
    const struct option longopts[] = {
        {"json", no_argument, nullptr, JSON},     {"line", required_argument, nullptr, LINE},
        {"copies", required_argument, nullptr, COPIES}, {"controls", required_argument, nullptr, CONTROLS},
        {"help", no_argument, nullptr, 'h'},      {nullptr, 0, nullptr, 0},
    };
    struct Case {
        std::vector<std::string> args;
        const char *message;  // null: accepted
    } cases[] = {
        {{"-hv", "-n5", "--line=3", "--json", "--co", "1"}, "ambiguous option '--co' (--copies, --controls)"},
        {{"--frob=1"}, "unknown option '--frob'"},
        {{"-vx"}, "unknown option '-x'"},
        {{"--json", "-vx"}, "unknown option '-x'"},
        {{"--line"}, "--line: needs a value"},
        {{"--li"}, "--line: needs a value"},
        {{"--json", "-n"}, "-n: needs a value"},
        {{"--json=1"}, "--json: takes no value"},
        {{"--help=1"}, "--help: takes no value"},
        {{"-hvn", "5", "--cop=2", "--", "--frob"}, nullptr},
    };
    for (Case &c : cases) {
        Argv a(c.args);
        opterr = 0;
        optind = 0;
        std::string message;
        int opt;
        while (message.empty() && (opt = getopt_long(a.argc(), a.argv(), ":hvn:", longopts, nullptr)) != -1)
            if (opt == '?' || opt == ':')
                message = cli_option_error(a.argv(), longopts, opt);
        EXPECT_EQ(message, c.message ? c.message : "") << c.args[0];
    }
    EXPECT_EQ(cli_option_name('n', longopts), "-n");
    EXPECT_EQ(cli_option_name(COPIES, longopts), "--copies");
}

TEST(CliRead, WholeBlocksFromAPipeThatDeliversPieces)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], "abc", 3), 3);
    ASSERT_EQ(write(fds[1], "defgh", 5), 5);
    close(fds[1]);
    char buf[6];
    EXPECT_EQ(cli_read_whole(fds[0], buf, sizeof buf), 6);
    EXPECT_EQ(std::string(buf, 6), "abcdef");
    // The end of the stream leaves a short read; a stop asked for, none.
    volatile sig_atomic_t stop = 1;
    EXPECT_EQ(cli_read_whole(fds[0], buf, sizeof buf, &stop), 0);
    EXPECT_EQ(cli_read_whole(fds[0], buf, sizeof buf), 2);
    close(fds[0]);
    EXPECT_EQ(cli_read_whole(fds[0], buf, sizeof buf), -1);
}

TEST(ScanCommandLine, OptionsAndTheirErrors)
{
    auto parse = [](std::vector<std::string> v, ScanArgs *a) {
        Argv argv(std::move(v));
        return scan_parse_args(argv.argc(), argv.argv(), a);
    };
    ScanArgs a;
    EXPECT_EQ(parse({"--line", "27", "--json", "--png", "out", "-n", "100", "cap.vbi"}, &a), "");
    EXPECT_EQ(a.line, 27);
    EXPECT_TRUE(a.json);
    EXPECT_EQ(a.png_dir, "out");
    EXPECT_EQ(a.max_blocks, 100);
    EXPECT_EQ(a.captures, std::vector<std::string>{"cap.vbi"});
    EXPECT_EQ(parse({"cap.vbi", "-n5", "--line=0", "b.vbi", "--all"}, &a), "");  // options after the captures too
    EXPECT_EQ(a.max_blocks, 5);
    EXPECT_EQ(a.line, 0);
    EXPECT_TRUE(a.all);
    EXPECT_EQ(a.captures, (std::vector<std::string>{"cap.vbi", "b.vbi"}));
    EXPECT_EQ(parse({"-"}, &a), "");
    EXPECT_EQ(capture_name(a.captures[0]), "standard input");
    EXPECT_EQ(capture_name(""), "''");
    EXPECT_EQ(parse({"-n", "1099511627777"}, &a), "");  // past 2^40: an hour is far less, but no limit
    EXPECT_EQ(parse({"--", "-n"}, &a), "");
    EXPECT_EQ(a.captures, std::vector<std::string>{"-n"});
    struct Bad {
        std::vector<std::string> args;
        const char *message;
    } bad[] = {
        {{"--line", "32"}, "--line: '32' is out of range (0 to 31)"},
        {{"--line", "011x"}, "--line: '011x' is not a whole number"},
        {{"-n", "0"}, "-n: '0' is out of range (1 or more)"},
        {{"-n", "12x"}, "-n: '12x' is not a whole number"},
        {{"-n"}, "-n: needs a value"},
        {{"--png", ""}, "--png: needs a folder"},
        {{"--jsn"}, "unknown option '--jsn'"},
        {{"--json=yes"}, "--json: takes no value"},
        {{"--png", "d", "a.vbi", "b.vbi"}, "--png: one capture at most, not 2"},
        {{"-n", "9223372036854775808"}, "-n: '9223372036854775808' is too large"},
    };
    for (const Bad &b : bad)
        EXPECT_EQ(parse(b.args, &a), b.message) << b.args[0];
}
