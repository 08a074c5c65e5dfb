// Shared by the slicer fuzz targets: a line of samples in a heap buffer
// that ends right after the furthest sample the code under test may read,
// so that AddressSanitizer stops any read past it.  The input is the start
// of a 2048-sample line; a shorter input is padded with its last byte, the
// level the line holds after the input ends.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "marks.h"

inline uint8_t *fuzz_line(const uint8_t *data, size_t size, size_t reach)
{
    uint8_t *line = (uint8_t *)malloc(reach);
    memset(line, size ? data[size - 1] : 0, reach);
    memcpy(line, data, size < reach ? size : reach);
    return line;
}

// Every mark a slicer records lies on the picture's scale: x within the
// samples it may read, y within the 256-pixel high window.
inline bool fuzz_marks_sane(const ScopeMarks &m, int max_marks, int max_x)
{
    if (m.count < 0 || m.count > max_marks)
        return false;
    for (int i = 0; i < m.count; i++) {
        const ScopeMark &k = m.mark[i];
        if (k.x1 < 0 || k.x1 > max_x || k.x2 < 0 || k.x2 > max_x)
            return false;
        if (k.kind == MARK_LINE && (k.y1 < 0 || k.y1 > 256 || k.y2 < 0 || k.y2 > 256))
            return false;
    }
    return true;
}
