// The converters against the PPM files that netpbm and ImageMagick really
// write and read.
#include <gtest/gtest.h>

#include "crest_files.h"
#include "crest.h"
#include "crestmake_core.h"

namespace {

// Runs a shell pipeline of the image tools; the test fails on any complaint.
ProcessResult sh(const std::string &dir, const std::string &command)
{
    ProcessOptions opt;
    opt.cwd = dir;
    return run_process({"/bin/sh", "-c", command}, opt);
}

TEST(Interop, ReadsWhatNetpbmAndImageMagickWrite)
{
    std::string dir = make_temp_dir();
    ProcessResult r = sh(dir, "ppmmake rgb:40/80/c0 128 128 > flat.ppm && "
                              "ppmmake red 128 128 | pnmtopnm -plain | pnmtopnm > red.ppm && "
                              "convert -size 128x128 gradient:white-blue -depth 8 grad.ppm && "
                              "convert -size 128x128 xc:green deep.ppm");
    ASSERT_EQ(r.status, 0) << r.err;
    // netpbm writes the one-item-a-line header this parser expects.
    EXPECT_EQ(read_file(dir + "/flat.ppm").substr(0, 15), "P6\n128 128\n255\n");

    CrestPalette p;
    crest_palette_build(&p);
    struct Expect {
        const char *file;
        int index;  // the colour of every pixel, or -1 for mixed
    } files[] = {{"flat.ppm", crest_match(0x40, 0x80, 0xc0, &p)}, {"red.ppm", 36}, {"grad.ppm", -1}};
    for (const Expect &e : files) {
        SCOPED_TRACE(e.file);
        ProcessResult c = run_tool("crestmake", {dir + "/" + e.file, dir + "/out.crest"});
        EXPECT_EQ(c.status, 0);
        EXPECT_EQ(c.err, "");
        std::string logo = read_file(dir + "/out.crest");
        ASSERT_EQ(logo.size(), 16384u);
        if (e.index >= 0) {
            EXPECT_EQ(logo, std::string(16384, (char)e.index));
        }
    }
    // ImageMagick's own default depth here is 16 bits, which is refused.
    ProcessResult deep = run_tool("crestmake", {dir + "/deep.ppm", dir + "/deep.crest"});
    EXPECT_EQ(deep.status, 1);
    EXPECT_EQ(deep.err, "PPM color depth must be 255\n");
}

TEST(Interop, NetpbmAndImageMagickReadWhatTheConvertersWrite)
{
    std::string dir = make_temp_dir();
    std::string logo(16384, '\0');
    for (int n = 0; n < 16384; n++)
        logo[n] = (char)(n % 256);
    write_file(dir + "/logo.crest", logo);
    ASSERT_EQ(run_tool("crestimg", {dir + "/logo.crest", dir + "/logo.ppm"}).status, 0);
    write_file(dir + "/palette.ppm", run_tool("crestmake", {"-m"}).out);

    ProcessResult r = sh(dir, "pamfile logo.ppm palette.ppm && pnmtopng logo.ppm > logo.png && "
                              "pnmtopng palette.ppm > palette.png && pngtopnm logo.png > back.ppm && "
                              "convert logo.ppm -depth 8 magick.ppm && identify -format '%w %h\\n' palette.ppm");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "logo.ppm:\tPPM raw, 128 by 128  maxval 255\n"
                     "palette.ppm:\tPPM plain, 240 by 1  maxval 255\n"
                     "240 1\n");
    // The raster survives netpbm's PNG round trip and ImageMagick's reading.
    // (ImageMagick carries the comment over into its own header.)
    std::string raster = read_file(dir + "/logo.ppm").substr(36);
    std::string back = read_file(dir + "/back.ppm"), magick = read_file(dir + "/magick.ppm");
    EXPECT_TRUE(back == "P6\n128 128\n255\n" + raster);
    ASSERT_GE(magick.size(), raster.size());
    EXPECT_TRUE(magick.substr(magick.size() - raster.size()) == raster);
}

}  // namespace
