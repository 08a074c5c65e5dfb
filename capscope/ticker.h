// The caption ticker of the two scopes: a line of text along the top edge
// that slides left two pixels per drawn block and loses its two front
// characters every sixth block while characters wait.
#pragma once
#include <cstdint>

enum { TICKER_SIZE = 384, TICKER_BLANKS = 119, TICKER_MAX_BACKLOG = 100 };

struct ScopeTicker {
    char text[TICKER_SIZE];  // NUL-terminated, 119 + backlog characters
    uint32_t backlog;        // characters appended and not yet scrolled off
    int32_t shift;           // extra x offset of the text, 0..12
};

void ticker_init(ScopeTicker *t);

// One drawn block's slide, after the assembler has appended its characters
// and backlog has been raised by them.
void ticker_step(ScopeTicker *t);

// What a shown pass does to the ticker: the added characters the assembler
// appended to its text (add_word's count) join the backlog, and the text
// slides one step.
void ticker_take(ScopeTicker *t, int added);
