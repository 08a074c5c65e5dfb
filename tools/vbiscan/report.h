// The scanner's command line and its two reports: text for people, JSON
// for programs.  Pure: they turn arguments and a finished scan into values
// and strings; main does the reading and writing.
#pragma once
#include <string>
#include <vector>

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

// all: every caption line of every program, not the first few.
std::string text_report(const Scan &s, const std::string &source, bool all = false);
// One line: JSON Lines when several captures are reported.
std::string json_report(const Scan &s, const std::string &source);

// Whether some line carries a run-in or a pair the programs' slicers read.
bool looks_like_capture(const Scan &s);
// "clean", "noisy", "weak", "mistimed", or "none" without a run-in; the
// figure that says so goes to *figure.
const char *signal_quality(const SignalFigures &f, double *figure);
// One line: captions, the signal's quality, the frame faults.
std::string scan_summary(const Scan &s);
// Where decoders refuse blocks, the likely causes in words.
std::vector<std::string> scan_diagnosis(const Scan &s);
