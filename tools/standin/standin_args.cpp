#include "standin_args.h"

#include <sys/un.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli.h"
#include "standin_rules.h"

const char standin_usage[] =
    "usage: devstandin [options] program [argument ...]\n"
    "Runs program with /dev/vbi0, /dev/vbi, /dev/fb0 and /dev/mem answered by the stand-in.\n"
    "  --vbi FILE         replay FILE (65536-byte blocks) as the VBI device\n"
    "  --vbi -            live feed: every 65536 bytes of standard input is one block\n"
    "  --vbi-socket PATH  live feed from a SOCK_SEQPACKET socket listening at PATH\n"
    "  --pace             deliver 29.97 blocks per second, the frame rate\n"
    "  --pace=RATE        deliver RATE blocks per second (at least 1e-9)\n"
    "  --rate RATE        the same as --pace=RATE\n"
    "  --fail-after N     the VBI read after N blocks fails with an I/O error\n"
    "  --fb FILE          ordinary file opened as /dev/fb0\n"
    "  --cmap FILE        append every FBIOPUTCMAP colour map received to FILE\n"
    "  --fb-fail ERRNO    make FBIOPUTCMAP fail with ERRNO (1 to 4095)\n"
    "  --mem FILE         sparse file standing for physical memory (/dev/mem)\n"
    "  --help             print this text and exit\n"
    "  --version          print the version and exit\n"
    "  --                 end of the options\n"
    "An option's value may also follow it after '=' (--vbi=FILE).\n"
    "A device that is not given does not exist for the program.\n";

enum { OPT_VBI = 256, OPT_VBI_SOCKET, OPT_PACE, OPT_RATE, OPT_FAIL_AFTER, OPT_FB, OPT_CMAP,
       OPT_FB_FAIL, OPT_MEM, OPT_HELP, OPT_VERSION };
static const struct option long_options[] = {
    {"vbi", required_argument, nullptr, OPT_VBI},
    {"vbi-socket", required_argument, nullptr, OPT_VBI_SOCKET},
    // --pace alone is the frame rate; it never takes the next word, so
    // that "--pace capture.vbi" cannot swallow a file name or a program.
    {"pace", optional_argument, nullptr, OPT_PACE},
    {"rate", required_argument, nullptr, OPT_RATE},
    {"fail-after", required_argument, nullptr, OPT_FAIL_AFTER},
    {"fb", required_argument, nullptr, OPT_FB},
    {"cmap", required_argument, nullptr, OPT_CMAP},
    {"fb-fail", required_argument, nullptr, OPT_FB_FAIL},
    {"mem", required_argument, nullptr, OPT_MEM},
    {"help", no_argument, nullptr, OPT_HELP},
    {"version", no_argument, nullptr, OPT_VERSION},
    {nullptr, 0, nullptr, 0},
};

static std::string message;
static char vbi_socket[sizeof(((struct sockaddr_un *)nullptr)->sun_path) + 8];
// Numbers go to the library as plain decimal, whatever sign or leading
// zeros they were typed with, so that it reads what the runner checked.
static char fail_after[24], fb_fail[24];

static const char *say(const char *name, const char *value, const char *what)
{
    message = std::string(name) + ": '" + value + "' " + what;
    return message.c_str();
}

// A whole number from lo to hi, handed on in plain decimal through text.
static const char *number(const char *name, const char *value, long long lo, long long hi, char (&text)[24],
                          const char **out)
{
    long long n;
    if (!cli_whole(name, value, lo, hi, &n, &message))
        return message.c_str();
    snprintf(text, sizeof text, "%lld", n);
    *out = text;
    return nullptr;
}

const char *standin_parse_args(int argc, char **argv, StandinArgs *a)
{
    memset(a, 0, sizeof *a);
    opterr = 0;
    optind = 0;  // a fresh scan, also when called again
    int c;
    // '+': the options end at the program; what follows it is its own.
    while ((c = getopt_long(argc, argv, "+:", long_options, nullptr)) != -1) {
        const char *val = optarg;
        switch (c) {
        case OPT_VBI:
            a->vbi_stdin = strcmp(val, "-") == 0;
            a->vbi = a->vbi_stdin ? nullptr : val;
            a->vbi_socket = nullptr;
            break;
        case OPT_VBI_SOCKET:
            if (!*val || strlen(val) >= sizeof vbi_socket - 8)
                return say("--vbi-socket", val, "is not a socket path of 1 to 107 bytes");
            snprintf(vbi_socket, sizeof vbi_socket, "socket:%s", val);
            a->vbi = vbi_socket;
            a->vbi_socket = val;
            a->vbi_stdin = false;
            break;
        case OPT_PACE:
        case OPT_RATE: {
            long long period;
            if (c == OPT_PACE && !val)
                val = "29.97";
            else if (!standin_pace_period(val, &period))
                return say(c == OPT_PACE ? "--pace" : "--rate", val,
                           "is not a rate of at least 1e-9 blocks per second");
            a->pace = val;
            break;
        }
        case OPT_FAIL_AFTER:
            if (const char *err = number("--fail-after", val, 0, LLONG_MAX, fail_after, &a->fail_after))
                return err;
            break;
        case OPT_FB_FAIL:
            if (const char *err = number("--fb-fail", val, 1, 4095, fb_fail, &a->fb_fail))
                return err;
            break;
        case OPT_FB: a->fb = val; break;
        case OPT_CMAP: a->cmap = val; break;
        case OPT_MEM: a->mem = val; break;
        case OPT_HELP: a->help = true; break;
        case OPT_VERSION: a->version = true; break;
        default:
            message = cli_option_error(argv, long_options, c);
            return message.c_str();
        }
    }
    if (a->help || a->version)
        return nullptr;
    if (optind >= argc)
        return "no program given";
    a->program = optind;
    return nullptr;
}

bool standin_is_capture(const unsigned char *head, size_t n, long long size, bool executable)
{
    bool elf = n >= 4 && memcmp(head, "\x7f" "ELF", 4) == 0;
    bool script = n >= 2 && head[0] == '#' && head[1] == '!';
    if (elf || script)
        return false;
    // Whole blocks are a capture even with an execute bit (a FAT stick):
    // executed, the shell would read the samples as commands.  A file that
    // cannot run and holds at least a block is one cut short; a small one
    // (notes, a text) is only not a program.
    return (size > 0 && size % STANDIN_BLOCK == 0) || (!executable && size >= STANDIN_BLOCK);
}
