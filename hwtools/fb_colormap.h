// The frame buffer's 256-entry colour map with 16-bit components, laid out
// like the logo palette: console colours at 0..15, the 9 (green) by 5 (red)
// by 5 (blue) colour cube at 16..240, console colours 1..15 again at
// 241..255, so that every 8-bit pixel value has a defined colour.
#pragma once
#include <cstdint>

enum {
    FB_CMAP_SIZE = 256,
    // 8-bit console intensities are scaled by 255 (white is 65025), and the
    // cube's levels by 16383 (red, blue: 5 levels) and 8191 (green: 9
    // levels), so no component reaches 65535.
    FB_CONSOLE_SCALE = 255,
    FB_CUBE_RED_BLUE_STEP = 16383,
    FB_CUBE_GREEN_STEP = 8191,
};

// Fills all 256 entries of the three tables.
void fb_colormap_build(uint16_t red[FB_CMAP_SIZE], uint16_t green[FB_CMAP_SIZE],
                       uint16_t blue[FB_CMAP_SIZE]);
