// Command line of the devstandin runner.
#pragma once

enum { STANDIN_BLOCK = 65536 };

struct StandinArgs {
    const char *vbi;         // capture file or socket:PATH, or null
    const char *vbi_socket;  // the socket's path as given, or null
    bool vbi_stdin;          // live feed from standard input
    const char *pace;        // blocks per second, or null
    const char *fail_after;  // block count, or null
    const char *fb;
    const char *cmap;
    const char *fb_fail;
    const char *mem;
    bool help;               // --help: print the usage text, run nothing
    bool version;            // --version
    int program;             // index in argv of the program to run
};

// Fills args; returns null on success (a request for help or the version
// included), otherwise one line that names the option and its value.
const char *standin_parse_args(int argc, char **argv, StandinArgs *args);

// The usage text (--help), and the synopsis line it starts with.
extern const char standin_usage[];
