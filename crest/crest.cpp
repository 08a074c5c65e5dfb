#include "crest.h"

const ConsoleColorTable ConsoleColors = {
    {0, 170, 0, 170, 0, 170, 0, 170, 85, 255, 85, 255, 85, 255, 85, 255},
    {0, 0, 170, 85, 0, 0, 170, 170, 85, 85, 255, 255, 85, 85, 255, 255},
    {0, 0, 0, 0, 170, 170, 170, 170, 85, 85, 85, 85, 255, 255, 255, 255},
};

void crest_palette_build(CrestPalette *palette)
{
    for (int i = 0; i < CREST_PALETTE_SIZE; i++) {
        if (i < CREST_CUBE_FIRST) {
            palette->red[i] = ConsoleColors.red[i];
            palette->green[i] = ConsoleColors.green[i];
            palette->blue[i] = ConsoleColors.blue[i];
            continue;
        }
        // Blue varies fastest, then red, green slowest.  The steps (63 and
        // 31) never reach 255, so only the console colours are full white.
        int c = i - CREST_CUBE_FIRST;
        palette->red[i] = 63 * ((c / 5) % 5);
        palette->green[i] = 31 * (c / 25);
        palette->blue[i] = 63 * (c % 5);
    }
}
