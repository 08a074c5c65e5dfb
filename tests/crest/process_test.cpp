// crestmake and crestimg run as processes on real files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "crest_files.h"

namespace {

const std::string usage_tail = " infile outfile\n";

TEST(CrestmakeDump, IsThePlainPpmOfEntriesZeroTo239)
{
    ProcessResult r = run_tool("crestmake", {"-m"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    // The palette itself is checked elsewhere; here the text around it.
    ASSERT_EQ(r.out.size(), 13u + 240 * 12);
    EXPECT_EQ(r.out.substr(0, 25), "P3\n240 1\n255\n  0   0   0\n");
    EXPECT_EQ(r.out.substr(13 + 3 * 12, 12), "170  85   0\n");
    EXPECT_EQ(r.out.substr(13 + 41 * 12, 12), "  0  31   0\n");
    EXPECT_EQ(r.out.substr(r.out.size() - 12), "252 248 189\n");

    // Byte for byte: the console colours, then the cube walked green
    // slowest, blue fastest, leaving out its last corner.
    const char *console[] = {"  0   0   0", "170   0   0", "  0 170   0", "170  85   0",
                             "  0   0 170", "170   0 170", "  0 170 170", "170 170 170",
                             " 85  85  85", "255  85  85", " 85 255  85", "255 255  85",
                             " 85  85 255", "255  85 255", " 85 255 255", "255 255 255"};
    std::string expected = "P3\n240 1\n255\n";
    for (const char *c : console)
        expected += std::string(c) + "\n";
    char line[16];
    for (int g = 0; g < 9; g++)
        for (int red = 0; red < 5; red++)
            for (int b = 0; b < 5; b++)
                if (g < 8 || red < 4 || b < 4) {
                    snprintf(line, sizeof line, "%3d %3d %3d\n", 63 * red, 31 * g, 63 * b);
                    expected += line;
                }
    EXPECT_TRUE(r.out == expected);
}

TEST(CrestmakeUsage, DashMPrefixSelectsTheDumpOtherwiseTwoFilesAreNeeded)
{
    for (auto args : std::vector<std::vector<std::string>>{{"-m"}, {"-mosaic"}, {"-m", "x", "y", "z"}}) {
        ProcessResult r = run_tool("crestmake", args);
        EXPECT_EQ(r.status, 0) << args[0];
        EXPECT_EQ(r.out.size(), 2893u) << args[0];
    }
    std::string dir = make_temp_dir();
    for (auto args : std::vector<std::vector<std::string>>{{}, {"-x"}, {"-"}, {dir + "/in.ppm"}}) {
        ProcessResult r = run_tool("crestmake", args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "usage: " + bin_path("crestmake") + usage_tail);
    }
    // The message names the program as it was invoked.
    std::string link = dir + "/logomaker";
    ASSERT_EQ(symlink(bin_path("crestmake").c_str(), link.c_str()), 0);
    EXPECT_EQ(run_process({link}).err, "usage: " + link + usage_tail);
}

TEST(CrestimgUsage, TwoFilesAreNeededAndNoneIsOpenedWithout)
{
    std::string dir = make_temp_dir();
    for (auto args : std::vector<std::vector<std::string>>{{}, {dir + "/missing"}}) {
        ProcessResult r = run_tool("crestimg", args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "usage: " + bin_path("crestimg") + usage_tail);
    }
}

struct Refusal {
    std::string input;
    std::string message;
};

// Each refused input, with the existing output file left exactly as it was.
TEST(CrestmakeConvert, RefusesEachBadInputWithItsMessageAndKeepsTheOutput)
{
    std::string dir = make_temp_dir(), in = dir + "/in.ppm", out = dir + "/out.crest";
    std::string raster = test_raster();
    std::string no_newline(49152, 'x');
    const Refusal refusals[] = {
        {std::string(1023, '\n'), "cannot read ppm header\n"},
        {"P6\n128 128\n255\n", "cannot read ppm header\n"},
        {"P3\n128 128\n255\n" + raster, "input file is not a raw ppm file\n"},
        {"P6\n#a\n#b\n128 128\n255\n" + raster, "PPM size must be 128x128 pixels\n"},
        {"P6\n\n128 128\n255\n" + raster, "PPM size must be 128x128 pixels\n"},
        {"P6\n128  128\n255\n" + raster, "PPM size must be 128x128 pixels\n"},
        {"P6 128 128 255\n" + raster, "PPM size must be 128x128 pixels\n"},
        {"P6 128 128 255\n" + no_newline, "bad ppm file\n"},
        {"P6\n128 128\n#c\n255\n" + raster, "PPM color depth must be 255\n"},
        {"P6\n128 128\n25\n" + raster, "PPM color depth must be 255\n"},
        {"P6\n128 128\n255\n" + raster.substr(1), "file size of 49167 bytes was expected\n"},
        {"P6\n#x\n128 1280\n255\n" + raster.substr(0, 2000), "file size of 49171 bytes was expected\n"},
    };
    for (const Refusal &f : refusals) {
        SCOPED_TRACE(f.message);
        write_file(in, f.input);
        write_file(out, "keep me");
        ProcessResult r = run_tool("crestmake", {in, out});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, f.message);
        EXPECT_EQ(read_file(out), "keep me");
    }
    ProcessResult r = run_tool("crestmake", {dir + "/none.ppm", out});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, dir + "/none.ppm: No such file or directory\n");
    EXPECT_EQ(read_file(out), "keep me");
}

TEST(CrestmakeConvert, AcceptedShapesGiveTheSameLogo)
{
    std::string dir = make_temp_dir(), in = dir + "/in.ppm";
    std::string raster = test_raster();
    write_file(in, minimal_ppm());
    ASSERT_EQ(run_tool("crestmake", {in, dir + "/ref"}).status, 0);
    std::string ref = read_file(dir + "/ref");
    ASSERT_EQ(ref.size(), 16384u);
    for (std::string input : {"P6\n# GIMP\n128 128\n255\n" + raster, "P6 \n128 1280\n2550\n" + raster,
                              minimal_ppm() + std::string(5000, '\n')}) {
        write_file(in, input);
        ProcessResult r = run_tool("crestmake", {in, dir + "/out", "ignored"});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(read_file(dir + "/out"), ref);
        unlink((dir + "/out").c_str());
    }
}

// The output is written in place: an existing file keeps its mode and its
// bytes past the image, a new one gets 0644 less the umask.
TEST(ConverterOutput, IsWrittenInPlaceOrCreated)
{
    std::string dir = make_temp_dir();
    write_file(dir + "/in.ppm", minimal_ppm());
    std::string tail(3616, 'T');
    write_file(dir + "/old.crest", std::string(16384, 'o') + tail);
    chmod((dir + "/old.crest").c_str(), 0600);
    ASSERT_EQ(run_tool("crestmake", {dir + "/in.ppm", dir + "/old.crest"}).status, 0);
    std::string old = read_file(dir + "/old.crest");
    ASSERT_EQ(old.size(), 20000u);
    EXPECT_EQ(old.substr(16384), tail);
    EXPECT_EQ(old.find('o'), std::string::npos);
    EXPECT_EQ(file_mode(dir + "/old.crest"), 0600);

    std::string ptail(10812, 'T');
    write_file(dir + "/old.ppm", std::string(49188, 'o') + ptail);
    ASSERT_EQ(run_tool("crestimg", {dir + "/old.crest", dir + "/old.ppm"}).status, 0);
    std::string ppm = read_file(dir + "/old.ppm");
    ASSERT_EQ(ppm.size(), 60000u);
    EXPECT_EQ(ppm.substr(0, 36), "P6\n#Created by crestimg\n128 128\n255\n");
    EXPECT_EQ(ppm.substr(49188), ptail);

    mode_t saved = umask(022);
    ProcessResult a = run_tool("crestmake", {dir + "/in.ppm", dir + "/new.crest"});
    ProcessResult b = run_tool("crestimg", {dir + "/new.crest", dir + "/new.ppm"});
    umask(027);
    ProcessResult c = run_tool("crestimg", {dir + "/new.crest", dir + "/new027.ppm"});
    umask(saved);
    EXPECT_EQ(a.status + b.status + c.status, 0);
    EXPECT_EQ(file_mode(dir + "/new.crest"), 0644);
    EXPECT_EQ(file_mode(dir + "/new.ppm"), 0644);
    EXPECT_EQ(file_mode(dir + "/new027.ppm"), 0640);
    EXPECT_EQ(read_file(dir + "/new.crest").size(), 16384u);
    EXPECT_EQ(read_file(dir + "/new.ppm").size(), 49188u);
}

TEST(ConverterOutput, FailuresAreReportedOnTheOutputName)
{
    std::string dir = make_temp_dir();
    write_file(dir + "/in.ppm", minimal_ppm());
    write_file(dir + "/in.crest", std::string(16384, '\x11'));
    for (const char *tool : {"crestmake", "crestimg"}) {
        std::string in = dir + (tool[5] == 'm' ? "/in.ppm" : "/in.crest");
        ProcessResult full = run_tool(tool, {in, "/dev/full"});
        EXPECT_EQ(full.status, 1) << tool;
        EXPECT_EQ(full.err, "/dev/full: No space left on device\n") << tool;
        ProcessResult nodir = run_tool(tool, {in, dir + "/no/out"});
        EXPECT_EQ(nodir.status, 1) << tool;
        EXPECT_EQ(nodir.err, dir + "/no/out: No such file or directory\n") << tool;
    }
}

TEST(CrestimgConvert, ReadsTheFirst16384BytesOrRefuses)
{
    std::string dir = make_temp_dir(), out = dir + "/out.ppm";
    write_file(out, "keep me");
    write_file(dir + "/short", std::string(16383, '\0'));
    ProcessResult r = run_tool("crestimg", {dir + "/short", out});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "input file not in crest format\n");
    EXPECT_EQ(read_file(out), "keep me");
    r = run_tool("crestimg", {dir + "/missing", out});
    EXPECT_EQ(r.err, dir + "/missing: No such file or directory\n");
    EXPECT_EQ(read_file(out), "keep me");

