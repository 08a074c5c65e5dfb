// Fuzzes vbicc's SRT reader, which reads the reference files --compare is
// given: it must refuse or accept without running past the text, name a
// line that exists when it refuses, and give cues that end no earlier than
// they start.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cc_compare.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string text((const char *)data, size);
    std::vector<SrtCue> cues;
    int line = 0;
    std::string why;
    size_t lines = 1;
    for (char c : text)
        lines += c == '\n';
    if (!read_srt(text, &cues, &line, &why)) {
        if (line < 1 || (size_t)line > lines || why.empty())
            __builtin_trap();
        return 0;
    }
    for (const SrtCue &c : cues) {
        if (c.end_ms < c.start_ms || c.start_ms < 0)
            __builtin_trap();
        std::string plain = srt_plain_text(c);
        if (char_error_rate(plain, plain) != 0)
            __builtin_trap();
    }
    return 0;
}
