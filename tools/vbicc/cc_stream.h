// From VBI blocks to the caption decoder: the two caption lines of every
// block sliced, the frame counter turned into frame numbers (gaps advance
// time, a repeated frame is decoded once, a counter that goes back starts a
// new segment one frame on), and what happened to the counter reported.
#pragma once
#include <cstdint>
#include <string>

#include "cc_decoder.h"

enum SlicerKind { SLICER_INTEGRATING, SLICER_AVERAGING, SLICER_LEVEL, SLICER_RUNIN, SLICER_COUNT };
const char *slicer_name(SlicerKind k);
// -1 for a name that is none of them.
int slicer_by_name(const std::string &name);

// A line sliced: found = the slicer read a pair (raw as read, parity bits
// included, also when a byte's parity fails, so that the decoder shows it
// and counts it).
struct SlicedPair {
    bool found;
    uint16_t raw;
};
SlicedPair slice_caption_line(SlicerKind k, const uint8_t *line);

enum StreamEventKind { EVENT_GAP, EVENT_REPEAT, EVENT_BACKWARD };
const char *stream_event_name(StreamEventKind k);

struct StreamEvent {
    StreamEventKind kind;
    uint64_t block;        // 0-based index of the block in the input
    int64_t frame;         // frame number of the block (after the change)
    uint32_t counter, previous;
    uint64_t missing;      // gap: the frames that never came
};

struct StreamSink : CcSink {
    virtual void event(const StreamEvent &) {}
};

struct CcStream {
    CcDecoder decoder;
    StreamSink *sink;
    SlicerKind slicer;
    uint64_t blocks;       // blocks read
    uint64_t frames;       // distinct frames decoded
    int64_t frame;         // frame number of the last block, -1 none yet
    uint32_t counter;      // its frame counter
};

void stream_init(CcStream *s, SlicerKind slicer, StreamSink *sink);
// One block of 65536 bytes as the device delivers it.
void stream_block(CcStream *s, const uint8_t *block);
// End of the input: what is on screen ends at the last frame read.
void stream_finish(CcStream *s);
