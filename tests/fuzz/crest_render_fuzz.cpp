// Fuzzes crestimg's reading of a logo file: the program reads the first
// 16384 bytes and refuses a shorter file, so a longer input is cut there;
// a shorter one is repeated until it fills a whole file, which lets short
// inputs reach the renderer too.  Every byte is an index, those past the
// 241-entry palette included; each pixel must come out as the colour of
// its index, written inside an exactly-sized raster.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "crest.h"
#include "crestimg_core.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static CrestPalette palette;
    static bool built = false;
    if (!built) {
        crest_palette_build(&palette);
        built = true;
    }
    if (size == 0)
        return 0;
    uint8_t *indices = (uint8_t *)malloc(CREST_FILE_SIZE);
    for (size_t n = 0; n < CREST_FILE_SIZE; n++)
        indices[n] = data[n % size];
    uint8_t *pixels = (uint8_t *)malloc(CREST_RASTER_SIZE);
    crest_render(indices, pixels, &palette);
    for (size_t n = 0; n < CREST_PIXELS; n++) {
        uint8_t rgb[3];
        crest_index_color(indices[n], &palette, rgb);
        if (memcmp(rgb, pixels + 3 * n, 3) != 0)
            __builtin_trap();
    }
    free(pixels);
    free(indices);
    return 0;
}
