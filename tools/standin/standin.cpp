// The device stand-in: a library preloaded into a program (LD_PRELOAD) that
// answers for the device nodes a workstation lacks, and for nothing else.
//
//   /dev/vbi0, /dev/vbi   STANDIN_VBI = FILE        capture file of 65536-byte blocks
//                                      fd:N        inherited SOCK_SEQPACKET live feed
//                                      socket:PATH SOCK_SEQPACKET feed to connect to
//                         STANDIN_VBI_PACE = RATE  deliver RATE blocks/s
//                         STANDIN_VBI_FAIL_AFTER = N  the read after N blocks fails (EIO)
//   /dev/fb0              STANDIN_FB = FILE        ordinary file opened in its place
//                         STANDIN_FB_CMAP = FILE   every FBIOPUTCMAP is appended here
//                         STANDIN_FB_FAIL = ERRNO  FBIOPUTCMAP fails with that errno
//   /dev/mem              STANDIN_MEM = FILE       sparse file holding physical memory
//
// A node whose variable is unset does not exist (ENOENT), so a program under
// the stand-in never reaches a real device by accident; a value the library
// cannot honour makes the open fail with EINVAL.
//
// A paced VBI descriptor behaves like the driver's: it is not readable (in
// select, pselect, poll and ppoll) until the next block is due, a read then
// returns at once, and a read that comes early waits as a blocking read of
// the device does (or fails with EAGAIN when the descriptor is
// non-blocking).  Block n is due n / RATE seconds after the program first
// waits for or reads the descriptor.  A read returns one block, as the
// device's does, and a signal ends its wait unless the handler restarts
// calls.
//
// Copies of a descriptor, and the descriptors a forked child inherits, are
// the one open device they are to the kernel.  STANDIN_READY = N names the
// descriptor on which the library tells its runner that it is in the
// program.
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <linux/fb.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/timerfd.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include "standin_rules.h"

