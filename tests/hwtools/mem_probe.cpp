// Opens /dev/mem read-write, maps one page at physical 0xE8000000 at an
// address of the kernel's choosing, prints its first 16 bytes on standard
// output and then stores 0xA5 in its first byte.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>

int main()
{
    int fd = open("/dev/mem", O_RDWR);
    if (fd < 0) {
        perror("open /dev/mem");
        return 1;
    }
    void *p = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, (off_t)0xE8000000u);
    if (p == MAP_FAILED) {
        perror("mmap /dev/mem");
        return 1;
    }
    volatile uint8_t *page = static_cast<volatile uint8_t *>(p);
    for (int i = 0; i < 16; i++)
        printf("%02x ", page[i]);
    printf("\n");
    page[0] = 0xA5;
    return 0;
}
