// The scanner's command line and its two reports: text for people, JSON
// for programs.  Pure: they turn arguments and a finished scan into values
// and strings; main does the reading and writing.
#pragma once
#include <string>

#include "scan_core.h"

#define VBISCAN_VERSION "0.1.0"

extern const char vbiscan_usage[];

struct CliArgs {
    int line = VBI_CAPTION_LINE;
    bool json = false;
    std::string png_dir;      // empty: no pictures
    long long max_blocks = 0; // 0: read to the end
    std::string capture;      // empty or "-": standard input
    bool help = false, version = false;
};

// Returns an empty string when the arguments are good, else one line for
// the user (without the program's name) naming the option at fault.
std::string parse_args(int argc, char **argv, CliArgs *a);

// How a capture is named in messages and reports.
std::string capture_name(const CliArgs &a);

std::string text_report(const Scan &s, const std::string &source);
std::string json_report(const Scan &s, const std::string &source);
