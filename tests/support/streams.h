// Caption streams made in the test itself with the generator's library.
#pragma once
#include <cstdio>
#include <string>
#include <vector>

#include "vbi.h"
#include "vbigen_core.h"

// Renders the blocks that vbigen would write for text with options o.
inline std::string make_stream(const std::string &text, const GenOptions &o)
{
    static uint16_t pairs[GEN_MAX_PAIRS];
    size_t npairs = gen_text_pairs(text.c_str(), &o, pairs, GEN_MAX_PAIRS);
    std::string out;
    out.reserve((size_t)gen_stream_blocks(&o, npairs) * VBI_BLOCK_SIZE);
    gen_stream(&o, pairs, npairs, [](const uint8_t *block, void *ctx) {
        ((std::string *)ctx)->append((const char *)block, VBI_BLOCK_SIZE);
        return true;
    }, &out);
    return out;
}

inline GenOptions default_gen()
{
    GenOptions o;
    gen_default_options(&o);
    return o;
}
