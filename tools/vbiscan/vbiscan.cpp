// vbiscan: reads a capture of the VBI device once and reports it whole:
// the frame counter, the levels of every line, what the three caption
// programs make of the caption line, the quality of its signal, and, on
// request, three pictures.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli.h"
#include "pictures.h"
#include "report.h"
#include "scan_args.h"
#include "scan_core.h"
#include "vbi.h"

static uint8_t block[VBI_BLOCK_SIZE];
static Scan scan;

static int fail(const std::string &what, const std::string &why)
{
    fprintf(stderr, "vbiscan: %s: %s\n", what.c_str(), why.c_str());
    return 1;
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

    const std::string name = capture_name(args);
    int fd = 0;
    if (!args.capture.empty() && args.capture != "-") {
        fd = open(args.capture.c_str(), O_RDONLY);
        if (fd < 0)
            return fail(name, strerror(errno));
    }
    ScanOptions opt;
    opt.line = args.line;
    opt.pictures = !args.png_dir.empty();
    if (!scan_init(&scan, opt))
        return fail(name, "no memory for the caption text");

    size_t trailing = 0;
    bool ended = false;
    for (;;) {
        if (args.max_blocks && (long long)scan.counter.blocks >= args.max_blocks)
            break;
        ssize_t n = cli_read_whole(fd, block, sizeof block);
        if (n < 0)
            return fail(name, strerror(errno));
        if (n < (ssize_t)sizeof block) {
            trailing = (size_t)n;
            ended = true;
            break;
        }
        scan_block(&scan, block);
    }
    if (fd != 0)
        close(fd);
    if (scan.counter.blocks == 0) {
        if (trailing == 0)
            return fail(name, "empty: no block to scan");
        return fail(name, "holds no whole block (" + std::to_string(trailing) + " bytes; a block is " +
                              std::to_string(VBI_BLOCK_SIZE) + ")");
    }
    // The caption programs end their stream with one more pass over what
    // their read buffer then holds.
    if (ended)
        scan_end(&scan, block, trailing);

    std::string report = args.json ? json_report(scan, name) : text_report(scan, name);
    std::vector<std::string> written;
    if (opt.pictures) {
        std::string why = write_pictures(scan, args.png_dir, &written);
        if (!why.empty()) {
            fprintf(stderr, "vbiscan: %s\n", why.c_str());
            return 1;
        }
    }
    if (fwrite(report.data(), 1, report.size(), stdout) != report.size() || fflush(stdout) != 0) {
        int e = errno;
        // Nothing half done: the pictures go with the report.
        for (const std::string &path : written)
            unlink(path.c_str());
        return fail("standard output", strerror(e));
    }
    scan_free(&scan);
    return 0;
}
