// What the runner must know of a program before it starts it with the
// stand-in library: whether the dynamic linker will load the library into
// it at all, and which library (32- or 64-bit) it needs.  Pure functions
// over the first bytes of a file, so that tests reach them without
// programs of every kind.
#pragma once

#include <stddef.h>

enum StandinImageKind {
    STANDIN_NOT_ELF,  // neither ELF nor a script: execvp hands it to /bin/sh
    STANDIN_SCRIPT,   // "#!": the interpreter is what runs
    STANDIN_ELF,
};

struct StandinImage {
    StandinImageKind kind;
    int bits;           // ELF: 32 or 64
    int machine;        // ELF: e_machine
    bool interpreted;   // ELF: has a program interpreter (the dynamic linker)
    char interpreter[256];  // script: the interpreter's path, as written
};

// Reads the image from the first `size` bytes of a file (at least the ELF
// header and the program headers, or the "#!" line).  False when the bytes
// start an ELF file that is cut short or malformed.
bool standin_read_image(const unsigned char *head, size_t size, StandinImage *image);

