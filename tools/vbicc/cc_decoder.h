// The caption receiver: turns the pairs of line 21 on both fields into
// what a viewer sees.  Free of I/O and of samples: it takes one pair per
// field per frame, keeps for each of the four caption services two 15 x 32
// memories and a cursor, for each of the four text services a text row, and
// the Extended Data Services packets of field 2, and hands every finished
// caption, text row and packet to a sink.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

enum CcService { SVC_CC1, SVC_CC2, SVC_CC3, SVC_CC4, SVC_T1, SVC_T2, SVC_T3, SVC_T4, SVC_COUNT };
enum CcMode { MODE_NONE, MODE_POP_ON, MODE_ROLL_UP, MODE_PAINT_ON };

enum {
    CC_ROWS = 15,
    CC_COLUMNS = 32,
    CC_ATTR_COLOUR = 0x07,   // white, green, blue, cyan, red, yellow, magenta
    CC_ATTR_ITALIC = 0x08,
    CC_ATTR_UNDERLINE = 0x10,
    XDS_MAX_DATA = 64,       // data bytes kept per packet (the longest type holds 32)
    XDS_MAX_PENDING = 8,     // interrupted packets waiting for their continue code
};

// "CC1" ... "T4"; -1 for a name that is none of them.
const char *cc_service_name(int service);
int cc_service_by_name(const std::string &name);
const char *cc_mode_name(CcMode mode);
// The field that carries a service: 1 or 2.
inline int cc_service_field(int service) { return (service % 4) < 2 ? 1 : 2; }

// One cell of a caption memory: a character as UTF-8 (len 0: nothing
// written there) and the attributes it was written with.
struct CcCell {
    char glyph[4];
    uint8_t len;
    uint8_t attr;
};

struct CcCaptionRow {
    int row;                      // 1-15
    int column;                   // 0-31, first written cell
    std::vector<CcCell> cells;    // from column to the last written cell
};
// The row's characters (cells never written as spaces).
std::string cc_row_text(const CcCaptionRow &r);

// A caption as it stood on screen.  Times are frames of field `field`
// (field 2 lies half a frame after field 1 of the same frame).
struct CcCaption {
    int service;
    CcMode mode;
    int field;
    int64_t start_frame, end_frame;
    std::vector<CcCaptionRow> rows;   // top to bottom
};

// A row of a text service, ended by a carriage return (or the end).
struct CcTextRow {
    int service;
    int field;
    int64_t frame;       // frame of its first character
    std::string text;
};

struct CcXdsPacket {
    int start_code;      // 0x01, 0x03, ... 0x0D: the class
    int type;
    int64_t frame;       // frame of the end pair
    bool checksum_ok;
    std::vector<uint8_t> data;   // the informational bytes, padding left out
};

enum CcPairStatus { PAIR_OK, PAIR_PARITY };

// Receives what the decoder finds, in the order it finds it.
struct CcSink {
    virtual ~CcSink() = default;
    virtual void pair(int /*field*/, int64_t /*frame*/, uint16_t /*raw*/, bool /*parity_ok*/) {}
    virtual void caption(const CcCaption &) {}
    virtual void text(const CcTextRow &) {}
    virtual void xds(const CcXdsPacket &) {}
};

struct CcScreen {
    CcCell mem[2][CC_ROWS][CC_COLUMNS];
    int shown;                     // which memory is displayed
    CcMode mode;
    int row, col;                  // cursor: row 0-14, column 0-31
    uint8_t attr;                  // attributes of the next character
    int window;                    // roll-up rows, 2-4
    int base;                      // roll-up base row, 0-14
    bool cue_open;                 // pop-on / paint-on caption on screen
    CcMode cue_mode;
    int64_t cue_start;
    int64_t row_start[CC_ROWS];    // roll-up: first character of each row, -1 none
    int8_t row_origin[CC_ROWS];    // roll-up: the row it appeared on
};

struct CcTextScreen {
    CcCell row[CC_COLUMNS];
    int col;
    int64_t start;                 // frame of the row's first character, -1 none
};

struct CcXdsState {
    bool used;
    int start_code, type;
    uint8_t data[XDS_MAX_DATA];
    int len;
    bool broken;                   // overflowed or held a byte with a parity error
    uint64_t age;
};

struct CcFieldState {
    int last;            // the pair received just before, parity stripped; -1 none
    bool last_acted;     // it was a control pair that acted
    int channel;         // data channel of the last control pair: 0, 1; -1 none yet
    bool text_mode[2];   // per channel: text service selected
    bool in_xds;         // field 2: printable pairs belong to the current packet
    int xds_current;     // index into xds, -1 none
};

struct CcCounts {
    uint64_t pairs[2];
    uint64_t parity_errors[2];
    uint64_t captions[SVC_COUNT];
    uint64_t xds_packets;
    uint64_t xds_checksum_errors;
};

struct CcDecoder {
    CcSink *sink;
    CcScreen screen[4];
    CcTextScreen text[4];
    CcFieldState field[2];
    CcXdsState xds[XDS_MAX_PENDING];
    uint64_t xds_clock;
    CcCounts counts;
    int64_t last_frame;
};

void cc_init(CcDecoder *d, CcSink *sink);
// One pair received on field (1 or 2) in frame, as sliced: parity bits in
// bits 7 and 15.
void cc_pair(CcDecoder *d, int field, int64_t frame, uint16_t raw);
// A frame in which nothing was read on that field, or frames that never
// came: a control pair after it acts even if it equals the one before.
void cc_lost(CcDecoder *d, int field);
// The stream ended at frame last: what is still on screen ends there.
void cc_finish(CcDecoder *d, int64_t last);
