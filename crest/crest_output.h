// Writing a converter's output file.  The file is overwritten in place:
// an existing file keeps its owner, its permissions and any bytes past
// the part written.
#pragma once
#include <cstddef>

// Opens name write-only without creating or truncating it; only when that
// fails is it created (mode 0644, less the umask).  -1 with errno set when
// both fail.
int crest_open_output(const char *name);

// Writes the whole buffer, going on after a partial write; false with errno
// set when the device refuses the rest (a full disk, an I/O error).
bool crest_write_all(int fd, const void *buf, size_t size);
