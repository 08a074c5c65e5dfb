#include "fb_colormap.h"

#include "crest.h"

void fb_colormap_build(uint16_t red[FB_CMAP_SIZE], uint16_t green[FB_CMAP_SIZE],
                       uint16_t blue[FB_CMAP_SIZE])
{
    for (int i = 0; i < FB_CMAP_SIZE; i++) {
        if (i >= FB_CUBE_FIRST && i <= FB_CUBE_LAST) {
            // c = 25 g + 5 r + b: blue varies fastest, green slowest.
            int c = i - FB_CUBE_FIRST;
            red[i] = (uint16_t)(FB_CUBE_RED_BLUE_STEP * (c / 5 % 5));
            green[i] = (uint16_t)(FB_CUBE_GREEN_STEP * (c / 25));
            blue[i] = (uint16_t)(FB_CUBE_RED_BLUE_STEP * (c % 5));
        } else {
            // Pixel values above the palette repeat console colours 1..15.
            int k = i < FB_CUBE_FIRST ? i : i - FB_CUBE_LAST;
            red[i] = (uint16_t)(FB_CONSOLE_SCALE * ConsoleColors.red[k]);
            green[i] = (uint16_t)(FB_CONSOLE_SCALE * ConsoleColors.green[k]);
            blue[i] = (uint16_t)(FB_CONSOLE_SCALE * ConsoleColors.blue[k]);
        }
    }
}
