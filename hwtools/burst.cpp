#include "burst.h"

#include <sys/time.h>

#include <cinttypes>
#include <cstring>

BurstTime burst_elapsed(BurstTime start, BurstTime stop)
{
    // In 64 bits, so that a clock stepped far between the readings cannot
    // overflow; the result is reported in 32 bits like the readings.
    int64_t usec = (int64_t)stop.usec - start.usec;
    int64_t sec = (int64_t)stop.sec - start.sec;
    if (usec < 0) {
        usec += 1000000;
        sec -= 1;
    }
    BurstTime elapsed = {(int32_t)sec, (int32_t)usec};
    return elapsed;
}

double burst_rate(int32_t bytes, BurstTime elapsed)
{
    return bytes / (elapsed.usec / 1000000.0 + elapsed.sec);
}

static size_t formatted(int n, size_t size)
{
    if (n < 0)
        return 0;
    return (size_t)n < size ? (size_t)n : size ? size - 1 : 0;
}

size_t burst_format_mapping(char *buf, size_t size, uintptr_t virt)
{
    return formatted(snprintf(buf, size,
                              "mapped %d bytes of /dev/mem at physical 0x%08" PRIx32
                              " to virtual 0x%08" PRIxPTR "\n",
                              (int)BURST_WINDOW_SIZE, BURST_PHYS_ADDR, virt),
                     size);
}

size_t burst_format_map_failure(char *buf, size_t size, uintptr_t virt)
{
    return formatted(snprintf(buf, size,
                              "mmap %d bytes of /dev/mem at physical 0x%08" PRIx32
                              " to virtual 0x%08" PRIxPTR,
                              (int)BURST_WINDOW_SIZE, BURST_PHYS_ADDR, virt),
                     size);
}

size_t burst_format_dump(char *buf, size_t size, uintptr_t virt, const uint8_t *first)
{
    size_t len = formatted(snprintf(buf, size, "%08" PRIxPTR ": ", virt), size);
    for (int i = 0; i < BURST_DUMP_BYTES; i++)
        len += formatted(snprintf(buf + len, size - len, "%02x ", first[i]), size - len);
    len += formatted(snprintf(buf + len, size - len, "\n"), size - len);
    return len;
}

size_t burst_format_result(char *buf, size_t size, BurstTime start, BurstTime stop)
{
    BurstTime elapsed = burst_elapsed(start, stop);
    return formatted(snprintf(buf, size,
                              "wrote %d bytes to sequential video mem addresses.\n"
                              "stop time  = %10d.%06d\n"
                              "start time = %10d.%06d\n"
                              "elapsed    = %10d.%06d\t"
                              "%16.6f bytes/sec\n\n",
                              (int)BURST_BYTE_COUNT, (int)stop.sec, (int)stop.usec,
                              (int)start.sec, (int)start.usec, (int)elapsed.sec,
                              (int)elapsed.usec, burst_rate(BURST_BYTE_COUNT, elapsed)),
                     size);
}

// The window normally lies at virtual address 0, which in C++ is the null
// pointer.  Handed to memset or memcpy directly, the compiler may assume the
// call never happens with it (and drop or trap the access), and the
// sanitizer checks reject it.  So the address travels as a number, becomes
// a pointer only behind an empty asm the compiler cannot see through, and
// the library's memset and memcpy are called through pointers that carry no
// "never null" promise.  The fills stay whole-window memsets: burst writes,
// not a byte loop.
static void *(*volatile fill_bytes)(void *, int, size_t) = memset;
static void *(*volatile copy_bytes)(void *, const void *, size_t) = memcpy;

static inline void *at(uintptr_t address)
{
    void *p = reinterpret_cast<void *>(address);
    asm volatile("" : "+r"(p) : : "memory");
    return p;
}

void burst_save(uint8_t *save, uintptr_t window)
{
    copy_bytes(save, at(window), BURST_WINDOW_SIZE);
}

void burst_fill(uintptr_t window)
{
    // 0xFF, 0x00, 0xFF, ...: every bit of the window flips on every pass;
    // the last of the 2929 fills leaves all ones.
    uint8_t byte = 0;
    for (int i = 0; i < BURST_FILLS; i++) {
        byte = (uint8_t)~byte;
        fill_bytes(at(window), byte, BURST_WINDOW_SIZE);
    }
}

void burst_restore(uintptr_t window, const uint8_t *save)
{
    // Two whole copies, one after the other, so that the window surely
    // ends up holding what it held before the test.
    copy_bytes(at(window), save, BURST_WINDOW_SIZE);
    copy_bytes(at(window), save, BURST_WINDOW_SIZE);
}

static BurstTime now()
{
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    BurstTime t = {(int32_t)tv.tv_sec, (int32_t)tv.tv_usec};
    return t;
}

void burst_run(uintptr_t window, uint8_t *save, FILE *report)
{
    static char text[BURST_TEXT_SIZE];
    burst_format_mapping(text, sizeof text, window);
    fputs(text, report);

    burst_save(save, window);
    burst_format_dump(text, sizeof text, window, save);
    fputs(text, report);
    fputs("\nTesting sequential video memory burst writes.\n", report);

    // Only the fills are timed: no output, no other memory traffic.
    BurstTime start = now();
    burst_fill(window);
    BurstTime stop = now();

    burst_format_result(text, sizeof text, start, stop);
    fputs(text, report);

    burst_restore(window, save);
}
