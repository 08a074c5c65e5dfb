// vmemburst: measures how fast sequential burst writes fill the display
// device's video memory, and leaves the memory as it found it.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "burst.h"

static uint8_t saved[BURST_WINDOW_SIZE];

int main()
{
    int fd = open("/dev/mem", O_RDWR);
    if (fd < 0) {
        perror("open /dev/mem");
        exit(1);
    }
    // The window is placed at virtual address 0 (a null hint with
    // MAP_FIXED), which needs the right to map below vm.mmap_min_addr.
    const uintptr_t where = 0;
    void *window = mmap(reinterpret_cast<void *>(where), BURST_WINDOW_SIZE,
                        PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, fd,
                        (off_t)BURST_PHYS_ADDR);
    if (window == MAP_FAILED) {
        char text[BURST_TEXT_SIZE];
        burst_format_map_failure(text, sizeof text, where);
        perror(text);
        exit(1);
    }
    // The descriptor and the mapping stay until the exit releases them.
    burst_run(reinterpret_cast<uintptr_t>(window), saved, stderr);
    return 0;
}
