#include "ticker.h"

#include <cstring>

void ticker_init(ScopeTicker *t)
{
    memset(t->text, ' ', TICKER_BLANKS);
    t->text[TICKER_BLANKS] = '\0';
    t->backlog = 0;
    t->shift = 0;
}

void ticker_step(ScopeTicker *t)
{
    if (t->shift != 0) {
        if (t->backlog <= TICKER_MAX_BACKLOG)
            t->shift -= 2;
        else
            t->shift = 0;
    }
    if (t->shift == 0 && t->backlog > 1) {
        size_t len = strlen(t->text);
        memmove(t->text, t->text + 2, len - 2 + 1);
        t->backlog -= 2;
        t->shift = t->backlog <= TICKER_MAX_BACKLOG ? 12 : 0;
    }
}

void ticker_take(ScopeTicker *t, int added)
{
    t->backlog += (uint32_t)added;
    ticker_step(t);
}
