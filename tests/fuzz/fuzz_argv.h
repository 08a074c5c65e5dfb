// Shared by the command-line fuzz targets: the input split at NUL bytes
// into the words of an argv, as the shell hands them over (a word cannot
// hold a NUL), after the program's name.  Each call makes a fresh copy,
// since getopt_long reorders the words it is given.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum { FUZZ_MAX_WORDS = 80 };

struct FuzzArgv {
    std::vector<std::string> words;
    std::vector<char *> argv;

    FuzzArgv(const char *prog, const uint8_t *data, size_t size)
    {
        words.push_back(prog);
        size_t start = 0;
        for (size_t i = 0; i <= size && words.size() < FUZZ_MAX_WORDS; i++)
            if (i == size || data[i] == 0) {
                if (i > start || i < size)
                    words.emplace_back((const char *)data + start, i - start);
                start = i + 1;
            }
        for (std::string &w : words)
            argv.push_back(&w[0]);
        argv.push_back(nullptr);
    }
    int argc() const { return (int)words.size(); }
};
