// vbigen: writes a stream of VBI blocks that carry caption text on line 21,
// as the VBI device would deliver them from a captioned broadcast.
#include <fcntl.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include <string>
#include <vector>

#include "cli.h"
#include "gen_streams.h"
#include "vbi.h"
#include "vbigen_core.h"

static const char usage_text[] =
    "usage: vbigen [options] [textfile ...]\n"
    "       vbigen --scc FILE [--scc2 FILE] [options]\n"
    "Writes 65536-byte VBI blocks (32 lines of 2048 samples, frame counter in the\n"
    "last 4 bytes) carrying captions on line 21.  The plain stream (the default)\n"
    "sends the text one pair of characters per frame on one line, each text line\n"
    "followed by its control pairs.  --mode, --scc and the --xds options write a\n"
    "whole caption stream instead: a pair every frame on field 1 (line index 11)\n"
    "and field 2 (line index 27), null pairs where nothing is sent.  The text\n"
    "comes from -t options, the files named (- for standard input), or a\n"
    "built-in sample.  Numbers are decimal.\n"
    "  -o FILE             write to FILE instead of standard output\n"
    "  -t TEXT             one line of caption text (may be repeated)\n"
    "  -n BLOCKS           write exactly BLOCKS blocks, repeating the stream\n"
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
    "  --seed N            seed of the noise (1)\n"
    "  --scc FILE          send the pairs of an SCC file (- for standard input) on\n"
    "                      field 1, each on the frame its time code gives, parity\n"
    "                      bits as written\n"
    "  --scc2 FILE         the same on field 2\n"
    "  --mode MODE         plain (the default), pop-on, roll-up, paint-on or text:\n"
    "                      the text as a caption service sends it, rows of at\n"
    "                      most 32 columns, each caption up long enough to read\n"
    "  --rows N            roll-up window of 2, 3 or 4 rows (3)\n"
    "  --channel NAME      CC1, CC2, CC3, CC4 for captions (CC1), T1-T4 for\n"
    "                      --mode text (T1); CC3, CC4, T3, T4 go on field 2\n"
    "  --xds-program-name TEXT  program name, 2-32 characters, on field 2\n"
    "  --xds-network TEXT  network name, 2-32 characters\n"
    "  --xds-call-letters TEXT  call letters, 4 characters (6 with a channel)\n"
    "  --xds-time YYYY-MM-DDTHH:MMZ  time of day (UTC) at the first frame;\n"
    "                      every XDS packet is sent again every two seconds\n"
    "  -h, --help          print this summary and exit\n"
    "  --version           print the version and exit\n"
    "Examples:\n"
    "  vbigen -o news.vbi -t \"Good evening.\"               plain stream\n"
    "  vbigen --scc show.scc -o show.vbi                   an SCC file on field 1\n"
    "  vbigen --scc cc1.scc --scc2 cc3.scc -o both.vbi     both fields\n"
    "  vbigen --mode pop-on -o pop.vbi talk.txt            pop-on captions on CC1\n"
    "  vbigen --mode roll-up --rows 2 --channel CC3 -t \"Rain.\" -o roll.vbi\n"
    "  vbigen --mode text --channel T2 -t \"Weather.\" -o text.vbi\n"
    "  vbigen --mode pop-on --xds-program-name \"Late News\" --xds-network NBS \\\n"
    "         --xds-call-letters WNBS --xds-time 2026-12-09T22:00Z -o xds.vbi\n";

static const char sample_text[] =
    "Good evening. This is the late news.\n"
    "Heavy rain is expected tonight!\n"
    "Will it clear by morning? We will see.\n";

enum { TEXT_LIMIT = 1 << 20 };  // bytes of caption text in all
static uint16_t pairs[GEN_MAX_PAIRS + 1];

static int fail(const char *what, const char *why, int status)
{
    fprintf(stderr, "vbigen: %s: %s\n", what, why);
    return status;
}

// Reads a file (- for standard input) into *data, at most limit bytes and
// one more to tell that there were more; false with errno set when it
// cannot.
static bool read_file(const char *path, size_t limit, std::string *data)
{
    FILE *f = strcmp(path, "-") == 0 ? stdin : fopen(path, "rb");
    if (!f)
        return false;
    char buf[1 << 16];
    size_t n;
    errno = 0;
    while (data->size() <= limit && (n = fread(buf, 1, sizeof buf, f)) > 0)
        data->append(buf, n);
    bool ok = !ferror(f);
    int saved = errno;
    if (f != stdin)
        fclose(f);
    errno = saved;
    // Editors on other systems put a UTF-8 byte-order mark first; it marks
    // the encoding and is no character to send.
    if (data->compare(0, 3, "\xEF\xBB\xBF") == 0)
        data->erase(0, 3);
    return ok;
}

