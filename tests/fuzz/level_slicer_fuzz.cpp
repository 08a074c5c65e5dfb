// Fuzzes capscope's level slicer on arbitrary lines.  It may read s[0] to
// s[1639] and nothing else, must leave the line alone, returns 0 or a pair
// that passes the parity rule, and draws at most its 19 markers, all on
// the 800-pixel scale.
#include "fuzz_line.h"
#include "level_slicer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const size_t reach = SLICER_LAST_SAMPLE + 1;
    uint8_t *line = fuzz_line(data, size, reach);
    static uint8_t before[SLICER_LAST_SAMPLE + 1];
    memcpy(before, line, reach);
    static ScopeMarks marks;
    marks_clear(&marks);
    CaptionWord w = LevelSlicer(line, &marks);
    if (w != 0 && !caption_parity_ok(w))
        __builtin_trap();
    if (!fuzz_marks_sane(marks, 19, SLICER_LAST_SAMPLE / 2) || memcmp(before, line, reach) != 0)
        __builtin_trap();
    free(line);
    return 0;
}
