#include "scan_args.h"

#include <climits>

#include "cli.h"

const char vbiscan_usage[] =
    "usage: vbiscan [--line N] [--json] [--png DIR] [-n BLOCKS] [CAPTURE]\n"
    "Reads a capture of the VBI device once (65536-byte blocks: 32 lines of 2048\n"
    "samples, the frame counter in the last 4 bytes) and reports the frame counter,\n"
    "the levels of every line, what captext, capscope and capscope-runin make of\n"
    "the caption line, and the quality of its signal.  CAPTURE is a file, a VBI\n"
    "device node, or - or nothing for standard input.\n"
    "  --line N     the line studied in depth, 0 to 31 (11)\n"
    "  --json       the report as one JSON object instead of text\n"
    "  --png DIR    also write DIR/waterfall.png, DIR/eye.png and DIR/lines.png\n"
    "  -n BLOCKS    stop after BLOCKS blocks\n"
    "  -h, --help   show a summary of the options\n"
    "  --version    show the version\n";

enum { OPT_LINE = 256, OPT_JSON, OPT_PNG, OPT_VERSION };
static const struct option long_options[] = {
    {"line", required_argument, nullptr, OPT_LINE},
    {"json", no_argument, nullptr, OPT_JSON},
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
        case 'h': a->help = true; break;
        case OPT_VERSION: a->version = true; break;
        default: return cli_option_error(argv, long_options, c);
        }
    }
    if (optind < argc)
        a->capture = argv[optind];
    if (optind + 1 < argc)
        return "one capture at most: '" + a->capture + "' and '" + argv[optind + 1] + "'";
    return "";
}

std::string capture_name(const ScanArgs &a)
{
    return a.capture.empty() || a.capture == "-" ? "standard input" : a.capture;
}
