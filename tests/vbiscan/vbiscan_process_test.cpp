// vbiscan run as a process on captures made by vbigen: its figures against
// the generator's known parameters, its caption text against what the
// three caption programs print when the same capture is replayed through
// them on the device stand-in (the scopes on a private Xvfb), its pictures,
// and how it meets bad input and bad command lines.
#include "xvfb.h"  // first: GoogleTest before the X headers

#include <sys/stat.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <vector>

#include "process.h"
#include "vbi.h"

namespace {

using Json = nlohmann::json;

ProcessResult vbiscan(std::vector<std::string> args, const ProcessOptions &opt = {})
{
    args.insert(args.begin(), bin_path("vbiscan"));
    return run_process(args, opt);
}

Json scan_json(const std::string &capture, std::vector<std::string> extra = {})
{
    extra.push_back("--json");
    extra.push_back(capture);
    ProcessResult r = vbiscan(extra);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    return Json::parse(r.out);
}

// The lines a program wrote, as vbiscan reports them, joined as the
// program writes them.
std::string reported_text(const Json &j, const std::string &program)
{
    std::string out;
    for (const Json &line : j["caption_line"]["programs"][program]["text"])
        out += line.get<std::string>() + "\n";
    return out;
}

TEST(VbiscanInput, BadInputIsOneLineAndStatusOne)
{
    Scratch s;
    write_file(s / "empty.vbi", "");
    write_file(s / "short.vbi", std::string(1000, 'x'));
    mkdir((s / "folder").c_str(), 0755);
    struct Case {
        std::string path, message;
    } cases[] = {
        {s / "empty.vbi", "vbiscan: " + s / "empty.vbi" + ": empty: no block to scan\n"},
        {s / "short.vbi", "vbiscan: " + s / "short.vbi" + ": holds no whole block (1000 bytes; a block is 65536)\n"},
        {s / "folder", "vbiscan: " + s / "folder" + ": Is a directory\n"},
        {s / "nosuch.vbi", "vbiscan: " + s / "nosuch.vbi" + ": No such file or directory\n"},
    };
    for (const Case &c : cases) {
        ProcessResult r = vbiscan({"--png", s / "pics", c.path});
        EXPECT_EQ(r.status, 1) << c.path;
        EXPECT_EQ(r.err, c.message);
        EXPECT_EQ(r.out, "");
        EXPECT_FALSE(std::filesystem::exists(s / "pics/waterfall.png")) << c.path;
    }
    ProcessOptions empty_stdin;
    ProcessResult r = vbiscan({}, empty_stdin);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "vbiscan: standard input: empty: no block to scan\n");
}

