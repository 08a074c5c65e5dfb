#include "crestmake_core.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

CrestmakeMode crestmake_mode(int argc, const char *const *argv)
{
    if (argc > 1 && argv[1][0] == '-' && argv[1][1] == 'm')
        return CRESTMAKE_DUMP;
    return argc < 3 ? CRESTMAKE_USAGE : CRESTMAKE_CONVERT;
}

int crestmake_dump(char *out, const CrestPalette *palette)
{
    int n = snprintf(out, CRESTMAKE_DUMP_SIZE + 1, "P3\n%d 1\n255\n", (int)CREST_MATCH_ENTRIES);
    for (int k = 0; k < CREST_MATCH_ENTRIES; k++)
        n += snprintf(out + n, CRESTMAKE_DUMP_SIZE + 1 - n, "%3d %3d %3d\n",
                      palette->red[k], palette->green[k], palette->blue[k]);
    return n;
}

int ppm_next_line(const uint8_t *header, int p)
{
    for (; p >= 0 && p < PPM_HEADER_SIZE; p++)
        if (header[p] == '\n')
            return p + 1;
    return PPM_NO_LINE;
}

PpmHeaderStatus ppm_parse_header(const uint8_t *header, int *data_offset)
{
    if (header[0] != 'P' || header[1] != '6')
        return PPM_NOT_RAW;
    // Whatever follows the magic on its line is not looked at.
    int p = ppm_next_line(header, 0);
    if (p == PPM_NO_LINE)
        return PPM_BAD_FILE;
    // One comment line, and only here; p may already be past the header.
    if (p < PPM_HEADER_SIZE && header[p] == '#') {
        p = ppm_next_line(header, p);
        if (p == PPM_NO_LINE)
            return PPM_BAD_FILE;
    }
    // Width and height must be written exactly "128 128"; what follows on
    // the line is ignored.  The line length counts its newline.
    int q = ppm_next_line(header, p);
    if (q == PPM_NO_LINE)
        return PPM_BAD_FILE;
    if (q - p <= 7 || memcmp(header + p, "128 128", 7) != 0)
        return PPM_BAD_SIZE;
    int r = ppm_next_line(header, q);
    if (r == PPM_NO_LINE)
        return PPM_BAD_FILE;
    if (r - q <= 3 || memcmp(header + q, "255", 3) != 0)
        return PPM_BAD_DEPTH;
    *data_offset = r;
    return PPM_HEADER_OK;
}

const char *ppm_header_message(PpmHeaderStatus status)
{
    switch (status) {
    case PPM_NOT_RAW:
        return "input file is not a raw ppm file\n";
    case PPM_BAD_FILE:
        return "bad ppm file\n";
    case PPM_BAD_SIZE:
        return "PPM size must be 128x128 pixels\n";
    case PPM_BAD_DEPTH:
        return "PPM color depth must be 255\n";
    case PPM_HEADER_OK:
        break;
    }
    return nullptr;
}

uint8_t crest_match(int red, int green, int blue, const CrestPalette *palette)
{
    // Green carries most of the brightness the eye sees, so it alone ranks
    // the candidates; red and blue only have to lie within 32, which every
    // value does for one of the cube levels 0, 63, 126, 189, 252.  Entry
    // 240 is never a candidate.
    int best = 256;
    uint8_t result = 0;
    for (int k = 0; k < CREST_MATCH_ENTRIES; k++) {
        int dr = abs(red - palette->red[k]);
        int dg = abs(green - palette->green[k]);
        int db = abs(blue - palette->blue[k]);
        if (dg < best && dr <= CREST_MATCH_WINDOW && db <= CREST_MATCH_WINDOW) {
            result = (uint8_t)k;
            best = dg;
        }
    }
    return result;
}

