#include "caption_programs.h"

#include <cstring>

#include "averaging_slicer.h"
#include "capscope_rules.h"
#include "captext_rules.h"
#include "runin_rules.h"
#include "runin_slicer.h"

static bool captext_takes(ProgramBlockState *s, uint32_t counter)
{
    return captext_takes_block(&s->last_counter, counter);
}

static bool capscope_takes(ProgramBlockState *, uint32_t counter)
{
    return capscope_takes_block(counter);
}

static bool runin_takes(ProgramBlockState *s, uint32_t counter)
{
    return runin_takes_block(&s->gaps, counter);
}

static CaptionWord captext_slice(uint8_t *line)
{
    return AveragingSlicer(line);
}

static CaptionWord capscope_slice_line(uint8_t *line)
{
    return capscope_slice(line, nullptr);
}

static CaptionWord runin_slice(uint8_t *line)
{
    return RunInSlicer(line, nullptr);
}

const CaptionProgram CaptionPrograms[CAPTION_PROGRAMS] = {
    {"captext", "averaging", CAPTEXT_FLUSH_AFTER, captext_takes, captext_slice, false},
    {"capscope", "level", CAPSCOPE_FLUSH_AFTER, capscope_takes, capscope_slice_line, true},
    {"capscope-runin", "runin", RUNIN_FLUSH_AFTER, runin_takes, runin_slice, false},
};

const CaptionProgram *caption_program(const char *name)
{
    for (const CaptionProgram &p : CaptionPrograms)
        if (strcmp(name, p.name) == 0 || strcmp(name, p.slicer) == 0)
            return &p;
    return nullptr;
}

void program_block_state_init(ProgramBlockState *s)
{
    memset(s, 0, sizeof *s);
}
