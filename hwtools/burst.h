// The video memory burst test: a 128 KiB window of the display device's
// video memory, filled again and again with all ones and all zeros by
// sequential burst writes, timed, and restored afterwards.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

enum {
    BURST_WINDOW_SIZE = 131072,  // 0x20000 bytes of video memory
    BURST_FILLS = 2929,
    BURST_DUMP_BYTES = 16,
    // 2929 * 131072 = 383909888: fits a 32-bit signed integer.
    BURST_BYTE_COUNT = BURST_FILLS * BURST_WINDOW_SIZE,
    BURST_TEXT_SIZE = 256,
};

// Where the device decodes its video memory on the bus.
const uint32_t BURST_PHYS_ADDR = 0xE8000000u;

// A gettimeofday reading as it is reported: 32-bit seconds and microseconds.
struct BurstTime {
    int32_t sec;
    int32_t usec;
};

// stop - start, the microseconds borrowing a second when they go negative.
BurstTime burst_elapsed(BurstTime start, BurstTime stop);

// Bytes per second over the elapsed time, in double precision.
double burst_rate(int32_t bytes, BurstTime elapsed);

// The formatters write a NUL-terminated text into buf (at most size bytes,
// BURST_TEXT_SIZE is always enough) and return its length.

// The line that tells where the window was mapped.
size_t burst_format_mapping(char *buf, size_t size, uintptr_t virt);
// The perror text when the window cannot be mapped at virt.
size_t burst_format_map_failure(char *buf, size_t size, uintptr_t virt);
// "%08x: " and the first 16 bytes of the window as they were before the test.
size_t burst_format_dump(char *buf, size_t size, uintptr_t virt, const uint8_t *first);
// The result: byte count, stop and start time, the elapsed time and the rate,
// and the closing empty line.
size_t burst_format_result(char *buf, size_t size, BurstTime start, BurstTime stop);

// Memory work on the window at virtual address `window`, which may well be
// 0: the address is passed as a number, never as a pointer the compiler
// could take for a null pointer.
void burst_save(uint8_t *save, uintptr_t window);
void burst_fill(uintptr_t window);              // the 2929 fills
void burst_restore(uintptr_t window, const uint8_t *save);

// The whole test on a mapped window: reports the mapping, saves and dumps
// the window, times the fills, reports the result and restores the window.
// `save` holds BURST_WINDOW_SIZE bytes.
void burst_run(uintptr_t window, uint8_t *save, FILE *report);
