// The capture scanner's computations, free of any I/O so that tests drive
// them with blocks made in memory: the frame counter's transitions, the
// levels of every line, the clock run-in, the caption signal's quality, the
// three caption programs replayed on one line, and what the pictures show.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "caption.h"
#include "caption_programs.h"
#include "vbi.h"

enum {
    RUNIN_CYCLES = 7,
    DATA_BITS = 16,
    WATERFALL_SAMPLES = SCOPE_SHOWN_SAMPLES,
    WATERFALL_MAX_ROWS = 2000,
    EYE_WIDTH = 456,            // two bit periods at 4 pixels per sample
    EYE_HEIGHT = 256,           // one pixel per level
    LINE_ACTIVE_RANGE = 24,     // a block's line varies when max - min reaches this
};

// --- frame counter -------------------------------------------------------

// Transitions between successive frame counters, taken modulo 2^32 as
// signed 32-bit numbers, so that 0xFFFFFFFF to 0 is an ordinary step.
struct CounterStats {
    uint64_t blocks = 0;
    uint32_t first = 0, last = 0;
    uint64_t steps = 0;     // +1
    uint64_t repeats = 0;   // 0: the same frame handed out again
    uint64_t gaps = 0;      // +2 or more: frames skipped
    uint64_t missing = 0;   // the frames the gaps skipped
    uint64_t backward = 0;  // negative: delivered out of order
};

// What the transition into this counter was: 0 none (first block), or one
// of the kinds below.
enum CounterEvent { COUNTER_FIRST, COUNTER_STEP, COUNTER_REPEAT, COUNTER_GAP, COUNTER_BACKWARD };
CounterEvent counter_add(CounterStats *c, uint32_t counter);

// --- clock run-in ----------------------------------------------------------

// Seven cycles of the caption clock found on a line: where the first crest
// lies (in samples from the line's start, with a fraction), and the levels
// of the cycles as a sinusoid fitted to each.
struct RunIn {
    double first_crest;  // position of the first crest
    double level;        // mean crest level of the seven cycles
    double amplitude;    // mean half swing of the seven cycles
};

// True when the line shows the seven crests of a caption clock run-in:
// seven successive cycles of the bit clock, each clearly present, none
// before or after them, starting within the first 600 samples.  Reads at
// most the first 1200 samples.
bool find_runin(const uint8_t *line, RunIn *r);

// Level of the line at a fractional position (linear between samples).
double line_level_at(const uint8_t *line, double pos);

// Where the blanking level can be measured on a line with this run-in:
// the stretch before the run-in, or, when the run-in starts too early in
// the line for that, the stretch between the run-in and the start bit.
// Returns the samples [*from, *to).
void blanking_stretch(const RunIn &r, int *from, int *to);

// Centre of data bit k (0 = first on the line) for this run-in.
inline double bit_centre(const RunIn &r, int k)
{
    return r.first_crest + CREST_TO_START_BIT + (k + 1.5) * CAPTION_BIT;
}

// --- per-line levels -------------------------------------------------------

// Samples of line index n that carry the line's signal: the driver writes
// its frame counter over the last four samples of line 31.
inline int line_samples(int n)
{
    return n == VBI_LINES - 1 ? VBI_LINE_SIZE - 4 : VBI_LINE_SIZE;
}

struct LineAccum {
    uint64_t blocks = 0;
    uint64_t sum = 0, samples = 0;
    int min = 255, max = 0;
    uint64_t runin_blocks = 0;    // blocks showing the run-in
    uint64_t decoded_blocks = 0;  // ... and a pair that the averaging slicer accepts
    uint64_t active_blocks = 0;   // blocks whose line varies by LINE_ACTIVE_RANGE or more
};

// The line's levels in one block.
struct LineLevels {
    int min, max;
    uint32_t sum;
};
LineLevels line_levels(const uint8_t *line, int samples);

void line_accum_add(LineAccum *a, const LineLevels &lv, int samples, bool runin, bool decoded);

// "caption" (run-in in most blocks and pairs decoded in most of them),
// "run-in only", "signal" (something else varies on the line) or "blank".
const char *line_verdict(const LineAccum &a);

// --- the caption signal's quality ----------------------------------------

struct SignalAccum {
    uint64_t runin_blocks = 0;
    double crest_sum = 0, crest_sq = 0;   // first crest position
    double level_sum = 0;                 // crest levels
    uint64_t blank_n = 0;                 // blanking stretch samples
    uint64_t blank_sum = 0, blank_sq = 0;
    uint64_t eye_blocks = 0;              // decoded blocks measured for the eye
    double lowest_one = 1e9, highest_zero = -1e9;
};

// A block whose line shows a run-in; word is the pair the averaging slicer
// took from it (0: none), whose bits tell the eye which level each bit
// centre should have.
void signal_add(SignalAccum *a, const uint8_t *line, const RunIn &r, CaptionWord word);

struct SignalFigures {
    bool valid = false;          // some block showed a run-in
    double blanking = 0, runin_level = 0, swing = 0, noise_sigma = 0;
    double crest_mean = 0, crest_spread = 0;
    bool eye_valid = false;      // some run-in block was decoded
    double eye_opening = 0;
    bool snr_valid = false;      // noise_sigma above 0
    double snr_db = 0;
    double threshold = 0;        // halfway between blanking and the crests
};
SignalFigures signal_figures(const SignalAccum &a);

