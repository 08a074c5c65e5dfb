// The decoder's captions, text rows, packets and events as the formats
// write them: plain text, SRT, WebVTT, SCC and JSON Lines.  The pieces that
// decide what a line holds are pure functions; the writers only put them on
// a stream, flushed caption by caption so that a live capture reads live.
#pragma once
#include <cstdio>
#include <memory>
#include <string>

#include "cc_decoder.h"
#include "cc_stream.h"

enum OutFormat { FMT_TEXT, FMT_SRT, FMT_VTT, FMT_SCC, FMT_JSON, FMT_COUNT };
const char *format_name(OutFormat f);
int format_by_name(const std::string &name);

// Seconds of a frame of field 1 or 2 from frame 0 at 30000/1001 frames a
// second; field 2 lies half a frame later.
double frame_seconds(int64_t frame, int field);
// Whole milliseconds, rounded.
int64_t frame_ms(int64_t frame, int field);
// HH:MM:SS.mmm, or with sep ',' the SRT form.
std::string clock_time(int64_t ms, char sep = '.');
// The SMPTE drop-frame time code HH:MM:SS;FF of a frame number.
std::string drop_frame_code(int64_t frame);

// The row's characters with leading and trailing spaces left out.
std::string trimmed_text(const CcCaptionRow &r);
// The row with <i>, <u> (and, for WebVTT, <c.COLOUR> and escapes) around
// its styled runs, spaces at both ends left out.
std::string styled_text(const CcCaptionRow &r, bool vtt);

// The name (program_name, network, call_letters, time_of_day) and value
// of a packet of a type this decoder reads, with a good checksum; "" and
// *name untouched otherwise.
std::string xds_value(const CcXdsPacket &p, std::string *name);

// "HH:MM:SS.mmm  ROW | ROW" (no newline); empty when no row holds text.
std::string text_line(const CcCaption &c);
// One cue with its blank line after it; empty when no row holds text.
std::string srt_cue(int index, const CcCaption &c);
std::string vtt_cue(const CcCaption &c);

struct Writer : StreamSink {
    virtual void finish(const CcStream &) {}
    // The first write error (errno), or 0.
    int error = 0;
};

// A writer of format for service (-1: every service, JSON only) on out.
// stream is read for the block a parity event lies in and the summary.
std::unique_ptr<Writer> make_writer(OutFormat format, int service, FILE *out, const CcStream *stream);
