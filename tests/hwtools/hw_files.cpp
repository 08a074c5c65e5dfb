#include "hw_files.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "burst.h"

void make_mem_file(const std::string &path, const uint8_t *window)
{
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        throw std::runtime_error("create " + path);
    bool ok = ftruncate(fd, (off_t)BURST_PHYS_ADDR + BURST_WINDOW_SIZE) == 0 &&
              pwrite(fd, window, BURST_WINDOW_SIZE, (off_t)BURST_PHYS_ADDR) == BURST_WINDOW_SIZE;
    close(fd);
    if (!ok)
        throw std::runtime_error("write " + path);
}

std::string read_mem_window(const std::string &path)
{
    std::string data(BURST_WINDOW_SIZE, '\0');
    int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0)
        throw std::runtime_error("open " + path);
    ssize_t n = pread(fd, &data[0], data.size(), (off_t)BURST_PHYS_ADDR);
    close(fd);
    if (n != BURST_WINDOW_SIZE)
        throw std::runtime_error("read " + path);
    return data;
}

void fill_pattern(uint8_t *window)
{
    for (int i = 0; i < BURST_WINDOW_SIZE; i++)
        window[i] = (uint8_t)(i * 7 + i / 256);
}

bool can_map_page_zero(std::string *why)
{
    void *p = mmap(nullptr, 4096, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE,
                   -1, 0);
    if (p != MAP_FAILED && p != nullptr) {
        // Taken as a mere hint (an emulator without MAP_FIXED_NOREPLACE):
        // nothing of ours lies at 0, so ask again the way vmemburst does.
        munmap(p, 4096);
        p = mmap(nullptr, 4096, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
    }
    if (p == MAP_FAILED) {
        *why = std::string("this machine refuses a mapping at virtual address 0 (") +
               strerror(errno) + "); it needs root or CAP_SYS_RAWIO below vm.mmap_min_addr";
        return false;
    }
    munmap(p, 4096);
    return true;
}
