// captext: prints the line-21 captions of the VBI device on standard error.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "averaging_slicer.h"
#include "caption.h"
#include "vbi.h"

static uint8_t block[VBI_BLOCK_SIZE];
static CaptionAssembler assembler;

int main()
{
    int fd = open("/dev/vbi0", O_RDONLY);
    if (fd < 0) {
        perror("open /dev/vbi0");
        exit(1);
    }
    caption_assembler_init(&assembler, 5, nullptr, 0);

    bool end = false;
    int read_errno = 0;
    uint32_t last_counter = 0;
    while (!end) {
        // poll names the device's descriptor itself, whatever its number: a
        // process that inherited many descriptors may hold it above 1023.
        // A hang-up or an error counts as ready: the read meets it and ends
        // the stream.
        struct pollfd ready;
        ready.fd = fd;
        ready.events = POLLIN;
        ready.revents = 0;
        poll(&ready, 1, -1);
        if (ready.revents) {
            ssize_t n = read(fd, block, sizeof block);
            if (n < (ssize_t)sizeof block) {
                end = true;
                // A failing device is not the end of a recording: it is
                // reported once the pass is over.
                if (n < 0)
                    read_errno = errno;
            }
            // The driver repeats a frame's counter when it hands the same
            // frame out again; each frame is decoded once.
            uint32_t counter = vbi_frame_counter(block);
            if (counter != last_counter) {
                last_counter = counter;
                add_word(&assembler, AveragingSlicer(block + VBI_CAPTION_LINE * VBI_LINE_SIZE));
            }
        }
    }
    close(fd);
    if (read_errno) {
        errno = read_errno;
        perror("read /dev/vbi0");
        return 1;
    }
    return 0;
}
