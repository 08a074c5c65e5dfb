// The decisions of crestmake: which mode the command line selects, the
// narrow raw-PPM header it accepts, and the green-first palette matcher.
#pragma once
#include <cstdint>

#include "crest.h"

enum {
    // The header is looked for only in the first 1024 bytes of the input.
    PPM_HEADER_SIZE = 1024,
    // ppm_next_line's answer when the line has no newline in the header.
    PPM_NO_LINE = -1,
};

enum CrestmakeMode { CRESTMAKE_USAGE, CRESTMAKE_DUMP, CRESTMAKE_CONVERT };

// "-m..." as first argument selects the palette dump, whatever follows;
// otherwise two arguments (infile outfile) are needed.
CrestmakeMode crestmake_mode(int argc, const char *const *argv);

// Writes the dump, a plain PPM one pixel high holding palette entries
// 0..239, into out (CRESTMAKE_DUMP_SIZE bytes and a NUL); returns its length.
enum { CRESTMAKE_DUMP_SIZE = 13 + 12 * CREST_MATCH_ENTRIES };
int crestmake_dump(char *out, const CrestPalette *palette);

enum PpmHeaderStatus {
    PPM_HEADER_OK,
    PPM_NOT_RAW,    // "input file is not a raw ppm file\n"
    PPM_BAD_FILE,   // "bad ppm file\n"
    PPM_BAD_SIZE,   // "PPM size must be 128x128 pixels\n"
    PPM_BAD_DEPTH,  // "PPM color depth must be 255\n"
};

// Position just after the newline ending the line that begins at p, or
// PPM_NO_LINE when no newline lies between p and the end of the header.
int ppm_next_line(const uint8_t *header, int p);

// Checks the header lines in order (magic, one optional comment, size,
// maximum value); on success *data_offset is where the raster begins.
PpmHeaderStatus ppm_parse_header(const uint8_t *header, int *data_offset);

// The one-line message for a refused header (null for PPM_HEADER_OK).
const char *ppm_header_message(PpmHeaderStatus status);

// Palette index 0..239 for one pixel: the smallest green distance among the
// entries whose red and blue lie within 32 of the pixel's; lowest index on
// a tie.
uint8_t crest_match(int red, int green, int blue, const CrestPalette *palette);

// Matches a whole 128x128 RGB raster (CREST_RASTER_SIZE bytes) into
// CREST_FILE_SIZE indices.
void crest_convert(const uint8_t *pixels, uint8_t *indices, const CrestPalette *palette);