namespace {

enum Kind { NONE = 0, VBI, FB, MEM };

// An open device node: one per open(2), shared by every copy of its
// descriptor (dup, dup2, dup3, F_DUPFD) and, through fork, by the children
// that inherit it, as the kernel shares one open file.  The devices live in
// memory shared across fork, so that a parent and its child reading one
// paced descriptor take their blocks from one schedule, not one each.
struct Device {
    int refs;              // descriptors on it, in this process and its forks
    Kind kind;
    long long blocks;      // blocks read so far on a VBI device
    long long period_ns;   // time between blocks, 0 when not paced
    long long fail_after;  // the read after this many blocks fails, or -1
    long long start_ns;    // when the program first asked for a block; 0: not yet
};
// A child that inherits a device descriptor across fork and then execs
// takes its share of `refs` with it: such a device is never given to a
// later open.  There is room for many.
enum { MAX_DEVICES = 256 };
Device *devices;

// The descriptors this process holds on stand-in nodes, by number, whatever
// that number is, with the file they were opened on (device and inode), so
// that a descriptor closed behind the stand-in's back (fclose closes
// through glibc's own internal call) and reused for another file is
// recognised as no longer the device.  A program holds a handful at most;
// one more than fits is refused as the kernel refuses a descriptor too many.
enum { MAX_TRACKED = 64 };

struct Tracked {
    int fd;
    Device *device;  // null when the entry is free
    unsigned long long st_dev, st_ino;
};
Tracked table[MAX_TRACKED];
int table_end;  // entries at and beyond this index are all free

typedef int (*open_fn)(const char *, int, ...);
typedef int (*openat_fn)(int, const char *, int, ...);
typedef ssize_t (*read_fn)(int, void *, size_t);
typedef int (*close_fn)(int);
typedef int (*dup_fn)(int);
typedef int (*dup2_fn)(int, int);
typedef int (*dup3_fn)(int, int, int);
typedef int (*fcntl_fn)(int, int, ...);
typedef int (*close_range_fn)(unsigned, unsigned, int);
typedef void (*closefrom_fn)(int);
typedef int (*ioctl_fn)(int, unsigned long, ...);
typedef int (*select_fn)(int, fd_set *, fd_set *, fd_set *, struct timeval *);
typedef int (*pselect_fn)(int, fd_set *, fd_set *, fd_set *, const struct timespec *,
                          const sigset_t *);
typedef int (*poll_fn)(struct pollfd *, nfds_t, int);
typedef int (*ppoll_fn)(struct pollfd *, nfds_t, const struct timespec *, const sigset_t *);
typedef void *(*mmap_fn)(void *, size_t, int, int, int, off_t);
typedef void *(*mmap64_fn)(void *, size_t, int, int, int, off64_t);

template <typename F> F next(const char *name)
{
    return (F)dlsym(RTLD_NEXT, name);
}

const char *env(const char *name)
{
    const char *v = getenv(name);
    return v && *v ? v : nullptr;
}

int fail(int error)
{
    errno = error;
    return -1;
}

int real_close(int fd)
{
    static close_fn fn = next<close_fn>("close");
    return fn(fd);
}

bool identify(int fd, unsigned long long *st_dev, unsigned long long *st_ino)
{
    struct stat64 st;
    if (fstat64(fd, &st) != 0)
        return false;
    *st_dev = st.st_dev;
    *st_ino = st.st_ino;
    return true;
}

void release(Tracked *t)
{
    if (t->device)
        __atomic_sub_fetch(&t->device->refs, 1, __ATOMIC_SEQ_CST);
    t->device = nullptr;
}

// Keeps table_end just past the last entry in use.
void trim_table()
{
    while (table_end > 0 && !table[table_end - 1].device)
        table_end--;
}

Tracked *entry_of(int fd)
{
    if (fd < 0)
        return nullptr;
    for (int i = 0; i < table_end; i++)
        if (table[i].device && table[i].fd == fd)
            return &table[i];
    return nullptr;
}

// The entry of a descriptor that is still the file it was opened on; an
// entry whose descriptor was closed, or now names another file, is dropped.
Tracked *find(int fd)
{
    Tracked *t = entry_of(fd);
    if (!t)
        return nullptr;
    unsigned long long st_dev, st_ino;
    if (identify(fd, &st_dev, &st_ino) && st_dev == t->st_dev && st_ino == t->st_ino)
        return t;
    release(t);
    trim_table();
    return nullptr;
}

Device *device_of(Tracked *t)
{
    return t ? t->device : nullptr;
}

void untrack(int fd)
{
    Tracked *t = entry_of(fd);
    if (t)
        release(t);
    trim_table();
}

// Gives descriptor fd an entry on device `dev` (taking a reference to it);
// false when the table is full or the descriptor cannot be looked at.
bool track(int fd, Device *device)
{
    untrack(fd);
    unsigned long long st_dev, st_ino;
    if (!identify(fd, &st_dev, &st_ino))
        return false;
    for (int i = 0; i < MAX_TRACKED; i++) {
        if (table[i].device)
            continue;
        table[i].fd = fd;
        table[i].device = device;
        table[i].st_dev = st_dev;
        table[i].st_ino = st_ino;
        __atomic_add_fetch(&device->refs, 1, __ATOMIC_SEQ_CST);
        if (i >= table_end)
            table_end = i + 1;
        return true;
    }
    return false;
}

// A copy of a descriptor (dup and its kin) is the same open device.  False
// when the table has no room for it: the copy is then closed again (EMFILE).
bool track_copy(int from, int to)
{
    Tracked *t = find(from);
    Device *device = t ? t->device : nullptr;
    untrack(to);
    if (device && !track(to, device)) {
        real_close(to);
        errno = EMFILE;
        return false;
    }
    return true;
}

// A forked child holds every descriptor its parent held.
void forked_child()
{
    for (int i = 0; i < table_end; i++)
        if (table[i].device)
            __atomic_add_fetch(&table[i].device->refs, 1, __ATOMIC_SEQ_CST);
}

// A free device, claimed with a reference that the caller drops once its
// descriptor holds one; null when all are in use.
Device *new_device(Kind kind)
{
    if (!devices) {
        void *p = mmap(nullptr, MAX_DEVICES * sizeof(Device), PROT_READ | PROT_WRITE,
                       MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED)
            return nullptr;
        devices = (Device *)p;
    }
    for (int i = 0; i < MAX_DEVICES; i++) {
        int free_refs = 0;
        if (__atomic_compare_exchange_n(&devices[i].refs, &free_refs, 1, false, __ATOMIC_SEQ_CST,
                                        __ATOMIC_SEQ_CST)) {
            Device &d = devices[i];
            d.kind = kind;
            d.blocks = 0;
            d.period_ns = 0;
            d.fail_after = -1;
            d.start_ns = 0;
            return &d;
        }
    }
    return nullptr;
}

Kind kind_of(int fd)
{
    Tracked *t = find(fd);
    return t ? t->device->kind : NONE;
}

int real_open(const char *path, int flags, mode_t mode)
{
    static open_fn fn = next<open_fn>("open64");
    return fn(path, flags | O_LARGEFILE, mode);
}

// Gives an opened descriptor a new device of its own, or closes it again.
int tracked_or_closed(int fd, Kind kind, Device **made = nullptr)
{
    if (fd < 0)
        return fd;
    Device *device = new_device(kind);
    bool ok = device && track(fd, device);
    if (device)
        __atomic_sub_fetch(&device->refs, 1, __ATOMIC_SEQ_CST);
    if (!ok) {
        real_close(fd);
        return fail(EMFILE);
    }
    if (made)
        *made = device;
    return fd;
}

// The runner's live feed is one socket, inherited as descriptor N: every
// open of the node is a copy of it that keeps the open's O_CLOEXEC, and
// sets its O_NONBLOCK, which the copies share (the latest open's holds).
int open_inherited(const char *number, int flags)
{
    int fd = fcntl(atoi(number), (flags & O_CLOEXEC) ? F_DUPFD_CLOEXEC : F_DUPFD, 0);
    int status = fd < 0 ? -1 : fcntl(fd, F_GETFL);
    if (status >= 0) {
        status = (flags & O_NONBLOCK) ? status | O_NONBLOCK : status & ~O_NONBLOCK;
        fcntl(fd, F_SETFL, status);
    }
    return fd;
}

// A feed listening at a path: every open is a connection of its own, with
// the open's O_CLOEXEC and O_NONBLOCK.
int open_socket(const char *path, int flags)
{
    int fd = socket(AF_UNIX, SOCK_SEQPACKET | ((flags & O_CLOEXEC) ? SOCK_CLOEXEC : 0), 0);
    if (fd < 0)
        return -1;
    struct sockaddr_un addr;
    memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    strncpy(addr.sun_path, path, sizeof addr.sun_path - 1);
    if (connect(fd, (struct sockaddr *)&addr, sizeof addr) < 0 ||
        ((flags & O_NONBLOCK) && fcntl(fd, F_SETFL, O_NONBLOCK) < 0)) {
        int e = errno;
        real_close(fd);
        return fail(e);
    }
    return fd;
}

int open_vbi(int flags)
{
    const char *src = env("STANDIN_VBI");
    if (!src)
        return fail(ENOENT);
    long long period_ns = 0, fail_after = -1;
    const char *pace = env("STANDIN_VBI_PACE");
    const char *after = env("STANDIN_VBI_FAIL_AFTER");
    if ((pace && !standin_pace_period(pace, &period_ns)) ||
        (after && !standin_count(after, &fail_after)))
        return fail(EINVAL);
    int fd;
    if (strncmp(src, "fd:", 3) == 0)
        fd = open_inherited(src + 3, flags);
    else if (strncmp(src, "socket:", 7) == 0)
        fd = open_socket(src + 7, flags);
    else
        fd = real_open(src, flags, 0);
    Device *d = nullptr;
    fd = tracked_or_closed(fd, VBI, &d);
    if (d) {
        d->period_ns = period_ns;
        d->fail_after = fail_after;
    }
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
            return fail(ENOENT);
        return tracked_or_closed(real_open(file, flags & ~O_CREAT, mode), FB);
    }
    if (strcmp(path, "/dev/mem") == 0) {
        const char *file = env("STANDIN_MEM");
        if (!file)
            return fail(ENOENT);
        return tracked_or_closed(real_open(file, flags & ~O_CREAT, mode), MEM);
    }
    return -2;
}