TEST(VbiscanInput, UsageErrorsNameTheOption)
{
    struct Case {
        std::vector<std::string> args;
        std::string first_line;
    } cases[] = {
        {{"--line", "40"}, "vbiscan: --line: '40' is out of range (0 to 31)"},
        {{"-n", "abc"}, "vbiscan: -n: 'abc' is not a whole number"},
        {{"--png"}, "vbiscan: --png: needs a value"},
        {{"--frobnicate"}, "vbiscan: unknown option '--frobnicate'"},
    };
    for (const Case &c : cases) {
        ProcessResult r = vbiscan(c.args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err, c.first_line + "\nTry 'vbiscan --help'.\n");
        EXPECT_EQ(r.out, "");
    }
    ProcessResult help = vbiscan({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: vbiscan [--line N] [--json] [--all] [--png DIR] [-n BLOCKS] [CAPTURE...]\n", 0), 0u);
    EXPECT_EQ(help.err, "");
    ProcessResult version = vbiscan({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "vbiscan (vbitools) 0.1.0\n");
}

TEST(VbiscanInput, OddBlocksGiveAReport)
{
    Scratch s;
    // Blocks of zeros from a device-like endless source, stopped by -n.
    Json z = scan_json("/dev/zero", {"-n", "100"});
    EXPECT_EQ(z["blocks"], 100);
    EXPECT_EQ(z["counter"]["repeats"], 99);
    for (const Json &l : z["lines"])
        EXPECT_EQ(l["verdict"], "blank");
    // Random blocks with a trailing piece, through standard input.
    std::mt19937 rng(5);
    std::string random(30 * VBI_BLOCK_SIZE + 12345, '\0');
    for (char &c : random)
        c = (char)rng();
    ProcessOptions in;
    in.input = random;
    ProcessResult r = vbiscan({"--json", "--png", s / "pics", "-"}, in);
    ASSERT_EQ(r.status, 0) << r.err;
    Json j = Json::parse(r.out);
    EXPECT_EQ(j["blocks"], 30);
    EXPECT_EQ(j["trailing_bytes"], 12345);
    for (const Json &l : j["lines"])
        EXPECT_NE(l["verdict"], "caption");
    EXPECT_TRUE(j["caption_line"]["signal"]["noise_sigma"].is_null());
    EXPECT_EQ(j["summary"].get<std::string>().rfind("does not look like a capture of the VBI device", 0), 0u);
    // And the text report, which fits a terminal and says so first.
    write_file(s / "random.vbi", random);
    ProcessResult t = vbiscan({s / "random.vbi"});
    ASSERT_EQ(t.status, 0) << t.err;
    EXPECT_EQ(t.out.rfind("summary       does not look like a capture of the VBI device", 0), 0u) << t.out;
    EXPECT_NE(t.out.find("trailing bytes"), std::string::npos);
    EXPECT_LE(std::count(t.out.begin(), t.out.end(), '\n'), 90);
}

TEST(VbiscanFigures, CounterFiguresAreExact)
{
    Scratch s;
    // Every frame twice, 3 frames skipped after every 10, from just below
    // the wrap: 2 x 45 blocks.
    std::string a = generate(s, "a.vbi",
                             {"-n", "90", "--repeat", "2", "--gap-every", "10", "--gap", "3", "--counter-start",
                              "4294967290", "-t", "Counters"});
    Json j = scan_json(a);
    EXPECT_EQ(j["counter"]["first"], 4294967290u);
    // 45 frames: counter of frame f is start + f + 3 * (f / 10).
    EXPECT_EQ(j["counter"]["last"], (uint32_t)(4294967290u + 44 + 12));
    EXPECT_EQ(j["counter"]["repeats"], 45);
    EXPECT_EQ(j["counter"]["gaps"], 4);
    EXPECT_EQ(j["counter"]["missing"], 12);
    EXPECT_EQ(j["counter"]["steps"], 40);
    EXPECT_EQ(j["counter"]["backward"], 0);
    // Two recordings joined: the counter jumps back once.
    std::string b = generate(s, "b.vbi", {"-n", "20", "--counter-start", "1000", "-t", "One"});
    std::string c = generate(s, "c.vbi", {"-n", "20", "--counter-start", "7", "-t", "Two"});
    write_file(s / "bc.vbi", read_file(b) + read_file(c));
    Json k = scan_json(s / "bc.vbi");
    EXPECT_EQ(k["counter"]["backward"], 1);
    EXPECT_EQ(k["counter"]["steps"], 38);
    EXPECT_EQ(k["counter"]["first"], 1000);
    EXPECT_EQ(k["counter"]["last"], 26);
}

TEST(VbiscanFigures, TimingNoiseAndVerdictsFollowTheGenerator)
{
    Scratch s;
    for (double offset : {-25.5, 0.0, 18.0}) {
        std::string cap = generate(s, "o.vbi", {"-n", "40", "--noise", "6", "--offset", std::to_string(offset)});
        Json j = scan_json(cap);
        EXPECT_NEAR(j["caption_line"]["signal"]["first_crest"]["mean"].get<double>(), 72.9375 + offset, 1) << offset;
    }
    std::string clean = generate(s, "clean.vbi", {"-n", "40"});
    Json c = scan_json(clean);
    EXPECT_LT(c["caption_line"]["signal"]["noise_sigma"].get<double>(), 1.5);
    for (const Json &l : c["lines"])
        EXPECT_EQ(l["verdict"], l["index"] == 11 ? "caption" : "blank");
    // Field 2's caption line.
    std::string f2 = generate(s, "f2.vbi", {"-n", "40", "--line", "27", "--noise", "12"});
    Json k = scan_json(f2, {"--line", "27"});
    EXPECT_EQ(k["lines"][27]["verdict"], "caption");
    EXPECT_EQ(k["lines"][27]["line"], 284);
    EXPECT_EQ(k["caption_line"]["index"], 27);
    EXPECT_NEAR(k["caption_line"]["signal"]["noise_sigma"].get<double>(), 12, 2.4);
}

TEST(VbiscanPictures, ThreePicturesInAFolderMadeForThem)
{
    Scratch s;
    std::string cap = generate(s, "c.vbi", {"-n", "50", "--noise", "5", "--gap-every", "20", "--gap", "2"});
    std::string dir = s / "a/b";
    ProcessResult r = vbiscan({"--png", dir, cap});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("caption line"), std::string::npos);
    for (const char *name : {"waterfall.png", "eye.png", "lines.png"}) {
        std::string png = read_file(dir + "/" + name);
        ASSERT_GT(png.size(), 33u) << name;
        EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8)) << name;
        // IHDR: width and height, big-endian, at bytes 16 and 20.
        auto be32 = [&](size_t at) {
            return (uint32_t)(uint8_t)png[at] << 24 | (uint32_t)(uint8_t)png[at + 1] << 16 |
                   (uint32_t)(uint8_t)png[at + 2] << 8 | (uint32_t)(uint8_t)png[at + 3];
        };
        if (std::string(name) == "waterfall.png") {
            EXPECT_GE(be32(16), 1600u);
            EXPECT_EQ(be32(20), 40u + 50u);  // the scale above one row per block
        }
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 3);
    // A folder that cannot be made: nothing written, nothing reported.
    write_file(s / "file", "x");
    r = vbiscan({"--png", s / "file/pics", cap});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "vbiscan: " + s / "file/pics" + ": Not a directory\n");
    // A report that cannot be written takes its pictures with it.
    ProcessResult full = run_process({"/bin/sh", "-c", "exec \"$0\" --png \"$1\" \"$2\" >/dev/full", bin_path("vbiscan"),
                                      s / "full", cap});
    EXPECT_EQ(full.status, 1);
    EXPECT_EQ(full.err, "vbiscan: standard output: No space left on device\n");
    EXPECT_FALSE(std::filesystem::exists(s / "full/waterfall.png"));
}

