// vbiscan: reads captures of the VBI device once each and reports each
// whole: a summary, the frame counter, the levels of every line, what the
// caption programs and the integrating slicer make of the caption line, the
// quality of its signal, and, on request, three pictures.
#include <fcntl.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "cli.h"
#include "pictures.h"
#include "report.h"
#include "scan_args.h"
#include "scan_core.h"
#include "vbi.h"

static uint8_t block[VBI_BLOCK_SIZE];

// The signal that asked the reading to end (SIGINT, SIGTERM), or 0.
static volatile sig_atomic_t stop_signal = 0;

static void on_stop(int sig)
{
    stop_signal = sig;
}

// No SA_RESTART: a read waiting on the device returns at once.  A signal
// the shell told vbiscan to ignore (a job started with & or nohup) stays
// ignored.
static void catch_stop()
{
    struct sigaction sa, old;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_stop;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM})
        if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler != SIG_IGN)
            sigaction(sig, &sa, nullptr);
}

static void complain(const std::string &what, const std::string &why)
{
    fprintf(stderr, "vbiscan: %s: %s\n", what.c_str(), why.c_str());
}

enum ReadResult { READ_BLOCK, READ_END, READ_STOPPED, READ_FAILED };

// Fills block from fd: a device delivers a block per read, a pipe may
// deliver it in pieces.  READ_END leaves the bytes of the short read in
// *have; READ_FAILED leaves errno set; a stop signal leaves the block
// unfinished, and what it holds is not scanned.
static ReadResult read_block(int fd, size_t *have)
{
    *have = 0;
    if (stop_signal)
        return READ_STOPPED;
    ssize_t n = cli_read_whole(fd, block, sizeof block, &stop_signal);
    if (stop_signal)
        return READ_STOPPED;
    if (n < 0)
        return READ_FAILED;
    *have = (size_t)n;
    return *have < sizeof block ? READ_END : READ_BLOCK;
}

static double now()
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}

// One line on a terminal while the reading goes on, redrawn at most four
// times a second and erased before the report.
struct Progress {
    bool on = false, shown = false;
    double start = 0, last = 0;

    void update(const std::string &name, uint64_t blocks)
    {
        if (!on)
            return;
        double t = now();
        if (t - last < 0.25)
            return;
        last = t;
        double rate = t > start ? (double)blocks / (t - start) : 0;
        fprintf(stderr, "\rvbiscan: %s: %llu blocks, %.1f s of video, %.0f blocks/s\033[K", name.c_str(),
                (unsigned long long)blocks, block_time(blocks), rate);
        shown = true;
    }
    void erase()
    {
        if (shown)
            fputs("\r\033[K", stderr);
        shown = false;
    }
};

static bool write_out(const std::string &text)
{
    return fwrite(text.data(), 1, text.size(), stdout) == text.size() && fflush(stdout) == 0;
}

// Scans one capture and prints its report.  Returns 0, or 1 after a
// message; *stdout_failed when standard output can take no more.
static int scan_capture(const std::string &path, const ScanArgs &args, bool *stdout_failed)
{
    const std::string name = capture_name(path);
    int fd = 0;
    if (path != "-") {
        fd = open(path.c_str(), O_RDONLY);
        if (fd < 0) {
            complain(name, strerror(errno));
            return 1;
        }
    }
    ScanOptions opt;
    opt.line = args.line;
    opt.pictures = !args.png_dir.empty();
    std::unique_ptr<Scan> scan(new Scan);
    if (!scan_init(scan.get(), opt)) {
        complain(name, "no memory for the caption text");
        if (fd != 0)
            close(fd);
        return 1;
    }
    Progress progress;
    progress.on = isatty(2);
    progress.start = progress.last = now();

    size_t trailing = 0;
    bool ended = false;
    int read_errno = 0;
    for (;;) {
        if (args.max_blocks && (long long)scan->counter.blocks >= args.max_blocks)
            break;
        size_t have;
        ReadResult r = read_block(fd, &have);
        if (r == READ_STOPPED) {
            scan->interrupted = true;
            break;
        }
        if (r == READ_FAILED) {
            read_errno = errno;
            break;
        }
        if (r == READ_END) {
            trailing = have;
            ended = true;
            break;
        }
        scan_block(scan.get(), block);
        progress.update(name, scan->counter.blocks);
    }
    progress.erase();
    if (fd != 0)
        close(fd);
    if (scan->counter.blocks == 0 && !scan->interrupted) {
        if (read_errno)
            complain(name, strerror(read_errno));
        else if (trailing == 0)
            complain(name, "empty: no block to scan");
        else
            complain(name, "holds no whole block (" + std::to_string(trailing) + " bytes; a block is " +
                               std::to_string(VBI_BLOCK_SIZE) + ")");
        scan_free(scan.get());
        return 1;
    }
    // The caption programs end their stream with one more pass over what
    // their read buffer then holds.
    if (ended)
        scan_end(scan.get(), block, trailing);

    std::string report = args.json ? json_report(*scan, name) : text_report(*scan, name, args.all);
    int status = 0;
    PictureFiles pictures;
    if (opt.pictures) {
        std::string why = pictures_prepare(*scan, args.png_dir, &pictures);
        if (!why.empty()) {
            fprintf(stderr, "vbiscan: %s\n", why.c_str());
            scan_free(scan.get());
            return 1;
        }
    }
    if (!write_out(report)) {
        // Nothing half done: the pictures go with the report, and the
        // ones already there stay.
        complain("standard output", strerror(errno));
        pictures_discard(&pictures);
        *stdout_failed = true;
        status = 1;
    } else if (opt.pictures) {
        std::string why = pictures_commit(&pictures);
        if (!why.empty()) {
            fprintf(stderr, "vbiscan: %s\n", why.c_str());
            status = 1;
        }
    }
    // A read that failed part way: what was read is reported, then why
    // the rest is missing.
    if (read_errno) {
        complain(name, std::string(strerror(read_errno)) + " after " + std::to_string(scan->counter.blocks) +
                           " blocks");
        status = 1;
    }
    scan_free(scan.get());
    return status;
}

int main(int argc, char **argv)
{
    ScanArgs args;
    std::string err = scan_parse_args(argc, argv, &args);
    if (!err.empty())
        return cli_usage_error("vbiscan", err);
    if (args.help)
        return cli_print("vbiscan", vbiscan_usage);
    if (args.version)
        return cli_print("vbiscan", cli_version("vbiscan"));
    if (args.captures.empty())
        args.captures.push_back("-");

    catch_stop();
    int status = 0;
    for (const std::string &path : args.captures) {
        bool stdout_failed = false;
        status |= scan_capture(path, args, &stdout_failed);
        // Interrupted: the report of what was read is out; the captures
        // after it are not begun.
        if (stdout_failed || stop_signal)
            break;
    }
    return status;
}
