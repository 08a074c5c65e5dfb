#include "crest_output.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

int crest_open_output(const char *name)
{
    int fd = open(name, O_WRONLY);
    if (fd < 0)
        fd = creat(name, 0644);
    return fd;
}

bool crest_write_all(int fd, const void *buf, size_t size)
{
    const char *p = static_cast<const char *>(buf);
    while (size > 0) {
        ssize_t n = write(fd, p, size);
        if (n < 0)
            return false;
        if (n == 0) {
            // No progress and no error: nothing more will go out.
            errno = EIO;
            return false;
        }
        p += n;
        size -= (size_t)n;
    }
    return true;
}
