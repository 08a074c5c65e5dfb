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
#include "integrating_slicer.h"
#include "vbi.h"

enum {
    RUNIN_CYCLES = CAPTION_RUNIN_CYCLES,
    DATA_BITS = 16,
    WATERFALL_SAMPLES = SCOPE_SHOWN_SAMPLES,
    WATERFALL_MAX_ROWS = 2000,
    EYE_WIDTH = 456,            // two bit periods at 4 pixels per sample
    EYE_HEIGHT = 256,           // one pixel per level
    LINE_ACTIVE_RANGE = 24,     // a block's line varies when max - min reaches this
    BLOCKS_PER_SECOND = 30,     // a timeline step: one second of video, near enough
    EVENTS_KEPT = 1000,         // counter events listed one by one
    RUNS_KEPT = 1000,           // refusal runs listed one by one, per decoder
    LONGEST_RUNS = 5,           // refusal runs kept by length, per decoder
};

// When block b (0 = the first) was taken: the device delivers a block a
// frame, 30000/1001 frames a second.
inline double block_time(uint64_t b)
{
    return (double)b * 1001.0 / 30000.0;
}

// The nominal first crest of the run-in, as the generator and the device's
// timing put it.
constexpr double NOMINAL_FIRST_CREST = CAPTION_FIRST_CREST;

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

// One fault of the counter: the block it arrived in and the counters on
// both sides of it.
struct CounterFault {
    CounterEvent kind;  // COUNTER_GAP, COUNTER_REPEAT or COUNTER_BACKWARD
    uint64_t block;
    uint32_t from, to;
};
const char *counter_event_name(CounterEvent e);  // "gap", "repeat", "backward"

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
    uint64_t decoded_blocks = 0;  // blocks in which a program's slicer reads a pair
    uint64_t active_blocks = 0;   // blocks whose line varies by LINE_ACTIVE_RANGE or more
};

// The line's levels in one block.
struct LineLevels {
    int min, max;
    uint32_t sum;
};
LineLevels line_levels(const uint8_t *line, int samples);

void line_accum_add(LineAccum *a, const LineLevels &lv, int samples, bool runin, bool decoded);

// "caption" (a program's slicer reads a pair in most blocks), "run-in
// only" (a run-in in most blocks, read in fewer), "signal" (something else
// varies on the line, or the slicers read it now and then) or "blank".
const char *line_verdict(const LineAccum &a);

// Each data bit's sum over the slicers' window of CAPTION_BIT_WINDOW
// samples about its centre, as this run-in times the bits; false when a
// window falls outside the line.
bool bit_window_sums(const uint8_t *line, const RunIn &r, uint32_t sums[DATA_BITS]);

// The pair on the line as the run-in times it: each bit's window against
// the run-in's middle level; 0 when the parity fails.
CaptionWord runin_reading(const uint32_t sums[DATA_BITS], const RunIn &r);

// Whether one of the three programs' slicers reads `expected` on this line
// (each on its own copy of the line); false when expected is 0.
bool slicers_read(const uint8_t *line, CaptionWord expected);

// --- the caption signal's quality ----------------------------------------

// Levels of the run-in and the blanking over some blocks.
struct LevelSums {
    uint64_t runin_blocks = 0;
    double level_sum = 0;                 // crest levels
    uint64_t blank_n = 0;                 // blanking stretch samples
    uint64_t blank_sum = 0, blank_sq = 0;
};
void level_sums_add(LevelSums *l, const uint8_t *line, const RunIn &r);
// Mean crest level, blanking level, and the blanking's standard deviation.
void level_sums_figures(const LevelSums &l, double *runin, double *blanking, double *noise);

// Bit-centre levels in quarter steps, for the eye's percentile figure.
enum { EYE_BINS = 1024, EYE_BIN_STEPS = 4 };

struct SignalAccum {
    LevelSums levels;
    double crest_sum = 0, crest_sq = 0;   // first crest position
    uint64_t eye_blocks = 0;              // decoded blocks measured for the eye
    double lowest_one = 1e9, highest_zero = -1e9;
    // Each bit's level averaged over the window a slicer judges it on,
    // ones and zeros apart.
    std::vector<uint32_t> ones = std::vector<uint32_t>(EYE_BINS), zeros = std::vector<uint32_t>(EYE_BINS);
};

