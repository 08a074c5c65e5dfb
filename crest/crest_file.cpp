#include "crest_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

ssize_t crest_read_all(int fd, void *buf, size_t size)
{
    char *p = static_cast<char *>(buf);
    size_t got = 0;
    while (got < size) {
        ssize_t n = read(fd, p + got, size - got);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (n == 0)
            break;
        got += (size_t)n;
    }
    return (ssize_t)got;
}

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
