#include "vbi_device.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "vbi.h"

static void report(const char *what, const char *path)
{
    char text[300];
    snprintf(text, sizeof text, "%s %s", what, path);
    perror(text);
}

void vbi_open(VbiDevice *d, const char *path)
{
    d->path = path;
    d->end = false;
    d->read_errno = 0;
    d->fd = open(path, O_RDONLY);
    if (d->fd < 0) {
        report("open", path);
        exit(1);
    }
}

bool vbi_wait(VbiDevice *d, int other_fd, bool *other_ready)
{
    // poll names the descriptors themselves, whatever their numbers: a
    // process that inherited many descriptors may well hold the device or
    // the X connection above 1023.
    struct pollfd ready[2];
    ready[0].fd = d->fd;
    ready[0].events = POLLIN;
    ready[0].revents = 0;
    ready[1].fd = other_fd;
    ready[1].events = POLLIN;
    ready[1].revents = 0;
    poll(ready, other_fd >= 0 ? 2 : 1, -1);
    if (other_ready)
        *other_ready = other_fd >= 0 && ready[1].revents;
    return ready[0].revents != 0;
}

void vbi_read_block(VbiDevice *d, uint8_t *block)
{
    ssize_t n = read(d->fd, block, VBI_BLOCK_SIZE);
    if (n < VBI_BLOCK_SIZE) {
        d->end = true;
        // A failing device is not the end of a recording: it is reported
        // once the pass is over.
        if (n < 0)
            d->read_errno = errno;
    }
}

int vbi_close(VbiDevice *d)
{
    close(d->fd);
    if (!d->read_errno)
        return 0;
    errno = d->read_errno;
    report("read", d->path);
    return 1;
}
