// capscope-runin: an X11 oscilloscope for one line of the vertical blanking
// interval, one sample per pixel, with the run-in timing slicer's markers
// over the waveform, a frame-gap count, the caption ticker and the caption
// lines on standard error.  Any key or button press steps to the next line.

#include <cstdio>

#include "caption.h"
#include "frame_gaps.h"
#include "runin_slicer.h"
#include "scope_window.h"
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

int main(int argc, char **argv)
{
    int32_t line_offset = VBI_CAPTION_LINE * VBI_LINE_SIZE;
    bool end = false;
    int read_errno = 0;
    gaps.last_counter = 0;
    gaps.frame_gaps = 0;

    int fd = scope_open_device("/dev/vbi");
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
        scope_window_draw_text(&scope, 20, 20, text, len);
        XDrawLines(d, scope.pixmap, scope.text_gc, trace_points, SHOWN_SAMPLES, CoordModeOrigin);

        marks_clear(&marks);
        CaptionWord word = RunInSlicer(s, &marks);
        scope_window_draw_marks(&scope, &marks);
        int added = add_word(&assembler, word);
        scope_window_show_pass(&scope, &ticker, assembler.error_count, added, text, sizeof text);
    }
    return scope_window_finish(&scope, fd, "/dev/vbi", read_errno);
}
