#include "scope_window.h"

#include <X11/Xutil.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "vbi.h"

// Two samples a pixel across the shown part of the line.
const ScopeWindowLayout scope_layout = {
    SCOPE_SHOWN_SAMPLES / 2, 256,  // window and pixmap
    100, 900,                      // XCreateWindow position
    100, 900,                      // position hint
    256, 0,                        // minimum size
    SCOPE_SHOWN_SAMPLES / 2, 256,  // maximum size
    true,                          // marker and trace contexts
};

// A context drawing in one colour on black.  The colour record's pixel is
// set to white first, so a colour the server refuses (a full colour map)
// draws in white instead of an undefined or a previously allocated pixel.
static GC colour_gc(ScopeWindow *w, Colormap map, unsigned short r, unsigned short g, unsigned short b)
{
    XColor colour;
    memset(&colour, 0, sizeof colour);
    colour.pixel = w->white;
    colour.red = r;
    colour.green = g;
    colour.blue = b;
    colour.flags = DoRed | DoGreen | DoBlue;
    XAllocColor(w->display, map, &colour);
    XGCValues v;
    v.foreground = colour.pixel;
    v.background = w->black;
    return XCreateGC(w->display, w->window, GCForeground | GCBackground, &v);
}

static GC plain_gc(ScopeWindow *w, unsigned long fg, unsigned long bg)
{
    XGCValues v;
    v.foreground = fg;
    v.background = bg;
    return XCreateGC(w->display, w->window, GCForeground | GCBackground, &v);
}

void scope_window_open(ScopeWindow *w, const ScopeWindowLayout *layout, int argc, char **argv)
{
    memset(w, 0, sizeof *w);
    w->width = layout->width;
    w->height = layout->height;

    const char *name = getenv("DISPLAY");
    if (!name) {
        fputs("DISPLAY not set.\n", stderr);
        exit(1);
    }
    w->display = XOpenDisplay(name);
    if (!w->display) {
        fputs("Unable to open display.\n", stderr);
        exit(1);
    }
    Display *d = w->display;
    int screen = DefaultScreen(d);
    w->black = BlackPixel(d, screen);
    w->white = WhitePixel(d, screen);

    XSetWindowAttributes attr;
    memset(&attr, 0, sizeof attr);
    attr.background_pixel = w->black;
    attr.event_mask = KeyPressMask | ButtonPressMask;
    w->window = XCreateWindow(d, RootWindow(d, screen), layout->x, layout->y, (unsigned)layout->width,
                              (unsigned)layout->height, 0, CopyFromParent, InputOutput, CopyFromParent,
                              CWBackPixel | CWEventMask, &attr);

    XSizeHints hints;
    memset(&hints, 0, sizeof hints);
    hints.flags = PPosition | PSize | PMinSize | PMaxSize;
    hints.x = layout->hint_x;
    hints.y = layout->hint_y;
    hints.width = layout->width;
    hints.height = layout->height;
    hints.min_width = layout->min_width;
    hints.min_height = layout->min_height;
    hints.max_width = layout->max_width;
    hints.max_height = layout->max_height;
    char title[32];
    snprintf(title, sizeof title, "capscope %d", (int)VBI_CAPTION_LINE);
    XSetStandardProperties(d, w->window, title, title, None, argv, argc, &hints);

    w->fill_gc = plain_gc(w, w->black, w->white);
    w->text_gc = plain_gc(w, w->white, w->black);
    if (layout->colour_gcs) {
        Colormap map = DefaultColormap(d, screen);
        w->marker_gc = colour_gc(w, map, 0x7FFF, 0xC000, 0xFFFF);
        w->trace_gc = colour_gc(w, map, 0xFFFF, 0x7FFF, 0xC000);
    }
    XMapRaised(d, w->window);

    w->pixmap = XCreatePixmap(d, w->window, (unsigned)layout->width, (unsigned)layout->height,
                              (unsigned)DefaultDepth(d, screen));
    XFillRectangle(d, w->pixmap, w->fill_gc, 0, 0, (unsigned)layout->width, (unsigned)layout->height);
    XSetWindowBackgroundPixmap(d, w->window, w->pixmap);
    // Sent now: the scopes flush only when they show a frame, and until the
    // server has the window mapped no key or button press can reach it.
    XFlush(d);
}

