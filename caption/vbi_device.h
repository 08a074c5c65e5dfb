// Reading the VBI device, alike in the three caption programs: open it,
// wait until it (or, for a scope, the X connection too) is ready, read one
// whole block, and at the end close it and report a failed read.
#pragma once
#include <cstdint>

struct VbiDevice {
    const char *path;  // as opened, for the messages
    int fd;
    bool end;          // a read shorter than a block ended the stream
    int read_errno;    // errno of a failed read, 0 when none failed
};

// Opens path read-only.  When it cannot be opened, reports "open PATH:
// reason" on standard error and exits with 1.
void vbi_open(VbiDevice *d, const char *path);

// Blocks until the device or other_fd (-1: none) is ready.  Returns true
// when the device is; *other_ready (may be null without other_fd) tells
// whether other_fd is.  A hang-up or an error counts as ready: the read, or
// whoever serves other_fd, meets the fault.
bool vbi_wait(VbiDevice *d, int other_fd, bool *other_ready);

// Reads one block.  A read shorter than a block is the end of the stream
// (d->end set; the buffer as it stands is still to be decoded once more); a
// failed read also keeps its errno, to be reported once that pass is over.
void vbi_read_block(VbiDevice *d, uint8_t *block);

// Closes the device; a read that failed is reported as "read PATH: reason".
// Returns the exit status: 1 after a failed read, else 0.
int vbi_close(VbiDevice *d);
