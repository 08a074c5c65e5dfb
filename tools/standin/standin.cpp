// The device stand-in: a library preloaded into a program (LD_PRELOAD) that
// answers for the device nodes a workstation lacks, and for nothing else.
//
//   /dev/vbi0, /dev/vbi   STANDIN_VBI = FILE        capture file of 65536-byte blocks
//                                      fd:N        inherited SOCK_SEQPACKET live feed
//                                      socket:PATH SOCK_SEQPACKET feed to connect to
//                         STANDIN_VBI_PACE = RATE  replay a file at RATE blocks/s
//                         STANDIN_VBI_FAIL_AFTER = N  the read after N blocks fails (EIO)
//   /dev/fb0              STANDIN_FB = FILE        ordinary file opened in its place
//                         STANDIN_FB_CMAP = FILE   every FBIOPUTCMAP is appended here
//                         STANDIN_FB_FAIL = ERRNO  FBIOPUTCMAP fails with that errno
//   /dev/mem              STANDIN_MEM = FILE       sparse file holding physical memory
//
// A node whose variable is unset does not exist (ENOENT), so a program under
// the stand-in never reaches a real device by accident.
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/fb.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

namespace {

enum Kind { NONE = 0, VBI, FB };
enum { MAX_FDS = 1024, VBI_BLOCK = 65536 };

struct Tracked {
    unsigned char kind[MAX_FDS];
    long blocks[MAX_FDS];        // blocks read so far on a VBI descriptor
    struct timespec start[MAX_FDS];
};
Tracked tracked;

typedef int (*open_fn)(const char *, int, ...);
typedef int (*openat_fn)(int, const char *, int, ...);
typedef ssize_t (*read_fn)(int, void *, size_t);
typedef int (*close_fn)(int);
typedef int (*ioctl_fn)(int, unsigned long, ...);

template <typename F> F next(const char *name)
{
    return (F)dlsym(RTLD_NEXT, name);
}

const char *env(const char *name)
{
    const char *v = getenv(name);
    return v && *v ? v : nullptr;
}

void track(int fd, Kind kind)
{
    if (fd >= 0 && fd < MAX_FDS) {
        tracked.kind[fd] = kind;
        tracked.blocks[fd] = 0;
        tracked.start[fd].tv_sec = 0;
        tracked.start[fd].tv_nsec = 0;
    }
}

Kind kind_of(int fd)
{
    return fd >= 0 && fd < MAX_FDS ? (Kind)tracked.kind[fd] : NONE;
}

int real_open(const char *path, int flags, mode_t mode)
{
    static open_fn fn = next<open_fn>("open64");
    return fn(path, flags | O_LARGEFILE, mode);
}

int missing()
{
    errno = ENOENT;
    return -1;
}

int open_vbi(int flags)
{
    const char *src = env("STANDIN_VBI");
    if (!src)
        return missing();
    int fd;
    if (strncmp(src, "fd:", 3) == 0) {
        fd = dup(atoi(src + 3));
    } else if (strncmp(src, "socket:", 7) == 0) {
        fd = socket(AF_UNIX, SOCK_SEQPACKET, 0);
        if (fd < 0)
            return -1;
        struct sockaddr_un addr;
        memset(&addr, 0, sizeof addr);
        addr.sun_family = AF_UNIX;
        strncpy(addr.sun_path, src + 7, sizeof addr.sun_path - 1);
        if (connect(fd, (struct sockaddr *)&addr, sizeof addr) < 0) {
            int e = errno;
            close(fd);
            errno = e;
            return -1;
        }
    } else {
        fd = real_open(src, flags, 0);
    }
    track(fd, VBI);
    return fd;
}

// Decides whether a path is one of ours; returns -2 when it is not.
int open_device(const char *path, int flags, mode_t mode)
{
    if (strcmp(path, "/dev/vbi0") == 0 || strcmp(path, "/dev/vbi") == 0)
        return open_vbi(flags);
    if (strcmp(path, "/dev/fb0") == 0) {
        const char *file = env("STANDIN_FB");
        if (!file)
            return missing();
        int fd = real_open(file, flags & ~O_CREAT, mode);
        track(fd, FB);
        return fd;
    }
    if (strcmp(path, "/dev/mem") == 0) {
        const char *file = env("STANDIN_MEM");
        if (!file)
            return missing();
        return real_open(file, flags & ~O_CREAT, mode);
    }
    return -2;
}

mode_t mode_arg(int flags, va_list ap)
{
    return (flags & (O_CREAT | O_TMPFILE)) ? (mode_t)va_arg(ap, int) : 0;
}

void pace(int fd)
{
    const char *rate_text = env("STANDIN_VBI_PACE");
    if (!rate_text)
        return;
    double rate = atof(rate_text);
    if (rate <= 0)
        return;
    struct timespec *t0 = &tracked.start[fd];
    if (t0->tv_sec == 0 && t0->tv_nsec == 0) {
        clock_gettime(CLOCK_MONOTONIC, t0);
        return;
    }
    double due = (double)tracked.blocks[fd] / rate;
    struct timespec when = *t0;
    long long ns = (long long)(due * 1e9) + when.tv_nsec;
    when.tv_sec += (time_t)(ns / 1000000000);
    when.tv_nsec = (long)(ns % 1000000000);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &when, nullptr) == EINTR) {
    }
}

