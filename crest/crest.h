// The logo palette and the logo file shared by crestmake, crestimg and
// fbpalette.  The palette is computed, never read from a file, so every
// program that uses it agrees on it without sharing data at run time.
#pragma once
#include <cstdint>

enum {
    CONSOLE_COLOR_COUNT = 16,
    // 16 console colours, then a 9 (green) by 5 (red) by 5 (blue) cube.
    CREST_CUBE_FIRST = 16,
    CREST_PALETTE_SIZE = 241,
    CREST_CUBE_LAST = CREST_PALETTE_SIZE - 1,
    // crestmake matches against, and dumps, every entry but the last.
    CREST_MATCH_ENTRIES = 240,
    CREST_WIDTH = 128,
    CREST_HEIGHT = 128,
    CREST_PIXELS = CREST_WIDTH * CREST_HEIGHT,
    // A logo file is the bare index raster: byte 128*y + x is the palette
    // index of row y (0 = top), column x (0 = left).  No header, no magic.
    CREST_FILE_SIZE = CREST_PIXELS,
    // The same image as an RGB raster, 3 bytes a pixel, in PPM pixel order.
    CREST_RASTER_SIZE = 3 * CREST_PIXELS,
};

// The text console's 16 colours, 8-bit intensities.  Entry 3 is the
// console's brown (170, 85, 0), not dark yellow.
struct ConsoleColorTable {
    int red[CONSOLE_COLOR_COUNT];
    int green[CONSOLE_COLOR_COUNT];
    int blue[CONSOLE_COLOR_COUNT];
};
extern const ConsoleColorTable ConsoleColors;

// The logo palette, 8-bit components (every value in 0..255).
struct CrestPalette {
    int32_t red[CREST_PALETTE_SIZE];
    int32_t green[CREST_PALETTE_SIZE];
    int32_t blue[CREST_PALETTE_SIZE];
};

// The levels of cube entry i (CREST_CUBE_FIRST..CREST_CUBE_LAST): with
// c = i - 16 = 25g + 5r + b, blue varies fastest, then red, green slowest.
// Red and blue take levels 0..4, green 0..8; each user scales them to its
// own component range.
struct CrestCubeLevels {
    int red, green, blue;
};
CrestCubeLevels crest_cube_levels(int i);

// Fills all 241 entries: console colours at 0..15, then cube entry
// c = i - 16 = 25g + 5r + b with red 63r, green 31g, blue 63b.
void crest_palette_build(CrestPalette *palette);
