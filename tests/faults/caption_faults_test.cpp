// The three caption programs against a device that misbehaves: blocks of
// noise, a last block cut short, frame counters that wrap, stand still or
// step back, a read that fails in mid-stream, and (for the scopes) an X
// server that goes away.  Each run is a real process reading the device
// through the stand-in; the scopes draw into a private Xvfb.
//
// What a program makes of odd counters is checked against its own rule for
// choosing blocks: the blocks it should handle are picked out, renumbered
// 2, 4, 6 ... (a clean stream every program handles whole) and run again;
// both runs must print the same captions.
#include <gtest/gtest.h>

#include <unistd.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "process.h"
#include "streams.h"
#include "xvfb.h"

namespace {

struct CaptionProgram {
    const char *name;
    const char *device;
    bool scope;  // needs an X server
    // Which blocks the program decodes, given every block's counter.
    std::vector<bool> (*handled)(const std::vector<uint32_t> &counters);
    int flush_after;  // the counted control pair that writes a caption line
    // The program smooths the line in its read buffer before slicing it, so
    // a pass over a buffer the end left as it was slices a line smoothed
    // twice, which refuses even a clean pair.
    bool smooths_buffer;
};

// captext: a block whose counter differs from the last decoded one (which
// starts as 0).
std::vector<bool> captext_rule(const std::vector<uint32_t> &c)
{
    std::vector<bool> h;
    uint32_t last = 0;
    for (uint32_t v : c) {
        h.push_back(v != last);
        if (v != last)
            last = v;
    }
    return h;
}

// capscope: every block with an even counter.
std::vector<bool> capscope_rule(const std::vector<uint32_t> &c)
{
    std::vector<bool> h;
    for (uint32_t v : c)
        h.push_back(v % 2 == 0);
    return h;
}

// capscope-runin: every block.
std::vector<bool> runin_rule(const std::vector<uint32_t> &c)
{
    return std::vector<bool>(c.size(), true);
}

const CaptionProgram kCaptext = {"captext", "/dev/vbi0", false, captext_rule, 5, false};
const CaptionProgram kCapscope = {"capscope", "/dev/vbi0", true, capscope_rule, 5, true};
const CaptionProgram kRunin = {"capscope-runin", "/dev/vbi", true, runin_rule, 15, false};

// Three lines: captext and capscope write each at its fifth control pair,
// capscope-runin all three at its fifteenth, so every program ends with an
// empty caption line.
const char kText[] = "Hi there.\nSecond one!\nLast\n";

long nblocks(const std::string &s)
{
    return (long)(s.size() / VBI_BLOCK_SIZE);
}

uint32_t counter_of(const std::string &s, long b)
{
    return vbi_frame_counter((const uint8_t *)s.data() + b * VBI_BLOCK_SIZE);
}

void set_counter(std::string &s, long b, uint32_t c)
{
    vbi_set_frame_counter((uint8_t *)&s[(size_t)b * VBI_BLOCK_SIZE], c);
}

// The caption stream with counters 2, 4, 6 ...: decoded whole by all three.
std::string clean_stream(const char *text = kText)
{
    GenOptions o = default_gen();
    o.counter_start = 2;
    o.counter_step = 2;
    return make_stream(text, o);
}

bool printable(const std::string &s)
{
    for (char c : s)
        if (c != '\n' && (c < 0x20 || c > 0x7E))
            return false;
    return true;
}

class CaptionFaults : public ::testing::TestWithParam<const CaptionProgram *> {
protected:
    std::string dir = make_temp_dir();
    XvfbServer server;

    void SetUp() override
    {
        if (GetParam()->scope) {
            ASSERT_TRUE(xvfb_start(&server));
        }
    }
    void TearDown() override
    {
        xvfb_stop(&server);
        for (const char *f : {"/fault.vbi", "/reference.vbi"})
            unlink((dir + f).c_str());
        rmdir(dir.c_str());
    }

    ProcessResult run(const std::string &stream, const char *file = "/fault.vbi",
                      std::vector<std::string> env = {})
    {
        write_file(dir + file, stream);
        ProcessOptions opt;
        opt.env = standin_env();
        opt.env.push_back("STANDIN_VBI=" + dir + file);
        if (GetParam()->scope)
            opt.env.push_back("DISPLAY=" + server.name);
        opt.env.insert(opt.env.end(), env.begin(), env.end());
        opt.timeout = 120;
        return run_process({bin_path(GetParam()->name)}, opt);
    }

