// The three caption programs by name, for the workstation tools that decode
// as they do (the capture scanner's replay, the slicer benchmark, the
// caption decoder): each entry takes its rules from the program's own
// folder, so that nothing here states them again.
#pragma once
#include <cstdint>

#include "caption.h"
#include "frame_gaps.h"

// What a program remembers of the blocks before: captext the counter of the
// last block it decoded, capscope-runin its frame-gap count.
struct ProgramBlockState {
    uint32_t last_counter;
    FrameGaps gaps;
};

struct CaptionProgram {
    const char *name;    // the program: "captext", "capscope", "capscope-runin"
    const char *slicer;  // its slicer: "averaging", "level", "runin"
    int flush_after;     // the assembler's count of control pairs
    // Whether the program decodes the block with this frame counter.
    bool (*takes_block)(ProgramBlockState *s, uint32_t counter);
    // Slices a line of VBI_LINE_SIZE samples as the program does, its
    // preprocessing included: capscope smooths the line in place first, as
    // it does in its read buffer, so hand over a copy where the line must
    // stay as it was.
    CaptionWord (*slice)(uint8_t *line);
    bool changes_line;   // slice leaves its preprocessing in the line
};

// CaptionPrograms in this order.
enum { PROG_CAPTEXT, PROG_CAPSCOPE, PROG_RUNIN, CAPTION_PROGRAMS };
extern const CaptionProgram CaptionPrograms[CAPTION_PROGRAMS];

// The program with this program name or slicer name, or null.
const CaptionProgram *caption_program(const char *name);

// An empty state, as before the first block.
void program_block_state_init(ProgramBlockState *s);
