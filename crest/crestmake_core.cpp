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
        if (dg < best && dr <= 32 && db <= 32) {
            result = (uint8_t)k;
            best = dg;
        }
    }
    return result;
}

void crest_convert(const uint8_t *pixels, uint8_t *indices, const CrestPalette *palette)
{
    for (int n = 0; n < CREST_PIXELS; n++)
        indices[n] = crest_match(pixels[3 * n], pixels[3 * n + 1], pixels[3 * n + 2], palette);
}
