// The line-21 caption stream's code tables: what each pair of bytes on
// line 21 means, the characters to and from UTF-8, the preamble address
// codes, the control codes, the Extended Data Services packets, the SMPTE
// drop-frame time base and the SCC files broadcasters keep their streams in.
// Pure data and functions; no input or output.  Linked by the workstation
// tools that write (vbigen) and read (vbicc) whole caption streams.
//
// Conventions:
//  - An L21Pair holds the two bytes as they travel on the line: each byte 7
//    data bits and an odd-parity bit in bit 7.  SCC files write them so too.
//  - The functions that classify or decode codes take the 7-bit values; they
//    ignore bit 7, so either form may be passed.  Check the parity first.
//  - Control codes (b1 0x10-0x1F) exist for data channel 1 (b1 0x10-0x17)
//    and data channel 2 (b1 0x18-0x1F).  Tables and encoders speak in the
//    channel-1 value; l21_on_channel() moves a code to channel 2.
//  - Field 1 carries CC1, CC2, T1, T2; field 2 carries CC3, CC4, T3, T4 and
//    the Extended Data Services.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// ---------------------------------------------------------------------------
// Parity and pairs

struct L21Pair {
    uint8_t b1, b2;  // first and second byte as sent, parity bits included
    bool operator==(const L21Pair &o) const { return b1 == o.b1 && b2 == o.b2; }
    bool operator!=(const L21Pair &o) const { return !(*this == o); }
};

// True when the byte has an odd number of one bits (its parity is good).
bool l21_parity_ok(uint8_t byte);

// The 7-bit code with the parity bit that makes it odd.
uint8_t l21_add_parity(uint8_t code);

// The pair that sends the 7-bit codes c1 and c2, parity added.
L21Pair l21_pair(int c1, int c2);

// The null pair, sent when there is nothing to say: 0x80 0x80.
const L21Pair L21_NULL_PAIR = {0x80, 0x80};

// True for the null pair exactly as sent (0x80 0x80).
bool l21_is_null(L21Pair p);

// The 16-bit word a slicer returns and the generator renders: the first
// byte in bits 0-7, the second in bits 8-15 (bit 0 is sent first).
inline uint16_t l21_word(L21Pair p) { return (uint16_t)(p.b1 | p.b2 << 8); }
inline L21Pair l21_from_word(uint16_t w) { return L21Pair{(uint8_t)w, (uint8_t)(w >> 8)}; }

// ---------------------------------------------------------------------------
// Pair kinds

enum L21Kind {
    L21_KIND_NULL,       // 0x00 0x00: nothing
    L21_KIND_XDS,        // b1 0x01-0x0F on field 2: an Extended Data Services code
    L21_KIND_PAC,        // preamble address code: row, colour or indent, underline
    L21_KIND_MIDROW,     // mid-row code: colour or italics, underline; a space on screen
    L21_KIND_SPECIAL,    // special character (b1 0x11, b2 0x30-0x3F)
    L21_KIND_EXTENDED,   // extended character (b1 0x12 / 0x13, b2 0x20-0x3F)
    L21_KIND_MISC,       // miscellaneous control code (RCL, EOC, CR, ...)
    L21_KIND_TAB,        // tab offset of 1-3 columns
    L21_KIND_ATTRIBUTE,  // background or black-foreground attribute; a space on screen
    L21_KIND_CHARS,      // one or two standard characters
    L21_KIND_UNKNOWN,    // a code no table gives a meaning (ignored by receivers)
};

// The kind of the pair b1 b2 (parity bits ignored) received on field 1 or 2.
// Field matters for XDS (field 2 only) and the miscellaneous codes (b1 0x14
// on field 1, 0x15 on field 2, 0x1C / 0x1D on channel 2).
L21Kind l21_kind(uint8_t b1, uint8_t b2, int field);

// A name for a kind, for diagnostics: "null", "xds", "pac", "mid-row",
// "special", "extended", "misc", "tab", "attribute", "chars", "unknown".
const char *l21_kind_name(L21Kind kind);

// True for b1 0x10-0x1F (parity ignored): control pairs, sent twice.
bool l21_is_control(uint8_t b1);

// Data channel of a control code's b1: 1 (0x10-0x17) or 2 (0x18-0x1F); 0
// when b1 is not a control code.
int l21_channel(uint8_t b1);