// The text lists against the programs themselves, replayed on the stand-in.
class VbiscanAgainstPrograms : public XvfbTest {
protected:
    std::string printed(const std::string &program, const std::string &capture)
    {
        ProcessOptions opt;
        opt.env = standin_env();
        opt.env.push_back("STANDIN_VBI=" + capture);
        opt.env.push_back(display_env());
        ProcessResult r = run_process({bin_path(program)}, opt);
        EXPECT_EQ(r.status, 0) << program << r.err;
        return r.err;
    }

    void expect_same_text(const std::string &capture)
    {
        Json j = scan_json(capture);
        for (const char *p : {"captext", "capscope", "capscope-runin"})
            EXPECT_EQ(reported_text(j, p), printed(p, capture)) << p << " on " << capture;
    }
};

TEST_F(VbiscanAgainstPrograms, CaptionTextEqualsWhatEachProgramPrints)
{
    Scratch s;
    // Noise that makes each slicer refuse some frames, repeated frames
    // and skipped ones, pairs held over two frames.
    std::string noisy = generate(s, "noisy.vbi",
                                 {"-n", "160", "--noise", "11", "--repeat", "2", "--gap-every", "9", "--gap", "1",
                                  "--hold", "2", "--seed", "3"});
    expect_same_text(noisy);
    std::string clean = generate(s, "clean.vbi", {"-n", "150", "--counter-start", "0"});
    expect_same_text(clean);
    // Cut in the middle of a block: the programs' last pass sees the piece
    // over the block before it.
    std::string data = read_file(clean);
    for (size_t cut : {(size_t)107 * VBI_BLOCK_SIZE + 30000, (size_t)64 * VBI_BLOCK_SIZE + 65534}) {
        write_file(s / "cut.vbi", data.substr(0, cut));
        expect_same_text(s / "cut.vbi");
    }
}

