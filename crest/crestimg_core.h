// The decision of crestimg: the colour of every logo index.
#pragma once
#include <cstdint>

#include "crest.h"

// The PPM header crestimg writes, 36 bytes without the NUL.
extern const char CrestimgHeader[];
enum { CRESTIMG_HEADER_SIZE = 36 };

// Colour of index i (0..255).  Indices 241..255 lie past the palette; they
// get console colour i - 240, the colour the frame buffer shows for them
// once fbpalette has loaded its map.
void crest_index_color(int i, const CrestPalette *palette, uint8_t rgb[3]);

// Turns CREST_FILE_SIZE indices into a CREST_RASTER_SIZE RGB raster.
void crest_render(const uint8_t *indices, uint8_t *pixels, const CrestPalette *palette);
