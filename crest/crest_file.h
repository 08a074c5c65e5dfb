// Reading a converter's input and writing its output file.  The output is
// overwritten in place: an existing file keeps its owner, its permissions
// and any bytes past the part written.
#pragma once
#include <sys/types.h>

#include <cstddef>

// Reads until size bytes are in or the input ends: a pipe or a terminal
// hands over what has arrived so far, a file no more than it holds.  The
// count read, or -1 with errno set when the input refuses (a folder, an
// I/O error).
ssize_t crest_read_all(int fd, void *buf, size_t size);

// Opens name write-only without creating or truncating it; only when that
// fails is it created (mode 0644, less the umask).  -1 with errno set when
// both fail.
int crest_open_output(const char *name);

// Writes the whole buffer, going on after a partial write; false with errno
// set when the device refuses the rest (a full disk, an I/O error).
bool crest_write_all(int fd, const void *buf, size_t size);
