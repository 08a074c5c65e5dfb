// Fuzzes capscope-runin's timing slicer on arbitrary lines.  It may read
// s[0] to s[1686] and nothing else, and records at most 42 marks (7 crests,
// 6 troughs with their levels, 6 spacings, the start bit and 16 bits), so
// none is ever dropped from the fixed array.
#include "fuzz_line.h"
#include "runin_slicer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const size_t reach = RUNIN_LAST_SAMPLE + 1;
    uint8_t *line = fuzz_line(data, size, reach);
    static ScopeMarks marks;
    marks_clear(&marks);
    CaptionWord w = RunInSlicer(line, &marks);
    (void)w;  // every 16-bit value is a possible pair: no parity test here
    if (!fuzz_marks_sane(marks, 42, RUNIN_LAST_SAMPLE))
        __builtin_trap();
    free(line);
    return 0;
}