// b1 of channel 1 moved to channel (1 or 2): sets or clears 0x08 for control
// codes, leaves other bytes alone.  7-bit in, 7-bit out.
uint8_t l21_on_channel(uint8_t b1, int channel);

// ---------------------------------------------------------------------------
// Services

enum L21Service { L21_CC1, L21_CC2, L21_CC3, L21_CC4, L21_T1, L21_T2, L21_T3, L21_T4 };

// "CC1" .. "CC4", "T1" .. "T4".
const char *l21_service_name(L21Service s);

// Reads a service name as written above; false for anything else.
bool l21_service_parse(const char *name, L21Service *s);

// Field (1 or 2) and data channel (1 or 2) that carry a service; whether it
// is a text service.
int l21_service_field(L21Service s);
int l21_service_channel(L21Service s);
bool l21_service_is_text(L21Service s);

// The service on field and channel, caption or text.
L21Service l21_service(int field, int channel, bool text);

// ---------------------------------------------------------------------------
// Characters

// The glyph shown for 0x7F and for a character whose parity failed.
extern const char L21_SOLID_BLOCK[];  // "■"

// UTF-8 of a standard character 0x20-0x7F (ASCII except the accented
// letters, ÷ and ■ the line-21 set puts in its place); null for other codes.
const char *l21_standard_char(uint8_t code);

// UTF-8 of a special character, b2 0x30-0x3F (b1 0x11 / 0x19); null outside.
// 0x39, the transparent space, comes out as U+00A0 (no-break space).
const char *l21_special_char(uint8_t b2);

// UTF-8 of an extended character: b1 0x12 or 0x13 (or 0x1A / 0x1B), b2
// 0x20-0x3F; null outside.
const char *l21_extended_char(uint8_t b1, uint8_t b2);

// A byte of a standard-character pair as a viewer sees it: its character,
// ■ when its parity fails, "" for 0x00 (no character) and other codes
// below 0x20.  byte includes its parity bit.
const char *l21_received_char(uint8_t byte);

// How a character travels.
enum L21CharSet { L21_SET_NONE, L21_SET_STANDARD, L21_SET_SPECIAL, L21_SET_EXTENDED };

struct L21CharCode {
    L21CharSet set;
    uint8_t b1;        // 7-bit, channel 1: the character itself (standard) or 0x11-0x13
    uint8_t b2;        // 7-bit second byte (special, extended); 0 for standard
    uint8_t fallback;  // extended: the standard character sent before it
    uint32_t code_point;  // the Unicode character read
};

// Reads one UTF-8 character from s (at most len bytes) and finds the code
// that sends it.  Returns the number of bytes read (1-4), with *code set
// (code_point too);
// code->set is L21_SET_NONE when line 21 has no such character.  Returns 0
// for malformed UTF-8 (nothing read; code->set is L21_SET_NONE) or len 0.
size_t l21_char_from_utf8(const char *s, size_t len, L21CharCode *code);

// ---------------------------------------------------------------------------
// Colours, preamble address codes, mid-row codes, tab offsets

enum L21Colour { L21_WHITE, L21_GREEN, L21_BLUE, L21_CYAN, L21_RED, L21_YELLOW, L21_MAGENTA };

// "white", "green", "blue", "cyan", "red", "yellow", "magenta".
const char *l21_colour_name(L21Colour c);

struct L21Pac {
    int row;            // 1-15
    L21Colour colour;   // white when indented or italic
    bool italics;       // white italics at column 0
    int indent;         // first column: 0, 4, 8, ... 28
    bool underline;
};

// Decodes a PAC (channel bit and parity ignored); false when b1 b2 is not one.
bool l21_pac_decode(uint8_t b1, uint8_t b2, L21Pac *pac);

// The PAC for pac on data channel 1 (7-bit b1 b2).  A PAC sets either a
// colour, or italics, or an indent: an indent wins over italics, which wins
// over a colour; an indent is rounded down to a multiple of 4.  False when
// the row is outside 1-15 or the indent outside 0-31.
bool l21_pac_encode(const L21Pac &pac, uint8_t *b1, uint8_t *b2);

struct L21MidRow {
    L21Colour colour;   // white when italics
    bool italics;
    bool underline;
};

