#include "caption.h"

#include <cstring>

const char CaptionCharMap[96] = {
    ' ', '!', '"', '#', '$', '%', '&', '\'', '(', ')',  // 0x20-0x29
    'a',                                                // 0x2A a acute
    '+', ',', '-', '.', '/',                            // 0x2B-0x2F
    '0', '1', '2', '3', '4', '5', '6', '7', '8', '9',   // 0x30-0x39
    ':', ';', '<', '=', '>', '?', '@',                  // 0x3A-0x40
    'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k', 'l', 'm',  // 0x41-0x4D
    'n', 'o', 'p', 'q', 'r', 's', 't', 'u', 'v', 'w', 'x', 'y', 'z',  // 0x4E-0x5A
    '[',                                                // 0x5B
    'e',                                                // 0x5C e acute
    ']',                                                // 0x5D
    'i',                                                // 0x5E i acute
    'o',                                                // 0x5F o acute
    'u',                                                // 0x60 u acute
    'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k', 'l', 'm',  // 0x61-0x6D
    'n', 'o', 'p', 'q', 'r', 's', 't', 'u', 'v', 'w', 'x', 'y', 'z',  // 0x6E-0x7A
    'c',                                                // 0x7B c cedilla
    '/',                                                // 0x7C division sign
    'N',                                                // 0x7D N tilde
    'n',                                                // 0x7E n tilde
    '.',                                                // 0x7F solid block
};

static int ones7(uint32_t byte)
{
    int n = 0;
    for (int b = 0; b < 7; b++)
        n += (byte >> b) & 1;
    return n;
}

bool caption_parity_ok(uint32_t word)
{
    if ((ones7(word) & 1) && (word & 0x80))
        return false;
    if ((ones7(word >> 8) & 1) && (word & 0x8000))
        return false;
    return true;
}

void caption_assembler_init(CaptionAssembler *a, int flush_after, char *ticker, size_t ticker_size)
{
    a->line[0] = '\0';
    a->line_len = 0;
    a->last_char = 0;
    a->control_pairs = 0;
    a->error_count = 0;
    a->flush_after = flush_after;
    a->ticker = ticker;
    a->ticker_size = ticker_size;
    a->out = stderr;
}

static void write_line(CaptionAssembler *a)
{
    fprintf(a->out, "%s\n", a->line);
    a->line[0] = '\0';
    a->line_len = 0;
    a->control_pairs = 0;
}

// Appends one character and tells whether it was appended.  A line that is
// already full is written out first, as a flush would write it, so that a
// long run of text without control pairs loses nothing and never runs past
// the buffer; the character starts the next line.  A space that finds the
// line full is dropped instead: the line's end parts the words already, and
// a next line begun with it would be written as a lone space when the
// control pairs that follow flush it.
static bool append(CaptionAssembler *a, char c)
{
    if (a->line_len >= CAPTION_LINE_SIZE - 1) {
        if (c == ' ')
            return false;
        write_line(a);
    }
    a->line[a->line_len++] = c;
    a->line[a->line_len] = '\0';
    return true;
}

static bool capitalising_mark(int c)
{
    return c == '!' || c == '.' || c == '>' || c == '?' || c == '[' || c == ']';
}

// Puts the character of one printable code; what was appended goes to
// added[*n], so that the ticker gets exactly what the line got.
static void put_code(CaptionAssembler *a, int code, char *added, int *n)
{
    char c = CaptionCharMap[code - 0x20];
    if (capitalising_mark(a->last_char) && c >= 'a' && c <= 'z')
        c = (char)(c - 'a' + 'A');
    if (append(a, c))
        added[(*n)++] = c;
    if (code > 0x20)
        a->last_char = CaptionCharMap[code - 0x20];
}

int add_word(CaptionAssembler *a, uint32_t word)
{
    char added[2];
    int n = 0;
    bool counted_control = false;

    if (word == 0)
        a->error_count++;
    int first = word & 0x7F;
    int second = (word >> 8) & 0x7F;

    if (first >= 0x20) {
        put_code(a, first, added, &n);
        if (second >= 0x20)
            put_code(a, second, added, &n);
    } else if (first != 0 && a->line_len > 0) {
        if (a->line[a->line_len - 1] != ' ' && append(a, ' '))
            added[n++] = ' ';
        counted_control = true;
    }

    if (n > 0 && a->ticker) {
        size_t len = strlen(a->ticker);
        for (int k = 0; k < n && len + 1 < a->ticker_size; k++)
            a->ticker[len++] = added[k];
        a->ticker[len] = '\0';
    }

    if (counted_control && ++a->control_pairs >= a->flush_after)
        write_line(a);
    return n;
}
