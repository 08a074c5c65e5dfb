// Whole caption streams for the generator: what a caption house sends on
// both fields of line 21, frame by frame.  Three sources feed it: SCC files
// (one a field, the pairs exactly as written), caption text turned into a
// pop-on, roll-up, paint-on or text service, and Extended Data Services
// packets on field 2.  Pure functions; the blocks are rendered by
// gen_stream_fields.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "gen_stream_args.h"
#include "line21.h"
#include "vbigen_core.h"

enum {
    GEN_SCC_MARGIN = 30,    // null frames before the first and after the last SCC pair
    GEN_XDS_PERIOD = 60,    // frames from one round of XDS packets to the next (about 2 s)
    GEN_ROW_COLUMNS = 32,   // columns of a caption row
};

// One pass of a two-field stream: the pair each frame carries on field 1
// and on field 2.  Both hold the same number of frames.
struct GenFields {
    std::vector<L21Pair> field1, field2;
};

// Makes both fields at least frames long, null pairs added at the end.
void gen_fields_extend(GenFields *f, size_t frames);

// ---------------------------------------------------------------------------
// SCC files

// A line sent later than its time code says, because the line before it
// was still being sent.
struct GenSccDelay {
    int field;          // 1 or 2
    int line_number;    // line of the file
    int64_t frames;     // how late
};

struct GenSccPlan {
    int64_t first_timecode;           // time code (as a frame number) of the capture's frame 0
    GenFields fields;
    std::vector<GenSccDelay> delays;
};

// Places the lines of an SCC file for each field (either may be empty): a
// line's first pair on the frame of its time code, or on the frame after
// the line before it ends when that is later; the rest one a frame.  The
// capture starts GEN_SCC_MARGIN frames before the earliest time code (not
// before 00:00:00;00) and ends GEN_SCC_MARGIN frames after the last pair.
void gen_scc_plan(const std::vector<L21SccLine> &field1, const std::vector<L21SccLine> &field2, GenSccPlan *plan);

// ---------------------------------------------------------------------------
// Caption text

// "plain", "pop-on", "roll-up", "paint-on", "text".
bool gen_mode_parse(const char *name, GenMode *mode);
const char *gen_mode_name(GenMode mode);

struct GenCaptionStyle {
    GenMode mode;          // any but plain
    int rows;              // roll-up window: 2, 3 or 4
    L21Service service;    // CC1-CC4 for captions, T1-T4 for text
};

// A line of caption text (UTF-8, no line end) and where it came from, for
// messages.
struct GenTextLine {
    std::string text;
    std::string source;   // "-t" or a file name
    int line;             // line of the source, from 1
};

// Frames a caption stays up: long enough to read at 15 characters a
// second, and at least minimum_frames.
int64_t gen_reading_frames(size_t chars, int64_t minimum_frames);

// Splits a line of cells into rows of at most GEN_ROW_COLUMNS at the
// spaces between words (a word longer than a row is cut); spaces where a
// row breaks are dropped.  Returns the rows as ranges [begin, end) of the
// cells.
struct GenRowRange {
    size_t begin, end;
};
std::vector<GenRowRange> gen_wrap(const std::vector<L21CharCode> &cells);

// The pairs of the service's field, one a frame, that send the lines as a
// caption house would (see the manual page for each mode); control pairs
// and special and extended characters twice.  Empty lines send nothing.
// False, with "SOURCE:LINE: ..." in *error, when a line holds a character
// line 21 cannot send or malformed UTF-8.
bool gen_caption_pairs(const std::vector<GenTextLine> &lines, const GenCaptionStyle &style,
                       std::vector<L21Pair> *pairs, std::string *error);

// ---------------------------------------------------------------------------
// Extended Data Services

struct GenXds {
    std::string program_name;  // empty: not sent
    std::string network;
    std::string call_letters;
    bool has_time = false;
    L21XdsTime time{};         // at the capture's frame 0
};

// Reads YYYY-MM-DDTHH:MMZ (UTC; the weekday is worked out); false for
// anything else or a date that does not exist.
bool gen_xds_time_parse(const char *s, L21XdsTime *t);

