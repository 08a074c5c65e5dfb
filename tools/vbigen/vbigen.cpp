// vbigen: writes a stream of VBI blocks that carry caption text on line 21,
// as the VBI device would deliver them from a captioned broadcast.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "vbi.h"
#include "vbigen_core.h"

static const char usage_text[] =
    "usage: %s [options] [textfile ...]\n"
    "Writes 65536-byte VBI blocks (32 lines of 2048 samples, frame counter in the\n"
    "last 4 bytes) carrying caption text on line 21, one pair of characters per\n"
    "frame, each text line followed by its control pairs.  The text comes from\n"
    "-t options, the files named, or a built-in sample.\n"
    "  -o FILE             write to FILE instead of standard output\n"
    "  -t TEXT             one line of caption text (may be repeated)\n"
    "  -n BLOCKS           write exactly BLOCKS blocks, repeating the text\n"
    "  --blank LEVEL       blanking level (60)\n"
    "  --data LEVEL        data level of the run-in crests and 1 bits (130)\n"
    "  --noise SIGMA       band-limited noise, standard deviation in levels (0)\n"
    "  --offset SAMPLES    timing offset of the whole caption signal (0)\n"
    "  --edge SAMPLES      length of a bit edge (6)\n"
    "  --line N            line index carrying the captions: 11 field 1, 27 field 2 (11)\n"
    "  --counter-start N   frame counter of the first frame (1)\n"
    "  --counter-step N    counter step from one frame to the next (1)\n"
    "  --repeat N          deliver every frame N times with the same counter (1)\n"
    "  --gap-every N       after every N frames the counter jumps ...\n"
    "  --gap M             ... M further (0)\n"
    "  --hold N            carry every caption pair in N successive frames (1)\n"
    "  --lead N            null pairs before the text (2)\n"
    "  --controls LIST     control pairs after each line, hex first and second\n"
    "                      byte without parity (1420,142c,142f)\n"
    "  --copies N          send every control pair N times (2)\n"
    "  --seed N            seed of the noise (1)\n";

static const char sample_text[] =
    "Good evening. This is the late news.\n"
    "Heavy rain is expected tonight!\n"
    "Will it clear by morning? We will see.\n";

static char text[1 << 20];
static uint16_t pairs[GEN_MAX_PAIRS];
static uint8_t block[VBI_BLOCK_SIZE];

static bool append_text(size_t *len, const char *s, size_t n)
{
    if (*len + n + 2 > sizeof text)
        return false;
    memcpy(text + *len, s, n);
    *len += n;
    if (n == 0 || s[n - 1] != '\n')
        text[(*len)++] = '\n';
    text[*len] = '\0';
    return true;
}

int main(int argc, char **argv)
{
    GenArgs args;
    const char *err = gen_parse_args(argc, argv, &args);
    if (err) {
        if (*err)
            fprintf(stderr, "%s: %s\n", argv[0], err);
        fprintf(stderr, usage_text, argv[0]);
        return *err ? 2 : 0;
    }

    size_t len = 0;
    for (int i = 0; i < args.ntexts; i++)
        append_text(&len, args.texts[i], strlen(args.texts[i]));
    for (int i = args.first_file; i > 0 && i < argc; i++) {
        FILE *f = strcmp(argv[i], "-") == 0 ? stdin : fopen(argv[i], "r");
        if (!f) {
            perror(argv[i]);
            return 1;
        }
        static char chunk[1 << 20];
        size_t n = fread(chunk, 1, sizeof chunk, f);
        if (ferror(f) || !append_text(&len, chunk, n)) {
            fprintf(stderr, "%s: %s: cannot read the text (at most 1 MiB)\n", argv[0], argv[i]);
            return 1;
        }
        if (f != stdin)
            fclose(f);
    }
    if (len == 0)
        append_text(&len, sample_text, strlen(sample_text));

    const GenOptions *o = &args.opt;
    size_t npairs = gen_text_pairs(text, o, pairs, GEN_MAX_PAIRS);
    long frames = args.opt.blocks >= 0 ? (args.opt.blocks + o->repeat - 1) / o->repeat
                                       : (long)(o->lead + npairs) * o->hold;
    long blocks = args.opt.blocks >= 0 ? args.opt.blocks : frames * o->repeat;

    FILE *out = stdout;
    if (args.out && !(out = fopen(args.out, "wb"))) {
        perror(args.out);
        return 1;
    }
    GenNoise noise;
    gen_noise_init(&noise, o->seed);
    long written = 0;
    for (long f = 0; f < frames && written < blocks; f++) {
        gen_render_block(block, gen_frame_word(o, pairs, npairs, f), f, o, &noise);
        for (int r = 0; r < o->repeat && written < blocks; r++, written++)
            if (fwrite(block, 1, sizeof block, out) != sizeof block)
                break;
    }
    if (fflush(out) != 0 || ferror(out) || (out != stdout && fclose(out) != 0)) {
        // A reader that stops early (head, a decoder that ended) is not an
        // error of ours.
        if (errno == EPIPE)
            return 0;
        perror(args.out ? args.out : "standard output");
        return 1;
    }
    return 0;
}
