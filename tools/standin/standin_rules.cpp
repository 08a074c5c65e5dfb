#include "standin_rules.h"

#include <errno.h>
#include <limits.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>

bool standin_pace_period(const char *text, long long *period_ns)
{
    // Decimal only: strtod would also take hexadecimal, "inf" and "nan".
    if (!*text || strspn(text, "0123456789.eE+-") != strlen(text))
        return false;
    char *end;
    errno = 0;
    double rate = strtod(text, &end);
    if (*end || errno == ERANGE || !(rate > 0) || !isfinite(rate))
        return false;
    // Slower than one block in about 31 years the schedule's nanoseconds
    // would soon overflow.
    double period = 1e9 / rate;
    if (!(period <= 1e18))
        return false;
    *period_ns = llround(period);
    return true;
}

bool standin_count(const char *text, long long *count)
{
    if (!*text || strspn(text, "0123456789") != strlen(text))
        return false;
    errno = 0;
    long long n = strtoll(text, nullptr, 10);
    if (errno == ERANGE)
        return false;
    *count = n;
    return true;
}

bool standin_errno(const char *text, int *error)
{
    long long n;
    if (!standin_count(text, &n) || n < 1 || n > 4095)
        return false;
    *error = (int)n;
    return true;
}

long long standin_due_ns(long long start_ns, long long blocks, long long period_ns)
{
    long long offset, due;
    if (__builtin_mul_overflow(blocks, period_ns, &offset) ||
        __builtin_add_overflow(start_ns, offset, &due))
        return LLONG_MAX;
    return due;
}

bool standin_map_fits(unsigned long long offset, unsigned long long length, long long size)
{
    if (size < 0)
        return false;
    unsigned long long usize = (unsigned long long)size;
    return offset <= usize && length <= usize - offset;
}
