// Files that stand for the display device in the hardware tools' tests.
#pragma once
#include <cstdint>
#include <string>

// A sparse file that holds `window` (131072 bytes) at offset 0xE8000000,
// the way /dev/mem presents the video memory.
void make_mem_file(const std::string &path, const uint8_t *window);

// The 131072 bytes at offset 0xE8000000 of such a file.
std::string read_mem_window(const std::string &path);

// A recognisable window: byte i is (i * 7 + i / 256) & 0xFF.
void fill_pattern(uint8_t *window);

// Whether this process may map a page at virtual address 0; if not, why.
bool can_map_page_zero(std::string *why);