// --- eye diagram -----------------------------------------------------------

// Traces of data bits laid over each other, two bit periods wide centred on
// the bit centre, as hit counts per pixel (EYE_HEIGHT rows of EYE_WIDTH,
// row 0 = level 255).  A picture needs a few thousand traces, not every
// block of a long capture: blocks are drawn with a stride that doubles
// whenever EYE_MAX_BLOCKS have been drawn at the current one, each drawn
// with the weight of the blocks it stands for.
enum { EYE_MAX_BLOCKS = 100 };
struct EyeAccum {
    std::vector<uint32_t> hits = std::vector<uint32_t>((size_t)EYE_WIDTH * EYE_HEIGHT);
    uint64_t blocks = 0;    // decoded blocks offered
    uint64_t drawn = 0;     // blocks drawn at the current stride
    uint32_t stride = 1;
};
void eye_add(EyeAccum *e, const uint8_t *line, const RunIn &r);

// --- waterfall ---------------------------------------------------------------

enum {
    ROW_DECODED = 1,   // per program: some block of the row decoded ...
    ROW_REFUSED = 2,   // ... or refused
    ROW_GAP = 1,       // counter column: frames skipped
    ROW_REPEAT = 2,    //  a frame repeated
    ROW_BACKWARD = 4,  //  the counter went back
};

// Line N of one block in every k-th, k doubling whenever the rows fill up,
// so that however long the capture, at most WATERFALL_MAX_ROWS evenly
// spread rows remain.  A row stands for the k blocks from its own on: its
// marks are those of all of them.
struct Waterfall {
    int max_rows = WATERFALL_MAX_ROWS;
    long step = 1;                    // blocks per row
    long blocks = 0;                  // blocks seen
    int rows = 0;
    std::vector<uint8_t> samples;     // rows x WATERFALL_SAMPLES
    std::vector<uint8_t> marks;       // rows x 4: the three programs, the counter
};
// Adds block number w->blocks; prog[p] = ROW_DECODED, ROW_REFUSED or 0 (not
// handled), counter = ROW_* counter marks.
void waterfall_add(Waterfall *w, const uint8_t *line, const uint8_t prog[3], uint8_t counter);

// --- the three caption programs -----------------------------------------

enum { PROGRAMS = CAPTION_PROGRAMS };

// One caption program replayed on line N: its block rule, its slicer, its
// assembler settings, and the caption lines it writes.
struct ProgramRun {
    const CaptionProgram *program = &CaptionPrograms[PROG_CAPTEXT];
    ProgramBlockState state;      // what the block rule remembers
    CaptionAssembler assembler;
    FILE *out = nullptr;          // the assembler's caption lines, in memory
    char *text = nullptr;
    size_t text_size = 0;
    uint64_t handled = 0, decoded = 0, refused = 0;
    // The line as the program sliced it, and whether the program leaves it
    // so in its read buffer (capscope smooths the line there in place): the
    // read buffer's line for the pass after a short read.
    uint8_t left_line[VBI_LINE_SIZE];
    bool left_smoothed = false;
    const char *end_pass = "none";  // what the pass after the last read did
};

// Sets up CaptionPrograms[which]; false when the memory stream cannot be
// made.
bool program_init(ProgramRun *p, int which);
void program_free(ProgramRun *p);

// Runs one whole block through the program on line index n.  Returns
// ROW_DECODED, ROW_REFUSED or 0 when its block rule skipped the block.
int program_block(ProgramRun *p, const uint8_t *block, int n);

// The pass the programs make after a read shorter than a block, which ends
// their stream: it runs on what the read buffer then holds, the last whole
// block with the first `trailing` bytes replaced by the short read's data.
// buffer holds exactly that.  Not counted in handled/decoded/refused.
void program_end_pass(ProgramRun *p, const uint8_t *buffer, size_t trailing, int n);

// The caption lines written so far, without their newlines.
std::vector<std::string> program_lines(const ProgramRun &p);

// --- the whole scan --------------------------------------------------------

struct ScanOptions {
    int line = VBI_CAPTION_LINE;   // the line studied in depth
    bool pictures = false;         // keep what the pictures need
};

struct Scan {
    ScanOptions opt;
    CounterStats counter;
    LineAccum lines[VBI_LINES];
    SignalAccum signal;
    ProgramRun programs[PROGRAMS];
    uint64_t trailing_bytes = 0;
    // For the pictures.
    Waterfall waterfall;
    EyeAccum eye;
    std::vector<uint16_t> mean_sum;   // per sample of the block, since the last fold
    std::vector<uint64_t> mean_total; // folded sums
    uint64_t mean_blocks = 0;         // blocks in mean_sum
    std::vector<uint8_t> env_min, env_max;  // per sample: lowest and highest level seen
};

bool scan_init(Scan *s, const ScanOptions &opt);
void scan_free(Scan *s);
void scan_block(Scan *s, const uint8_t *block);
// End of the stream: buffer is the read buffer after the short read, the
// last whole block with its first `trailing` bytes replaced.
void scan_end(Scan *s, const uint8_t *buffer, size_t trailing);
// The mean block, 65536 levels (the counter bytes included).
std::vector<double> scan_mean_block(const Scan &s);
