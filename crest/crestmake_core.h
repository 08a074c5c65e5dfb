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
// a tie.  This is the matching rule written out plainly, one test of every
// entry; crest_convert gets the same answers through a CrestMatchTable.
uint8_t crest_match(int red, int green, int blue, const CrestPalette *palette);

enum {
    // Red and blue only admit entries, through a window of this many steps
    // on either side, bounds included.
    CREST_MATCH_WINDOW = 32,
    // Red values that admit the same entries form one class, and so do blue
    // values.  The palette's eight red (and blue) values make 14 classes.
    CREST_MATCH_CLASSES = 16,
};

// crest_match's answers, looked up.  The entries a pixel admits follow
// from its red and blue alone, so for each pair of a red class and a blue
// class the answer for every green value is worked out once, the first
// time a pixel of that pair comes along.
struct CrestMatchTable {
    const CrestPalette *palette;
    int red_classes;  // 0: the palette makes too many classes; rule used
    int blue_classes;
    uint8_t red_class[256];
    uint8_t blue_class[256];
    uint8_t red_first[CREST_MATCH_CLASSES];  // the lowest value of each class
    uint8_t blue_first[CREST_MATCH_CLASSES];
    bool ready[CREST_MATCH_CLASSES][CREST_MATCH_CLASSES];
    uint8_t index[CREST_MATCH_CLASSES][CREST_MATCH_CLASSES][256];
};

// Sorts the red and blue values of 0..255 into classes; nothing else is
// worked out yet.  The palette must stay in place while the table is used.
void crest_match_table_init(CrestMatchTable *table, const CrestPalette *palette);

// crest_match(red, green, blue, palette), bit for bit, ties included.
uint8_t crest_match_lookup(CrestMatchTable *table, int red, int green, int blue);

// Matches a whole 128x128 RGB raster (CREST_RASTER_SIZE bytes) into
// CREST_FILE_SIZE indices.
void crest_convert(const uint8_t *pixels, uint8_t *indices, CrestMatchTable *table);