TEST_F(VbiscanAgainstPrograms, TheLastPassCanWriteALine)
{
    Scratch s;
    // "ab" and fifteen control pairs, the fifteenth in a block of which
    // only lines 0 to 11 arrive: capscope-runin has counted fourteen when
    // the whole blocks run out, and its pass over the read buffer finds the
    // fifteenth (the piece's line 11) and writes "ab ".  Without the piece
    // the last whole block is sliced again and counts instead.
    std::string cap = generate(s, "ab.vbi",
                               {"-n", "18", "--counter-start", "0", "-t", "ab", "--controls", "142f", "--copies", "15"});
    std::string data = read_file(cap);
    for (size_t size : {(size_t)17 * VBI_BLOCK_SIZE + 12 * VBI_LINE_SIZE, (size_t)17 * VBI_BLOCK_SIZE}) {
        write_file(s / "piece.vbi", data.substr(0, size));
        Json j = scan_json(s / "piece.vbi");
        EXPECT_EQ(reported_text(j, "capscope-runin"), "ab \n") << size;
        EXPECT_EQ(j["caption_line"]["programs"]["capscope-runin"]["handled"], 17) << size;
        expect_same_text(s / "piece.vbi");
    }
}


// --- live use, archives and unusual input --------------------------------------

// vbiscan on the stand-in's device node replaying capture.
ProcessOptions on_device(const std::string &capture, std::vector<std::string> more = {})
{
    ProcessOptions opt;
    opt.env = standin_env();
    opt.env.push_back("STANDIN_VBI=" + capture);
    for (std::string &e : more)
        opt.env.push_back(e);
    return opt;
}

TEST(VbiscanLive, InterruptReportsWhatWasRead)
{
    Scratch s;
    std::string cap = generate(s, "c.vbi", {"-n", "600", "--noise", "4"});
    // A paced replay (30 blocks a second), SIGINT after 2 s; env gives the
    // signal back its default, which the shell ignores in a job it starts
    // with &.
    // The stand-in's settings go to vbiscan alone, as env's arguments: the
    // shell and sleep may be of another word size than the library.
    std::vector<std::string> argv = {"/bin/sh", "-c", "", "sh"};
    for (const std::string &e : on_device(cap, {"STANDIN_VBI_PACE=29.97"}).env)
        argv.push_back(e);
    argv.push_back(bin_path("vbiscan"));
    for (const char *sig : {"INT", "TERM"}) {
        argv[2] = std::string("env --default-signal=INT \"$@\" --json /dev/vbi0 & p=$!; sleep 2; kill -") + sig +
                  " $p; wait $p";
        ProcessResult r = run_process(argv);
        ASSERT_EQ(r.status, 0) << sig << r.err;
        EXPECT_EQ(r.err, "");  // standard error is no terminal: no progress line
        Json j = Json::parse(r.out);
        EXPECT_EQ(j["interrupted"], true);
        EXPECT_GE(j["blocks"].get<int>(), 30) << sig;
        EXPECT_LE(j["blocks"].get<int>(), 120) << sig;
        EXPECT_EQ(j["lines"][11]["verdict"], "caption");
    }
    // A read that fails part way: the blocks before it are reported, then
    // the error, status 1.
    ProcessResult f = vbiscan({"/dev/vbi0"}, on_device(cap, {"STANDIN_VBI_FAIL_AFTER=50"}));
    EXPECT_EQ(f.status, 1);
    EXPECT_NE(f.out.find("  blocks      50 whole"), std::string::npos) << f.out;
    EXPECT_EQ(f.err, "vbiscan: /dev/vbi0: Input/output error after 50 blocks\n");
}

