// The rules the stand-in library and its runner share: how the values the
// runner hands over are read, when a paced block is due, and which
// /dev/mem ranges a memory file can back.  Pure functions, so that the
// runner refuses exactly what the library could not honour.
#pragma once

// A rate of blocks per second, decimal ("29.97", "1e2"), as the time
// between blocks in nanoseconds.  False for anything but a finite rate of
// at least 1e-9 blocks per second.
bool standin_pace_period(const char *text, long long *period_ns);

// A decimal count from 0 to the largest long long.
bool standin_count(const char *text, long long *count);

// An error number as the kernel reports them: 1 to 4095.
bool standin_errno(const char *text, int *error);

// When block `blocks` of a paced stream that started at start_ns is due:
// start + blocks * period, or the largest long long ("never") where that
// does not fit.
long long standin_due_ns(long long start_ns, long long blocks, long long period_ns);

// Whether `length` bytes from `offset` lie inside a memory file of `size`
// bytes.
bool standin_map_fits(unsigned long long offset, unsigned long long length, long long size);