// Decodes a mid-row code (b1 0x11 / 0x19, b2 0x20-0x2F); false otherwise.
bool l21_midrow_decode(uint8_t b1, uint8_t b2, L21MidRow *m);

// The mid-row code's b2 (b1 is 0x11 on channel 1); italics wins over colour.
uint8_t l21_midrow_encode(const L21MidRow &m);

// Columns a tab offset moves (1-3), or 0 when b1 b2 is not a tab offset.
int l21_tab_columns(uint8_t b1, uint8_t b2);

// The tab offset pair's b2 for 1-3 columns (b1 is 0x17 on channel 1).
inline uint8_t l21_tab_encode(int columns) { return (uint8_t)(0x20 + columns); }

// ---------------------------------------------------------------------------
// Miscellaneous control codes (b2; b1 is 0x14 on field 1, 0x15 on field 2,
// plus 0x08 on data channel 2)

enum L21Misc {
    L21_RCL = 0x20,  // resume caption loading (pop-on)
    L21_BS = 0x21,   // backspace
    L21_AOF = 0x22,  // reserved
    L21_AON = 0x23,  // reserved
    L21_DER = 0x24,  // delete to end of row
    L21_RU2 = 0x25,  // roll-up, 2 rows
    L21_RU3 = 0x26,  // roll-up, 3 rows
    L21_RU4 = 0x27,  // roll-up, 4 rows
    L21_FON = 0x28,  // flash on
    L21_RDC = 0x29,  // resume direct captioning (paint-on)
    L21_TR = 0x2A,   // text restart
    L21_RTD = 0x2B,  // resume text display
    L21_EDM = 0x2C,  // erase displayed memory
    L21_CR = 0x2D,   // carriage return
    L21_ENM = 0x2E,  // erase non-displayed memory
    L21_EOC = 0x2F,  // end of caption (swap memories)
};

// "RCL", "BS", ... "EOC" for b2 0x20-0x2F; null outside.
const char *l21_misc_name(uint8_t b2);

// The miscellaneous code b2 for a name as above; -1 for an unknown name.
int l21_misc_parse(const char *name);

// The pair that sends miscellaneous code misc on a field (1, 2) and data
// channel (1, 2), parity added.
L21Pair l21_misc_pair(L21Misc misc, int field, int channel);

// ---------------------------------------------------------------------------
// Extended Data Services (field 2)

enum L21XdsClass {
    L21_XDS_CURRENT = 0x01,
    L21_XDS_FUTURE = 0x03,
    L21_XDS_CHANNEL = 0x05,
    L21_XDS_MISC = 0x07,
    L21_XDS_PUBLIC_SERVICE = 0x09,
    L21_XDS_RESERVED = 0x0B,
    L21_XDS_PRIVATE = 0x0D,
};
const uint8_t L21_XDS_END = 0x0F;  // b1 of the end pair; b2 is the checksum

// Interpreted types.
enum {
    L21_XDS_TYPE_PROGRAM_NAME = 0x03,  // class current
    L21_XDS_TYPE_NETWORK = 0x01,       // class channel
    L21_XDS_TYPE_CALL_LETTERS = 0x02,  // class channel
    L21_XDS_TYPE_TIME_OF_DAY = 0x01,   // class miscellaneous
};

// For b1 0x01-0x0E (parity ignored): its class (the start code) and whether
// it is a continue code; false for anything else.
bool l21_xds_class_of(uint8_t b1, L21XdsClass *cls, bool *is_continue);

// The continue code of a class (start code + 1).
inline uint8_t l21_xds_continue_code(L21XdsClass cls) { return (uint8_t)(cls + 1); }

// "current", "future", "channel", "miscellaneous", "public_service",
// "reserved", "private".
const char *l21_xds_class_name(L21XdsClass cls);

// "program_name", "network", "call_letters", "time_of_day" for the types
// this toolkit interprets; null for every other class and type.
const char *l21_xds_type_name(L21XdsClass cls, uint8_t type);

// The checksum byte that makes the 7-bit sum of bytes (start code to the
// end code 0x0F, parity ignored) plus itself 0 modulo 128.
uint8_t l21_xds_checksum(const uint8_t *bytes, size_t n);

// True when the 7-bit sum of a whole packet's bytes, start code to checksum,
// is 0 modulo 128.
bool l21_xds_checksum_ok(const uint8_t *bytes, size_t n);

