#include "fb_colormap.h"

#include "crest.h"

void fb_colormap_build(uint16_t red[FB_CMAP_SIZE], uint16_t green[FB_CMAP_SIZE],
                       uint16_t blue[FB_CMAP_SIZE])
{
    for (int i = 0; i < FB_CMAP_SIZE; i++) {
        if (i >= CREST_CUBE_FIRST && i <= CREST_CUBE_LAST) {
            CrestCubeLevels levels = crest_cube_levels(i);
            red[i] = (uint16_t)(FB_CUBE_RED_BLUE_STEP * levels.red);
            green[i] = (uint16_t)(FB_CUBE_GREEN_STEP * levels.green);
            blue[i] = (uint16_t)(FB_CUBE_RED_BLUE_STEP * levels.blue);
        } else {
            // Pixel values above the palette repeat console colours 1..15.
            int k = i < CREST_CUBE_FIRST ? i : i - CREST_CUBE_LAST;
            red[i] = (uint16_t)(FB_CONSOLE_SCALE * ConsoleColors.red[k]);
            green[i] = (uint16_t)(FB_CONSOLE_SCALE * ConsoleColors.green[k]);
            blue[i] = (uint16_t)(FB_CONSOLE_SCALE * ConsoleColors.blue[k]);
        }
    }
}
