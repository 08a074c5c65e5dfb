// Caption decoding core shared by captext, capscope and capscope-runin:
// the character map, the parity rule and the caption text assembler.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

// A sliced line-21 pair: bits 0-6 first code, bit 7 its parity bit,
// bits 8-14 second code, bit 15 its parity bit.  0 = nothing sliced.
typedef uint16_t CaptionWord;

// Printable ASCII for the caption codes 0x20..0x7F, at index code - 0x20.
extern const char CaptionCharMap[96];

// Refuses a byte only when its seven data bits hold an odd number of ones
// and its parity bit is set as well.
bool caption_parity_ok(uint32_t word);

enum { CAPTION_LINE_SIZE = 2048 };

struct CaptionAssembler {
    char line[CAPTION_LINE_SIZE];  // caption line being collected, NUL-terminated
    int line_len;                  // strlen(line)
    int last_char;                 // map entry of the last code above 0x20 put
    int control_pairs;             // control pairs counted since the last flush
    int error_count;               // words of 0 handed over
    int flush_after;               // counted control pairs that write the line
    char *ticker;                  // optional scope ticker, NUL-terminated
    size_t ticker_size;            // capacity of ticker in bytes
    FILE *out;                     // where caption lines go (standard error)
};

// Sets the assembler up empty.  ticker may be null (captext).
void caption_assembler_init(CaptionAssembler *a, int flush_after, char *ticker, size_t ticker_size);

// Takes one sliced word (0 included); returns the number of characters
// appended to the caption line by this call: 0, 1 or 2.
int add_word(CaptionAssembler *a, uint32_t word);
