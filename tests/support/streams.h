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
    long frames = o.blocks >= 0 ? (o.blocks + o.repeat - 1) / o.repeat : (long)(o.lead + npairs) * o.hold;
    long blocks = o.blocks >= 0 ? o.blocks : frames * o.repeat;
    std::string out;
    out.reserve((size_t)blocks * VBI_BLOCK_SIZE);
    static uint8_t block[VBI_BLOCK_SIZE];
    GenNoise noise;
    gen_noise_init(&noise, o.seed);
    for (long f = 0; f < frames && (long)(out.size() / VBI_BLOCK_SIZE) < blocks; f++) {
        gen_render_block(block, gen_frame_word(&o, pairs, npairs, f), f, &o, &noise);
        for (int r = 0; r < o.repeat && (long)(out.size() / VBI_BLOCK_SIZE) < blocks; r++)
            out.append((const char *)block, VBI_BLOCK_SIZE);
    }
    return out;
}

inline GenOptions default_gen()
{
    GenOptions o;
    gen_default_options(&o);
    return o;
}
