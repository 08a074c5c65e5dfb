// Opens the display device's nodes as a program does and prints what every
// open and read gave.  Built for the other word size too (fdprobe32).
//
//   fdprobe nodes         open /dev/vbi0, /dev/mem and /dev/fb0
//   fdprobe flags         open the VBI node non-blocking and close-on-exec;
//                         say whether the descriptor is
//   fdprobe copies        read the device, then from a copy made with dup,
//                         dup2, dup3, F_DUPFD and F_DUPFD_CLOEXEC in turn
//   fdprobe fork          read, fork; the child reads, then the parent
//   fdprobe fclose FILE   close the device through stdio (fdopen, fclose),
//                         open FILE on the same number and read it
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

static char buf[65536];

static void show(const char *what, int fd)
{
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0)
        printf("%s %s\n", what, strerror(errno));
    else
        printf("%s %zd\n", what, n);
    fflush(stdout);
}

int main(int argc, char **argv)
{
    const char *mode = argc > 1 ? argv[1] : "nodes";
    if (strcmp(mode, "nodes") == 0) {
        static const char *const nodes[] = {"/dev/vbi0", "/dev/mem", "/dev/fb0"};
        for (const char *node : nodes)
            printf("%s %s\n", node, open(node, O_RDONLY) >= 0 ? "opened" : strerror(errno));
        return 0;
    }
    int fd = open("/dev/vbi0", O_RDONLY | (strcmp(mode, "flags") ? 0 : O_NONBLOCK | O_CLOEXEC));
    if (fd < 0) {
        printf("open %s\n", strerror(errno));
        return 1;
    }
    if (strcmp(mode, "flags") == 0) {
        printf("nonblock=%d cloexec=%d\n", (fcntl(fd, F_GETFL) & O_NONBLOCK) ? 1 : 0,
               (fcntl(fd, F_GETFD) & FD_CLOEXEC) ? 1 : 0);
    } else if (strcmp(mode, "copies") == 0) {
        show("device", fd);
        int copies[] = {dup(fd), dup2(fd, 40), dup3(fd, 41, O_CLOEXEC), fcntl(fd, F_DUPFD, 50),
                        fcntl(fd, F_DUPFD_CLOEXEC, 60)};
        const char *names[] = {"dup", "dup2", "dup3", "F_DUPFD", "F_DUPFD_CLOEXEC"};
        for (int i = 0; i < 5; i++)
            show(names[i], copies[i]);
    } else if (strcmp(mode, "fork") == 0) {
        show("parent", fd);
        pid_t child = fork();
        if (child == 0) {
            show("child", fd);
            _exit(0);
        }
        waitpid(child, nullptr, 0);
        show("parent", fd);
    } else if (strcmp(mode, "fclose") == 0 && argc > 2) {
        fclose(fdopen(fd, "r"));
        int file = open(argv[2], O_RDONLY);
        printf("%s number\n", file == fd ? "same" : "another");
        show("file", file);
    } else {
        return 2;
    }
    return 0;
}
