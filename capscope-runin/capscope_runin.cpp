// capscope-runin: an X11 oscilloscope for one line of the vertical blanking
// interval, one sample per pixel, with the run-in timing slicer's markers
// over the waveform, a frame-gap count, the caption ticker and the caption
// lines on standard error.  Any key or button press steps to the next line.

#include <cstdio>

#include "caption.h"
#include "frame_gaps.h"
#include "runin_rules.h"
#include "runin_slicer.h"
#include "scope_window.h"
#include "vbi.h"
#include "vbi_device.h"

enum { SHOWN_SAMPLES = SCOPE_SHOWN_SAMPLES, WINDOW_HEIGHT = 256 };

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
static VbiDevice device;
static XPoint trace_points[SHOWN_SAMPLES];
static ScopeTicker ticker;
static CaptionAssembler assembler;
static ScopeMarks marks;
static FrameGaps gaps;
static char text[4096];

int main(int argc, char **argv)
{
    int32_t line_offset = VBI_CAPTION_LINE * VBI_LINE_SIZE;
    gaps.last_counter = 0;
    gaps.frame_gaps = 0;

    // The device first, so that its message comes first when both it and
    // the display are missing.
    vbi_open(&device, "/dev/vbi");
    scope_window_open(&scope, &runin_layout, argc, argv);
    ticker_init(&ticker);
    caption_assembler_init(&assembler, RUNIN_FLUSH_AFTER, ticker.text, sizeof ticker.text);
    for (int i = 0; i < SHOWN_SAMPLES; i++)
        trace_points[i].x = (short)i;
    Display *d = scope.display;

    while (!device.end) {
        // A short read ends the stream; its buffer is still shown and
        // sliced once more.
        if (!scope_window_wait_block(&scope, &device, block, &line_offset))
            continue;
        int32_t counter = (int32_t)vbi_frame_counter(block);
        if (!runin_takes_block(&gaps, (uint32_t)counter))
            continue;

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
        ticker_take(&ticker, add_word(&assembler, word));
        scope_window_show_pass(&scope, &ticker, assembler.error_count, text, sizeof text);
    }
    scope_window_close(&scope);
    return vbi_close(&device);
}
