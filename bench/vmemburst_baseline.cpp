// Baseline for the video memory burst benchmark.
//   vmemburst-baseline buffer   the 2929 fills on an ordinary 128 KiB buffer;
//                               prints the rate as "%16.6f bytes/sec"
//   vmemburst-baseline window   the whole vmemburst test on /dev/mem's window
//                               mapped wherever the kernel likes, for machines
//                               that refuse a mapping at address 0
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "burst.h"

static uint8_t buffer[BURST_WINDOW_SIZE];
static uint8_t saved[BURST_WINDOW_SIZE];

static BurstTime now()
{
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    BurstTime t = {(int32_t)tv.tv_sec, (int32_t)tv.tv_usec};
    return t;
}

int main(int argc, char **argv)
{
    if (argc == 2 && strcmp(argv[1], "buffer") == 0) {
        burst_fill(reinterpret_cast<uintptr_t>(buffer));  // fault the pages in
        BurstTime start = now();
        burst_fill(reinterpret_cast<uintptr_t>(buffer));
        BurstTime stop = now();
        printf("%16.6f bytes/sec\n", burst_rate(BURST_BYTE_COUNT, burst_elapsed(start, stop)));
        return 0;
    }
    if (argc == 2 && strcmp(argv[1], "window") == 0) {
        int fd = open("/dev/mem", O_RDWR);
        if (fd < 0) {
            perror("open /dev/mem");
            return 1;
        }
        void *window = mmap(nullptr, BURST_WINDOW_SIZE, PROT_READ | PROT_WRITE, MAP_SHARED, fd,
                            (off_t)BURST_PHYS_ADDR);
        if (window == MAP_FAILED) {
            perror("mmap /dev/mem");
            return 1;
        }
        burst_run(reinterpret_cast<uintptr_t>(window), saved, stderr);
        return 0;
    }
    fprintf(stderr, "usage: %s buffer|window\n", argv[0]);
    return 2;
}
