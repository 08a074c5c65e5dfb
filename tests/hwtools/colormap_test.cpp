// The frame-buffer colour map, as built and as fbpalette hands it to the
// device (captured by the stand-in).
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "fb_colormap.h"
#include "process.h"

namespace {

struct Rgb {
    unsigned r, g, b;
    bool operator==(const Rgb &o) const { return r == o.r && g == o.g && b == o.b; }
};

std::ostream &operator<<(std::ostream &os, const Rgb &c)
{
    return os << "(" << c.r << ", " << c.g << ", " << c.b << ")";
}

// The map written out independently of the program: the console colours
// (8-bit) scaled by 255, the green-slowest cube scaled by 16383 and 8191,
// console colours 1..15 again above the palette.
Rgb expected_entry(int i)
{
    static const unsigned console[16][3] = {
        {0, 0, 0},      {170, 0, 0},    {0, 170, 0},    {170, 85, 0},
        {0, 0, 170},    {170, 0, 170},  {0, 170, 170},  {170, 170, 170},
        {85, 85, 85},   {255, 85, 85},  {85, 255, 85},  {255, 255, 85},
        {85, 85, 255},  {255, 85, 255}, {85, 255, 255}, {255, 255, 255},
    };
    if (i >= 16 && i <= 240) {
        int c = i - 16;
        return {16383u * (c / 5 % 5), 8191u * (c / 25), 16383u * (c % 5)};
    }
    const unsigned *k = console[i < 16 ? i : i - 240];
    return {255 * k[0], 255 * k[1], 255 * k[2]};
}

struct Captured {
    std::vector<std::string> headers;
    std::vector<Rgb> entries;  // by index, from every request in order
};

Captured parse_cmap(const std::string &text)
{
    Captured cap;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("FBIOPUTCMAP", 0) == 0) {
            cap.headers.push_back(line);
            continue;
        }
        unsigned index, r, g, b;
        if (sscanf(line.c_str(), "%u %u %u %u", &index, &r, &g, &b) != 4 ||
            index != cap.entries.size())
            ADD_FAILURE() << "unexpected line in the captured map: " << line;
        cap.entries.push_back({r, g, b});
    }
    return cap;
}

struct FbRun {
    ProcessResult result;
    std::string cmap_text;
};

// Runs fbpalette under the stand-in; `fb` false leaves /dev/fb0 missing.
FbRun run_fbpalette(const std::vector<std::string> &args, bool fb, const char *fail = nullptr)
{
    std::string dir = make_temp_dir();
    std::vector<std::string> argv = {bin_path("fbpalette")};
    argv.insert(argv.end(), args.begin(), args.end());
    ProcessOptions opt;
    opt.env = standin_env();
    opt.env.push_back("STANDIN_FB_CMAP=" + dir + "/cmap");
    if (fb) {
        write_file(dir + "/fb", "");
        opt.env.push_back("STANDIN_FB=" + dir + "/fb");
    }
    if (fail)
        opt.env.push_back(std::string("STANDIN_FB_FAIL=") + fail);
    FbRun run;
    run.result = run_process(argv, opt);
    FILE *f = fopen((dir + "/cmap").c_str(), "r");
    if (f) {
        fclose(f);
        run.cmap_text = read_file(dir + "/cmap");
    }
    return run;
}

TEST(FbColormap, EntriesAtTheEdgesOfEachRange)
{
    uint16_t red[FB_CMAP_SIZE], green[FB_CMAP_SIZE], blue[FB_CMAP_SIZE];
    fb_colormap_build(red, green, blue);
    auto at = [&](int i) { return Rgb{red[i], green[i], blue[i]}; };
    EXPECT_EQ(at(0), (Rgb{0, 0, 0}));
    EXPECT_EQ(at(3), (Rgb{43350, 21675, 0}));  // brown, not dark yellow
    EXPECT_EQ(at(15), (Rgb{65025, 65025, 65025}));  // console white is 255 * 255
    EXPECT_EQ(at(16), (Rgb{0, 0, 0}));
    EXPECT_EQ(at(17), (Rgb{0, 0, 16383}));
    EXPECT_EQ(at(21), (Rgb{16383, 0, 0}));
    EXPECT_EQ(at(41), (Rgb{0, 8191, 0}));
    EXPECT_EQ(at(240), (Rgb{65532, 65528, 65532}));
    EXPECT_EQ(at(241), (Rgb{43350, 0, 0}));
    EXPECT_EQ(at(255), (Rgb{65025, 65025, 65025}));
    for (int i = 241; i < 256; i++)
        EXPECT_EQ(at(i), at(i - 240)) << "entry " << i;
    for (int i = 0; i < FB_CMAP_SIZE; i++)
        EXPECT_TRUE(red[i] != 65535 && green[i] != 65535 && blue[i] != 65535) << "entry " << i;
}

TEST(FbPalette, LoadsTheWholeMapInOneSilentRequest)
{
    FbRun run = run_fbpalette({}, true);
    EXPECT_EQ(run.result.status, 0);
    EXPECT_EQ(run.result.err, "");
    EXPECT_EQ(run.result.out, "");
    Captured cap = parse_cmap(run.cmap_text);
    ASSERT_EQ(cap.headers.size(), 1u);
    EXPECT_EQ(cap.headers[0], "FBIOPUTCMAP start=0 len=256 transp=null");
    ASSERT_EQ(cap.entries.size(), 256u);
    for (int i = 0; i < 256; i++)
        EXPECT_EQ(cap.entries[i], expected_entry(i)) << "entry " << i;
}

TEST(FbPalette, FailedOpenShowsOnlyTheSystemMessage)
{
    FbRun run = run_fbpalette({}, false);
    EXPECT_EQ(run.result.status, 1);
    EXPECT_EQ(run.result.err, "No such file or directory\n");
    EXPECT_EQ(run.cmap_text, "");
}

TEST(FbPalette, FailedOpenPrefixesTheFirstArgument)
{
    FbRun run = run_fbpalette({"fbpalette-test", "ignored"}, false);
    EXPECT_EQ(run.result.status, 1);
    EXPECT_EQ(run.result.err, "fbpalette-test: No such file or directory\n");
    EXPECT_EQ(run.cmap_text, "");
}

TEST(FbPalette, RefusedMapIsReportedAsFailure)
{
    FbRun run = run_fbpalette({}, true, "22");
    EXPECT_EQ(run.result.status, 1);
    EXPECT_EQ(run.result.err, "FBIOPUTCMAP /dev/fb0: Invalid argument\n");
    EXPECT_EQ(parse_cmap(run.cmap_text).headers.size(), 1u);  // tried once, no retry
}

}  // namespace