mode_t mode_arg(int flags, va_list ap)
{
    return (flags & (O_CREAT | O_TMPFILE)) ? (mode_t)va_arg(ap, int) : 0;
}

// ---- Time ------------------------------------------------------------

const long long NS = 1000000000LL;
const long long NEVER = LLONG_MAX;

long long now_ns()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * NS + ts.tv_nsec;
}

long long add_ns(long long a, long long b)
{
    long long sum;
    return __builtin_add_overflow(a, b, &sum) ? NEVER : sum;
}

// A caller's timeout as an absolute time on the monotonic clock.
long long deadline_after(long long sec, long long nsec)
{
    long long ns;
    if (__builtin_mul_overflow(sec, NS, &ns))
        return NEVER;
    return add_ns(now_ns(), add_ns(ns, nsec));
}

// A wait of `ns` split into seconds and a remainder in units of `unit`
// nanoseconds, rounded up so the wait is never shorter; the seconds stop
// at what the time type holds.
template <typename Sec> void split_ns(long long ns, long long unit, Sec *sec, long long *rest)
{
    long long max_sec = sizeof(Sec) < 8 ? INT_MAX : LLONG_MAX / NS;
    long long s = ns / NS;
    long long r = (ns % NS + unit - 1) / unit;
    if (s >= max_sec) {
        s = max_sec;
        r = 0;
    }
    *sec = (Sec)s;
    *rest = r;
}

