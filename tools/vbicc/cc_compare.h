// A decoded capture against a reference: an SCC file (decoded with the
// same decoder) or an SRT file (its cues as written).  Cues are matched in
// order, each to one within reach of its time; for an SCC reference the
// pairs of its field are checked frame by frame as well.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "cc_decoder.h"
#include "cc_stream.h"

// A cue reduced to what the comparison looks at: its start and end in
// frames and its rows, trimmed, joined by newlines.
struct CueText {
    int64_t start, end;
    std::string text;
};

struct PairAt {
    int64_t frame;
    uint16_t raw;     // parity bits included
    bool ok;          // parity good in both bytes
};

// A cue of an SRT file: times in milliseconds, rows as written (tags kept).
struct SrtCue {
    int line;                      // where its number stands
    int64_t start_ms, end_ms;
    std::vector<std::string> rows;
};

// Reads SRT text.  On a malformed cue returns false with *bad_line (1-based)
// and *why set.
bool read_srt(const std::string &text, std::vector<SrtCue> *cues, int *bad_line, std::string *why);
// The rows of an SRT cue without their tags, trimmed, joined by newlines.
std::string srt_plain_text(const SrtCue &c);
// The frame of a time in milliseconds on field 1 or 2 (the nearest).
int64_t ms_to_frame(int64_t ms, int field);

CueText caption_cue(const CcCaption &c);

// Characters (code points) to insert, delete or change to turn ref into
// got, over the characters of ref: 0 same, 1 all wrong.
double char_error_rate(const std::string &ref, const std::string &got);

struct CompareOptions {
    std::string ref_name, capture_name, service;
    bool ref_is_scc;
    int tolerance;     // frames
};

struct CompareResult {
    std::string report;
    bool same;         // every reference cue matched, same text, in time
};

CompareResult compare_captions(const std::vector<CueText> &ref, const std::vector<CueText> &got,
                               const std::vector<PairAt> &ref_pairs, const std::vector<PairAt> &got_pairs,
                               const CompareOptions &opt);

// The captions of service in pairs of an SCC file (one field), decoded as
// the capture is; null pairs between its lines are frames that carried
// nothing.
std::vector<CueText> decode_pairs(const std::vector<PairAt> &pairs, int service);

// Collects what the comparison needs while a capture is decoded: the
// service's captions and the non-null pairs of its field.
struct CompareSink : StreamSink {
    int service;
    std::vector<CueText> cues;
    std::vector<PairAt> pairs;
    explicit CompareSink(int svc) : service(svc) {}
    void caption(const CcCaption &c) override;
    void pair(int field, int64_t frame, uint16_t raw, bool ok) override;
};
