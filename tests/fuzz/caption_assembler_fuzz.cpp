// Fuzzes the caption assembler with arbitrary word sequences, fed as a
// scope feeds it: the ticker slides after every word.  Nothing may run past
// the line or the ticker, and every character appended must come out again,
// on standard error or still waiting in the line.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "caption.h"
#include "ticker.h"

static size_t written;  // caption characters written, newlines left out

static ssize_t count_chars(void *, const char *buf, size_t size)
{
    for (size_t i = 0; i < size; i++)
        written += buf[i] != '\n';
    return (ssize_t)size;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static FILE *out = nullptr;
    if (!out) {
        cookie_io_functions_t io = {nullptr, count_chars, nullptr, nullptr};
        out = fopencookie(nullptr, "w", io);
    }
    if (size < 1)
        return 0;
    static CaptionAssembler a;
    static ScopeTicker t;
    ticker_init(&t);
    caption_assembler_init(&a, 1 + data[0] % 20, t.text, sizeof t.text);
    a.out = out;
    fflush(out);
    written = 0;

    size_t appended = 0;
    // Long inputs are replayed several times so that the line fills up.
    for (int round = 0; round < 8; round++)
        for (size_t i = 1; i + 1 < size; i += 2) {
            uint32_t word = data[i] | (uint32_t)data[i + 1] << 8;
            int n = add_word(&a, word);
            if (n < 0 || n > 3)
                __builtin_trap();
            appended += (size_t)n;
            t.backlog += (uint32_t)n;
            ticker_step(&t);
            if (strlen(t.text) != TICKER_BLANKS + t.backlog || t.backlog > 102)
                __builtin_trap();
            if (a.line_len < 0 || a.line_len >= CAPTION_LINE_SIZE || (size_t)a.line_len != strlen(a.line))
                __builtin_trap();
        }
    fflush(out);
    if (written + (size_t)a.line_len != appended)
        __builtin_trap();
    return 0;
}
