// The X window of the two caption scopes: a top-level window, an off-screen
// pixmap of the same size that is the window's background, and the graphics
// contexts the scopes draw with.  Every picture is drawn whole into the
// pixmap; clearing the window then makes the server repaint it from there,
// so the window never shows a half-drawn frame.  Beside the window lies what
// both scope loops do alike: opening the device, waiting for a block or a
// press, ending a shown pass and ending the run.
#pragma once
#include <X11/Xlib.h>

#include <cstddef>
#include <cstdint>

#include "marks.h"
#include "ticker.h"

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

// Opens the scope's VBI device read-only, before anything of X, so that its
// message comes first when both are missing.  When it cannot be opened,
// reports "open PATH: reason" and exits with 1.
int scope_open_device(const char *path);

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
// blocks in poll on the X connection and the VBI device, takes every press
// that arrived (scope_window_take_events) and, when the device is ready,
// reads one block.  Returns false when nothing was read.  A read shorter
// than a block is the end of the stream (*end set; the buffer as it stands
// is still shown); a failed read also keeps its errno in *read_errno, to be
// reported once the pass is over.
bool scope_window_wait_block(ScopeWindow *w, int vbi_fd, uint8_t *block, int32_t *line_offset,
                             bool *end, int *read_errno);

// Replays a slicer's recorded marks into the pixmap, in their order.  Marks
// for the marker context go to text_gc when there is no marker_gc.
void scope_window_draw_marks(ScopeWindow *w, const ScopeMarks *marks);

// Draws len characters of text into the pixmap, white on black.
void scope_window_draw_text(ScopeWindow *w, int x, int y, const char *text, int len);

// The end of a shown pass, alike in both scopes, once the waveform, the
// slicer's marks and the status line are in the pixmap: the assembler's
// error count drawn at the bottom left, the ticker raised by the added
// characters add_word appended, slid one step and drawn along the top, and
// the finished picture shown and sent.  text is the scope's scratch buffer.
void scope_window_show_pass(ScopeWindow *w, ScopeTicker *ticker, int error_count, int added, char *text,
                            size_t text_size);

// The end of the run: closes the device and the window; a read that failed
// (read_errno not 0) is reported as "read DEVICE: reason".  Returns the exit
// status, 1 after a failed read, else 0.
int scope_window_finish(ScopeWindow *w, int vbi_fd, const char *device, int read_errno);

// Frees the contexts (text, marker, trace, fill: those that were made), the
// pixmap and the window, and closes the display.
void scope_window_close(ScopeWindow *w);
