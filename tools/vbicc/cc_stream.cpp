#include "cc_stream.h"

#include <cstring>

#include "caption_programs.h"
#include "integrating_slicer.h"
#include "vbi.h"

static const char *const slicer_names[SLICER_COUNT] = {"integrating", "averaging", "level", "runin"};

const char *slicer_name(SlicerKind k)
{
    return slicer_names[k];
}

int slicer_by_name(const std::string &name)
{
    for (int k = 0; k < SLICER_COUNT; k++)
        if (name == slicer_names[k])
            return k;
    return -1;
}

SlicedPair slice_caption_line(SlicerKind k, const uint8_t *line)
{
    CaptionWord w = 0;
    switch (k) {
    case SLICER_INTEGRATING: {
        // Its refusals for parity still carry the bits as read; a line too
        // weak to trust counts as nothing read.
        IntegratingResult r;
        IntegratingSlicer(line, &r);
        if (r.cause == INTEGRATING_OK || r.cause == INTEGRATING_PARITY)
            return SlicedPair{true, r.raw};
        return SlicedPair{false, 0};
    }
    default: {
        // The caption programs' slicers, each with its own preprocessing,
        // on a copy when that changes the line.
        const CaptionProgram *p = caption_program(slicer_names[k]);
        uint8_t copy[VBI_LINE_SIZE];
        uint8_t *at = (uint8_t *)line;
        if (p->changes_line) {
            memcpy(copy, line, sizeof copy);
            at = copy;
        }
        w = p->slice(at);
        break;
    }
    }
    // The programs' slicers answer 0 for "nothing read" and for some parity
    // faults; no pair with good parity is 0.
    return SlicedPair{w != 0, w};
}

const char *stream_event_name(StreamEventKind k)
{
    switch (k) {
    case EVENT_GAP: return "gap";
    case EVENT_REPEAT: return "repeat";
    default: return "backward";
    }
}

void stream_init(CcStream *s, SlicerKind slicer, StreamSink *sink)
{
    cc_init(&s->decoder, sink);
    s->sink = sink;
    s->slicer = slicer;
    s->blocks = 0;
    s->frames = 0;
    s->frame = -1;
    s->counter = 0;
}

void stream_block(CcStream *s, const uint8_t *block)
{
    uint32_t counter = vbi_frame_counter(block);
    uint64_t index = s->blocks++;
    if (s->frame >= 0) {
        // Counters are compared modulo 2^32, so that a wrap is a step.
        int32_t step = (int32_t)(counter - s->counter);
        StreamEvent e = {EVENT_REPEAT, index, s->frame, counter, s->counter, 0};
        if (step == 0) {
            s->sink->event(e);
            return;
        }
        if (step < 0) {
            e.kind = EVENT_BACKWARD;
            s->frame += 1;
        } else {
            e.kind = EVENT_GAP;
            e.missing = (uint64_t)step - 1;
            s->frame += step;
        }
        e.frame = s->frame;
        if (step != 1) {
            s->sink->event(e);
            // The pair before the break is no first copy of what follows.
            cc_lost(&s->decoder, 1);
            cc_lost(&s->decoder, 2);
        }
    } else {
        s->frame = 0;
    }
    s->counter = counter;
    s->frames++;
    static const int lines[2] = {VBI_CAPTION_LINE, VBI_CAPTION_LINE_F2};
    for (int f = 0; f < 2; f++) {
        SlicedPair p = slice_caption_line(s->slicer, block + lines[f] * VBI_LINE_SIZE);
        if (p.found)
            cc_pair(&s->decoder, f + 1, s->frame, p.raw);
        else
            cc_lost(&s->decoder, f + 1);
    }
}

void stream_finish(CcStream *s)
{
    if (s->frame >= 0)
        cc_finish(&s->decoder, s->frame);
}
