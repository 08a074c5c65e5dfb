#include "frame_gaps.h"

void count_frame_gap(FrameGaps *g, int32_t counter)
{
    uint32_t jump = (uint32_t)counter - (uint32_t)g->last_counter;
    if (g->last_counter != 0 && jump != 1)
        g->frame_gaps = (int32_t)((uint32_t)g->frame_gaps + jump);
    g->last_counter = counter;
}