    // Index 16 and 0 are both black; the byte past the logo is ignored.
    write_file(dir + "/long", std::string(8192, '\0') + std::string(8192, '\x10') + "\xff");
    r = run_tool("crestimg", {dir + "/long", out});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(read_file(out), "P6\n#Created by crestimg\n128 128\n255\n" + std::string(49152, '\0'));
}

// A logo that comes through a pipe in two pieces, half a second apart, is
// read whole; one that ends a byte short is refused as a short file is.
TEST(CrestimgConvert, ReadsALogoThatArrivesInPieces)
{
    std::string dir = make_temp_dir();
    std::string logo(16384, '\x0f');
    logo.replace(8192, 8192, 8192, '\x24');
    write_file(dir + "/l.crest", logo);
    write_file(dir + "/short.crest", logo.substr(0, 16383));
    std::string expected = "P6\n#Created by crestimg\n128 128\n255\n";
    for (int n = 0; n < 16384; n++)
        expected += n < 8192 ? "\xff\xff\xff" : std::string("\xfc\0\0", 3);
    const std::string pieces = "(head -c 8192 %s; sleep .5; tail -c +8193 %s) | " +
                               bin_path("crestimg") + " /dev/stdin o.ppm";
    ProcessOptions opt;
    opt.cwd = dir;
    for (const char *name : {"l.crest", "short.crest"}) {
        SCOPED_TRACE(name);
        char command[512];
        snprintf(command, sizeof command, pieces.c_str(), name, name);
        unlink((dir + "/o.ppm").c_str());
        ProcessResult r = run_process({"/bin/sh", "-c", command}, opt);
        if (name[0] == 'l') {
            EXPECT_EQ(r.status, 0);
            EXPECT_EQ(r.err, "");
            EXPECT_TRUE(read_file(dir + "/o.ppm") == expected);
        } else {
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(r.err, "input file not in crest format\n");
            EXPECT_EQ(access((dir + "/o.ppm").c_str(), F_OK), -1);
        }
    }
}

// Every index but the five whose colours match earlier entries survives a
// trip through both converters, wherever it lies in the image.
TEST(RoundTrip, KeepsEveryIndexButFive)
{
    std::string dir = make_temp_dir();
    std::string logo(16384, '\0');
    for (int n = 0; n < 16384; n++)
        logo[n] = (char)((n + n / 128) % 241);
    write_file(dir + "/a.crest", logo);
    ASSERT_EQ(run_tool("crestimg", {dir + "/a.crest", dir + "/a.ppm"}).status, 0);
    ASSERT_EQ(run_tool("crestmake", {dir + "/a.ppm", dir + "/b.crest"}).status, 0);
    std::string back = read_file(dir + "/b.crest");
    ASSERT_EQ(back.size(), 16384u);
    for (int n = 0; n < 16384; n++) {
        int i = (uint8_t)logo[n], expected = i;
        switch (i) {
        case 16: expected = 0; break;
        case 19: expected = 4; break;
        case 31: expected = 1; break;
        case 34: expected = 5; break;
        case 240: expected = 15; break;
        }
        ASSERT_EQ((uint8_t)back[n], expected) << "pixel " << n;
    }
}

}  // namespace
