#include "crest.h"

const ConsoleColorTable ConsoleColors = {
    {0, 170, 0, 170, 0, 170, 0, 170, 85, 255, 85, 255, 85, 255, 85, 255},
    {0, 0, 170, 85, 0, 0, 170, 170, 85, 85, 255, 255, 85, 85, 255, 255},
    {0, 0, 0, 0, 170, 170, 170, 170, 85, 85, 85, 85, 255, 255, 255, 255},
};

CrestCubeLevels crest_cube_levels(int i)
{
    int c = i - CREST_CUBE_FIRST;
    CrestCubeLevels levels = {(c / 5) % 5, c / 25, c % 5};
    return levels;
}

void crest_palette_build(CrestPalette *palette)
{
    for (int i = 0; i < CREST_PALETTE_SIZE; i++) {
        if (i < CREST_CUBE_FIRST) {
            palette->red[i] = ConsoleColors.red[i];
            palette->green[i] = ConsoleColors.green[i];
            palette->blue[i] = ConsoleColors.blue[i];
            continue;
        }
        // The steps (63 and 31) never reach 255, so only the console
        // colours are full white.
        CrestCubeLevels levels = crest_cube_levels(i);
        palette->red[i] = 63 * levels.red;
        palette->green[i] = 31 * levels.green;
        palette->blue[i] = 63 * levels.blue;
    }
}
