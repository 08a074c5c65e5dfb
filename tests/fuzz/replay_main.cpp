// Replays a fuzz target's corpus without libFuzzer: every file of the
// folders (or every file) named on the command line is handed once to
// LLVMFuzzerTestOneInput.  Built by the ordinary builds, so that the
// 32-bit and the sanitizer builds check the same inputs the fuzzer found
// interesting.  A failing check in the target traps; a file that cannot be
// read fails the run.
//
// 64-bit file offsets and inode numbers, so that a -m32 build can stat and
// list folders on a file system with large inode numbers.
#define _FILE_OFFSET_BITS 64
#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

static bool replay_file(const std::string &path)
{
    FILE *f = fopen(path.c_str(), "rb");
    if (!f) {
        perror(path.c_str());
        return false;
    }
    std::vector<uint8_t> data;
    uint8_t buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        data.insert(data.end(), buf, buf + n);
    bool ok = !ferror(f);
    fclose(f);
    if (!ok) {
        fprintf(stderr, "%s: read error\n", path.c_str());
        return false;
    }
    // An empty input is passed as libFuzzer passes it: size 0.
    LLVMFuzzerTestOneInput(data.empty() ? nullptr : data.data(), data.size());
    return true;
}

int main(int argc, char **argv)
{
    int files = 0;
    for (int a = 1; a < argc; a++) {
        struct stat st;
        if (stat(argv[a], &st) != 0) {
            perror(argv[a]);
            return 1;
        }
        if (!S_ISDIR(st.st_mode)) {
            if (!replay_file(argv[a]))
                return 1;
            files++;
            continue;
        }
        DIR *d = opendir(argv[a]);
        if (!d) {
            perror(argv[a]);
            return 1;
        }
        while (struct dirent *e = readdir(d)) {
            std::string path = std::string(argv[a]) + "/" + e->d_name;
            if (e->d_name[0] == '.')
                continue;
            if (stat(path.c_str(), &st) != 0) {
                perror(path.c_str());
                closedir(d);
                return 1;
            }
            if (!S_ISREG(st.st_mode))
                continue;
            if (!replay_file(path)) {
                closedir(d);
                return 1;
            }
            files++;
        }
        closedir(d);
    }
    printf("%d inputs replayed\n", files);
    // A corpus that went missing must not pass as an empty success.
    return files > 0 ? 0 : 1;
}
