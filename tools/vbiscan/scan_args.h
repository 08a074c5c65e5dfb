// The scanner's command line.  Pure, so that the tests reach it without a
// process.
#pragma once
#include <string>
#include <vector>

#include "vbi.h"

extern const char vbiscan_usage[];

struct ScanArgs {
    int line = VBI_CAPTION_LINE;
    bool json = false;
    std::string png_dir;      // empty: no pictures
    long long max_blocks = 0; // 0: read to the end
    std::vector<std::string> captures;  // none: standard input; "-" too
    bool all = false;         // every caption line in the text report
    bool help = false, version = false;
};

// Returns an empty string when the arguments are good, else one line for
// the user (without the program's name) naming the option at fault.
std::string scan_parse_args(int argc, char **argv, ScanArgs *a);

// How a capture is named in messages and reports: "standard input" for
// "-", '' for an empty name, the path itself otherwise.
std::string capture_name(const std::string &capture);