// Gives every value 0..255 of one component its class and returns the
// number of classes, 0 when there are more than the table holds.  Which
// entries a value admits changes only where an entry's component enters
// the window (component - 32) or has just left it (component + 33).
static int classify(const int32_t *component, uint8_t *value_class, uint8_t *first)
{
    bool starts[256] = {};
    for (int k = 0; k < CREST_MATCH_ENTRIES; k++) {
        int enter = component[k] - CREST_MATCH_WINDOW;
        int leave = component[k] + CREST_MATCH_WINDOW + 1;
        if (enter >= 0 && enter < 256)
            starts[enter] = true;
        if (leave >= 0 && leave < 256)
            starts[leave] = true;
    }
    int n = 0;
    first[0] = 0;
    for (int v = 0; v < 256; v++) {
        if (v > 0 && starts[v]) {
            if (++n == CREST_MATCH_CLASSES)
                return 0;
            first[n] = (uint8_t)v;
        }
        value_class[v] = (uint8_t)n;
    }
    return n + 1;
}

void crest_match_table_init(CrestMatchTable *table, const CrestPalette *palette)
{
    table->palette = palette;
    table->red_classes = classify(palette->red, table->red_class, table->red_first);
    table->blue_classes = classify(palette->blue, table->blue_class, table->blue_first);
    if (table->red_classes == 0 || table->blue_classes == 0)
        table->red_classes = table->blue_classes = 0;
    for (int rc = 0; rc < CREST_MATCH_CLASSES; rc++)
        for (int bc = 0; bc < CREST_MATCH_CLASSES; bc++)
            table->ready[rc][bc] = false;
}

// Answers for every green value of one red class and one blue class.  Of
// the admitted entries with the same green only the lowest index can win;
// for each green the nearest admitted green below and above compete, and
// at equal distance the lower index wins, as in crest_match.
static void fill_pair(CrestMatchTable *table, int rc, int bc)
{
    const CrestPalette *palette = table->palette;
    int red = table->red_first[rc];
    int blue = table->blue_first[bc];
    int16_t lowest[256];
    for (int g = 0; g < 256; g++)
        lowest[g] = -1;
    for (int k = 0; k < CREST_MATCH_ENTRIES; k++) {
        if (abs(red - palette->red[k]) <= CREST_MATCH_WINDOW &&
            abs(blue - palette->blue[k]) <= CREST_MATCH_WINDOW) {
            int g = palette->green[k];
            if (lowest[g] < 0)
                lowest[g] = (int16_t)k;
        }
    }
    int16_t above[256];
    int next = -1;
    for (int g = 255; g >= 0; g--) {
        if (lowest[g] >= 0)
            next = g;
        above[g] = (int16_t)next;
    }
    uint8_t *out = table->index[rc][bc];
    int below = -1;
    for (int g = 0; g < 256; g++) {
        if (lowest[g] >= 0)
            below = g;
        int up = above[g];
        int k;
        if (below < 0 && up < 0)
            k = 0;  // nothing admitted: crest_match's result stays 0
        else if (up < 0 || (below >= 0 && g - below < up - g))
            k = lowest[below];
        else if (below < 0 || up - g < g - below)
            k = lowest[up];
        else
            k = lowest[below] < lowest[up] ? lowest[below] : lowest[up];
        out[g] = (uint8_t)k;
    }
    table->ready[rc][bc] = true;
}

uint8_t crest_match_lookup(CrestMatchTable *table, int red, int green, int blue)
{
    if (table->red_classes == 0)
        return crest_match(red, green, blue, table->palette);
    int rc = table->red_class[red];
    int bc = table->blue_class[blue];
    if (!table->ready[rc][bc])
        fill_pair(table, rc, bc);
    return table->index[rc][bc][green];
}

void crest_convert(const uint8_t *pixels, uint8_t *indices, CrestMatchTable *table)
{
    for (int n = 0; n < CREST_PIXELS; n++)
        indices[n] = crest_match_lookup(table, pixels[3 * n], pixels[3 * n + 1], pixels[3 * n + 2]);
}
