#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "crestimg_core.h"

namespace {

TEST(CrestimgHeader, IsTheThirtySixByteRawPpmHeader)
{
    EXPECT_EQ(std::string(CrestimgHeader, CRESTIMG_HEADER_SIZE),
              std::string("P6\n#Created by crestimg\n128 128\n255\n"));
}

// Indices past the palette show what the frame buffer shows for them once
// its map is loaded: console colours 1 to 15 again.
TEST(CrestRender, EveryIndexHasAColourAndPixelsKeepTheirPlace)
{
    CrestPalette p;
    crest_palette_build(&p);
    static uint8_t indices[CREST_FILE_SIZE];
    static uint8_t pixels[CREST_RASTER_SIZE];
    for (int n = 0; n < CREST_FILE_SIZE; n++)
        indices[n] = (uint8_t)(n * 7);
    crest_render(indices, pixels, &p);
    for (int n = 0; n < CREST_FILE_SIZE; n++) {
        int i = indices[n];
        int red = i < 241 ? p.red[i] : ConsoleColors.red[i - 240];
        int green = i < 241 ? p.green[i] : ConsoleColors.green[i - 240];
        int blue = i < 241 ? p.blue[i] : ConsoleColors.blue[i - 240];
        ASSERT_EQ(pixels[3 * n], red) << n;
        ASSERT_EQ(pixels[3 * n + 1], green) << n;
        ASSERT_EQ(pixels[3 * n + 2], blue) << n;
    }
    uint8_t rgb[3];
    crest_index_color(241, &p, rgb);
    EXPECT_EQ(std::string((char *)rgb, 3), std::string("\xaa\0\0", 3));
    crest_index_color(255, &p, rgb);
    EXPECT_EQ(std::string((char *)rgb, 3), std::string("\xff\xff\xff", 3));
    crest_index_color(240, &p, rgb);
    EXPECT_EQ(std::string((char *)rgb, 3), std::string("\xfc\xf8\xfc", 3));
}

}  // namespace
