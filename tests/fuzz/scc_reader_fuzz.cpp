// Fuzzes the SCC reader with arbitrary text.  A refusal must name a line of
// the input; a file read must hold lines in time order, each with pairs,
// and written out again line by line it must read back the same.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "line21.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const char *text = (const char *)data;
    std::vector<L21SccLine> lines;
    L21SccError err;
    if (!l21_scc_read(text, size, &lines, &err)) {
        size_t newlines = 0;
        for (size_t i = 0; i < size; i++)
            newlines += text[i] == '\n';
        if (err.line < 1 || (size_t)err.line > newlines + 1 || err.message.empty())
            __builtin_trap();
        return 0;
    }
    std::string again = "Scenarist_SCC V1.0\n\n";
    for (size_t i = 0; i < lines.size(); i++) {
        const L21SccLine &l = lines[i];
        if (l.pairs.empty() || (i > 0 && l.frame < lines[i - 1].frame) || l.line_number < 2)
            __builtin_trap();
        char tc[12];
        if (!l21_timecode_format(l.frame, tc))
            __builtin_trap();
        again += tc;
        for (size_t k = 0; k < l.pairs.size(); k++) {
            char hex[6];
            snprintf(hex, sizeof hex, "%c%02x%02x", k ? ' ' : '\t', l.pairs[k].b1, l.pairs[k].b2);
            again += hex;
        }
        again += "\n\n";
    }
    std::vector<L21SccLine> back;
    if (!l21_scc_read(again.data(), again.size(), &back, &err) || back.size() != lines.size())
        __builtin_trap();
    for (size_t i = 0; i < lines.size(); i++)
        if (back[i].frame != lines[i].frame || back[i].pairs != lines[i].pairs)
            __builtin_trap();
    return 0;
}
