// The scanner's two reports: text for people, JSON for programs.  Pure:
// they turn a finished scan into strings; main does the reading and
// writing.
#pragma once
#include <string>
#include <vector>

#include "scan_core.h"

// all: every caption line of every program, not the first few.
std::string text_report(const Scan &s, const std::string &source, bool all = false);
// One line: JSON Lines when several captures are reported.
std::string json_report(const Scan &s, const std::string &source);

// A caption line for the text report: indented 4, folded to fit 80
// columns, continuations marked "  + ".
std::string fold_caption_line(const std::string &text);

// Whether some line carries a run-in or a pair the programs' slicers read.
bool looks_like_capture(const Scan &s);
// "clean", "noisy", "weak", "mistimed", or "none" without a run-in; the
// figure that says so goes to *figure.
const char *signal_quality(const SignalFigures &f, double *figure);
// One line: captions, the signal's quality, the frame faults.
std::string scan_summary(const Scan &s);
// Where decoders refuse blocks, the likely causes in words.
std::vector<std::string> scan_diagnosis(const Scan &s);
