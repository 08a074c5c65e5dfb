// Command line of the devstandin runner.
#pragma once
#include <cstddef>

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
// included), otherwise one line that names the option and its value.  The
// options end at the first word that is not one: the program's name.
const char *standin_parse_args(int argc, char **argv, StandinArgs *args);

// The usage text (--help), and the synopsis line it starts with.
extern const char standin_usage[];

// Whether a file that stands where the program belongs is a capture given
// by mistake (devstandin capture.vbi captext): neither an ELF program nor a
// script by its first n bytes (head), and either whole blocks of the device
// or, not executable, at least one block long.
bool standin_is_capture(const unsigned char *head, size_t n, long long size, bool executable);