TEST(VbiscanArchive, EachCaptureInTurnAndErrorsOnTheirOwn)
{
    Scratch s;
    std::string a = generate(s, "a.vbi", {"-n", "40"});
    std::string b = generate(s, "b.vbi", {"-n", "20", "--noise", "8"});
    ProcessResult r = vbiscan({"--json", a, s / "missing.vbi", b});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "vbiscan: " + s / "missing.vbi" + ": No such file or directory\n");
    ASSERT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 2) << r.out;
    size_t nl = r.out.find('\n');
    Json ja = Json::parse(r.out.substr(0, nl)), jb = Json::parse(r.out.substr(nl + 1));
    EXPECT_EQ(ja["source"], a);
    EXPECT_EQ(ja["blocks"], 40);
    EXPECT_EQ(jb["source"], b);
    EXPECT_EQ(jb["blocks"], 20);
    // An empty name is a file that is not there, not standard input.
    ProcessOptions in;
    in.input = read_file(a);
    ProcessResult e = vbiscan({""}, in);
    EXPECT_EQ(e.status, 1);
    EXPECT_EQ(e.err, "vbiscan: '': No such file or directory\n");
    EXPECT_EQ(e.out, "");
}

TEST(VbiscanArchive, NamesThatAreNotUtf8OrVeryLong)
{
    Scratch s;
    std::string cap = generate(s, "c.vbi", {"-n", "10"});
    std::string bad = s / "bad\xff.vbi";
    write_file(bad, read_file(cap));
    ProcessResult r = vbiscan({"--json", bad});
    ASSERT_EQ(r.status, 0) << r.err;
    Json j = Json::parse(r.out);
    EXPECT_EQ(j["source"], s / "bad\xef\xbf\xbd.vbi");  // U+FFFD in place of the byte
    // A path of 600 bytes: the stream line holds it whole.
    std::string dir = s.dir;
    while (dir.size() < 600)
        dir += "/" + std::string(60, 'd');
    std::filesystem::create_directories(dir);
    write_file(dir + "/c.vbi", read_file(cap));
    ProcessResult l = vbiscan({dir + "/c.vbi"});
    ASSERT_EQ(l.status, 0) << l.err;
    EXPECT_NE(l.out.find("stream        " + dir + "/c.vbi\n  blocks      10 whole"), std::string::npos);
}

TEST(VbiscanPictures, AFailedRunKeepsTheLastPicturesAndFollowsNoLink)
{
    Scratch s;
    std::string cap = generate(s, "c.vbi", {"-n", "30", "--noise", "5"});
    std::string small = generate(s, "s.vbi", {"-n", "3"});
    std::string keep = s / "keep";
    ASSERT_EQ(vbiscan({"--png", keep, cap}).status, 0);
    std::string before = read_file(keep + "/eye.png");
    // Links planted where a predictable temporary name would fall, for
    // the next few hundred process ids.
    write_file(s / "victim", "unrelated");
    int last_pid = std::stoi(read_file("/proc/sys/kernel/ns_last_pid"));
    for (int pid = last_pid + 1; pid < last_pid + 300; pid++)
        for (const char *n : {"waterfall", "eye", "lines"})
            std::filesystem::create_symlink(s / "victim", keep + "/." + n + ".png." + std::to_string(pid));
    ProcessResult full = run_process({"/bin/sh", "-c", "exec \"$0\" --png \"$1\" \"$2\" >/dev/full", bin_path("vbiscan"),
                                      keep, small});
    EXPECT_EQ(full.status, 1);
    EXPECT_EQ(read_file(keep + "/eye.png"), before);
    EXPECT_EQ(read_file(s / "victim"), "unrelated");
    ASSERT_EQ(vbiscan({"--png", keep, small}).status, 0);
    EXPECT_NE(read_file(keep + "/eye.png"), before);
    EXPECT_EQ(read_file(s / "victim"), "unrelated");
    // Only the pictures and the planted links: no temporary file left.
    int files = 0;
    for (const auto &e : std::filesystem::directory_iterator(keep))
        files += !e.is_symlink();
    EXPECT_EQ(files, 3);
}

}  // namespace
