// Fuzzes crestmake's header parser and matcher, and crestimg's renderer,
// on the buffers the programs use.  The input is the start of a PPM file;
// crestmake refuses anything shorter than its 1024-byte header read, so
// such inputs stop early.  The first pixels that follow the header are
// matched one by one, by the rule and through the converter's table, which
// must agree: the matcher's reads do not depend on where a pixel lies, and
// a whole 128x128 raster per input would slow the search a thousandfold.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "crest.h"
#include "crestimg_core.h"
#include "crestmake_core.h"

// Exact-size buffers, so that the sanitizers see any access past them.
static CrestPalette palette;
static CrestMatchTable match_table;
static uint8_t header[PPM_HEADER_SIZE];
static uint8_t indices[CREST_FILE_SIZE];
static uint8_t image[CREST_RASTER_SIZE];

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static bool built = false;
    if (!built) {
        crest_palette_build(&palette);
        crest_match_table_init(&match_table, &palette);
        built = true;
    }
    // Every byte is a logo index to crestimg, past the palette included;
    // each is looked up as crest_render looks up a pixel.
    for (size_t n = 0; n < size && n < CREST_PIXELS; n++)
        crest_index_color(data[n], &palette, image + 3 * n);

    if (size < PPM_HEADER_SIZE)
        return 0;
    memcpy(header, data, sizeof header);
    int offset = -1;
    PpmHeaderStatus status = ppm_parse_header(header, &offset);
    if (status != PPM_HEADER_OK) {
        if (!ppm_header_message(status))
            __builtin_trap();
        return 0;
    }
    // The shortest header is 15 bytes; none ends past the header buffer.
    if (offset < 15 || offset > PPM_HEADER_SIZE)
        __builtin_trap();
    size_t count = (size - (size_t)offset) / 3;
    if (count > 32)
        count = 32;
    const uint8_t *pixels = data + offset;
    for (size_t n = 0; n < count; n++) {
        indices[n] = crest_match(pixels[3 * n], pixels[3 * n + 1], pixels[3 * n + 2], &palette);
        if (indices[n] >= CREST_MATCH_ENTRIES)
            __builtin_trap();
        // The converter's table must give the rule's answer.
        if (crest_match_lookup(&match_table, pixels[3 * n], pixels[3 * n + 1], pixels[3 * n + 2]) !=
            indices[n])
            __builtin_trap();
    }
    return 0;
}
