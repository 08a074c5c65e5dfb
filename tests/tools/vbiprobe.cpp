// Reads a VBI device node the way the caption programs do and prints what
// every read returned: its size and the frame counter, or the error.
//
//   vbiprobe [--wait=select|pselect|poll|ppoll|none] [--check] [--nonblock]
//            [--show-fd] [--show-pid] [NODE]
//
// It waits for the device with the call given (select by default) beside
// a pipe that never becomes readable, as a program waits for the device
// and its X connection.  --check first asks without waiting and prefixes
// the line with "ready" or "held"; --nonblock opens the node non-blocking
// and reads before it waits, printing "EAGAIN" when that read is refused;
// --show-fd tells whether the node was opened on a descriptor of 1024 or
// above, --show-pid prints the probe's process id first.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/select.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "vbi.h"

static uint8_t block[VBI_BLOCK_SIZE];

// Waits on the device and the idle pipe; timeout_ms < 0 waits for ever.
// Returns whether the device was reported readable.
static bool wait_for(const char *how, int fd, int idle, int timeout_ms)
{
    struct timeval tv = {timeout_ms / 1000, (timeout_ms % 1000) * 1000};
    struct timespec ts = {timeout_ms / 1000, (timeout_ms % 1000) * 1000000L};
    sigset_t mask;
    sigemptyset(&mask);
    int top = (fd > idle ? fd : idle) + 1;
    if (strcmp(how, "select") == 0 || strcmp(how, "pselect") == 0) {
        // fd_set holds descriptors below FD_SETSIZE only.
        if (top > FD_SETSIZE) {
            printf("fd %d does not fit select\n", fd);
            return false;
        }
        fd_set set;
        FD_ZERO(&set);
        FD_SET(idle, &set);
        FD_SET(fd, &set);
        int n = how[0] == 's' ? select(top, &set, nullptr, nullptr, timeout_ms < 0 ? nullptr : &tv)
                              : pselect(top, &set, nullptr, nullptr,
                                        timeout_ms < 0 ? nullptr : &ts, &mask);
        return n > 0 && FD_ISSET(fd, &set);
    }
    struct pollfd p[2] = {{idle, POLLIN, 0}, {fd, POLLIN, 0}};
    int n = strcmp(how, "poll") == 0 ? poll(p, 2, timeout_ms)
                                     : ppoll(p, 2, timeout_ms < 0 ? nullptr : &ts, &mask);
    return n > 0 && (p[1].revents & POLLIN);
}

int main(int argc, char **argv)
{
    const char *how = "select";
    const char *path = "/dev/vbi0";
    bool check = false, nonblock = false, show_fd = false, show_pid = false;
    for (int i = 1; i < argc; i++) {
        if (strncmp(argv[i], "--wait=", 7) == 0)
            how = argv[i] + 7;
        else if (strcmp(argv[i], "--check") == 0)
            check = true;
        else if (strcmp(argv[i], "--nonblock") == 0)
            nonblock = true;
        else if (strcmp(argv[i], "--show-fd") == 0)
            show_fd = true;
        else if (strcmp(argv[i], "--show-pid") == 0)
            show_pid = true;
        else
            path = argv[i];
    }
    if (show_pid)
        printf("pid %d\n", (int)getpid());
    fflush(stdout);
    int idle[2];
    if (pipe(idle) != 0)
        return 2;
    int fd = open(path, O_RDONLY | (nonblock ? O_NONBLOCK : 0));
    if (fd < 0) {
        printf("open %s\n", strerror(errno));
        return 1;
    }
    if (show_fd)
        printf("fd %s\n", fd >= 1024 ? "1024 or above" : "below 1024");
    bool waits = strcmp(how, "none") != 0;
    for (;;) {
        if (check)
            printf("%s ", wait_for(how, fd, idle[0], 0) ? "ready" : "held");
        ssize_t n = -1;
        if (nonblock) {
            n = read(fd, block, sizeof block);
            if (n < 0 && errno == EAGAIN)
                printf("EAGAIN ");
        }
        if (!nonblock || (n < 0 && errno == EAGAIN)) {
            if (waits)
                wait_for(how, fd, idle[0], -1);
            n = read(fd, block, sizeof block);
        }
        if (n < 0) {
            printf("error %s\n", strerror(errno));
            return 0;
        }
        printf("%zd %u %u\n", n, (unsigned)vbi_frame_counter(block), (unsigned)block[0]);
        fflush(stdout);
        if (n < (ssize_t)sizeof block)
            return 0;
    }
}