// The next block of a paced device is due at this time; the stream's
// clock starts when the program (or any process sharing the device) first
// asks for a block.
long long next_due(Device *d, long long now)
{
    long long unset = 0;
    __atomic_compare_exchange_n(&d->start_ns, &unset, now, false, __ATOMIC_SEQ_CST,
                                __ATOMIC_SEQ_CST);
    return standin_due_ns(__atomic_load_n(&d->start_ns, __ATOMIC_SEQ_CST),
                          __atomic_load_n(&d->blocks, __ATOMIC_SEQ_CST), d->period_ns);
}

// Whether a device is a paced VBI device whose next block is not yet due,
// and when it is due.
bool device_held(Device *d, long long now, long long *due)
{
    if (!d || d->kind != VBI || d->period_ns <= 0)
        return false;
    *due = next_due(d, now);
    return now < *due;
}

bool paced_vbi(const Tracked *t)
{
    return t->device->kind == VBI && t->device->period_ns > 0;
}

// Fallback wait when no timer descriptor can be had: the same deadline,
// though a signal cannot cut it short.
void sleep_until(long long due)
{
    for (;;) {
        struct timespec when;
        long long rest;
        split_ns(due, 1, &when.tv_sec, &rest);
        when.tv_nsec = (long)rest;
        int e = clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &when, nullptr);
        if (e != EINTR && now_ns() >= due)
            return;
    }
}

// Waits until `due` as a blocking read of the device waits: in a read(2)
// of a timer, so that a signal whose handler was installed without
// SA_RESTART ends the wait with EINTR, and one with SA_RESTART does not.
int wait_like_read(long long due)
{
    static read_fn real = next<read_fn>("read");
    int timer = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
    if (timer < 0) {
        sleep_until(due);
        return 0;
    }
    struct itimerspec when;
    memset(&when, 0, sizeof when);
    long long rest;
    split_ns(due, 1, &when.it_value.tv_sec, &rest);
    when.it_value.tv_nsec = (long)rest;
    uint64_t expired;
    ssize_t n = 0;
    if (timerfd_settime(timer, TFD_TIMER_ABSTIME, &when, nullptr) == 0)
        n = real(timer, &expired, sizeof expired);
    else
        sleep_until(due);
    int e = errno;
    real_close(timer);
    return n < 0 ? fail(e) : 0;
}

// ---- The VBI device ----------------------------------------------------

const size_t BLOCK = 65536;

// One read returns at most one block, as the device's does, however large
// the buffer.
ssize_t vbi_read(Device *d, int fd, void *buf, size_t count)
{
    static read_fn real = next<read_fn>("read");
    if (d->period_ns > 0) {
        long long now = now_ns();
        long long due = next_due(d, now);
        if (now < due) {
            int fl = fcntl(fd, F_GETFL);
            if (fl >= 0 && (fl & O_NONBLOCK))
                return fail(EAGAIN);
            if (wait_like_read(due) < 0)
                return -1;
        }
    }
    if (d->fail_after >= 0 && __atomic_load_n(&d->blocks, __ATOMIC_SEQ_CST) >= d->fail_after)
        return fail(EIO);
    ssize_t n = real(fd, buf, count < BLOCK ? count : BLOCK);
    if (n > 0)
        __atomic_add_fetch(&d->blocks, 1, __ATOMIC_SEQ_CST);
    return n;
}

// Room for copies of descriptor sets or per-entry marks: on the stack for
// the usual sizes, from the heap for very large sets.
struct Scratch {
    unsigned char small[3 * 1024];
    unsigned char *data;
    explicit Scratch(size_t size)
        : data(size <= sizeof small ? small : (unsigned char *)malloc(size))
    {
    }
    ~Scratch()
    {
        if (data != small)
            free(data);
    }
};

const int LONG_BITS = 8 * (int)sizeof(unsigned long);

bool bit(const fd_set *set, int fd)
{
    return (((const unsigned long *)set)[fd / LONG_BITS] >> (fd % LONG_BITS)) & 1;
}

