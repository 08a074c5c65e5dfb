#include "standin_args.h"

#include <sys/un.h>

#include <cstdio>
#include <cstring>

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

static const char *const value_options[] = {"--vbi",  "--vbi-socket", "--pace",
                                            "--rate", "--fail-after", "--fb",
                                            "--cmap", "--fb-fail",    "--mem"};

static char message[512];
static char vbi_socket[sizeof(((struct sockaddr_un *)nullptr)->sun_path) + 8];

static const char *say(const char *name, const char *value, const char *what)
{
    snprintf(message, sizeof message, "%s: '%s' %s", name, value, what);
    return message;
}

const char *standin_parse_args(int argc, char **argv, StandinArgs *a)
{
    memset(a, 0, sizeof *a);
    int i = 1;
    for (; i < argc && strncmp(argv[i], "--", 2) == 0; i++) {
        if (strcmp(argv[i], "--") == 0) {
            i++;
            break;
        }
        // --name value, or --name=value.
        char name[64];
        const char *eq = strchr(argv[i], '=');
        size_t len = eq ? (size_t)(eq - argv[i]) : strlen(argv[i]);
        snprintf(name, sizeof name, "%.*s", (int)(len < sizeof name ? len : sizeof name - 1),
                 argv[i]);
        const char *val = eq ? eq + 1 : nullptr;

        bool flag = strcmp(name, "--help") == 0 || strcmp(name, "--version") == 0;
        if (flag && val) {
            snprintf(message, sizeof message, "%s takes no value", name);
            return message;
        }
        if (strcmp(name, "--help") == 0) {
            a->help = true;
            return nullptr;
        }
        if (strcmp(name, "--version") == 0) {
            a->version = true;
            return nullptr;
        }
        // --pace alone is the frame rate; it never takes the next word, so
        // that "--pace capture.vbi" cannot swallow a file name or a program.
        if (strcmp(name, "--pace") == 0 && !val) {
            a->pace = "29.97";
            continue;
        }
        bool known = false;
        for (const char *o : value_options)
            known |= strcmp(name, o) == 0;
        if (!known) {
            snprintf(message, sizeof message, "unknown option '%s'", argv[i]);
            return message;
        }
        if (!val) {
            if (i + 1 >= argc) {
                snprintf(message, sizeof message, "%s needs a value", name);
                return message;
            }
            val = argv[++i];
        }

        if (strcmp(name, "--vbi") == 0) {
            a->vbi_stdin = strcmp(val, "-") == 0;
            a->vbi = a->vbi_stdin ? nullptr : val;
            a->vbi_socket = nullptr;
        } else if (strcmp(name, "--vbi-socket") == 0) {
            if (!*val || strlen(val) >= sizeof vbi_socket - 8)
                return say(name, val, "is not a socket path of 1 to 107 bytes");
            snprintf(vbi_socket, sizeof vbi_socket, "socket:%s", val);
            a->vbi = vbi_socket;
            a->vbi_socket = val;
            a->vbi_stdin = false;
        } else if (strcmp(name, "--pace") == 0 || strcmp(name, "--rate") == 0) {
            long long period;
            if (!standin_pace_period(val, &period))
                return say(name, val, "is not a rate of at least 1e-9 blocks per second");
            a->pace = val;
        } else if (strcmp(name, "--fail-after") == 0) {
            long long n;
            if (!standin_count(val, &n))
                return say(name, val, "is not a block count");
            a->fail_after = val;
        } else if (strcmp(name, "--fb") == 0) {
            a->fb = val;
        } else if (strcmp(name, "--cmap") == 0) {
            a->cmap = val;
        } else if (strcmp(name, "--fb-fail") == 0) {
            int e;
            if (!standin_errno(val, &e))
                return say(name, val, "is not an error number from 1 to 4095");
            a->fb_fail = val;
        } else {
            a->mem = val;
        }
    }
    if (i >= argc)
        return "no program given";
    a->program = i;
    return nullptr;
}
