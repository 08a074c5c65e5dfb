// Command line of the devstandin runner.
#pragma once

enum { STANDIN_BLOCK = 65536 };

struct StandinArgs {
    const char *vbi;         // capture file or socket:PATH, or null
    bool vbi_stdin;          // live feed from standard input
    const char *pace;        // blocks per second, or null
    const char *fail_after;  // block count, or null
    const char *fb;
    const char *cmap;
    const char *fb_fail;
    const char *mem;
    int program;             // index in argv of the program to run
};

// Fills args; returns null on success, otherwise a message ("" for a plain
// request for the usage text).
const char *standin_parse_args(int argc, char **argv, StandinArgs *args);