// The time of day frame frames after t (29.97 frames a second), whole
// minutes, dates and weekday carried on.
L21XdsTime gen_xds_time_at(const L21XdsTime &t, int64_t frame);

// The packets of one round at frame: program name, network, call letters,
// time of day, those that are set.
std::vector<std::vector<L21Pair>> gen_xds_round(const GenXds &xds, int64_t frame);

// True when there is anything to send.
bool gen_xds_any(const GenXds &xds);

// Puts rounds of packets on field 2 every GEN_XDS_PERIOD frames, from
// frame 0 to the end of the pass, into the frames whose pair is null.
// Where captions take frames in the middle of a packet, the packet resumes
// after them with its class's continue code.  A round that a previous one
// or the captions held up starts at the next free frame; the fields are
// lengthened when the last packet would not fit.
void gen_xds_interleave(GenFields *fields, const GenXds &xds);

// ---------------------------------------------------------------------------
// Rendering

// Blocks in a two-field stream of frames frames: o->blocks when set, else
// every frame o->repeat times.
int64_t gen_fields_blocks(const GenOptions *o, size_t frames);

// Fills a block for frame f: field 1's pair on line index 11 and field 2's
// on 27, each with its run-in (a null pair is a signal too), the other
// lines at blanking.
void gen_render_fields_block(uint8_t *block, L21Pair field1, L21Pair field2, int64_t frame, const GenOptions *o,
                             GenNoise *noise);

// Renders a two-field stream, the pass repeated as often as o->blocks asks,
// as gen_stream does for a plain one.
int64_t gen_stream_fields(const GenOptions *o, const GenFields *fields, GenPut put, void *ctx);

// ---------------------------------------------------------------------------
// The command line's part

// Reads the value of a stream option: --scc, --scc2, --mode, --channel,
// --xds-program-name, --xds-network, --xds-call-letters,
// --xds-time.  Returns null when it is good, else a message naming the
// option and the value (written to error).
const char *gen_stream_option(GenStreamArgs *s, const char *opt, const char *value, char *error, size_t size);

// True when the stream has two fields (SCC files, a caption mode, or XDS);
// false for the plain stream on one line.
bool gen_two_fields(const GenStreamArgs *s);

// Null when the options go together, else why not: SCC files with text or
// a caption mode, --rows without roll-up, a channel that does not suit the
// mode, the plain stream's own options (--line, --hold, --controls,
// --copies) in a two-field stream.
const char *gen_stream_check(const GenArgs *a, char *error, size_t size);

// How messages name an SCC file given as path: "standard input" for -.
const char *gen_scc_name(const char *path);

// True when the plain stream can send line (printable ASCII, tabs, a CR
// before the line end), else false with "SOURCE:LINE: ..." in *error
// naming the first byte it cannot: a NUL or other control character, a
// character beyond ASCII, malformed UTF-8 (as a UTF-16 file reads).
bool gen_plain_check(const GenTextLine &line, std::string *error);

// The plain stream's pairs of the lines (gen_line_pairs of each); at most
// max.
size_t gen_plain_pairs(const std::vector<GenTextLine> &lines, const GenOptions *o, uint16_t *out, size_t max);

// The lines of a text, numbered from 1, for messages that name them.
void gen_text_lines(const char *text, size_t len, const std::string &source, std::vector<GenTextLine> *lines);

// Builds the two fields the command line asks for: from the SCC files'
// texts (scc[i] is the text of a->stream.scc[i]), else from the text lines
// in a->stream.mode (for the plain mode, the plain pairs on field 1), then
// XDS on field 2.  False with a message ("FILE:LINE: ...") for bad input;
// warnings gets one message for every SCC line sent late.
bool gen_build_fields(const GenArgs *a, const std::string scc[2], const std::vector<GenTextLine> &text,
                      const uint16_t *plain, size_t nplain, GenFields *fields, std::vector<std::string> *warnings,
                      std::string *error);