// A block whose line shows a run-in; word is a pair a slicer took from it
// (0: none), whose bits tell the eye which level each bit centre should
// have.
// sums: the bits' window sums (bit_window_sums), or null when a window
// falls outside the line.
void signal_add(SignalAccum *a, const uint8_t *line, const RunIn &r, CaptionWord word, const uint32_t *sums);

struct SignalFigures {
    bool valid = false;          // some block showed a run-in
    double blanking = 0, runin_level = 0, swing = 0, noise_sigma = 0;
    double crest_mean = 0, crest_spread = 0;
    bool eye_valid = false;      // some run-in block was decoded
    double eye_opening = 0;
    double eye_opening_p99 = 0;  // what 99 % of the bit windows clear
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

// --- refusals ----------------------------------------------------------------

// Refused blocks of one decoder, as runs: a run ends at a block the decoder
// reads, or where the cause changes; blocks it does not handle (capscope's
// odd counters) neither end nor join a run.
struct RefusalRun {
    uint64_t first_block = 0, last_block = 0, count = 0;
    const char *cause = "";
};
struct RefusalRuns {
    std::vector<RefusalRun> runs;    // the first RUNS_KEPT, in order
    uint64_t total = 0;              // runs, the open one included
    RefusalRun longest[LONGEST_RUNS]; // longest first
    int longest_n = 0;
    bool open = false;
    RefusalRun current;
};
// A handled block: refused (with its cause) or read.
void refusal_add(RefusalRuns *r, uint64_t block, bool refused, const char *cause);
// The runs listed (the open one included), and the longest few, longest
// first (the earlier of two equal ones first).
std::vector<RefusalRun> refusal_list(const RefusalRuns &r);
std::vector<RefusalRun> refusal_longest(const RefusalRuns &r);

// --- the three caption programs -----------------------------------------

// The three programs, then the integrating slicer as a fourth decoder that
// no program uses: it says whether the signal is readable at all.
enum { PROGRAMS = CAPTION_PROGRAMS, DECODERS = PROGRAMS + 1, INTEGRATING = PROGRAMS };
extern const char *const DecoderNames[DECODERS];

// Why the integrating slicer refused blocks, by its own causes.
struct IntegratingRun {
    uint64_t handled = 0, decoded = 0, refused = 0;
    uint64_t causes[INTEGRATING_WEAK + 1] = {};
    RefusalRuns refusals;
};
const char *integrating_cause_name(IntegratingCause c);  // "no run-in", "start bit", ...

// Why a program refused a block, from what the scan saw on the line.
const char *program_refusal_cause(bool flat, bool runin);

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
    RefusalRuns refusals;
};

// Sets up CaptionPrograms[which]; false when the memory stream cannot be
// made.
bool program_init(ProgramRun *p, int which);
void program_free(ProgramRun *p);

// Runs one whole block through the program on line index n.  Returns
// ROW_DECODED, ROW_REFUSED or 0 when its block rule skipped the block.
// The pair the program's slicer read goes to *sliced (0 when refused or
// skipped) when sliced is not null.
int program_block(ProgramRun *p, const uint8_t *block, int n, CaptionWord *sliced = nullptr);

// Whether the program decodes only some of the blocks by their counter
// (capscope: even counters only).
bool program_skips_counters(int which);

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

// One second of the capture (BLOCKS_PER_SECOND blocks) on the studied line.
struct Second {
    uint32_t blocks = 0;
    uint32_t handled[DECODERS] = {}, decoded[DECODERS] = {};
    LevelSums levels;
};

struct Scan {
    ScanOptions opt;
    CounterStats counter;
    std::vector<CounterFault> faults;  // the first EVENTS_KEPT
    uint64_t fault_count = 0;
    LineAccum lines[VBI_LINES];
    SignalAccum signal;
    ProgramRun programs[PROGRAMS];
    IntegratingRun integrating;
    std::vector<Second> timeline;
    uint64_t trailing_bytes = 0;
    bool interrupted = false;          // the reading was stopped by a signal
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
