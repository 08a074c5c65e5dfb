// vbicc run as a process on captures that vbigen made from SCC files
// written by hand: captions, times and pairs exactly as sent, the frame
// counter's faults, damaged pairs, the Extended Data Services, the
// comparison's verdicts, and how bad input and bad command lines are met.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <vector>

#include "line21.h"
#include "process.h"
#include "vbi.h"

namespace {

using Json = nlohmann::json;

const std::string scc_dir = VBICC_SCC_DIR;

ProcessResult vbicc(std::vector<std::string> args, const ProcessOptions &opt = {})
{
    args.insert(args.begin(), bin_path("vbicc"));
    return run_process(args, opt);
}

std::vector<Json> json_lines(const std::string &out)
{
    std::vector<Json> lines;
    size_t pos = 0, nl;
    while ((nl = out.find('\n', pos)) != std::string::npos) {
        lines.push_back(Json::parse(out.substr(pos, nl - pos)));
        pos = nl + 1;
    }
    return lines;
}

std::vector<Json> decode_json(const std::string &capture, std::vector<std::string> extra = {})
{
    extra.insert(extra.begin(), {"-f", "json"});
    extra.push_back(capture);
    ProcessResult r = vbicc(extra);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    return json_lines(r.out);
}

std::vector<Json> of_type(const std::vector<Json> &lines, const std::string &type)
{
    std::vector<Json> out;
    for (const Json &j : lines)
        if (j["type"] == type)
            out.push_back(j);
    return out;
}

// The pairs of an SCC file (nulls left out) on their frames.
std::vector<std::pair<int64_t, std::string>> scc_pairs(const std::string &text)
{
    std::vector<L21SccLine> lines;
    L21SccError e;
    EXPECT_TRUE(l21_scc_read(text.data(), text.size(), &lines, &e)) << e.message;
    std::vector<std::pair<int64_t, std::string>> out;
    for (const L21SccLine &l : lines)
        for (size_t k = 0; k < l.pairs.size(); k++) {
            char hex[8];
            snprintf(hex, sizeof hex, "%02x%02x", l.pairs[k].b1, l.pairs[k].b2);
            if (!l21_is_null(l.pairs[k]))
                out.push_back({l.frame + (int64_t)k, hex});
        }
    return out;
}

// vbigen starts an SCC capture 30 frames before the first time code.
const int64_t pop_on_first = 60 - 30;

struct Expected {
    int64_t start, end;
    std::vector<std::tuple<int, int, std::string>> rows;
};

// The captions of pop-on.scc, frames counted from the capture's start.
const std::vector<Expected> pop_on_captions = {
    {120, 210, {{14, 4, "Good evening, and welcome."}}},
    {210, 300, {{13, 0, "Heavy rain is expected"}, {14, 8, "tonight!"}}},
    {300, 390, {{15, 0, "Will it clear? ♪ maybe"}}},
    {390, 480, {{12, 0, "Café au lait, Grün"}}},
    {480, 540, {{15, 4, "Goodnight."}}},
};

void expect_pop_on(const std::vector<Json> &lines, const std::string &what)
{
    std::vector<Json> caps = of_type(lines, "caption");
    ASSERT_EQ(caps.size(), pop_on_captions.size()) << what;
    for (size_t k = 0; k < caps.size(); k++) {
        const Expected &e = pop_on_captions[k];
        EXPECT_EQ(caps[k]["mode"], "pop-on") << what;
        EXPECT_EQ(caps[k]["start_frame"], e.start - pop_on_first) << what << " caption " << k;
        EXPECT_EQ(caps[k]["end_frame"], e.end - pop_on_first) << what << " caption " << k;
        ASSERT_EQ(caps[k]["rows"].size(), e.rows.size()) << what;
        for (size_t r = 0; r < e.rows.size(); r++) {
            EXPECT_EQ(caps[k]["rows"][r]["row"], std::get<0>(e.rows[r])) << what;
            EXPECT_EQ(caps[k]["rows"][r]["column"], std::get<1>(e.rows[r])) << what;
            EXPECT_EQ(caps[k]["rows"][r]["text"], std::get<2>(e.rows[r])) << what;
        }
    }
}

TEST(VbiccCaptions, PopOnExactlyAtNoiseZeroAndAtHighNoise)
{
    Scratch s;
    expect_pop_on(decode_json(generate(s, "clean.vbi", {"--scc", scc_dir + "/pop-on.scc"})), "noise 0");
    expect_pop_on(decode_json(generate(s, "noisy.vbi", {"--scc", scc_dir + "/pop-on.scc", "--noise", VBICC_HIGH_NOISE})),
                  "noise " VBICC_HIGH_NOISE);
    // The text form: start time and rows.
    ProcessResult r = vbicc({s / "clean.vbi"});
    EXPECT_EQ(r.status, 0);
    std::string first = "00:00:03.003  Good evening, and welcome.\n00:00:06.006  Heavy rain is expected | tonight!\n";
    EXPECT_EQ(r.out.substr(0, first.size()), first);
}

TEST(VbiccCaptions, SccOutputGivesBackThePairsAtTheirFrames)
{
    Scratch s;
    for (const char *name : {"pop-on.scc", "field2.scc"}) {
        std::string text = read_file(scc_dir + "/" + name);
        bool two = std::string(name) == "field2.scc";
        std::string capture = generate(s, "c.vbi", {two ? "--scc2" : "--scc", scc_dir + "/" + name});
        ProcessResult r = vbicc({"-f", "scc", "-c", two ? "CC3" : "CC1", capture});
        ASSERT_EQ(r.status, 0) << r.err;
        std::vector<std::pair<int64_t, std::string>> sent = scc_pairs(text), got = scc_pairs(r.out);
        for (auto &p : got)
            p.first += pop_on_first;
        EXPECT_EQ(got, sent) << name;
    }
}

TEST(VbiccCaptions, RollUpRowsOnceEach)
{
    Scratch s;
    std::string capture = generate(s, "roll.vbi", {"--scc", scc_dir + "/roll-up.scc"});
    ProcessResult r = vbicc({"-f", "srt", capture});
    ASSERT_EQ(r.status, 0) << r.err;
    for (int k = 1; k <= 10; k++) {
        std::string line = "\nLine " + std::to_string(k) + " of the roll-up passage\n";
        size_t at = r.out.find(line);
        EXPECT_NE(at, std::string::npos) << k;
        EXPECT_EQ(r.out.find(line, at + 1), std::string::npos) << k;
    }
    EXPECT_EQ(r.out.find("\n11\n"), std::string::npos);
    EXPECT_NE(r.out.find("\n10\n"), std::string::npos) << r.out;
}

TEST(VbiccCaptions, ServicesComeOutApartAndTogether)
{
    Scratch s;
    std::string both = generate(s, "cc12.vbi", {"--scc", scc_dir + "/cc1-cc2.scc"});
    ProcessResult one = vbicc({"-c", "CC1", both}), two = vbicc({"-c", "CC2", both});
    EXPECT_EQ(one.out.find("Subtitulo"), std::string::npos) << one.out;
    EXPECT_EQ(two.out.find("English"), std::string::npos) << two.out;
    for (int k = 1; k <= 4; k++) {
        EXPECT_NE(one.out.find("  English caption " + std::to_string(k) + "\n"), std::string::npos) << one.out;
        EXPECT_NE(two.out.find("  Subtitulo " + std::to_string(k) + "\n"), std::string::npos) << two.out;
    }

    // CC1 on field 1, CC3 and the Extended Data Services on field 2.
    std::string fields = generate(s, "f12.vbi", {"--scc", scc_dir + "/pop-on.scc", "--scc2", scc_dir + "/field2.scc"});
    std::vector<Json> lines = decode_json(fields);
    std::vector<Json> caps = of_type(lines, "caption"), xds = of_type(lines, "xds");
    size_t cc1 = 0, cc3 = 0;
    for (const Json &c : caps) {
        cc1 += c["service"] == "CC1";
        if (c["service"] == "CC3") {
            cc3++;
            EXPECT_EQ(c["rows"][0]["text"], "Field two, CC3");
        }
    }
    EXPECT_EQ(cc1, pop_on_captions.size());
    EXPECT_EQ(cc3, 1u);
    ASSERT_EQ(xds.size(), 2u);
    EXPECT_EQ(xds[0]["class"], "current");
    EXPECT_EQ(xds[0]["name"], "program_name");
    EXPECT_EQ(xds[0]["value"], "Evening News");
    EXPECT_EQ(xds[0]["checksum_ok"], true);
    // The call letters were sent with a wrong checksum: reported, not read.
    EXPECT_EQ(xds[1]["class"], "channel");
    EXPECT_EQ(xds[1]["checksum_ok"], false);
    EXPECT_FALSE(xds[1].contains("value"));
    Json summary = lines.back();
    EXPECT_EQ(summary["type"], "summary");
    EXPECT_EQ(summary["xds_packets"], 2);
    EXPECT_EQ(summary["xds_checksum_errors"], 1);
}

TEST(VbiccCaptions, ExtendedDataServicesFromTheGenerator)
{
    Scratch s;
    std::string capture = generate(s, "xds.vbi", {"--mode", "pop-on", "-t", "Hello", "--xds-program-name", "Late Show",
                                                  "--xds-network", "PBS", "--xds-call-letters", "KQED",
                                                  "--xds-time", "2026-12-09T21:30Z"});
    std::map<std::string, std::string> seen;
    for (const Json &x : of_type(decode_json(capture), "xds"))
        if (x.contains("name"))
            seen[x["name"]] = x["value"];
    EXPECT_EQ(seen["program_name"], "Late Show");
    EXPECT_EQ(seen["network"], "PBS");
    EXPECT_EQ(seen["call_letters"], "KQED");
    EXPECT_EQ(seen["time_of_day"], "2026-12-09T21:30Z");
}

TEST(VbiccTime, CounterGapsRepeatsAndBackwardSteps)
{
    Scratch s;
    std::string scc = scc_dir + "/pop-on.scc";
    // After 300 frames the counter jumps 30 further; the pairs go on.
    std::vector<Json> gap = decode_json(generate(s, "gap.vbi", {"--scc", scc, "--gap-every", "300", "--gap", "30"}));
    std::vector<Json> caps = of_type(gap, "caption");
    ASSERT_EQ(caps.size(), pop_on_captions.size());
    for (size_t k = 0; k < caps.size(); k++) {
        int64_t late = pop_on_captions[k].start - pop_on_first >= 300 ? 30 : 0;
        EXPECT_EQ(caps[k]["start_frame"], pop_on_captions[k].start - pop_on_first + late) << k;
    }
    std::vector<Json> events = of_type(gap, "event");
    ASSERT_GE(events.size(), 1u);
    EXPECT_EQ(events[0]["kind"], "gap");
    EXPECT_EQ(events[0]["missing"], 30);
    EXPECT_EQ(events[0]["block"], 300);

    // Every frame delivered twice: decoded once.
    std::vector<Json> twice = decode_json(generate(s, "twice.vbi", {"--scc", scc, "--repeat", "2"}));
    expect_pop_on(twice, "repeat 2");
    EXPECT_EQ(twice.back()["frames"].get<int64_t>() * 2, twice.back()["blocks"].get<int64_t>());

    // Two captures one after the other: the counter goes back, time goes on.
    std::string a = read_file(s / "gap.vbi"), b = read_file(generate(s, "b.vbi", {"--scc", scc}));
    write_file(s / "ab.vbi", a + b);
    std::vector<Json> ab = decode_json(s / "ab.vbi");
    double last = -1;
    for (const Json &c : of_type(ab, "caption")) {
        EXPECT_GT(c["start"].get<double>(), last);
        last = c["start"];
    }
    std::vector<Json> back;
    for (const Json &e : of_type(ab, "event"))
        if (e["kind"] == "backward")
            back.push_back(e);
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0]["block"].get<size_t>(), a.size() / VBI_BLOCK_SIZE);
}

