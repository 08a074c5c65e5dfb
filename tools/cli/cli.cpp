#include "cli.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

static bool refuse(std::string *why, const char *opt, const char *text, const std::string &what)
{
    *why = std::string(opt) + ": '" + text + "' " + what;
    return false;
}

static bool digit(char c)
{
    return c >= '0' && c <= '9';
}

bool cli_whole(const char *opt, const char *text, long long lo, long long hi, long long *out,
               std::string *why)
{
    const char *p = text + (*text == '-' || *text == '+');
    if (!*p)
        return refuse(why, opt, text, "is not a whole number");
    for (; *p; p++)
        if (!digit(*p))
            return refuse(why, opt, text, "is not a whole number");
    errno = 0;
    long long v = strtoll(text, nullptr, 10);
    if (errno == ERANGE)
        return refuse(why, opt, text, *text == '-' ? "is too small" : "is too large");
    if (v < lo || v > hi) {
        std::string range = "(" + std::to_string(lo) + (hi == LLONG_MAX ? " or more)" : " to " + std::to_string(hi) + ")");
        return refuse(why, opt, text, "is out of range " + range);
    }
    *out = v;
    return true;
}

// [-]digits[.digits][e[+-]digits] with at least one digit before the
// exponent: what strtod reads as a decimal number and nothing it reads
// beyond that (hexadecimal, inf, nan, leading blanks).
static bool decimal_real(const char *p)
{
    bool digits = false;
    if (*p == '-' || *p == '+')
        p++;
    while (digit(*p))
        p++, digits = true;
    if (*p == '.')
        for (p++; digit(*p); p++)
            digits = true;
    if (!digits)
        return false;
    if (*p == 'e' || *p == 'E') {
        p++;
        if (*p == '-' || *p == '+')
            p++;
        if (!digit(*p))
            return false;
        while (digit(*p))
            p++;
    }
    return *p == '\0';
}

bool cli_real(const char *opt, const char *text, double lo, double hi, double *out, std::string *why)
{
    if (!decimal_real(text))
        return refuse(why, opt, text, "is not a number");
    double v = strtod(text, nullptr);
    if (std::isinf(v))
        return refuse(why, opt, text, v < 0 ? "is too small" : "is too large");
    if (!(v >= lo && v <= hi)) {
        char range[96];
        snprintf(range, sizeof range, "is out of range (%g to %g)", lo, hi);
        return refuse(why, opt, text, range);
    }
    *out = v;
    return true;
}

std::string cli_option_name(int c, const struct option *longopts)
{
    for (const struct option *o = longopts; o && o->name; o++)
        if (!o->flag && o->val == c && (c >= 256 || c < ' '))
            return std::string("--") + o->name;
    return std::string("-") + (char)c;
}

// The long option that word ("--name" or "--name=value") names, exactly or
// as the one option it abbreviates; null if none.  *matches counts the
// options it abbreviates.
static const struct option *long_option(const char *word, const struct option *longopts, int *matches)
{
    const char *name = word + 2;
    size_t len = strcspn(name, "=");
    const struct option *found = nullptr;
    *matches = 0;
    for (const struct option *o = longopts; o && o->name; o++) {
        if (strncmp(o->name, name, len) != 0)
            continue;
        if (strlen(o->name) == len) {
            *matches = 1;
            return o;
        }
        found = o;
        ++*matches;
    }
    return *matches == 1 ? found : nullptr;
}

std::string cli_option_error(char *const argv[], const struct option *longopts, int c)
{
    // A long option is always consumed whole, so the word getopt_long
    // refused is the one before optind; a short option's letter is optopt
    // (and a refused long option's optopt is its val, or 0 if unknown).
    const char *word = optind > 0 ? argv[optind - 1] : "";
    if (strncmp(word, "--", 2) == 0) {
        int matches;
        const struct option *o = long_option(word, longopts, &matches);
        std::string typed(word, 2 + strcspn(word + 2, "="));
        if (optopt == 0 && matches > 1) {
            std::string list;
            for (const struct option *l = longopts; l->name; l++)
                if (strncmp(l->name, typed.c_str() + 2, typed.size() - 2) == 0)
                    list += (list.empty() ? "--" : ", --") + std::string(l->name);
            return "ambiguous option '" + typed + "' (" + list + ")";
        }
        if (o && optopt != 0 && o->val == optopt)
            return std::string("--") + o->name + (c == ':' ? ": needs a value" : ": takes no value");
        if (optopt == 0)
            return "unknown option '" + typed + "'";
    }
    std::string name = std::string("-") + (char)optopt;
    return c == ':' ? name + ": needs a value" : "unknown option '" + name + "'";
}

int cli_usage_error(const char *prog, const std::string &message, int status)
{
    fprintf(stderr, "%s: %s\nTry '%s --help'.\n", prog, message.c_str(), prog);
    return status;
}

std::string cli_version(const char *prog)
{
    return std::string(prog) + " (vbitools) " VT_VERSION "\n";
}

int cli_print(const char *prog, const std::string &text, int status)
{
    errno = 0;
    if (fwrite(text.data(), 1, text.size(), stdout) == text.size() && fflush(stdout) == 0)
        return 0;
    fprintf(stderr, "%s: standard output: %s\n", prog, strerror(errno ? errno : EIO));
    return status;
}

ssize_t cli_read_whole(int fd, void *buf, size_t size, const volatile sig_atomic_t *stop)
{
    size_t have = 0;
    while (have < size && !(stop && *stop)) {
        ssize_t n = read(fd, (char *)buf + have, size - have);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        have += (size_t)n;
    }
    return (ssize_t)have;
}
