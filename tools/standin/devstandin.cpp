// devstandin: runs a program with the device stand-in preloaded, so that a
// capture recorded on the target (dd if=/dev/vbi0 bs=65536 of=capture.vbi)
// can be replayed through the caption programs on a workstation.
#include <errno.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "standin_args.h"

static const char usage_text[] =
    "usage: %s [options] program [argument ...]\n"
    "Runs program with /dev/vbi0, /dev/vbi, /dev/fb0 and /dev/mem answered by the stand-in.\n"
    "  --vbi FILE        replay FILE (65536-byte blocks) as the VBI device\n"
    "  --vbi -           live feed: every 65536 bytes of standard input is one block\n"
    "  --vbi-socket PATH live feed from a SOCK_SEQPACKET socket listening at PATH\n"
    "  --pace [RATE]     deliver at most RATE blocks per second (29.97 when RATE is left out)\n"
    "  --fail-after N    the VBI read after N blocks fails with an I/O error\n"
    "  --fb FILE         ordinary file opened as /dev/fb0\n"
    "  --cmap FILE       append every FBIOPUTCMAP colour map received to FILE\n"
    "  --fb-fail ERRNO   make FBIOPUTCMAP fail with ERRNO\n"
    "  --mem FILE        sparse file standing for physical memory (/dev/mem)\n"
    "A device that is not given does not exist for the program.\n";

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
    const char *candidates[] = {"/libdevstandin.so", "/" STANDIN_LIB_FROM_BIN,
                                "/../lib/devstandin/libdevstandin.so"};
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

// Copies standard input into the feed one block per message, so that every
// read of the program returns exactly one block, as the driver does.
static void pump(int feed)
{
    static unsigned char block[STANDIN_BLOCK];
    for (;;) {
        size_t have = 0;
        while (have < sizeof block) {
            ssize_t n = read(0, block + have, sizeof block - have);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            have += (size_t)n;
        }
        if (have == 0)
            break;
        if (send(feed, block, have, MSG_NOSIGNAL) < 0)
            break;
        if (have < sizeof block)
            break;
    }
    close(feed);
}

int main(int argc, char **argv)
{
    StandinArgs args;
    const char *err = standin_parse_args(argc, argv, &args);
    if (err) {
        if (*err)
            fprintf(stderr, "%s: %s\n", argv[0], err);
        fprintf(stderr, usage_text, argv[0]);
        return 125;
    }

    char lib[PATH_MAX];
    if (!find_library(lib, sizeof lib)) {
        fprintf(stderr, "%s: cannot find libdevstandin.so (set STANDIN_LIB)\n", argv[0]);
        return 125;
    }
    const char *old = getenv("LD_PRELOAD");
    char preload[2 * PATH_MAX];
    snprintf(preload, sizeof preload, "%s%s%s", lib, old && *old ? ":" : "", old ? old : "");
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
            perror("socketpair");
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

    pid_t child = fork();
    if (child < 0) {
        perror("fork");
        return 125;
    }
    if (child == 0) {
        if (feed[0] >= 0)
            close(feed[0]);
        execvp(argv[args.program], argv + args.program);
        fprintf(stderr, "%s: %s: %s\n", argv[0], argv[args.program], strerror(errno));
        _exit(127);
    }
    if (args.vbi_stdin) {
        close(feed[1]);
        signal(SIGPIPE, SIG_IGN);
        pump(feed[0]);
    }
    // Hand the program's own status on, so the runner can stand in a script.
    int status;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            perror("waitpid");
            return 125;
        }
    }
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}