ssize_t vbi_read(int fd, void *buf, size_t count)
{
    static read_fn real = next<read_fn>("read");
    const char *fail = env("STANDIN_VBI_FAIL_AFTER");
    if (fail && tracked.blocks[fd] >= atol(fail)) {
        errno = EIO;
        return -1;
    }
    pace(fd);
    ssize_t n = real(fd, buf, count);
    if (n > 0)
        tracked.blocks[fd]++;
    return n;
}

int record_cmap(const struct fb_cmap *cmap)
{
    const char *out = env("STANDIN_FB_CMAP");
    if (out) {
        FILE *f = fopen(out, "a");
        if (f) {
            fprintf(f, "FBIOPUTCMAP start=%u len=%u transp=%s\n", (unsigned)cmap->start,
                    (unsigned)cmap->len, cmap->transp ? "set" : "null");
            for (unsigned i = 0; i < cmap->len; i++)
                fprintf(f, "%u %u %u %u\n", cmap->start + i, (unsigned)cmap->red[i],
                        (unsigned)cmap->green[i], (unsigned)cmap->blue[i]);
            fclose(f);
        }
    }
    const char *fail = env("STANDIN_FB_FAIL");
    if (fail) {
        errno = atoi(fail) > 0 ? atoi(fail) : EINVAL;
        return -1;
    }
    return 0;
}

}  // namespace

extern "C" {

// The mode argument is there only when a file may be created.
#define MODE_ARG(flags, mode)                \
    mode_t mode;                             \
    do {                                     \
        va_list ap;                          \
        va_start(ap, flags);                 \
        mode = mode_arg(flags, ap);          \
        va_end(ap);                          \
    } while (0)

int open(const char *path, int flags, ...)
{
    MODE_ARG(flags, mode);
    static open_fn real = next<open_fn>("open");
    int fd = open_device(path, flags, mode);
    return fd != -2 ? fd : real(path, flags, mode);
}

int open64(const char *path, int flags, ...)
{
    MODE_ARG(flags, mode);
    static open_fn real = next<open_fn>("open64");
    int fd = open_device(path, flags, mode);
    return fd != -2 ? fd : real(path, flags, mode);
}

int __open_2(const char *path, int flags)
{
    return open(path, flags);
}

int __open64_2(const char *path, int flags)
{
    return open64(path, flags);
}

// The device nodes are absolute paths, whatever directory is given.
int openat(int dirfd, const char *path, int flags, ...)
{
    MODE_ARG(flags, mode);
    static openat_fn real = next<openat_fn>("openat");
    int fd = path[0] == '/' ? open_device(path, flags, mode) : -2;
    return fd != -2 ? fd : real(dirfd, path, flags, mode);
}

int openat64(int dirfd, const char *path, int flags, ...)
{
    MODE_ARG(flags, mode);
    static openat_fn real = next<openat_fn>("openat64");
    int fd = path[0] == '/' ? open_device(path, flags, mode) : -2;
    return fd != -2 ? fd : real(dirfd, path, flags, mode);
}

ssize_t read(int fd, void *buf, size_t count)
{
    if (kind_of(fd) == VBI)
        return vbi_read(fd, buf, count);
    static read_fn real = next<read_fn>("read");
    return real(fd, buf, count);
}

ssize_t __read_chk(int fd, void *buf, size_t count, size_t buflen)
{
    if (count > buflen)
        abort();
    return read(fd, buf, count);
}

int close(int fd)
{
    track(fd, NONE);
    static close_fn real = next<close_fn>("close");
    return real(fd);
}

int ioctl(int fd, unsigned long request, ...)
{
    va_list ap;
    va_start(ap, request);
    void *arg = va_arg(ap, void *);
    va_end(ap);
    if (kind_of(fd) == FB) {
        if (request == FBIOPUTCMAP)
            return record_cmap((const struct fb_cmap *)arg);
        errno = ENOTTY;
        return -1;
    }
    static ioctl_fn real = next<ioctl_fn>("ioctl");
    return real(fd, request, arg);
}

}  // extern "C"