void scope_window_set_title(ScopeWindow *w, int line_index)
{
    char title[32];
    snprintf(title, sizeof title, "capscope %d", line_index);
    XStoreName(w->display, w->window, title);
}

int32_t scope_window_take_events(ScopeWindow *w, int32_t line_offset)
{
    while (XPending(w->display)) {
        XEvent event;
        XNextEvent(w->display, &event);
        line_offset = line_offset_step(line_offset);
        scope_window_set_title(w, line_offset / VBI_LINE_SIZE);
    }
    return line_offset;
}

bool scope_window_wait_block(ScopeWindow *w, VbiDevice *device, uint8_t *block, int32_t *line_offset)
{
    // Xlib reads whatever the server has sent whenever it talks to it (the
    // flush that ends every shown frame, for one), and an event read that
    // way no longer makes the connection readable.  Those presses are taken
    // first, or they would wait for the next one while the device always
    // has a block ready.  XPending looks at what Xlib and the XCB connection
    // under it already hold before it tries the socket, and never blocks.
    *line_offset = scope_window_take_events(w, *line_offset);

    // The queue is empty now, so the wait blocks only until the server or
    // the device has something.
    bool x_ready;
    bool block_ready = vbi_wait(device, ConnectionNumber(w->display), &x_ready);

    // Every press moves on one line before the block of this pass is read,
    // so a burst of presses is applied in full and shows at once.  A hang-up
    // or an error counts as ready: Xlib meets the fault and ends the program.
    if (x_ready)
        *line_offset = scope_window_take_events(w, *line_offset);
    if (!block_ready)
        return false;
    vbi_read_block(device, block);
    return true;
}

void scope_window_draw_marks(ScopeWindow *w, const ScopeMarks *marks)
{
    for (int i = 0; i < marks->count; i++) {
        const ScopeMark *m = &marks->mark[i];
        GC gc = m->gc == MARK_MARKER_GC && w->marker_gc ? w->marker_gc : w->text_gc;
        if (m->kind == MARK_LINE) {
            XDrawLine(w->display, w->pixmap, gc, m->x1, m->y1, m->x2, m->y2);
        } else {
            char text[16];
            int len = snprintf(text, sizeof text, "%d", m->value);
            XDrawString(w->display, w->pixmap, gc, m->x1, m->y1, text, len);
        }
    }
}

void scope_window_draw_text(ScopeWindow *w, int x, int y, const char *text, int len)
{
    XDrawString(w->display, w->pixmap, w->text_gc, x, y, text, len);
}

void scope_window_show_pass(ScopeWindow *w, const ScopeTicker *ticker, int error_count, char *text,
                            size_t text_size)
{
    scope_window_draw_text(w, 20, 245, text, snprintf(text, text_size, "%d", error_count));
    scope_window_draw_text(w, 90 + ticker->shift, 20, text, snprintf(text, text_size, "%s", ticker->text));

    XClearWindow(w->display, w->window);
    // Sent at once, so every frame reaches the screen as it is drawn.
    XFlush(w->display);
}

void scope_window_close(ScopeWindow *w)
{
    Display *d = w->display;
    XFreeGC(d, w->text_gc);
    if (w->marker_gc)
        XFreeGC(d, w->marker_gc);
    if (w->trace_gc)
        XFreeGC(d, w->trace_gc);
    XFreeGC(d, w->fill_gc);
    XFreePixmap(d, w->pixmap);
    XDestroyWindow(d, w->window);
    XCloseDisplay(d);
    memset(w, 0, sizeof *w);
}
