#include "crestimg_core.h"

const char CrestimgHeader[] = "P6\n#Created by crestimg\n128 128\n255\n";
static_assert(sizeof CrestimgHeader == CRESTIMG_HEADER_SIZE + 1, "header length");

void crest_index_color(int i, const CrestPalette *palette, uint8_t rgb[3])
{
    if (i < CREST_PALETTE_SIZE) {
        rgb[0] = (uint8_t)palette->red[i];
        rgb[1] = (uint8_t)palette->green[i];
        rgb[2] = (uint8_t)palette->blue[i];
    } else {
        int c = i - CREST_CUBE_LAST;
        rgb[0] = (uint8_t)ConsoleColors.red[c];
        rgb[1] = (uint8_t)ConsoleColors.green[c];
        rgb[2] = (uint8_t)ConsoleColors.blue[c];
    }
}

void crest_render(const uint8_t *indices, uint8_t *pixels, const CrestPalette *palette)
{
    for (int n = 0; n < CREST_PIXELS; n++)
        crest_index_color(indices[n], palette, pixels + 3 * n);
}
