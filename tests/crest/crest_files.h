// Small fixtures for the logo converter tests, made by the tests.
#pragma once
#include <sys/stat.h>

#include <string>

#include "process.h"

// A raster of 128x128 RGB pixels with every component value in it.
inline std::string test_raster()
{
    std::string r(49152, '\0');
    for (size_t i = 0; i < r.size(); i++)
        r[i] = (char)((i * 37 + i / 384) & 0xff);
    return r;
}

inline std::string minimal_ppm(const std::string &raster = test_raster())
{
    return "P6\n128 128\n255\n" + raster;
}

inline ProcessResult run_tool(const std::string &name, const std::vector<std::string> &args)
{
    std::vector<std::string> argv{bin_path(name)};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_process(argv);
}

inline int file_mode(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? (int)(st.st_mode & 07777) : -1;
}
