// Reads a VBI device node the way the caption programs do and prints what
// every read returned: its size and the frame counter, or the error.
#include <fcntl.h>
#include <sys/select.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "vbi.h"

static uint8_t block[VBI_BLOCK_SIZE];

int main(int argc, char **argv)
{
    const char *path = argc > 1 ? argv[1] : "/dev/vbi0";
    int fd = open(path, O_RDONLY);
    if (fd < 0) {
        printf("open %s\n", strerror(errno));
        return 1;
    }
    for (;;) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(fd, &set);
        select(fd + 1, &set, nullptr, nullptr, nullptr);
        ssize_t n = read(fd, block, sizeof block);
        if (n < 0) {
            printf("error %s\n", strerror(errno));
            return 0;
        }
        printf("%zd %u %u\n", n, (unsigned)vbi_frame_counter(block), (unsigned)block[0]);
        if (n < (ssize_t)sizeof block)
            return 0;
    }
}
