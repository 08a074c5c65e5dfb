// The VBI signal generator: renders caption pairs into blocks as the VBI
// device delivers them, so that the caption programs can be exercised
// without a tuner.  The model of line 21 as this device samples it:
//
//   sample clock 28.636 MHz (8 x 3.579545 MHz); one caption bit is 56.875
//   samples; the first sample of a line lies 8.52 us after the leading edge
//   of horizontal sync; the seven-cycle clock run-in starts at sample 44.5,
//   so its crests fall at 73, 130, ... 414; the start bit begins at sample
//   538.5 and the 16 data bits follow, least significant bit first, each
//   byte with odd parity; blanking near 60, data level near 130.
#pragma once
#include <cstddef>
#include <cstdint>

#include "gen_stream_args.h"

enum {
    GEN_MAX_CONTROLS = 16,
    GEN_MAX_PAIRS = 1 << 20,   // caption pairs of one pass over the text
    GEN_MAX_TEXTS = 64,        // -t lines
};

struct GenSignal {
    double blank;      // blanking level
    double data;       // data level (run-in crests, 1 bits)
    double noise;      // standard deviation of the band-limited noise
    double offset;     // timing offset in samples, added to every edge
    double edge;       // length of a bit edge in samples
    double bit;        // samples per bit
};

struct GenOptions {
    GenSignal signal;
    int line;                    // line index that carries the captions
    uint32_t counter_start;      // frame counter of the first frame
    uint32_t counter_step;       // added from one frame to the next
    int repeat;                  // blocks delivered per frame (same counter)
    int gap_every;               // after this many frames ...
    uint32_t gap;                // ... the counter jumps this much further
    int hold;                    // frames that carry each caption pair
    int lead;                    // null pairs before the text
    long blocks;                 // total blocks to write, -1: one pass of the text
    uint16_t controls[GEN_MAX_CONTROLS];  // control pairs after every text line
    int ncontrols;
    int control_copies;          // broadcasters send every control pair twice
    uint32_t seed;
};

void gen_default_options(GenOptions *o);

// Adds odd parity to both 7-bit codes of a pair.
uint16_t gen_pair(int first, int second);

// Turns caption text (lines separated by newlines) into the pairs that carry
// it: the text two characters per pair, each line followed by the control
// pattern.  Returns the number of pairs written to out (at most max).
size_t gen_text_pairs(const char *text, const GenOptions *o, uint16_t *out, size_t max);

// The same for one line of len bytes (no line end), whatever its length
// and whatever bytes it holds.
size_t gen_line_pairs(const char *s, size_t len, const GenOptions *o, uint16_t *out, size_t max);

// The level of the caption signal at time t (in samples) for a pair.
double gen_level(double t, uint16_t word, const GenSignal *s);

struct GenNoise {
    uint64_t state;
    double taps[4];
};
void gen_noise_init(GenNoise *n, uint32_t seed);

// Renders one line of 2048 samples carrying word (0: a blank line with no
// run-in, as between captions on a line that carries none).
void gen_render_line(uint8_t *line, uint16_t word, const GenSignal *s, GenNoise *noise);

// Renders a caption signal carrying word whatever its value: a pair of
// zero bytes (both parity bits wrong) still has its run-in and start bit.
void gen_render_signal(uint8_t *line, uint16_t word, const GenSignal *s, GenNoise *noise);

// Frame counter of frame f (0 = first frame).
uint32_t gen_counter(const GenOptions *o, int64_t frame);

// Fills a whole block for frame f carrying word.
void gen_render_block(uint8_t *block, uint16_t word, int64_t frame, const GenOptions *o, GenNoise *noise);

// Command line of the generator.
struct GenArgs {
    GenOptions opt;
    const char *out;          // output file, or null for standard output
    const char *texts[GEN_MAX_TEXTS];  // -t lines
    int ntexts;
    int first_file;           // argv index of the first text file, or 0
    GenStreamArgs stream;     // SCC files, caption mode, XDS
    bool help;                // -h or --help
    bool version;             // --version
    char error[512];          // why the command line was refused
};

// Returns null when the arguments are good, else a one-line message for the
// user that names the option and the value it refused.  Numbers are
// decimal, so that a leading 0 means nothing.
const char *gen_parse_args(int argc, char **argv, GenArgs *a);

// The caption pair carried by frame f, given the pairs of one pass over the
// text: lead null pairs first, every pair held for o->hold frames, the text
// repeated as often as needed.
uint16_t gen_frame_word(const GenOptions *o, const uint16_t *pairs, size_t npairs, int64_t frame);

// How many blocks a stream holds: o->blocks when set, else one pass of the
// text (the lead and every pair, each held for o->hold frames), every frame
// delivered o->repeat times.
int64_t gen_stream_blocks(const GenOptions *o, size_t npairs);

// Renders the stream block by block, in order, and hands every block to
// put; stops at the first put that returns false.  Returns the number of
// blocks put successfully.
typedef bool (*GenPut)(const uint8_t *block, void *ctx);
int64_t gen_stream(const GenOptions *o, const uint16_t *pairs, size_t npairs, GenPut put, void *ctx);

// The loop under every stream: total blocks, frame after frame rendered by
// render (src is its data) into one block that is put o->repeat times,
// noise seeded from o->seed.  Returns the number of blocks put.
typedef void (*GenRenderFrame)(uint8_t *block, int64_t frame, const void *src, GenNoise *noise);
int64_t gen_stream_frames(const GenOptions *o, int64_t total, GenRenderFrame render, const void *src, GenPut put,
                          void *ctx);

// Where the blocks go: a file descriptor written a whole block at a time.
// A write that fails part way through a block leaves no part of it in a
// regular file: what the block added at the end is cut off again.  On a
// pipe or a device what went out cannot be taken back.
struct GenOutput {
    int fd;
    bool regular;       // a regular file
    int64_t blocks;     // whole blocks written
    int error;          // errno of the first failed write, or 0
    size_t partial;     // bytes of a cut-short block left in the output
};
void gen_output_init(GenOutput *out, int fd);

// A GenPut for a GenOutput (ctx): writes the block whole, through short
// writes and interruptions; false after the first failure.
bool gen_output_put(const uint8_t *block, void *ctx);
