#include "standin_args.h"

#include <cstdlib>
#include <cstring>

static char vbi_socket[4096 + 8];

static bool is_count(const char *s)
{
    if (!*s)
        return false;
    for (; *s; s++)
        if (*s < '0' || *s > '9')
            return false;
    return true;
}

static bool is_rate(const char *s)
{
    char *end;
    double r = strtod(s, &end);
    return end != s && *end == '\0' && r > 0;
}

const char *standin_parse_args(int argc, char **argv, StandinArgs *a)
{
    memset(a, 0, sizeof *a);
    int i = 1;
    for (; i < argc && argv[i][0] == '-' && argv[i][1] == '-'; i++) {
        const char *opt = argv[i];
        if (strcmp(opt, "--") == 0) {
            i++;
            break;
        }
        if (strcmp(opt, "--help") == 0)
            return "";
        if (strcmp(opt, "--pace") == 0) {
            if (i + 1 < argc && is_rate(argv[i + 1]))
                a->pace = argv[++i];
            else
                a->pace = "29.97";
            continue;
        }
        if (i + 1 >= argc)
            return "option needs a value";
        const char *val = argv[++i];
        if (strcmp(opt, "--vbi") == 0) {
            if (strcmp(val, "-") == 0)
                a->vbi_stdin = true;
            else
                a->vbi = val;
        } else if (strcmp(opt, "--vbi-socket") == 0) {
            if (strlen(val) > 4096)
                return "socket path too long";
            strcpy(vbi_socket, "socket:");
            strcat(vbi_socket, val);
            a->vbi = vbi_socket;
        } else if (strcmp(opt, "--fail-after") == 0) {
            if (!is_count(val))
                return "--fail-after takes a block count";
            a->fail_after = val;
        } else if (strcmp(opt, "--fb") == 0) {
            a->fb = val;
        } else if (strcmp(opt, "--cmap") == 0) {
            a->cmap = val;
        } else if (strcmp(opt, "--fb-fail") == 0) {
            if (!is_count(val) || atoi(val) == 0)
                return "--fb-fail takes an errno number";
            a->fb_fail = val;
        } else if (strcmp(opt, "--mem") == 0) {
            a->mem = val;
        } else {
            return "unknown option";
        }
    }
    if (i >= argc)
        return "no program given";
    a->program = i;
    return nullptr;
}
