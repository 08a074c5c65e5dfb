// The text console's 16 colours, which the frame-buffer colour map keeps at
// pixel values 0 to 15 (and again at 241 to 255) so that console text drawn
// over a logo keeps its usual colours.
#pragma once

enum { CONSOLE_COLOR_COUNT = 16 };

// 8-bit intensities.  Entry 3 is the console's brown (170, 85, 0), not dark
// yellow.
struct ConsoleColorTable {
    int red[CONSOLE_COLOR_COUNT];
    int green[CONSOLE_COLOR_COUNT];
    int blue[CONSOLE_COLOR_COUNT];
};
extern const ConsoleColorTable ConsoleColors;