    // What the program prints for just the blocks it should decode.
    std::string reference(const std::string &stream)
    {
        std::vector<uint32_t> counters;
        for (long b = 0; b < nblocks(stream); b++)
            counters.push_back(counter_of(stream, b));
        std::vector<bool> h = GetParam()->handled(counters);
        std::string ref;
        for (long b = 0; b < nblocks(stream); b++)
            if (h[(size_t)b]) {
                ref.append(stream, (size_t)b * VBI_BLOCK_SIZE, VBI_BLOCK_SIZE);
                set_counter(ref, nblocks(ref) - 1, 2 * (uint32_t)nblocks(ref));
            }
        ProcessResult r = run(ref, "/reference.vbi");
        EXPECT_EQ(r.status, 0) << r.err;
        return r.err;
    }
};

TEST_P(CaptionFaults, RandomBlocksEndCleanlyWithOnlyCaptionText)
{
    std::mt19937 rng(11);
    std::string s(150 * VBI_BLOCK_SIZE, '\0');
    for (auto &c : s)
        c = (char)rng();
    ProcessResult r = run(s);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(printable(r.err)) << r.err;
}

// The last read delivers only part of a block: the program ends with
// status 0 after one more pass over the buffer as it then stands, and
// what it printed before stays as it was.
TEST_P(CaptionFaults, TruncatedLastBlockEndsTheStream)
{
    // A device that delivers nothing at all.
    ProcessResult empty = run("");
    EXPECT_EQ(empty.status, 0) << empty.err;
    EXPECT_EQ(empty.err, "");

    std::string s = clean_stream();
    std::string expected = run(s, "/reference.vbi").err;
    ASSERT_NE(expected.find("there"), std::string::npos) << expected;
    std::mt19937 rng(5);
    for (size_t cut : {(size_t)1, (size_t)4, (size_t)(VBI_CAPTION_LINE * VBI_LINE_SIZE + 700), (size_t)65532,
                       (size_t)65535}) {
        std::string t = s;
        for (size_t i = 0; i < cut; i++)
            t.push_back((char)rng());
        ProcessResult r = run(t);
        EXPECT_EQ(r.status, 0) << cut << " bytes: " << r.err;
        EXPECT_EQ(r.err, expected) << cut << " bytes";
    }
}

// The pass after the last read goes over the read buffer as it stands, so
// the last whole block's counter is offered once more, through the
// program's block rule: a program that takes it again counts a control pair
// once more.  Here that count is the one that writes the line.  The end may
// be a short read (its bytes land at the front of the buffer: short of the
// caption line, or bringing it afresh), the plain end of the file, or a
// failed read, which is then reported.
TEST_P(CaptionFaults, LastBlockIsPassedOnceMoreAtTheEnd)
{
    const CaptionProgram *prog = GetParam();
    GenOptions o = default_gen();
    o.counter_start = 2;
    o.counter_step = 2;
    o.controls[0] = 0x2C14;  // erase displayed memory
    o.ncontrols = 1;
    o.control_copies = prog->flush_after - 1;
    std::string s = make_stream("hi\n", o);

    std::vector<uint32_t> counters;
    for (long b = 0; b < nblocks(s); b++)
        counters.push_back(counter_of(s, b));
    counters.push_back(counters.back());
    bool again = prog->handled(counters).back();
    std::string fresh = again ? "hi \n" : "";
    std::string as_left = again && !prog->smooths_buffer ? "hi \n" : "";

    // The caption line afresh: the front of the last block once more.
    size_t to_line = (VBI_CAPTION_LINE + 1) * VBI_LINE_SIZE;
    ProcessResult r = run(s + s.substr(s.size() - VBI_BLOCK_SIZE, to_line));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, fresh);
    for (size_t tail : {(size_t)0, (size_t)100, to_line - VBI_LINE_SIZE - 1}) {
        r = run(s + std::string(tail, '\x55'));
        EXPECT_EQ(r.status, 0) << tail << " bytes: " << r.err;
        EXPECT_EQ(r.err, as_left) << tail << " bytes";
    }
    r = run(s, "/fault.vbi", {"STANDIN_VBI_FAIL_AFTER=" + std::to_string(nblocks(s))});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, as_left + "read " + prog->device + ": Input/output error\n");
}

// Counters as a driver may hand them out: wrapping from 0xFFFFFFFF to 0,
// repeated for the same frame, stuck across different frames, and jumping
// back.  Nothing but the program's own choice of blocks may change what it
// decodes.
TEST_P(CaptionFaults, OddFrameCountersFollowTheBlockRule)
{
    std::string s = clean_stream();
    long n = nblocks(s);
    struct Case {
        const char *what;
        std::function<std::string()> make;
    };
    std::vector<Case> cases = {
        {"wrap",
         [&] {
             std::string t = s;
             for (long b = 0; b < n; b++)
                 set_counter(t, b, 0xFFFFFFF0u + 2u * (uint32_t)b);
             return t;
         }},
        {"same frame three times",
         [&] {
             std::string t;
             for (long b = 0; b < n; b++)
                 for (int k = 0; k < 3; k++)
                     t.append(s, (size_t)b * VBI_BLOCK_SIZE, VBI_BLOCK_SIZE);
             return t;
         }},
        {"stuck",
         [&] {
             std::string t = s;
             for (long b = n / 3; b < n / 2; b++)
                 set_counter(t, b, counter_of(t, n / 3));
             return t;
         }},
        {"back and forth, odd and even",
         [&] {
             std::string t = s;
             for (long b = 0; b < n; b++)
                 set_counter(t, b, b < n / 2 ? 1000u + (uint32_t)b : 301u + (uint32_t)b);
             return t;
         }},
    };
    for (Case &c : cases) {
        std::string t = c.make();
        ProcessResult r = run(t);
        EXPECT_EQ(r.status, 0) << c.what << ": " << r.err;
        EXPECT_EQ(r.err, reference(t)) << c.what;
    }
    // A wrapping counter is an ordinary step: every block is decoded.
    std::string wrapped = cases[0].make();
    EXPECT_EQ(run(wrapped).err, run(s).err);
}