int main(int argc, char **argv)
{
    GenArgs args;
    if (const char *err = gen_parse_args(argc, argv, &args))
        return cli_usage_error("vbigen", err);
    if (args.help)
        return cli_print("vbigen", usage_text);
    if (args.version)
        return cli_print("vbigen", cli_version("vbigen"));
    // Blocks are binary; on a terminal they would only garble it.
    if (!args.out && isatty(STDOUT_FILENO)) {
        fputs("vbigen: standard output is a terminal; write the blocks to a file (-o FILE) or a pipe\n", stderr);
        return 2;
    }

    // A file size limit (ulimit -f) ends the run with "File too large",
    // like a full disc, rather than killing it in the middle of a block.
    signal(SIGXFSZ, SIG_IGN);

    // The text as numbered lines of their sources, so that messages can
    // name them.  Every byte of it is read: what cannot be sent is refused.
    size_t len = 0;
    std::vector<GenTextLine> lines;
    for (int i = 0; i < args.ntexts; i++) {
        len += strlen(args.texts[i]);
        if (len > TEXT_LIMIT)
            return fail("-t", "more than 1 MiB of text in all", 1);
        gen_text_lines(args.texts[i], strlen(args.texts[i]), "-t", &lines);
    }
    for (int i = args.first_file; i > 0 && i < argc; i++) {
        std::string data;
        if (!read_file(argv[i], TEXT_LIMIT - len, &data))
            return fail(argv[i], strerror(errno ? errno : EIO), 1);
        len += data.size();
        if (len > TEXT_LIMIT)
            return fail(argv[i], "more than 1 MiB of text in all", 1);
        gen_text_lines(data.data(), data.size(), strcmp(argv[i], "-") == 0 ? "standard input" : argv[i], &lines);
    }
    // An empty file or -t "" is text too: nothing to send.
    if (args.ntexts == 0 && args.first_file == 0)
        gen_text_lines(sample_text, strlen(sample_text), "sample text", &lines);

    // The plain stream sends the codes as typed; the caption modes check
    // their own text as they build it.
    bool plain = args.stream.mode == GEN_MODE_PLAIN && !args.stream.scc[0] && !args.stream.scc[1];
    std::string error;
    for (size_t i = 0; plain && i < lines.size(); i++)
        if (!gen_plain_check(lines[i], &error)) {
            fprintf(stderr, "vbigen: %s\n", error.c_str());
            return 1;
        }
    const GenOptions *o = &args.opt;
    size_t npairs = plain ? gen_plain_pairs(lines, o, pairs, GEN_MAX_PAIRS + 1) : 0;
    if (npairs > GEN_MAX_PAIRS) {
        fprintf(stderr, "vbigen: the text makes more than %d caption pairs\n", GEN_MAX_PAIRS);
        return 1;
    }

    // A two-field stream is built whole before anything is written, so that
    // bad input leaves no half-written output behind.
    static GenFields fields;
    bool two_fields = gen_two_fields(&args.stream);
    if (two_fields) {
        std::string scc[2];
        for (int i = 0; i < 2; i++)
            if (args.stream.scc[i] && !read_file(args.stream.scc[i], SIZE_MAX - 1, &scc[i]))
                return fail(gen_scc_name(args.stream.scc[i]), strerror(errno ? errno : EIO), 1);
        std::vector<std::string> warnings;
        if (!gen_build_fields(&args, scc, lines, pairs, npairs, &fields, &warnings, &error)) {
            fprintf(stderr, "vbigen: %s\n", error.c_str());
            return 1;
        }
        for (const std::string &w : warnings)
            fprintf(stderr, "vbigen: %s\n", w.c_str());
    }

    const char *name = args.out ? args.out : "standard output";
    int fd = args.out ? open(args.out, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666) : STDOUT_FILENO;
    if (fd < 0)
        return fail(name, strerror(errno), 1);
    GenOutput out;
    gen_output_init(&out, fd);
    if (two_fields)
        gen_stream_fields(o, &fields, gen_output_put, &out);
    else
        gen_stream(o, pairs, npairs, gen_output_put, &out);
    int error_no = out.error;
    if (args.out && close(fd) != 0 && !error_no)
        error_no = errno;
    // A reader that stops early (head, a decoder that ended) is not an
    // error of ours.
    if (!error_no || error_no == EPIPE)
        return 0;
    if (out.partial) {
        // On a pipe or a device what went out is gone.
        fprintf(stderr, "vbigen: %s: %s; the last block is cut short after %zu bytes\n", name, strerror(error_no),
                out.partial);
        return 1;
    }
    return fail(name, strerror(error_no), 1);
}
