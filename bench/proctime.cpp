// proctime: runs a command once as a whole process and prints on standard
// output its wall-clock time and the CPU time (user plus system) that it
// and the children it waited for used, both in microseconds:
//   proctime [-o FILE] COMMAND [ARG...]      prints "WALL CPU"
// With -o the command's standard output goes to FILE, so that a filter's
// output needs no shell around it.  The benchmarks compare whole programs
// with their netpbm peers through it.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>

static long long microseconds(const struct timeval &tv)
{
    return (long long)tv.tv_sec * 1000000 + tv.tv_usec;
}

int main(int argc, char **argv)
{
    int first = 1;
    const char *out = nullptr;
    if (argc > 2 && strcmp(argv[1], "-o") == 0) {
        out = argv[2];
        first = 3;
    }
    if (first >= argc) {
        fputs("usage: proctime [-o FILE] COMMAND [ARG...]\n", stderr);
        return 2;
    }
    struct timespec t0, t1;
    clock_gettime(CLOCK_MONOTONIC, &t0);
    pid_t pid = fork();
    if (pid < 0) {
        perror("proctime: fork");
        return 1;
    }
    if (pid == 0) {
        if (out) {
            int fd = open(out, O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd < 0 || dup2(fd, 1) < 0) {
                perror(out);
                _exit(127);
            }
            close(fd);
        }
        execvp(argv[first], argv + first);
        perror(argv[first]);
        _exit(127);
    }
    int status;
    struct rusage ru;
    if (wait4(pid, &status, 0, &ru) < 0) {
        perror("proctime: wait4");
        return 1;
    }
    clock_gettime(CLOCK_MONOTONIC, &t1);
    long long wall = (t1.tv_sec - t0.tv_sec) * 1000000LL + (t1.tv_nsec - t0.tv_nsec) / 1000;
    printf("%lld %lld\n", wall, microseconds(ru.ru_utime) + microseconds(ru.ru_stime));
    // A run that failed measured nothing worth comparing.
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        fprintf(stderr, "proctime: %s failed\n", argv[first]);
        return 1;
    }
    return 0;
}