void clear_bit(fd_set *set, int fd)
{
    ((unsigned long *)set)[fd / LONG_BITS] &= ~(1UL << (fd % LONG_BITS));
}

// Whether any descriptor in a read set may be held back.
bool select_holds(int nfds, const fd_set *readfds)
{
    if (!readfds)
        return false;
    for (int i = 0; i < table_end; i++) {
        const Tracked &t = table[i];
        if (t.device && t.fd < nfds && bit(readfds, t.fd) && paced_vbi(&t) && find(t.fd))
            return true;
    }
    return false;
}

// The select family with held descriptors: every round takes the held ones
// out of the read set and waits no longer than until the first of them is
// due, and until the caller's deadline (NEVER for none).  Once the deadline
// has come, a last round that does not wait reports a block that fell due
// in the meantime, rather than "no data".  A failed call (EINTR) leaves the
// caller's sets as they were, as the kernel does.  `call` makes the real
// call with a wait in nanoseconds (-1: no limit).
template <typename Call>
int select_held(int nfds, fd_set *r, fd_set *w, fd_set *e, long long deadline, Call call)
{
    size_t bytes = (size_t)(nfds + LONG_BITS - 1) / LONG_BITS * sizeof(unsigned long);
    Scratch saved(3 * bytes);
    if (!saved.data)
        return fail(ENOMEM);
    fd_set *sets[3] = {r, w, e};
    for (int k = 0; k < 3; k++)
        if (sets[k])
            memcpy(saved.data + k * bytes, sets[k], bytes);
    auto restore = [&] {
        for (int k = 0; k < 3; k++)
            if (sets[k])
                memcpy(sets[k], saved.data + k * bytes, bytes);
    };
    for (;;) {
        restore();
        long long now = now_ns(), first_due = NEVER, due = NEVER;
        bool last = now >= deadline;
        for (int i = 0; i < table_end; i++) {
            int fd = table[i].fd;
            if (table[i].device && fd < nfds && bit(r, fd) &&
                device_held(table[i].device, now, &due)) {
                clear_bit(r, fd);
                if (due < first_due)
                    first_due = due;
            }
        }
        long long until = last ? now : deadline < first_due ? deadline : first_due;
        int n = call(until == NEVER ? -1 : until > now ? until - now : 0);
        if (n < 0) {
            int error = errno;
            restore();
            errno = error;
            return n;
        }
        if (n != 0 || last)
            return n;
    }
}

// The poll family likewise: a held entry is hidden from the kernel by
// negating its descriptor for the call, and reports nothing.
template <typename Call> int poll_held(struct pollfd *fds, nfds_t nfds, long long deadline, Call call)
{
    Scratch mark(nfds);
    if (!mark.data)
        return fail(ENOMEM);
    for (;;) {
        long long now = now_ns(), first_due = NEVER, due = NEVER;
        bool last = now >= deadline;
        for (nfds_t i = 0; i < nfds; i++) {
            Tracked *t = (fds[i].events & (POLLIN | POLLRDNORM)) ? find(fds[i].fd) : nullptr;
            mark.data[i] = t && device_held(device_of(t), now, &due);
            if (mark.data[i]) {
                fds[i].fd = -fds[i].fd - 1;
                if (due < first_due)
                    first_due = due;
            }
        }
        long long until = last ? now : deadline < first_due ? deadline : first_due;
        int n = call(until == NEVER ? -1 : until > now ? until - now : 0);
        int error = errno;
        for (nfds_t i = 0; i < nfds; i++) {
            if (mark.data[i]) {
                fds[i].fd = -fds[i].fd - 1;
                fds[i].revents = 0;
            }
        }
        errno = error;
        if (n != 0 || last)
            return n;
    }
}

bool poll_holds(const struct pollfd *fds, nfds_t nfds)
{
    if (table_end == 0)
        return false;
    for (nfds_t i = 0; i < nfds; i++) {
        Tracked *t = (fds[i].events & (POLLIN | POLLRDNORM)) ? find(fds[i].fd) : nullptr;
        if (t && paced_vbi(t))
            return true;
    }
    return false;
}

// Converts a wait in nanoseconds (-1: none) for each kind of call.
int poll_ms(long long ns)
{
    if (ns < 0)
        return -1;
    long long ms = ns / 1000000 + (ns % 1000000 != 0);
    return ms > INT_MAX ? INT_MAX : (int)ms;
}

