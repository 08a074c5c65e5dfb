// The X window of the two caption scopes: a top-level window, an off-screen
// pixmap of the same size that is the window's background, and the graphics
// contexts the scopes draw with.  Every picture is drawn whole into the
// pixmap; clearing the window then makes the server repaint it from there,
// so the window never shows a half-drawn frame.  Beside the window lies what
// both scope loops do alike in X: taking the presses while waiting for a
// block, and showing a finished pass.
#pragma once
#include <X11/Xlib.h>

#include <cstddef>
#include <cstdint>

#include "marks.h"
#include "ticker.h"
#include "vbi_device.h"

struct ScopeWindow {
    Display *display;
    Window window;
    Pixmap pixmap;
    GC fill_gc;    // black on white: clears the pixmap
    GC text_gc;    // white on black: texts, smoothed waveform, bit markers
    GC marker_gc;  // light blue on black: peak and start markers (0 when not made)
    GC trace_gc;   // pink on black: raw waveform (0 when not made)
    unsigned long black, white;
    int width, height;  // of the window and the pixmap
};

// What differs between the scopes' windows.
struct ScopeWindowLayout {
    int width, height;          // window and pixmap
    int x, y;                   // position given to XCreateWindow
    int hint_x, hint_y;         // position asked of the window manager
    int min_width, min_height;  // size limits asked of the window manager
    int max_width, max_height;
    bool colour_gcs;            // also make marker_gc and trace_gc
};

// capscope: 800 by 256 at (100, 900), with the light-blue and pink contexts.
extern const ScopeWindowLayout scope_layout;

// Opens the display named by DISPLAY and builds the window, titled
// "capscope 11", its contexts and its black background pixmap.  argc/argv
// go to the window manager only.  Without DISPLAY, or when the display
// cannot be opened, writes the reason to standard error and exits with 1.
void scope_window_open(ScopeWindow *w, const ScopeWindowLayout *layout, int argc, char **argv);

// Sets the title "capscope %d" for the line index on display.
void scope_window_set_title(ScopeWindow *w, int line_index);

// Takes every queued X event; each one, whatever its type, moves the
// display on by one line (31 wraps to 0) and the title follows at once.
// Returns the new byte offset of the line on display.
int32_t scope_window_take_events(ScopeWindow *w, int32_t line_offset);

// One wait of a scope's loop: takes the presses Xlib already holds, then
// waits on the X connection and the VBI device (vbi_wait), takes every
// press that arrived (scope_window_take_events) and, when the device is
// ready, reads one block (vbi_read_block, which marks the end of the
// stream).  Returns false when nothing was read.
bool scope_window_wait_block(ScopeWindow *w, VbiDevice *device, uint8_t *block, int32_t *line_offset);

// Replays a slicer's recorded marks into the pixmap, in their order.  Marks
// for the marker context go to text_gc when there is no marker_gc.
void scope_window_draw_marks(ScopeWindow *w, const ScopeMarks *marks);

// Draws len characters of text into the pixmap, white on black.
void scope_window_draw_text(ScopeWindow *w, int x, int y, const char *text, int len);

// The end of a shown pass, alike in both scopes, once the waveform, the
// slicer's marks and the status line are in the pixmap and the ticker has
// taken its step (ticker_take): the assembler's error count drawn at the
// bottom left, the ticker drawn along the top, and the finished picture
// shown and sent.  text is the scope's scratch buffer.
void scope_window_show_pass(ScopeWindow *w, const ScopeTicker *ticker, int error_count, char *text,
                            size_t text_size);

// Frees the contexts (text, marker, trace, fill: those that were made), the
// pixmap and the window, and closes the display.
void scope_window_close(ScopeWindow *w);
