// Makes a scripted sequence of select, pselect, poll, ppoll and read calls
// on a VBI source and prints what each call returned and left in its
// arguments, one line per call, so that the stand-in's paced device and a
// real pipe fed at the same rate can be compared call by call.
//
//   callseq [--pipe] PERIOD_MS STEP...
//
// The source is /dev/vbi0, or with --pipe a pipe that a writer process
// fills with one block (frame counter k) every PERIOD_MS from the start,
// the first one at once.  A second pipe that never becomes readable sits
// beside the source in every wait, as a program's X connection does.
//
// Steps, with times in periods from the start:
//   at:T           sleep until time T
//   read           a read of 65536 bytes;  bigread: of 262144 bytes
//   select:W  pselect:W  poll:W  ppoll:W   wait W periods, or "-" for ever
// A call step may end in "!" (SIGALRM 0.2 periods into the call, its
// handler installed without SA_RESTART) or "!r" (with SA_RESTART).
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/select.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "vbi.h"

static uint8_t block[4 * VBI_BLOCK_SIZE];
static double period_s;
static struct timespec start;

static struct timespec at(double periods)
{
    double s = start.tv_sec + start.tv_nsec / 1e9 + periods * period_s;
    struct timespec ts;
    ts.tv_sec = (time_t)s;
    ts.tv_nsec = (long)((s - (double)ts.tv_sec) * 1e9);
    return ts;
}

// Writes block k at time k, until the reader goes.
static void writer(int fd)
{
    signal(SIGPIPE, SIG_IGN);
    for (uint32_t k = 1; k < 1000; k++) {
        struct timespec when = at(k);
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &when, nullptr) == EINTR) {
        }
        vbi_set_frame_counter(block, k);
        if (write(fd, block, VBI_BLOCK_SIZE) != VBI_BLOCK_SIZE)
            _exit(0);
    }
    _exit(0);
}

static void on_alarm(int)
{
}

// Arms SIGALRM 0.2 periods ahead, its handler restarting calls or not.
static void arm(bool restart)
{
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_alarm;
    sa.sa_flags = restart ? SA_RESTART : 0;
    sigaction(SIGALRM, &sa, nullptr);
    long us = (long)(0.2 * period_s * 1e6);
    struct itimerval it = {{0, 0}, {us / 1000000, us % 1000000}};
    setitimer(ITIMER_REAL, &it, nullptr);
}

static void disarm()
{
    struct itimerval it = {{0, 0}, {0, 0}};
    setitimer(ITIMER_REAL, &it, nullptr);
}

static const char *error_name(int e)
{
    return e == EINTR ? "EINTR" : e == EAGAIN ? "EAGAIN" : strerror(e);
}

// Makes one call; prints the call as given, then its outcome.
static void call(const std::string &step, int fd, int idle)
{
    std::string name = step.substr(0, step.find_first_of(":!"));
    size_t bang = step.find('!');
    std::string wait = step.find(':') == std::string::npos
                           ? ""
                           : step.substr(step.find(':') + 1, bang == std::string::npos
                                                                 ? std::string::npos
                                                                 : bang - step.find(':') - 1);
    bool forever = wait == "-";
    double w = forever || wait.empty() ? 0 : atof(wait.c_str());
    long long ns = (long long)(w * period_s * 1e9);
    struct timeval tv = {(time_t)(ns / 1000000000), (long)(ns % 1000000000 / 1000)};
    struct timespec ts = {(time_t)(ns / 1000000000), (long)(ns % 1000000000)};
    if (bang != std::string::npos)
        arm(step.substr(bang) == "!r");
    int top = (fd > idle ? fd : idle) + 1;
    fd_set set;
    FD_ZERO(&set);
    FD_SET(fd, &set);
    FD_SET(idle, &set);
    struct pollfd p[2] = {{idle, POLLIN, 0}, {fd, POLLIN, 0}};
    sigset_t none;
    sigemptyset(&none);
    long long n;
    if (name == "read" || name == "bigread") {
        n = read(fd, block, name == "read" ? (size_t)VBI_BLOCK_SIZE : sizeof block);
    } else if (name == "select") {
        n = select(top, &set, nullptr, nullptr, forever ? nullptr : &tv);
    } else if (name == "pselect") {
        n = pselect(top, &set, nullptr, nullptr, forever ? nullptr : &ts, &none);
    } else if (name == "poll") {
        n = poll(p, 2, forever ? -1 : (int)(ns / 1000000));
    } else if (name == "ppoll") {
        n = ppoll(p, 2, forever ? nullptr : &ts, &none);
    } else {
        fprintf(stderr, "callseq: unknown step '%s'\n", step.c_str());
        exit(2);
    }
    int e = errno;
    disarm();
    printf("%s: ", step.c_str());
    if (n < 0)
        printf("-1 %s", error_name(e));
    else if (name == "read" || name == "bigread")
        printf("%lld %u", n, n > 0 ? (unsigned)vbi_frame_counter(block) : 0u);
    else
        printf("%lld", n);
    if (name == "select" || name == "pselect")
        printf(" device=%d idle=%d", FD_ISSET(fd, &set) ? 1 : 0, FD_ISSET(idle, &set) ? 1 : 0);
    if (name == "select" && !forever)
        printf(" left=%s", tv.tv_sec || tv.tv_usec ? "some" : "none");
    if (name == "poll" || name == "ppoll")
        printf(" device=%#x idle=%#x", (unsigned)p[1].revents, (unsigned)p[0].revents);
    printf("\n");
    fflush(stdout);
}

int main(int argc, char **argv)
{
    int i = 1;
    bool use_pipe = i < argc && strcmp(argv[i], "--pipe") == 0;
    i += use_pipe;
    if (i >= argc)
        return 2;
    period_s = atof(argv[i++]) / 1000;
    int idle[2];
    if (pipe(idle) != 0)
        return 2;
    int fd;
    pid_t child = -1;
    clock_gettime(CLOCK_MONOTONIC, &start);
    if (use_pipe) {
        int p[2];
        if (pipe(p) != 0)
            return 2;
        // Room for many blocks, so that a block is in the pipe whole once
        // written and a reader that falls behind finds all it missed.
        fcntl(p[1], F_SETPIPE_SZ, 1 << 20);
        vbi_set_frame_counter(block, 0);
        if (write(p[1], block, VBI_BLOCK_SIZE) != VBI_BLOCK_SIZE)
            return 2;
        child = fork();
        if (child == 0) {
            close(p[0]);
            writer(p[1]);
        }
        close(p[1]);
        fd = p[0];
    } else {
        fd = open("/dev/vbi0", O_RDONLY);
        if (fd < 0) {
            printf("open %s\n", strerror(errno));
            return 1;
        }
    }
    for (; i < argc; i++) {
        std::string step = argv[i];
        if (step.compare(0, 3, "at:") == 0) {
            struct timespec when = at(atof(step.c_str() + 3));
            while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &when, nullptr) == EINTR) {
            }
        } else {
            call(step, fd, idle[0]);
        }
    }
    if (child > 0) {
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
    }
    return 0;
}
