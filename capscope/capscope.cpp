// capscope: an oscilloscope for one line of the vertical blanking interval
// that also decodes the line-21 captions it carries.  Every even frame
// shows the raw line in pink, the smoothed line in white, where the slicer
// looked, the error count, the frame counter and a caption ticker; caption
// lines go to standard error.  A key or button press steps to the next line.

#include <cstdio>

#include "caption.h"
#include "capscope_rules.h"
#include "marks.h"
#include "scope_window.h"
#include "vbi.h"
#include "vbi_device.h"

static uint8_t block[VBI_BLOCK_SIZE];
static XPoint trace_points[SCOPE_SHOWN_SAMPLES];
static char text[4096];
static ScopeTicker ticker;
static ScopeMarks marks;
static CaptionAssembler assembler;
static ScopeWindow scope;
static VbiDevice device;

static void draw_trace(const uint8_t *line, GC gc)
{
    for (int i = 0; i < SCOPE_SHOWN_SAMPLES; i++)
        trace_points[i].y = (short)(256 - line[i]);
    XDrawLines(scope.display, scope.pixmap, gc, trace_points, SCOPE_SHOWN_SAMPLES, CoordModeOrigin);
}

int main(int argc, char **argv)
{
    int32_t line_offset = VBI_CAPTION_LINE * VBI_LINE_SIZE;

    // The device first, so that its message comes first when both it and
    // the display are missing.
    vbi_open(&device, "/dev/vbi0");
    scope_window_open(&scope, &scope_layout, argc, argv);
    ticker_init(&ticker);
    caption_assembler_init(&assembler, CAPSCOPE_FLUSH_AFTER, ticker.text, sizeof ticker.text);
    for (int i = 0; i < SCOPE_SHOWN_SAMPLES; i++)
        trace_points[i].x = (short)(i / 2);

    while (!device.end) {
        if (!scope_window_wait_block(&scope, &device, block, &line_offset))
            continue;
        uint32_t counter = vbi_frame_counter(block);
        if (!capscope_takes_block(counter))
            continue;

        uint8_t *line = block + line_offset;
        XFillRectangle(scope.display, scope.pixmap, scope.fill_gc, 0, 0, (unsigned)scope.width,
                       (unsigned)scope.height);
        draw_trace(line, scope.trace_gc);

        // The line is smoothed in place as it is sliced; the smoothed line
        // is drawn over the raw one below.
        marks_clear(&marks);
        CaptionWord word = capscope_slice(line, &marks);
        scope_window_draw_marks(&scope, &marks);
        ticker_take(&ticker, add_word(&assembler, word));

        // The status line, the smoothed line and the error count are all
        // white on black, so the order in which they go in makes no
        // difference to the picture.
        int len = snprintf(text, sizeof text, "%d %d", 0, (int32_t)counter);
        scope_window_draw_text(&scope, 20, 20, text, len);
        draw_trace(line, scope.text_gc);
        scope_window_show_pass(&scope, &ticker, assembler.error_count, text, sizeof text);
    }
    scope_window_close(&scope);
    return vbi_close(&device);
}
