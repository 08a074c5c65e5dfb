#include "vbicc_args.h"

#include "cli.h"

const char vbicc_usage[] =
    "usage: vbicc [-c SERVICE] [-f FORMAT] [-o FILE] [--slicer NAME] [--compare REF]\n"
    "             [--tolerance FRAMES] [CAPTURE]\n"
    "Decodes the line-21 captions of a VBI capture (65536-byte blocks; a file, a\n"
    "device node, or standard input for - or none) as a caption receiver shows them.\n"
    "  -c, --service SERVICE   CC1 (default), CC2, CC3, CC4, T1, T2, T3 or T4\n"
    "  -f, --format FORMAT     text (default), srt, vtt, scc or json\n"
    "  -o, --output FILE       write to FILE instead of standard output\n"
    "      --slicer NAME       integrating (default), averaging, level or runin\n"
    "      --compare REF       compare with a reference SCC or SRT file; status 3\n"
    "                          when they differ\n"
    "      --tolerance FRAMES  cue times may stray this far from the offset (2)\n"
    "  -h, --help              print this summary and exit\n"
    "      --version           print the version and exit\n";

std::string parse_vbicc_args(int argc, char **argv, VbiccArgs *a)
{
    *a = VbiccArgs();
    enum { OPT_SLICER = 256, OPT_COMPARE, OPT_TOLERANCE, OPT_VERSION };
    static const struct option options[] = {
        {"service", required_argument, nullptr, 'c'},
        {"format", required_argument, nullptr, 'f'},
        {"output", required_argument, nullptr, 'o'},
        {"slicer", required_argument, nullptr, OPT_SLICER},
        {"compare", required_argument, nullptr, OPT_COMPARE},
        {"tolerance", required_argument, nullptr, OPT_TOLERANCE},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, OPT_VERSION},
        {nullptr, 0, nullptr, 0},
    };
    opterr = 0;
    optind = 0;   // a fresh scan, also when called again (tests)
    int c;
    while ((c = getopt_long(argc, argv, ":c:f:o:h", options, nullptr)) != -1) {
        std::string v = optarg ? optarg : "";
        switch (c) {
        case 'c':
            a->service = cc_service_by_name(v);
            if (a->service < 0)
                return "-c: '" + v + "' is no service (CC1, CC2, CC3, CC4, T1, T2, T3, T4)";
            a->service_given = true;
            break;
        case 'f': {
            int f = format_by_name(v);
            if (f < 0)
                return "-f: '" + v + "' is no format (text, srt, vtt, scc, json)";
            a->format = (OutFormat)f;
            break;
        }
        case 'o':
            if (v.empty())
                return "-o: needs a file name";
            a->out = v;
            break;
        case OPT_SLICER: {
            int k = slicer_by_name(v);
            if (k < 0)
                return "--slicer: '" + v + "' is no slicer (integrating, averaging, level, runin)";
            a->slicer = (SlicerKind)k;
            break;
        }
        case OPT_COMPARE:
            if (v.empty())
                return "--compare: needs a file name";
            a->compare = v;
            break;
        case OPT_TOLERANCE: {
            long long n;
            std::string why;
            if (!cli_whole("--tolerance", optarg, 0, 100000, &n, &why))
                return why;
            a->tolerance = (int)n;
            break;
        }
        case 'h':
            a->help = true;
            break;
        case OPT_VERSION:
            a->version = true;
            break;
        default:
            return cli_option_error(argv, options, c);
        }
    }
    if (optind < argc)
        a->capture = argv[optind++];
    if (optind < argc)
        return "one capture at most: '" + a->capture + "' and '" + argv[optind] + "'";
    if (a->service >= SVC_T1 && (a->format == FMT_SRT || a->format == FMT_VTT))
        return "-f " + std::string(format_name(a->format)) + ": " + cc_service_name(a->service) +
               " is a text service, not captions; its rows go to -f text and -f json";
    return "";
}