// The device fails in mid-stream: the captions decoded before are out,
// then the failure is reported once and the status is 1.
TEST_P(CaptionFaults, ReadErrorAfterTheCaptionsDecodedSoFar)
{
    std::string first = clean_stream();
    std::string s = first + clean_stream("Fourth line\n");
    for (long b = 0; b < nblocks(s); b++)
        set_counter(s, b, 2 * (uint32_t)(b + 1));
    // The failing read comes in the fourth line, after its null lead.
    long good = nblocks(first) + 4;
    std::string expected = run(s.substr(0, (size_t)good * VBI_BLOCK_SIZE), "/reference.vbi").err;
    ASSERT_NE(expected.find("Last"), std::string::npos) << expected;
    ProcessResult r = run(s, "/fault.vbi", {"STANDIN_VBI_FAIL_AFTER=" + std::to_string(good)});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, expected + "read " + GetParam()->device + ": Input/output error\n");
}

// A shell or a supervisor may hand a program a thousand descriptors, so that
// the device (and a scope's X connection) lands above 1023, beyond what a
// select set can name.  Run through the stand-in's runner with descriptors 0
// to 1023 all taken, the program decodes exactly as it does otherwise.
TEST_P(CaptionFaults, DescriptorsAbove1023DecodeAsUsual)
{
    std::string stream = clean_stream();
    ProcessResult usual = run(stream);
    ASSERT_EQ(usual.status, 0) << usual.err;
    ASSERT_NE(usual.err, "");

    ProcessOptions opt;
    if (GetParam()->scope)
        opt.env.push_back("DISPLAY=" + server.name);
    opt.occupy_fds = 1024;
    opt.timeout = 60;
    ProcessResult high =
        run_process({bin_path("devstandin"), "--vbi", dir + "/fault.vbi", bin_path(GetParam()->name)}, opt);
    EXPECT_FALSE(high.timed_out);
    EXPECT_EQ(high.status, 0) << high.err;
    EXPECT_EQ(high.err, usual.err);
    EXPECT_EQ(high.out, "");
}

INSTANTIATE_TEST_SUITE_P(Programs, CaptionFaults, ::testing::Values(&kCaptext, &kCapscope, &kRunin),
                         [](const ::testing::TestParamInfo<const CaptionProgram *> &i) {
                             return std::string(i.param == &kRunin ? "capscope_runin" : i.param->name);
                         });

// A scope whose X server is killed while it runs ends at once with Xlib's
// message and a non-zero status; it must not hang on the dead connection.
class ScopeLosesX : public ::testing::TestWithParam<const CaptionProgram *> {};

TEST_P(ScopeLosesX, EndsPromptlyWithAMessage)
{
    XvfbServer server;
    ASSERT_TRUE(xvfb_start(&server));
    LiveFeed feed;
    ASSERT_TRUE(feed.open());
    ProcessOptions opt;
    opt.env = standin_env();
    opt.env.push_back("DISPLAY=" + server.name);
    opt.env.push_back(feed.env());
    opt.keep_fds = {feed.theirs};
    opt.timeout = 60;
    BackgroundProcess proc;
    proc.start({bin_path(GetParam()->name)}, opt);

    Display *d = XOpenDisplay(server.name.c_str());
    ASSERT_TRUE(d);
    bool up = x_find_window(d, "capscope 11") != 0;
    XCloseDisplay(d);
    feed.close_child_end();
    std::string s = clean_stream();
    for (long b = 0; up && b < 10; b++)
        ASSERT_TRUE(feed.send(s.data() + b * VBI_BLOCK_SIZE, VBI_BLOCK_SIZE));
    EXPECT_TRUE(feed.wait_consumed());

    xvfb_stop(&server);
    // The device goes on delivering; the program must notice the loss of
    // its server whichever descriptor wakes it.
    for (long b = 10; b < 14; b++)
        feed.send(s.data() + b * VBI_BLOCK_SIZE, VBI_BLOCK_SIZE);
    ProcessResult &r = proc.wait();
    feed.close_feed();
    ASSERT_TRUE(up) << r.err;
    EXPECT_FALSE(r.timed_out) << "still running after the X server was gone";
    EXPECT_NE(r.status, 0);
    EXPECT_TRUE(r.err.find("fatal IO error") != std::string::npos ||
                r.err.find("X connection") != std::string::npos)
        << r.err;
}

INSTANTIATE_TEST_SUITE_P(Scopes, ScopeLosesX, ::testing::Values(&kCapscope, &kRunin),
                         [](const ::testing::TestParamInfo<const CaptionProgram *> &i) {
                             return std::string(i.param == &kRunin ? "capscope_runin" : i.param->name);
                         });

}  // namespace
