// vbicc's command line, read with getopt_long, and its summary.
#pragma once
#include <string>

#include "cc_output.h"
#include "cc_stream.h"

struct VbiccArgs {
    int service = SVC_CC1;
    bool service_given = false;
    OutFormat format = FMT_TEXT;
    std::string out;          // -o FILE, empty: standard output
    SlicerKind slicer = SLICER_INTEGRATING;
    std::string compare;      // --compare REF
    int tolerance = 2;
    std::string capture;      // empty or "-": standard input
    bool help = false, version = false;
};

extern const char vbicc_usage[];

// Empty when the arguments are good, else the message for "vbicc: MESSAGE".
std::string parse_vbicc_args(int argc, char **argv, VbiccArgs *a);
