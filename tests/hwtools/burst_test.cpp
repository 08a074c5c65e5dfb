// The burst test's arithmetic, its report lines and its memory work.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "burst.h"

namespace {

TEST(BurstElapsed, MicrosecondsBorrowASecond)
{
    BurstTime e = burst_elapsed({5, 999999}, {7, 1});
    EXPECT_EQ(e.sec, 1);
    EXPECT_EQ(e.usec, 2);
    e = burst_elapsed({5, 1}, {7, 999999});
    EXPECT_EQ(e.sec, 2);
    EXPECT_EQ(e.usec, 999998);
    e = burst_elapsed({5, 250000}, {5, 250000});
    EXPECT_EQ(e.sec, 0);
    EXPECT_EQ(e.usec, 0);
}

TEST(BurstReport, ResultLinesStopTimeFirstAndRateAfterATab)
{
    char text[BURST_TEXT_SIZE];
    size_t len = burst_format_result(text, sizeof text, {5, 999999}, {7, 1});
    char rate[64];
    snprintf(rate, sizeof rate, "%16.6f", 383909888 / 1.000002);
    EXPECT_EQ(std::string(text, len),
              std::string("wrote 383909888 bytes to sequential video mem addresses.\n"
                          "stop time  =          7.000001\n"
                          "start time =          5.999999\n"
                          "elapsed    =          1.000002\t") +
                  rate + " bytes/sec\n\n");
    EXPECT_DOUBLE_EQ(burst_rate(BURST_BYTE_COUNT, {2, 500000}), 383909888 / 2.5);
}

TEST(BurstReport, WindowAtAddressZeroPrintsEightZeros)
{
    char text[BURST_TEXT_SIZE];
    burst_format_mapping(text, sizeof text, 0);
    EXPECT_STREQ(text,
                 "mapped 131072 bytes of /dev/mem at physical 0xe8000000 to virtual 0x00000000\n");
    burst_format_map_failure(text, sizeof text, 0);
    EXPECT_STREQ(text, "mmap 131072 bytes of /dev/mem at physical 0xe8000000 to virtual 0x00000000");
    const uint8_t first[16] = {0x00, 0x01, 0x7f, 0x80, 0xff, 0xab, 0xcd, 0xef,
                               0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x0a, 0xa0};
    size_t len = burst_format_dump(text, sizeof text, 0, first);
    EXPECT_EQ(std::string(text, len),
              "00000000: 00 01 7f 80 ff ab cd ef 10 20 30 40 50 60 0a a0 \n");
}

TEST(BurstMemory, FillsEndAllOnesAndRestoreBringsBackTheSave)
{
    static uint8_t window[BURST_WINDOW_SIZE], save[BURST_WINDOW_SIZE];
    for (int i = 0; i < BURST_WINDOW_SIZE; i++)
        window[i] = (uint8_t)(i * 13);
    uintptr_t at = reinterpret_cast<uintptr_t>(window);
    burst_save(save, at);
    EXPECT_EQ(memcmp(save, window, sizeof window), 0);
    burst_fill(at);
    // 2929 fills, odd: the last one is 0xFF, over the whole window.
    for (int i = 0; i < BURST_WINDOW_SIZE; i++)
        ASSERT_EQ(window[i], 0xFF) << "byte " << i;
    burst_restore(at, save);
    for (int i = 0; i < BURST_WINDOW_SIZE; i++)
        ASSERT_EQ(window[i], (uint8_t)(i * 13)) << "byte " << i;
}

}  // namespace