template <typename T> T *timeval_for(long long ns, T *tv)
{
    if (ns < 0)
        return nullptr;
    long long usec;
    split_ns(ns, 1000, &tv->tv_sec, &usec);
    tv->tv_usec = usec;
    if (tv->tv_usec >= 1000000) {
        tv->tv_sec++;
        tv->tv_usec -= 1000000;
    }
    return tv;
}

template <typename T> T *timespec_for(long long ns, T *ts)
{
    if (ns < 0)
        return nullptr;
    long long nsec;
    split_ns(ns, 1, &ts->tv_sec, &nsec);
    ts->tv_nsec = nsec;
    return ts;
}

// select reports the time left, as Linux does.
template <typename T> void store_left(T *tv, long long deadline)
{
    if (!tv)
        return;
    long long left = deadline - now_ns();
    timeval_for(left > 0 ? left : 0, tv);
}

template <typename T> bool valid_timeval(const T *tv)
{
    return !tv || (tv->tv_sec >= 0 && tv->tv_usec >= 0 && tv->tv_usec < 1000000);
}

template <typename T> bool valid_timespec(const T *ts)
{
    return !ts || (ts->tv_sec >= 0 && ts->tv_nsec >= 0 && ts->tv_nsec < NS);
}

template <typename T> long long timeval_deadline(const T *tv)
{
    return tv ? deadline_after(tv->tv_sec, (long long)tv->tv_usec * 1000) : NEVER;
}

template <typename T> long long timespec_deadline(const T *ts)
{
    return ts ? deadline_after(ts->tv_sec, ts->tv_nsec) : NEVER;
}

template <typename TV, typename Real>
int select_with(Real real, int nfds, fd_set *r, fd_set *w, fd_set *e, TV *tv)
{
    if (!select_holds(nfds, r) || !valid_timeval(tv))
        return real(nfds, r, w, e, tv);
    long long deadline = timeval_deadline(tv);
    int n = select_held(nfds, r, w, e, deadline, [&](long long ns) {
        TV wait;
        return real(nfds, r, w, e, timeval_for(ns, &wait));
    });
    int error = errno;
    store_left(tv, deadline);
    errno = error;
    return n;
}

template <typename TS, typename Real>
int pselect_with(Real real, int nfds, fd_set *r, fd_set *w, fd_set *e, const TS *ts,
                 const sigset_t *mask)
{
    if (!select_holds(nfds, r) || !valid_timespec(ts))
        return real(nfds, r, w, e, ts, mask);
    return select_held(nfds, r, w, e, timespec_deadline(ts), [&](long long ns) {
        TS wait;
        return real(nfds, r, w, e, timespec_for(ns, &wait), mask);
    });
}

template <typename TS, typename Real>
int ppoll_with(Real real, struct pollfd *fds, nfds_t nfds, const TS *ts, const sigset_t *mask)
{
    if (!poll_holds(fds, nfds) || !valid_timespec(ts))
        return real(fds, nfds, ts, mask);
    return poll_held(fds, nfds, timespec_deadline(ts), [&](long long ns) {
        TS wait;
        return real(fds, nfds, timespec_for(ns, &wait), mask);
    });
}

int poll_with(poll_fn real, struct pollfd *fds, nfds_t nfds, int timeout)
{
    if (!poll_holds(fds, nfds))
        return real(fds, nfds, timeout);
    long long deadline = timeout < 0 ? NEVER : deadline_after(0, timeout * 1000000LL);
    return poll_held(fds, nfds, deadline,
                     [&](long long ns) { return real(fds, nfds, poll_ms(ns)); });
}

// ---- The frame buffer and physical memory ------------------------------

// Every colour map is recorded before it is answered: a map that cannot be
// recorded was not loaded, so the request fails with the error that
// stopped the record, and the program reports it as a refused map.
int record_cmap(const struct fb_cmap *cmap)
{
    const char *out = env("STANDIN_FB_CMAP");
    if (out) {
        FILE *f = fopen(out, "a");
        if (!f)
            return -1;
        fprintf(f, "FBIOPUTCMAP start=%u len=%u transp=%s\n", (unsigned)cmap->start,
                (unsigned)cmap->len, cmap->transp ? "set" : "null");
        for (unsigned i = 0; i < cmap->len; i++)
            fprintf(f, "%u %u %u %u\n", cmap->start + i, (unsigned)cmap->red[i],
                    (unsigned)cmap->green[i], (unsigned)cmap->blue[i]);
        int error = fflush(f) != 0 || ferror(f) ? (errno ? errno : EIO) : 0;
        if (fclose(f) != 0 && !error)
            error = errno;
        if (error)
            return fail(error);
    }
    const char *fail_with = env("STANDIN_FB_FAIL");
    if (fail_with) {
        int error;
        return fail(standin_errno(fail_with, &error) ? error : EINVAL);
    }
    return 0;
}

