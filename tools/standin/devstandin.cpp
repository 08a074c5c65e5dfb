// devstandin: runs a program with the device stand-in preloaded, so that a
// capture recorded on the target (dd if=/dev/vbi0 bs=65536 of=capture.vbi)
// can be replayed through the caption programs on a workstation.
#include <elf.h>
#include <errno.h>
#include <fcntl.h>
#include <libgen.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "cli.h"
#include "standin_args.h"
#include "standin_exec.h"

// The library lies beside this program in the build tree, or in the
// private library folder of an installed tree: found relative to this
// program wherever the tree was installed, or at the folder it was
// configured for.
static bool find_library(char *out, size_t size)
{
    const char *given = getenv("STANDIN_LIB");
    if (given && *given) {
        snprintf(out, size, "%s", given);
        return true;
    }
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        return false;
    self[n] = '\0';
    char *slash = strrchr(self, '/');
    if (!slash)
        return false;
    *slash = '\0';
    const char *candidates[] = {"/libdevstandin.so", "/" STANDIN_LIB_FROM_BIN};
    for (const char *c : candidates) {
        snprintf(out, size, "%s%s", self, c);
        if (access(out, R_OK) == 0)
            return true;
    }
    snprintf(out, size, "%s", STANDIN_LIB_INSTALLED);
    return access(out, R_OK) == 0;
}

static void setenv_or_die(const char *name, const char *value)
{
    if (value && setenv(name, value, 1) != 0) {
        perror("setenv");
        exit(125);
    }
}

static void complain(const char *file, const char *why)
{
    fprintf(stderr, "devstandin: %s: %s\n", file, why);
}

// A file that must be there and readable: the capture, the frame buffer,
// the memory file.  Opened without blocking, so that a FIFO is checked
// without waiting for its writer.
static bool readable_file(const char *path)
{
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        complain(path, strerror(errno));
        return false;
    }
    struct stat st;
    bool dir = fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
    close(fd);
    if (dir)
        complain(path, strerror(EISDIR));
    return !dir;
}

static bool listening_socket(const char *path)
{
    struct stat st;
    if (stat(path, &st) != 0) {
        complain(path, strerror(errno));
        return false;
    }
    if (!S_ISSOCK(st.st_mode)) {
        complain(path, "not a socket");
        return false;
    }
    return true;
}

// The colour map is appended to FILE: an existing file must be writable,
// a new one must have a writable folder.  Whether the writes then succeed
// (a full disc, /dev/full) only the writes can tell: the library fails
// FBIOPUTCMAP with the write's error, and the program reports it.
static bool writable_file(const char *path)
{
    struct stat st;
    if (stat(path, &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            complain(path, strerror(EISDIR));
            return false;
        }
        if (access(path, W_OK) != 0) {
            complain(path, strerror(errno));
            return false;
        }
        return true;
    }
    if (errno != ENOENT) {
        complain(path, strerror(errno));
        return false;
    }
    char copy[PATH_MAX];
    snprintf(copy, sizeof copy, "%s", path);
    const char *folder = dirname(copy);
    int e = 0;
    if (stat(folder, &st) != 0)
        e = errno;
    else if (!S_ISDIR(st.st_mode))
        e = ENOTDIR;
    else if (access(folder, W_OK | X_OK) != 0)
        e = errno;
    if (e)
        complain(path, strerror(e));
    return e == 0;
}

