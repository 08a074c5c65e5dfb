// What a slicer draws over the scope's waveform, recorded in drawing order
// instead of being sent to the X server, so that the slicing stays free of
// Xlib: the scope replays the marks into its pixmap.
#pragma once

enum { SCOPE_MAX_MARKS = 48 };

enum ScopeMarkKind { MARK_LINE, MARK_NUMBER };
enum ScopeMarkGc { MARK_TEXT_GC, MARK_MARKER_GC };

struct ScopeMark {
    unsigned char kind;  // ScopeMarkKind
    unsigned char gc;    // ScopeMarkGc: white text context or light-blue marker context
    short x1, y1;        // line from (x1, y1) to (x2, y2); a number's baseline start
    short x2, y2;
    int value;           // the number drawn with "%d"
};

struct ScopeMarks {
    ScopeMark mark[SCOPE_MAX_MARKS];
    int count;
};

inline void marks_clear(ScopeMarks *m)
{
    m->count = 0;
}

inline void marks_line(ScopeMarks *m, int gc, int x1, int y1, int x2, int y2)
{
    if (m && m->count < SCOPE_MAX_MARKS)
        m->mark[m->count++] = {MARK_LINE, (unsigned char)gc, (short)x1, (short)y1, (short)x2, (short)y2, 0};
}

inline void marks_number(ScopeMarks *m, int gc, int x, int y, int value)
{
    if (m && m->count < SCOPE_MAX_MARKS)
        m->mark[m->count++] = {MARK_NUMBER, (unsigned char)gc, (short)x, (short)y, (short)x, (short)y, value};
}
