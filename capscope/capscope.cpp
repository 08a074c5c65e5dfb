// capscope: an oscilloscope for one line of the vertical blanking interval
// that also decodes the line-21 captions it carries.  Every even frame
// shows the raw line in pink, the smoothed line in white, where the slicer
// looked, the error count, the frame counter and a caption ticker; caption
// lines go to standard error.  A key or button press steps to the next line.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "caption.h"
#include "level_slicer.h"
#include "marks.h"
#include "scope_window.h"
#include "ticker.h"
#include "vbi.h"

static uint8_t block[VBI_BLOCK_SIZE];
static XPoint trace_points[SCOPE_SHOWN_SAMPLES];
static char text[4096];
static ScopeTicker ticker;
static ScopeMarks marks;
static CaptionAssembler assembler;
static ScopeWindow scope;

static void draw_trace(const uint8_t *line, GC gc)
{
    for (int i = 0; i < SCOPE_SHOWN_SAMPLES; i++)
        trace_points[i].y = (short)(256 - line[i]);
    XDrawLines(scope.display, scope.pixmap, gc, trace_points, SCOPE_SHOWN_SAMPLES, CoordModeOrigin);
}

static void draw_text(int x, int y, int len)
{
    XDrawString(scope.display, scope.pixmap, scope.text_gc, x, y, text, len);
}

int main(int argc, char **argv)
{
    int32_t line_offset = VBI_CAPTION_LINE * VBI_LINE_SIZE;
    bool end = false;
    int read_errno = 0;

    int fd = open("/dev/vbi0", O_RDONLY);
    if (fd < 0) {
        perror("open /dev/vbi0");
        exit(1);
    }
    scope_window_open(&scope, &scope_layout, argc, argv);
    ticker_init(&ticker);
    caption_assembler_init(&assembler, 5, ticker.text, sizeof ticker.text);
    for (int i = 0; i < SCOPE_SHOWN_SAMPLES; i++)
        trace_points[i].x = (short)(i / 2);

    while (!end) {
        if (!scope_window_wait_block(&scope, fd, block, &line_offset, &end, &read_errno))
            continue;
        // Only even frames are shown: the scope keeps pace with every
        // second frame of a 29.97 Hz stream.
        uint32_t counter = vbi_frame_counter(block);
        if (counter & 1)
            continue;

        uint8_t *line = block + line_offset;
        XFillRectangle(scope.display, scope.pixmap, scope.fill_gc, 0, 0, (unsigned)scope.width,
                       (unsigned)scope.height);
        draw_trace(line, scope.trace_gc);
        smooth_line(line);

        marks_clear(&marks);
        CaptionWord word = LevelSlicer(line, &marks);
        scope_window_draw_marks(&scope, &marks);
        int added = add_word(&assembler, word);
        draw_text(20, 245, snprintf(text, sizeof text, "%d", assembler.error_count));
        ticker.backlog += (uint32_t)added;

        draw_text(20, 20, snprintf(text, sizeof text, "%d %d", 0, (int32_t)counter));
        draw_trace(line, scope.text_gc);

        ticker_step(&ticker);
        draw_text(90 + ticker.shift, 20, snprintf(text, sizeof text, "%s", ticker.text));

        XClearWindow(scope.display, scope.window);
        // Sent at once, so every frame reaches the screen as it is drawn.
        XFlush(scope.display);
    }

    close(fd);
    scope_window_close(&scope);
    if (read_errno) {
        errno = read_errno;
        perror("read /dev/vbi0");
        return 1;
    }
    return 0;
}