// A capture named where the program belongs (devstandin capture.vbi
// captext) is said to be one, with the command that was meant.
static bool capture_in_place(const char *name)
{
    int fd = open(name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    unsigned char head[4];
    ssize_t n = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? read(fd, head, sizeof head) : -1;
    close(fd);
    if (n < 0 || !standin_is_capture(head, (size_t)n, (long long)st.st_size, access(name, X_OK) == 0))
        return false;
    fprintf(stderr, "devstandin: %s: is a capture, not a program (did you mean --vbi %s?)\n", name, name);
    return true;
}

// The program is looked up as execvp will look it up, so that a name that
// cannot run (a capture file given where the program belongs) is reported
// before anything starts.  `found` receives the file that will run.
static bool runnable(const char *name, char *found, size_t size)
{
    struct stat st;
    int e = ENOENT;
    if (strchr(name, '/')) {
        snprintf(found, size, "%s", name);
        if (capture_in_place(name))
            return false;
        if (stat(name, &st) != 0)
            e = errno;
        else if (S_ISDIR(st.st_mode) || access(name, X_OK) != 0)
            e = EACCES;
        else
            return true;
    } else {
        const char *path = getenv("PATH");
        for (const char *dir = path && *path ? path : "/bin:/usr/bin"; *dir;) {
            size_t len = strcspn(dir, ":");
            char candidate[PATH_MAX];
            snprintf(candidate, sizeof candidate, "%.*s%s%s", (int)len, dir, len ? "/" : "", name);
            if (stat(candidate, &st) == 0) {
                if (!S_ISDIR(st.st_mode) && access(candidate, X_OK) == 0) {
                    snprintf(found, size, "%s", candidate);
                    return true;
                }
                e = EACCES;
            }
            dir += len + (dir[len] == ':');
        }
        // Not a program on PATH: perhaps a capture in the current folder.
        if (capture_in_place(name))
            return false;
    }
    complain(name, strerror(e));
    return false;
}

// Every file given is checked before the program starts, so that a
// mistyped name is reported as the runner's, not as a missing device.
static bool files_usable(const StandinArgs &a)
{
    if (a.vbi && !a.vbi_socket && !readable_file(a.vbi))
        return false;
    if (a.vbi_socket && !listening_socket(a.vbi_socket))
        return false;
    if (a.fb && !readable_file(a.fb))
        return false;
    if (a.mem && !readable_file(a.mem))
        return false;
    return !a.cmap || writable_file(a.cmap);
}

// Killing the runner ends the program it runs: the signal is passed on,
// and the runner goes on to wait for the program and hand on its status.
static volatile sig_atomic_t child_pid;
static volatile sig_atomic_t stop_feed;

static volatile sig_atomic_t passed_signal;

static void pass_on(int sig)
{
    passed_signal = sig;
    if (child_pid > 0)
        kill(child_pid, sig);
    stop_feed = 1;
}

static void child_ended(int)
{
    stop_feed = 1;
}

static const int passed_signals[] = {SIGTERM, SIGINT, SIGHUP};

// Installs the handlers with the signals blocked; they stay blocked until
// the child's pid is known.  A signal the runner was told to ignore (nohup)
// stays ignored, for the program too.
static void catch_signals(sigset_t *caught, sigset_t *before)
{
    sigemptyset(caught);
    sigaddset(caught, SIGCHLD);
    for (int sig : passed_signals)
        sigaddset(caught, sig);
    sigprocmask(SIG_BLOCK, caught, before);
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sigemptyset(&sa.sa_mask);
    for (int sig : passed_signals) {
        struct sigaction old;
        sigaction(sig, nullptr, &old);
        if (old.sa_handler == SIG_IGN)
            continue;
        sa.sa_handler = pass_on;
        sigaction(sig, &sa, nullptr);
    }
    sa.sa_handler = child_ended;
    sigaction(SIGCHLD, &sa, nullptr);
}

// Waits, with the caught signals let through, until fd is ready; false
// once the feed is to stop (the program ended, or the runner was killed).
static bool wait_ready(int fd, short events, const sigset_t *open_mask)
{
    while (!stop_feed) {
        struct pollfd p = {fd, events, 0};
        int n = ppoll(&p, 1, nullptr, open_mask);
        if (n > 0)
            return true;
        if (n < 0 && errno != EINTR)
            return false;
    }
    return false;
}

// Copies standard input into the feed one block per message, so that every
// read of the program returns exactly one block, as the driver does.  A
// closed or empty standard input ends the stream at once.
static void pump(int feed, const sigset_t *open_mask)
{
    static unsigned char block[STANDIN_BLOCK];
    for (;;) {
        size_t have = 0;
        while (have < sizeof block && wait_ready(0, POLLIN, open_mask)) {
            ssize_t n = read(0, block + have, sizeof block - have);
            if (n < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            if (n <= 0)
                break;
            have += (size_t)n;
        }
        if (have == 0 || stop_feed)
            break;
        ssize_t sent;
        while ((sent = send(feed, block, have, MSG_NOSIGNAL | MSG_DONTWAIT)) < 0 &&
               (errno == EAGAIN || errno == EINTR) && wait_ready(feed, POLLOUT, open_mask)) {
        }
        if (sent < 0 || have < sizeof block)
            break;
    }
    close(feed);
}

// A descriptor above standard input, output and error: with one of them
// closed, socketpair would otherwise hand out 0, 1 or 2, and the program
// would read its feed, or write its messages, into the wrong place.
static int above_stdio(int fd, int cloexec)
{
    if (fd > 2)
        return fd;
    int moved = fcntl(fd, cloexec ? F_DUPFD_CLOEXEC : F_DUPFD, 3);
    close(fd);
    return moved;
}

// ---- The library in the program ----------------------------------------
//
// The dynamic linker does not refuse to start a program whose preloaded
// library it cannot load: it says "ignored" and runs the program without
// it, whose opens of the device nodes then reach the real devices.  So
// the runner refuses every program it knows the library cannot enter, picks
// the library of the program's word size, names it so that LD_PRELOAD
// cannot split its path, and lets the program go on only once the library
// has reported in from inside it.

// The first bytes of a file: the ELF header and the program headers
// behind it, or a script's "#!" line.  False for a malformed ELF file; a
// file that cannot be read (a program that may be run but not read, an
// interpreter that is not there) is of no kind the runner can tell
// (STANDIN_NOT_ELF), and is left to exec and to the library's report.
static bool read_image(const char *path, StandinImage *image)
{
    static unsigned char head[16384];
    memset(image, 0, sizeof *image);
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    ssize_t n = fd < 0 ? -1 : read(fd, head, sizeof head);
    if (fd >= 0)
        close(fd);
    return n < 0 || standin_read_image(head, (size_t)n, image);
}

static bool same_machine(const StandinImage &a, const StandinImage &b)
{
    return a.kind == STANDIN_ELF && b.kind == STANDIN_ELF && a.bits == b.bits &&
           a.machine == b.machine;
}

// The program itself, or the interpreter that a script (or a file that is
// no program, which execvp hands to /bin/sh) is run by, followed as the
// kernel follows them.  Returns 0, or the runner's status after saying why.
static int program_image(const char *program, char *path, size_t size, StandinImage *image,
                         bool *itself)
{
    snprintf(path, size, "%s", program);
    *itself = true;
    for (int depth = 0;; depth++) {
        if (!read_image(path, image)) {
            complain(path, "not a program the stand-in library can enter");
            return 125;
        }
        if (image->kind == STANDIN_ELF || depth == 4)
            return 0;
        if (image->kind == STANDIN_NOT_ELF && access(path, R_OK) != 0)
            return 0;
        char next[PATH_MAX];
        snprintf(next, sizeof next, "%s",
                 image->kind == STANDIN_SCRIPT ? image->interpreter : "/bin/sh");
        snprintf(path, size, "%s", next);
        *itself = false;
    }
}

// Chooses the library for the program (the one found, or the one of the
// other word size in the folder "32" or "64" beside it), or refuses the
// program, named as given (`name`) or by its interpreter's path.  Returns
// 0, or the runner's status after saying why.
static int library_for(const char *name, const char *program, char *lib, size_t size)
{
    char found[PATH_MAX];
    StandinImage image, own;
    bool itself;
    int status = program_image(program, found, sizeof found, &image, &itself);
    if (status)
        return status;
    const char *path = itself ? name : found;
    struct stat st;
    if (image.kind == STANDIN_ELF && stat(found, &st) == 0 &&
        (((st.st_mode & S_ISUID) && st.st_uid != geteuid()) ||
         ((st.st_mode & S_ISGID) && st.st_gid != getegid()))) {
        // Started with another identity, the program runs in the dynamic
        // linker's secure mode, which ignores the preloaded library.
        complain(path, "a set-user-ID or set-group-ID program; the stand-in library cannot enter it");
        return 125;
    }
    if (image.kind == STANDIN_ELF && !image.interpreted) {
        complain(path, "a statically linked program; the stand-in library cannot enter it");
        return 125;
    }
    if (!find_library(lib, size)) {
        fprintf(stderr, "devstandin: cannot find libdevstandin.so (set STANDIN_LIB)\n");
        return 125;
    }
    if (image.kind != STANDIN_ELF || (read_image(lib, &own) && same_machine(own, image)))
        return 0;
    char other[PATH_MAX];
    snprintf(other, sizeof other, "%s", lib);
    char *slash = strrchr(other, '/');
    size_t at = slash ? (size_t)(slash + 1 - other) : 0;
    snprintf(other + at, sizeof other - at, "%d/libdevstandin.so", image.bits);
    StandinImage theirs;
    if (read_image(other, &theirs) && same_machine(theirs, image)) {
        snprintf(lib, size, "%s", other);
        return 0;
    }
    char why[128];
    if (image.machine == EM_386 || image.machine == EM_X86_64)
        snprintf(why, sizeof why, "a %d-bit program; no %d-bit stand-in library is installed",
                 image.bits, image.bits);
    else
        snprintf(why, sizeof why,
                 "a program for another processor; no stand-in library for it is installed");
    complain(path, why);
    return 125;
}

// LD_PRELOAD splits its list at blanks and colons, so a library whose path
// holds one (an install path with a space) is preloaded through a
// descriptor of it that the program inherits, named /proc/self/fd/N.
static bool preload_name(const char *lib, char *name, size_t size)
{
    if (!strpbrk(lib, " \t\n:")) {
        snprintf(name, size, "%s", lib);
        return true;
    }
    int fd = above_stdio(open(lib, O_RDONLY), 0);
    if (fd < 0)
        return false;
    snprintf(name, size, "/proc/self/fd/%d", fd);
    return true;
}

// Starts the program and waits until the library has reported in from
// inside it: the library writes one byte to the descriptor STANDIN_READY
// names from its constructor, which the dynamic linker runs before the
// program's own code.  The child ends with the runner, whatever kills the
// runner (SIGKILL, the out-of-memory killer), so no program goes on
// against a stand-in that is no longer there.  Returns the child's pid, or
// minus the runner's status once the program is gone.
static pid_t start_program(char **argv, const sigset_t *before)
{
    int report[2];
    char number[16];
    if (pipe2(report, O_CLOEXEC) < 0 || (report[1] = above_stdio(report[1], 1)) < 0) {
        perror("devstandin: pipe");
        return -125;
    }
    snprintf(number, sizeof number, "%d", report[1]);
    setenv_or_die("STANDIN_READY", number);
    pid_t runner = getpid();
    pid_t child = fork();
    if (child < 0) {
        perror("devstandin: fork");
        return -125;
    }
    if (child == 0) {
        // The program starts with the runner's own signal mask; handlers
        // fall back to the default at exec.
        sigprocmask(SIG_SETMASK, before, nullptr);
        if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != runner)
            _exit(125);
        fcntl(report[1], F_SETFD, 0);
        execvp(argv[0], argv);
        fprintf(stderr, "devstandin: %s: %s\n", argv[0], strerror(errno));
        if (write(report[1], "!", 1) < 0)
            _exit(125);
        _exit(127);
    }
    child_pid = child;
    close(report[1]);
    char said = 0;
    for (;;) {
        struct pollfd p = {report[0], POLLIN, 0};
        if (ppoll(&p, 1, nullptr, before) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (read(report[0], &said, 1) >= 0 || errno != EINTR)
            break;
    }
    close(report[0]);
    if (said == '1')
        return child;
    // Ended by a signal the runner passed on, the program's status is the
    // answer; otherwise it ran, or runs, without the library.
    bool killed = passed_signal != 0;
    if (said != '!' && !killed) {
        kill(child, SIGKILL);
        complain(argv[0], "the stand-in library did not load into the program");
    }
    int status;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (killed)
        return WIFSIGNALED(status) ? -(128 + WTERMSIG(status)) : -WEXITSTATUS(status);
    return said == '!' ? -127 : -125;
}

int main(int argc, char **argv)
{
    StandinArgs args;
    // The runner's own failures are 125, apart from any status of the
    // program it runs.
    if (const char *err = standin_parse_args(argc, argv, &args))
        return cli_usage_error("devstandin", err, 125);
    if (args.help)
        return cli_print("devstandin", standin_usage, 125);
    if (args.version)
        return cli_print("devstandin", cli_version("devstandin"), 125);
    if (!files_usable(args))
        return 1;
    char program[PATH_MAX];
    if (!runnable(argv[args.program], program, sizeof program))
        return 127;

    char lib[PATH_MAX], preload_lib[PATH_MAX];
    int refused = library_for(argv[args.program], program, lib, sizeof lib);
    if (refused)
        return refused;
    if (!preload_name(lib, preload_lib, sizeof preload_lib)) {
        complain(lib, strerror(errno));
        return 125;
    }
    const char *old = getenv("LD_PRELOAD");
    char preload[2 * PATH_MAX];
    snprintf(preload, sizeof preload, "%s%s%s", preload_lib, old && *old ? ":" : "",
             old ? old : "");
    setenv_or_die("LD_PRELOAD", preload);
    // A program built with AddressSanitizer wants its runtime first in the
    // preload list; the stand-in only interposes a few calls, so let it be.
    const char *asan = getenv("ASAN_OPTIONS");
    char asan_opts[1024];
    snprintf(asan_opts, sizeof asan_opts, "%s%sverify_asan_link_order=0", asan ? asan : "",
             asan && *asan ? ":" : "");
    setenv_or_die("ASAN_OPTIONS", asan_opts);

    int feed[2] = {-1, -1};
    char fdspec[32];
    if (args.vbi_stdin) {
        if (socketpair(AF_UNIX, SOCK_SEQPACKET, 0, feed) < 0) {
            perror("devstandin: socketpair");
            return 125;
        }
        feed[0] = above_stdio(feed[0], 1);
        feed[1] = above_stdio(feed[1], 0);
        if (feed[0] < 0 || feed[1] < 0 || fcntl(feed[0], F_SETFD, FD_CLOEXEC) < 0) {
            perror("devstandin: socketpair");
            return 125;
        }
        snprintf(fdspec, sizeof fdspec, "fd:%d", feed[1]);
        setenv_or_die("STANDIN_VBI", fdspec);
    } else {
        setenv_or_die("STANDIN_VBI", args.vbi);
    }
    setenv_or_die("STANDIN_VBI_PACE", args.pace);
    setenv_or_die("STANDIN_VBI_FAIL_AFTER", args.fail_after);
    setenv_or_die("STANDIN_FB", args.fb);
    setenv_or_die("STANDIN_FB_CMAP", args.cmap);
    setenv_or_die("STANDIN_FB_FAIL", args.fb_fail);
    setenv_or_die("STANDIN_MEM", args.mem);

    sigset_t caught, before;
    catch_signals(&caught, &before);
    pid_t child = start_program(argv + args.program, &before);
    if (child < 0)
        return -child;
    if (args.vbi_stdin) {
        close(feed[1]);
        signal(SIGPIPE, SIG_IGN);
        pump(feed[0], &before);
    }
    sigprocmask(SIG_SETMASK, &before, nullptr);
    // Hand the program's own status on, so the runner can stand in a script.
    int status;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            perror("devstandin: waitpid");
            return 125;
        }
    }
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}
