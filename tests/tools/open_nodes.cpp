// Opens the display device's nodes and says what each open gave: a program
// that the stand-in must enter, built for the other word size too.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

// With --flags, opens the VBI node non-blocking and close-on-exec and
// says whether the descriptor it got is.
int main(int argc, char **argv)
{
    if (argc > 1 && strcmp(argv[1], "--flags") == 0) {
        int fd = open("/dev/vbi0", O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            printf("open %s\n", strerror(errno));
            return 1;
        }
        printf("nonblock=%d cloexec=%d\n", (fcntl(fd, F_GETFL) & O_NONBLOCK) ? 1 : 0,
               (fcntl(fd, F_GETFD) & FD_CLOEXEC) ? 1 : 0);
        return 0;
    }
    static const char *const nodes[] = {"/dev/vbi0", "/dev/mem", "/dev/fb0"};
    for (const char *node : nodes) {
        int fd = open(node, O_RDONLY);
        printf("%s %s\n", node, fd >= 0 ? "opened" : strerror(errno));
        if (fd >= 0)
            close(fd);
    }
    return 0;
}
