// Uses a VBI descriptor the ways a program may copy, share and close it,
// and prints what every read gave: its size, or the error.
//
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
    if (argc < 2)
        return 2;
    int fd = open("/dev/vbi0", O_RDONLY);
    if (fd < 0) {
        printf("open %s\n", strerror(errno));
        return 1;
    }
    if (strcmp(argv[1], "copies") == 0) {
        show("device", fd);
        int copies[] = {dup(fd), dup2(fd, 40), dup3(fd, 41, O_CLOEXEC), fcntl(fd, F_DUPFD, 50),
                        fcntl(fd, F_DUPFD_CLOEXEC, 60)};
        const char *names[] = {"dup", "dup2", "dup3", "F_DUPFD", "F_DUPFD_CLOEXEC"};
        for (int i = 0; i < 5; i++)
            show(names[i], copies[i]);
    } else if (strcmp(argv[1], "fork") == 0) {
        show("parent", fd);
        pid_t child = fork();
        if (child == 0) {
            show("child", fd);
            _exit(0);
        }
        waitpid(child, nullptr, 0);
        show("parent", fd);
    } else if (strcmp(argv[1], "fclose") == 0 && argc > 2) {
        fclose(fdopen(fd, "r"));
        int file = open(argv[2], O_RDONLY);
        printf("%s number\n", file == fd ? "same" : "another");
        show("file", file);
    } else {
        return 2;
    }
    return 0;
}