// The memory device maps only the physical memory there is: a range that
// reaches past the end of the memory file is refused with EINVAL, the
// error /dev/mem gives for a range it cannot map, before anything is
// mapped, so no access can later fault on a page the file does not back.
bool beyond_memory(int fd, int flags, unsigned long long offset, size_t length)
{
    if ((flags & MAP_ANONYMOUS) || kind_of(fd) != MEM)
        return false;
    // The 64-bit call: a memory file reaches past 2 GiB, beyond what a
    // 32-bit fstat can describe.
    struct stat64 st;
    return fstat64(fd, &st) == 0 && S_ISREG(st.st_mode) &&
           !standin_map_fits(offset, length, (long long)st.st_size);
}

// Tells the runner that the library is in the program, through the
// descriptor it named, before the program's own code runs: loaded by the
// dynamic linker, the library is there from the start or not at all.  The
// variable goes, so that the programs this one starts do not report again.
__attribute__((constructor)) void report_in()
{
    pthread_atfork(nullptr, nullptr, forked_child);
    const char *ready = env("STANDIN_READY");
    if (!ready)
        return;
    int fd = atoi(ready);
    unsetenv("STANDIN_READY");
    if (fd > 2 && write(fd, "1", 1) >= 0)
        real_close(fd);
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
    Tracked *t = find(fd);
    if (t && t->device->kind == VBI)
        return vbi_read(t->device, fd, buf, count);
    static read_fn real = next<read_fn>("read");
    return real(fd, buf, count);
}

ssize_t __read_chk(int fd, void *buf, size_t count, size_t buflen)
{
    if (count > buflen)
        abort();
    return read(fd, buf, count);
}

// A descriptor number that is closed or replaced stops being a device.
int close(int fd)
{
    untrack(fd);
    return real_close(fd);
}

// Copies are the same open device: paced on one schedule, failing after
// one count.
int dup(int oldfd)
{
    static dup_fn real = next<dup_fn>("dup");
    int fd = real(oldfd);
    return fd >= 0 && !track_copy(oldfd, fd) ? -1 : fd;
}

int dup2(int oldfd, int newfd)
{
    static dup2_fn real = next<dup2_fn>("dup2");
    int fd = real(oldfd, newfd);
    return fd >= 0 && oldfd != newfd && !track_copy(oldfd, newfd) ? -1 : fd;
}

int dup3(int oldfd, int newfd, int flags)
{
    static dup3_fn real = next<dup3_fn>("dup3");
    int fd = real(oldfd, newfd, flags);
    return fd >= 0 && !track_copy(oldfd, newfd) ? -1 : fd;
}

#define FCNTL(name)                                                                  \
    int name(int fd, int cmd, ...)                                                   \
    {                                                                                \
        va_list ap;                                                                  \
        va_start(ap, cmd);                                                           \
        void *arg = va_arg(ap, void *);                                              \
        va_end(ap);                                                                  \
        static fcntl_fn real = next<fcntl_fn>(#name);                                \
        int r = real(fd, cmd, arg);                                                  \
        bool copy = cmd == F_DUPFD || cmd == F_DUPFD_CLOEXEC;                        \
        return r >= 0 && copy && !track_copy(fd, r) ? -1 : r;                       \
    }
FCNTL(fcntl)
FCNTL(fcntl64)

int close_range(unsigned first, unsigned last, int flags)
{
    static close_range_fn real = next<close_range_fn>("close_range");
    int r = real(first, last, flags);
    if (r == 0 && !(flags & CLOSE_RANGE_CLOEXEC))
        for (int i = 0; i < table_end; i++)
            if (table[i].device && (unsigned)table[i].fd >= first &&
                (unsigned)table[i].fd <= last)
                release(&table[i]);
    trim_table();
    return r;
}

void closefrom(int lowfd)
{
    static closefrom_fn real = next<closefrom_fn>("closefrom");
    real(lowfd);
    for (int i = 0; i < table_end; i++)
        if (table[i].device && table[i].fd >= lowfd)
            release(&table[i]);
    trim_table();
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
        return fail(ENOTTY);
    }
    static ioctl_fn real = next<ioctl_fn>("ioctl");
    return real(fd, request, arg);
}

