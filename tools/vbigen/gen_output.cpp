// The generator's output.  Built with 64-bit file offsets, so that the
// 32-bit build writes captures past 2 GiB and can still cut a failed
// block off the end of one.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "vbi.h"
#include "vbigen_core.h"

void gen_output_init(GenOutput *out, int fd)
{
    struct stat st;
    *out = GenOutput{fd, fstat(fd, &st) == 0 && S_ISREG(st.st_mode), 0, 0, 0};
}

// Cuts the done bytes of an unfinished block off the end of a regular
// file: only when they are the file's end, so that a file written over in
// the middle keeps what follows.
static bool take_back(const GenOutput *out, size_t done)
{
    if (!out->regular)
        return false;
    struct stat st;
    off_t end = lseek(out->fd, 0, SEEK_CUR);
    if (end < (off_t)done || fstat(out->fd, &st) != 0 || st.st_size != end)
        return false;
    return ftruncate(out->fd, end - (off_t)done) == 0 && lseek(out->fd, end - (off_t)done, SEEK_SET) >= 0;
}

bool gen_output_put(const uint8_t *block, void *ctx)
{
    GenOutput *out = (GenOutput *)ctx;
    size_t done = 0;
    while (done < VBI_BLOCK_SIZE) {
        ssize_t n = write(out->fd, block + done, VBI_BLOCK_SIZE - done);
        if (n > 0) {
            done += (size_t)n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        out->error = n < 0 ? errno : EIO;
        if (done > 0 && !take_back(out, done))
            out->partial = done;
        return false;
    }
    out->blocks++;
    return true;
}
