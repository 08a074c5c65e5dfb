// capscope-runin: an X11 oscilloscope for one line of the vertical blanking
// interval, one sample per pixel, with the run-in timing slicer's markers
// over the waveform, a frame-gap count, the caption ticker and the caption
// lines on standard error.  Any key or button press steps to the next line.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "caption.h"
#include "frame_gaps.h"
#include "runin_slicer.h"
#include "scope_window.h"
#include "ticker.h"
#include "vbi.h"

enum { SHOWN_SAMPLES = 1600, WINDOW_HEIGHT = 256, FLUSH_AFTER = 15 };

// 1600 by 256 at the top left, asked for at (0, 580) above the desktop's
// bottom edge; white and black contexts only.
static const ScopeWindowLayout runin_layout = {
    SHOWN_SAMPLES, WINDOW_HEIGHT,  // window and pixmap
    0, 0,                          // XCreateWindow position
    0, 580,                        // position hint
    256, 0,                        // minimum size
    SHOWN_SAMPLES, WINDOW_HEIGHT,  // maximum size
    false,                         // no marker or trace context
};

static uint8_t block[VBI_BLOCK_SIZE];
static ScopeWindow scope;
static XPoint trace_points[SHOWN_SAMPLES];
static ScopeTicker ticker;
static CaptionAssembler assembler;
static ScopeMarks marks;
static FrameGaps gaps;
static char text[4096];

static void draw_text(int x, int y, int len)
{
    XDrawString(scope.display, scope.pixmap, scope.text_gc, x, y, text, len);
}

int main(int argc, char **argv)
{
    int32_t line_offset = VBI_CAPTION_LINE * VBI_LINE_SIZE;
    bool end = false;
    int read_errno = 0;
    gaps.last_counter = 0;
    gaps.frame_gaps = 0;

    int fd = open("/dev/vbi", O_RDONLY);
    if (fd < 0) {
        perror("open /dev/vbi");
        exit(1);
    }
    scope_window_open(&scope, &runin_layout, argc, argv);
    ticker_init(&ticker);
    caption_assembler_init(&assembler, FLUSH_AFTER, ticker.text, sizeof ticker.text);
    for (int i = 0; i < SHOWN_SAMPLES; i++)
        trace_points[i].x = (short)i;
    Display *d = scope.display;

    while (!end) {
        // A short read ends the stream; its buffer is still shown and
        // sliced once more.
        if (!scope_window_wait_block(&scope, fd, block, &line_offset, &end, &read_errno))
            continue;
        int32_t counter = (int32_t)vbi_frame_counter(block);
        count_frame_gap(&gaps, counter);

        XFillRectangle(d, scope.pixmap, scope.fill_gc, 0, 0, SHOWN_SAMPLES, WINDOW_HEIGHT);
        int len = snprintf(text, sizeof text, "%d %d", gaps.frame_gaps, counter);
        const uint8_t *s = block + line_offset;
        for (int i = 0; i < SHOWN_SAMPLES; i++)
            trace_points[i].y = (short)(WINDOW_HEIGHT - s[i]);
        draw_text(20, 20, len);
        XDrawLines(d, scope.pixmap, scope.text_gc, trace_points, SHOWN_SAMPLES, CoordModeOrigin);

        marks_clear(&marks);
        CaptionWord word = RunInSlicer(s, &marks);
        scope_window_draw_marks(&scope, &marks);
        int added = add_word(&assembler, word);
        len = snprintf(text, sizeof text, "%d", assembler.error_count);
        draw_text(20, 245, len);
        ticker.backlog += (uint32_t)added;

        ticker_step(&ticker);
        len = snprintf(text, sizeof text, "%s", ticker.text);
        draw_text(90 + ticker.shift, 20, len);

        XClearWindow(d, scope.window);
        XFlush(d);
    }

    close(fd);
    scope_window_close(&scope);
    if (read_errno) {
        errno = read_errno;
        perror("read /dev/vbi");
        return 1;
    }
    return 0;
}