int select(int nfds, fd_set *r, fd_set *w, fd_set *e, struct timeval *tv)
{
    static select_fn real = next<select_fn>("select");
    return select_with(real, nfds, r, w, e, tv);
}

int __select(int nfds, fd_set *r, fd_set *w, fd_set *e, struct timeval *tv)
{
    return select(nfds, r, w, e, tv);
}

int pselect(int nfds, fd_set *r, fd_set *w, fd_set *e, const struct timespec *ts,
            const sigset_t *mask)
{
    static pselect_fn real = next<pselect_fn>("pselect");
    return pselect_with(real, nfds, r, w, e, ts, mask);
}

int poll(struct pollfd *fds, nfds_t nfds, int timeout)
{
    static poll_fn real = next<poll_fn>("poll");
    return poll_with(real, fds, nfds, timeout);
}

int __poll(struct pollfd *fds, nfds_t nfds, int timeout)
{
    return poll(fds, nfds, timeout);
}

int __poll_chk(struct pollfd *fds, nfds_t nfds, int timeout, size_t fdslen)
{
    if (fdslen / sizeof *fds < nfds)
        abort();
    return poll(fds, nfds, timeout);
}

int ppoll(struct pollfd *fds, nfds_t nfds, const struct timespec *ts, const sigset_t *mask)
{
    static ppoll_fn real = next<ppoll_fn>("ppoll");
    return ppoll_with(real, fds, nfds, ts, mask);
}

int __ppoll_chk(struct pollfd *fds, nfds_t nfds, const struct timespec *ts,
                const sigset_t *mask, size_t fdslen)
{
    if (fdslen / sizeof *fds < nfds)
        abort();
    return ppoll(fds, nfds, ts, mask);
}

#if __TIMESIZE == 32
// A 32-bit program built with 64-bit time (_TIME_BITS=64) calls these.
struct Timeval64 {
    long long tv_sec;
    long long tv_usec;
};
struct Timespec64 {
    long long tv_sec;
    int tv_nsec;
    int padding;
};
typedef int (*select64_fn)(int, fd_set *, fd_set *, fd_set *, Timeval64 *);
typedef int (*pselect64_fn)(int, fd_set *, fd_set *, fd_set *, const Timespec64 *,
                            const sigset_t *);
typedef int (*ppoll64_fn)(struct pollfd *, nfds_t, const Timespec64 *, const sigset_t *);

int __select64(int nfds, fd_set *r, fd_set *w, fd_set *e, Timeval64 *tv)
{
    static select64_fn real = next<select64_fn>("__select64");
    return select_with(real, nfds, r, w, e, tv);
}

int __pselect64(int nfds, fd_set *r, fd_set *w, fd_set *e, const Timespec64 *ts,
                const sigset_t *mask)
{
    static pselect64_fn real = next<pselect64_fn>("__pselect64");
    return pselect_with(real, nfds, r, w, e, ts, mask);
}

int __ppoll64(struct pollfd *fds, nfds_t nfds, const Timespec64 *ts, const sigset_t *mask)
{
    static ppoll64_fn real = next<ppoll64_fn>("__ppoll64");
    return ppoll_with(real, fds, nfds, ts, mask);
}

int __ppoll64_chk(struct pollfd *fds, nfds_t nfds, const Timespec64 *ts, const sigset_t *mask,
                  size_t fdslen)
{
    if (fdslen / sizeof *fds < nfds)
        abort();
    return __ppoll64(fds, nfds, ts, mask);
}
#endif

// mmap with a 32-bit off_t passes the offset on as an unsigned number, so
// that offsets up to 4 GiB (the device's window at 0xE8000000) reach the
// kernel.
void *mmap(void *addr, size_t length, int prot, int flags, int fd, off_t offset)
{
    unsigned long long where = sizeof offset < 8 ? (unsigned long long)(unsigned long)offset
                                                 : (unsigned long long)offset;
    if (beyond_memory(fd, flags, where, length)) {
        errno = EINVAL;
        return MAP_FAILED;
    }
    static mmap_fn real = next<mmap_fn>("mmap");
    return real(addr, length, prot, flags, fd, offset);
}

void *mmap64(void *addr, size_t length, int prot, int flags, int fd, off64_t offset)
{
    if (beyond_memory(fd, flags, (unsigned long long)offset, length)) {
        errno = EINVAL;
        return MAP_FAILED;
    }
    static mmap64_fn real = next<mmap64_fn>("mmap64");
    return real(addr, length, prot, flags, fd, offset);
}

}  // extern "C"
