// Runs a program of this project as a child process, the way a user or a
// script would, and collects what it wrote and how it ended.
#pragma once
#include <string>
#include <vector>

struct ProcessResult {
    int status = -1;       // exit status, or 128 + signal number
    std::string out;       // standard output
    std::string err;       // standard error
    bool timed_out = false;
};

struct ProcessOptions {
    std::vector<std::string> env;  // NAME=VALUE added to (or replacing in) the environment
    std::vector<std::string> unset;  // names removed from the environment
    std::string input;             // written to standard input, then closed
    double timeout = 60;           // seconds before the child is killed
    std::string cwd;               // working directory, or empty
    std::vector<int> keep_fds;     // descriptors the child inherits
    // When above 3: the child starts with every descriptor below this
    // number open (duplicates of /dev/null beside keep_fds), its limit on
    // open files raised to match, so that what it opens lies above.
    int occupy_fds = 0;
};

// Path of a built program or library in the build's bin folder.
std::string bin_path(const std::string &name);

// Environment entries that put the device stand-in under the child.
std::vector<std::string> standin_env();

ProcessResult run_process(const std::vector<std::string> &argv, const ProcessOptions &opt = {});

// A fresh empty folder for one test's files, removed when the test program
// ends (by the process that made it).
std::string make_temp_dir();

std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &data);

// A scratch folder that goes away with the test.
struct Scratch {
    std::string dir = make_temp_dir();
    ~Scratch();
    std::string operator/(const std::string &name) const { return dir + "/" + name; }
};

// Writes a capture named name into s with vbigen, whose options args are;
// its path.  A vbigen that fails fails the test.
std::string generate(const Scratch &s, const std::string &name, std::vector<std::string> args);