// The pairs of a packet, parity added: start pair (class, type), data pairs
// two characters each (the last padded with 0x00), end pair with the
// checksum.  data holds 7-bit characters (1-32 of them).
std::vector<L21Pair> l21_xds_packet(L21XdsClass cls, uint8_t type, const std::string &data);

// Time of day, UTC.
struct L21XdsTime {
    int year;        // 1990-2053
    int month;       // 1-12
    int day;         // 1-31
    int hour;        // 0-23
    int minute;      // 0-59
    int weekday;     // 1-7, 1 Sunday
    bool daylight_saving;
    bool zero_seconds;
    bool tape_delay;
};

// Day of the week of a date of the Gregorian calendar, 1 Sunday - 7 Saturday.
int l21_weekday(int year, int month, int day);

// The six characters of a time-of-day packet; false when a field is out of
// its range.
bool l21_xds_time_encode(const L21XdsTime &t, std::string *data);

// Reads the six characters of a time-of-day packet; false when there are
// not six, a character lacks bit 0x40, or a field is out of range.
bool l21_xds_time_decode(const std::string &data, L21XdsTime *t);

// ---------------------------------------------------------------------------
// Time codes: 29.97 frames a second, SMPTE drop-frame labels (frame labels
// 0 and 1 skipped at the start of every minute except every tenth)

// The last frame a time code can name: 23:59:59;29.
const int64_t L21_LAST_TIMECODE_FRAME = 2589407;

// Frame number (0 = 00:00:00;00) as "HH:MM:SS;FF" in out (12 bytes with the
// terminating zero).  False, out empty, for a frame outside 0 to
// L21_LAST_TIMECODE_FRAME.
bool l21_timecode_format(int64_t frame, char out[12]);

// Reads "HH:MM:SS;FF" (drop-frame) or "HH:MM:SS:FF" (non-drop: 30 labels a
// second, each label one frame) from exactly len bytes.  False, with a
// reason in *why, for anything else: a wrong shape, a field out of range
// (hours past 23, minutes or seconds past 59, frames past 29), or a
// drop-frame label that is skipped (;00 and ;01 at a minute not divisible
// by ten).
bool l21_timecode_parse(const char *s, size_t len, int64_t *frame, const char **why);

// ---------------------------------------------------------------------------
// SCC files: "Scenarist_SCC V1.0", a blank line, then lines
// "HH:MM:SS;FF<TAB>pair pair ...", four hexadecimal digits a pair, parity
// bits included, lines separated by blank lines.  One file, one field.

struct L21SccLine {
    int64_t frame;               // frame of the first pair; the rest follow one a frame
    std::vector<L21Pair> pairs;  // at least one
    int line_number;             // in the file, from 1
};

struct L21SccError {
    int line;              // line of the file the fault is on, from 1
    std::string message;   // what is wrong, for the user
};

// Reads an SCC file's text.  Accepts CR LF line ends, a UTF-8 byte order
// mark, blank lines anywhere after the header, spaces or tabs between the
// time code and the pairs.  Refuses, with the line and a message: an empty
// file, a first line other than the header, a line that is not a time code
// followed by pairs, a pair that is not four hexadecimal digits, a time code
// out of range, and a time code earlier than the line before it.
bool l21_scc_read(const char *text, size_t len, std::vector<L21SccLine> *lines, L21SccError *error);

// Writes SCC text for pairs sent on consecutive frames, one call per frame
// in increasing order (frames not given carry null pairs).  Null pairs are
// left out: a new line starts at the next pair that is not null.
struct L21SccWriter {
    int64_t last_frame = -1;  // the frame put last
    bool line_open = false;   // a line is open and its last pair is on last_frame
    bool header_done = false;
};

// Appends to out what sending pair on frame adds to the file (the header
// first).  False, nothing appended, when frame is not after the last one
// given or past 23:59:59;29.
bool l21_scc_put(L21SccWriter *w, int64_t frame, L21Pair pair, std::string *out);

// Appends what ends the file (the header when nothing was put, and the
// final line end).
void l21_scc_finish(L21SccWriter *w, std::string *out);

struct L21FramePair {
    int64_t frame;
    L21Pair pair;
};

// A whole file at once; false (out unchanged) when the frames do not
// increase or pass 23:59:59;29.
bool l21_scc_write(const std::vector<L21FramePair> &pairs, std::string *out);