TEST(VbiccDamage, ParityErrorShowsAsABlockAndIsCounted)
{
    Scratch s;
    std::string text = read_file(scc_dir + "/pop-on.scc");
    // "Go" with the parity bit of 'o' flipped.
    size_t at = text.find("c7ef");
    ASSERT_NE(at, std::string::npos);
    text.replace(at, 4, "c76f");
    write_file(s / "bad.scc", text);
    std::vector<Json> lines = decode_json(generate(s, "bad.vbi", {"--scc", s / "bad.scc"}));
    EXPECT_EQ(of_type(lines, "caption")[0]["rows"][0]["text"], "G■od evening, and welcome.");
    EXPECT_EQ(lines.back()["parity_errors"]["field1"], 1);
    std::vector<Json> events = of_type(lines, "event");
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0]["kind"], "parity");
    EXPECT_EQ(events[0]["pair"], "c76f");
}

TEST(VbiccCompare, AgainstTheCapturesOwnSccAndDamagedOnes)
{
    Scratch s;
    std::string scc = scc_dir + "/pop-on.scc";
    std::string capture = generate(s, "cap.vbi", {"--scc", scc});
    ProcessResult r = vbicc({"--compare", scc, capture});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("cues: 5 in the reference, 5 matched, 0 text differs, 0 missing, 0 extra\n"),
              std::string::npos) << r.out;
    EXPECT_NE(r.out.find("offset: -30 frames (median), largest deviation 0 frames"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("pairs: 104 sent, 104 received intact, 0 with a parity error, 0 missing, 0 extra\n"),
              std::string::npos) << r.out;
    EXPECT_NE(r.out.find("verdict: same\n"), std::string::npos);

    // Ten blocks cut out of the middle of the second caption's pairs.
    std::string blocks = read_file(capture);
    int64_t cut = 150 - pop_on_first;
    write_file(s / "cut.vbi", blocks.substr(0, (size_t)cut * VBI_BLOCK_SIZE) +
                                  blocks.substr((size_t)(cut + 10) * VBI_BLOCK_SIZE));
    r = vbicc({"--compare", scc, s / "cut.vbi"});
    EXPECT_EQ(r.status, 3) << r.out;
    EXPECT_NE(r.out.find("10 missing"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("  missing: frames 150-159 (00:00:05;00-00:00:05;09)\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("  text differs: cue 2 at 00:00:07.007"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("verdict: differs\n"), std::string::npos);

    // The reference's fourth caption changed.
    std::string text = read_file(scc);
    size_t at = text.find("4361 e6dc");   // "Caf\xe9" -> "Cof\xe9"
    ASSERT_NE(at, std::string::npos);
    text.replace(at, 4, "43ef");
    write_file(s / "changed.scc", text);
    r = vbicc({"--compare", s / "changed.scc", capture, "-o", s / "report.txt"});
    EXPECT_EQ(r.status, 3) << r.err;
    std::string report = read_file(s / "report.txt");
    EXPECT_NE(report.find("  text differs: cue 4 at 00:00:13.013 (character error rate 5.6 %)\n"
                          "    reference: Cofé au lait, Grün\n"
                          "    received:  Café au lait, Grün\n"), std::string::npos) << report;

    // The capture's own SRT as the reference.
    ProcessResult srt = vbicc({"-f", "srt", "-o", s / "cap.srt", capture});
    ASSERT_EQ(srt.status, 0);
    r = vbicc({"--compare", s / "cap.srt", capture});
    EXPECT_EQ(r.status, 0) << r.out;
}

TEST(VbiccInput, BadInputAndBadCommandLines)
{
    Scratch s;
    write_file(s / "short.vbi", std::string(1000, 'x'));
    write_file(s / "bad.srt", "1\n00:00:01,000 --> 00:00:02,000\nok\n\nzwei\n");
    write_file(s / "bad.scc", "Scenarist_SCC V1.0\n\n00:00:01;00\t9420 94zz\n");
    mkdir((s / "folder").c_str(), 0755);
    std::string good = generate(s, "good.vbi", {"-n", "40"});
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string err;
    } cases[] = {
        {{s / "nosuch.vbi"}, 1, "vbicc: " + s / "nosuch.vbi" + ": No such file or directory\n"},
        {{s / "folder"}, 1, "vbicc: " + s / "folder" + ": Is a directory\n"},
        {{s / "short.vbi"}, 1, "vbicc: " + s / "short.vbi" + ": holds no whole block (1000 bytes; a block is 65536)\n"},
        {{"--compare", s / "bad.srt", good}, 1, "vbicc: " + s / "bad.srt" + ":5: expected a cue number, found 'zwei'\n"},
        {{"--compare", s / "bad.scc", good}, 1, "vbicc: " + s / "bad.scc" + ":3: "},
        {{"-c", "CC9", good}, 2, "vbicc: -c: 'CC9' is no service (CC1, CC2, CC3, CC4, T1, T2, T3, T4)\nTry 'vbicc --help'.\n"},
        {{"-f", "xml", good}, 2, "vbicc: -f: 'xml' is no format (text, srt, vtt, scc, json)\nTry 'vbicc --help'.\n"},
        {{"--tolerance", "-1", good}, 2,
         "vbicc: --tolerance: '-1' is out of range (0 to 100000)\nTry 'vbicc --help'.\n"},
    };
    for (const Case &c : cases) {
        std::vector<std::string> args = c.args;
        args.push_back("-o");
        args.push_back(s / "out.txt");
        ProcessResult r = vbicc(args);
        EXPECT_EQ(r.status, c.status) << c.args[0];
        EXPECT_EQ(r.err.substr(0, c.err.size()), c.err);
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), c.status == 2 ? 2 : 1) << r.err;
        // Nothing half written, nothing left under a temporary name.
        EXPECT_FALSE(std::filesystem::exists(s / "out.txt"));
        for (const auto &e : std::filesystem::directory_iterator(s.dir))
            EXPECT_EQ(e.path().filename().string().rfind("out.txt", 0), std::string::npos) << e.path();
    }

    // Random blocks: no caption, a summary that says so.
    std::mt19937 rng(7);
    std::string noise(40 * VBI_BLOCK_SIZE, '\0');
    for (char &c : noise)
        c = (char)(rng() & 0xFF);
    write_file(s / "noise.vbi", noise);
    std::vector<Json> lines = decode_json(s / "noise.vbi");
    EXPECT_TRUE(of_type(lines, "caption").empty());
    EXPECT_EQ(lines.back()["type"], "summary");
    EXPECT_EQ(lines.back()["blocks"], 40);
    EXPECT_EQ(lines.back()["captions"]["CC1"], 0);

    // A device whose read fails after 200 blocks: the captions that came
    // are written, the failure named, the status 1.
    std::string pop = generate(s, "pop.vbi", {"--scc", scc_dir + "/pop-on.scc"});
    ProcessResult f = run_process({bin_path("devstandin"), "--vbi", pop, "--fail-after", "200", bin_path("vbicc"), "/dev/vbi0"});
    EXPECT_EQ(f.status, 1);
    EXPECT_EQ(f.err, "vbicc: /dev/vbi0: Input/output error\n");
    EXPECT_EQ(f.out.rfind("00:00:03.003  Good evening, and welcome.\n00:00:06.006  Heavy rain", 0), 0u) << f.out;

    ProcessResult v = vbicc({"--version"});
    EXPECT_EQ(v.out, "vbicc (vbitools) " VT_VERSION "\n");
}

}  // namespace
