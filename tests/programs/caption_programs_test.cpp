// The table by which the workstation tools pick a caption program: each name
// leads to that program's own block rule, slicer and flush count.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "caption_programs.h"
#include "vbi.h"
#include "vbigen_core.h"

namespace {

TEST(CaptionPrograms, ProgramAndSlicerNamesLeadToTheSameEntry)
{
    const char *names[][2] = {{"captext", "averaging"}, {"capscope", "level"}, {"capscope-runin", "runin"}};
    for (int i = 0; i < CAPTION_PROGRAMS; i++) {
        EXPECT_EQ(caption_program(names[i][0]), &CaptionPrograms[i]) << names[i][0];
        EXPECT_EQ(caption_program(names[i][1]), &CaptionPrograms[i]) << names[i][1];
    }
    EXPECT_EQ(caption_program("run-in"), nullptr);
    EXPECT_EQ(caption_program(""), nullptr);
    EXPECT_EQ(CaptionPrograms[PROG_CAPTEXT].flush_after, 5);
    EXPECT_EQ(CaptionPrograms[PROG_CAPSCOPE].flush_after, 5);
    EXPECT_EQ(CaptionPrograms[PROG_RUNIN].flush_after, 15);
}

// Counters 0 (a first block captext skips), a repeat, an odd one and a gap.
TEST(CaptionPrograms, EachEntryChoosesBlocksByItsProgramsRule)
{
    const uint32_t counters[] = {0, 2, 2, 3, 6};
    const std::vector<bool> want[CAPTION_PROGRAMS] = {
        {false, true, false, true, true},  // captext: a counter other than the last taken
        {true, true, true, false, true},   // capscope: even counters
        {true, true, true, true, true},    // capscope-runin: every block
    };
    for (int p = 0; p < CAPTION_PROGRAMS; p++) {
        ProgramBlockState s;
        program_block_state_init(&s);
        std::vector<bool> got;
        for (uint32_t c : counters)
            got.push_back(CaptionPrograms[p].takes_block(&s, c));
        EXPECT_EQ(got, want[p]) << CaptionPrograms[p].name;
        if (p == PROG_RUNIN) {
            EXPECT_EQ(s.gaps.frame_gaps, 3) << "the jump from 3 to 6";
        }
    }
}

// Every slicer reads a clean line; only capscope's leaves its smoothing in
// the line it was handed, as it does in its read buffer.
TEST(CaptionPrograms, SliceDecodesWithThePreprocessingTheTableStates)
{
    GenOptions o;
    gen_default_options(&o);
    GenNoise noise;
    gen_noise_init(&noise, 1);
    uint8_t raw[VBI_LINE_SIZE];
    uint16_t word = gen_pair('H', 'i');
    gen_render_line(raw, word, &o.signal, &noise);
    for (const CaptionProgram &p : CaptionPrograms) {
        uint8_t line[VBI_LINE_SIZE];
        memcpy(line, raw, sizeof line);
        EXPECT_EQ(p.slice(line), word) << p.name;
        EXPECT_EQ(memcmp(line, raw, sizeof line) != 0, p.changes_line) << p.name;
    }
}

}  // namespace
