#include "scan_args.h"

#include <climits>

#include "cli.h"

const char vbiscan_usage[] =
    "usage: vbiscan [--line N] [--json] [--all] [--png DIR] [-n BLOCKS] [CAPTURE...]\n"
    "Reads captures of the VBI device once each (65536-byte blocks: 32 lines of\n"
    "2048 samples, the frame counter in the last 4 bytes) and reports the frame\n"
    "counter, the levels of every line, what captext, capscope, capscope-runin and\n"
    "the integrating slicer make of the caption line, and the quality of its\n"
    "signal, a summary first.  CAPTURE is a file, a VBI device node, or - or\n"
    "nothing for standard input.  Ctrl-C ends the reading and reports what was read.\n"
    "  --line N     the line studied in depth, 0 to 31 (11)\n"
    "  --json       each report as one line of JSON (JSON Lines)\n"
    "  --all        every caption line of every program, not the first 8\n"
    "  --png DIR    also write DIR/waterfall.png, DIR/eye.png and DIR/lines.png\n"
    "               (one capture only)\n"
    "  -n BLOCKS    stop after BLOCKS blocks\n"
    "  -h, --help   show a summary of the options\n"
    "  --version    show the version\n";

enum { OPT_LINE = 256, OPT_JSON, OPT_PNG, OPT_VERSION, OPT_ALL };
static const struct option long_options[] = {
    {"line", required_argument, nullptr, OPT_LINE},
    {"json", no_argument, nullptr, OPT_JSON},
    {"all", no_argument, nullptr, OPT_ALL},
    {"png", required_argument, nullptr, OPT_PNG},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, OPT_VERSION},
    {nullptr, 0, nullptr, 0},
};

std::string scan_parse_args(int argc, char **argv, ScanArgs *a)
{
    *a = ScanArgs();
    opterr = 0;
    optind = 0;  // a fresh scan, also when called again
    std::string why;
    long long v;
    int c;
    while ((c = getopt_long(argc, argv, ":hn:", long_options, nullptr)) != -1) {
        switch (c) {
        case OPT_LINE:
            if (!cli_whole("--line", optarg, 0, VBI_LINES - 1, &v, &why))
                return why;
            a->line = (int)v;
            break;
        case 'n':
            if (!cli_whole("-n", optarg, 1, LLONG_MAX, &v, &why))
                return why;
            a->max_blocks = v;
            break;
        case OPT_PNG:
            if (!*optarg)
                return "--png: needs a folder";
            a->png_dir = optarg;
            break;
        case OPT_JSON: a->json = true; break;
        case OPT_ALL: a->all = true; break;
        case 'h': a->help = true; break;
        case OPT_VERSION: a->version = true; break;
        default: return cli_option_error(argv, long_options, c);
        }
    }
    for (int i = optind; i < argc; i++)
        a->captures.push_back(argv[i]);
    // One folder holds one capture's pictures.
    if (!a->png_dir.empty() && a->captures.size() > 1)
        return "--png: one capture at most, not " + std::to_string(a->captures.size());
    return "";
}

std::string capture_name(const std::string &capture)
{
    return capture == "-" ? "standard input" : capture.empty() ? "''" : capture;
}
