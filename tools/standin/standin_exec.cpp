#include "standin_exec.h"

#include <elf.h>
#include <string.h>

namespace {

// ELF fields are little-endian on every machine the toolkit runs on; read
// them bytewise, whatever the host, without alignment assumptions.
unsigned long long field(const unsigned char *p, int bytes)
{
    unsigned long long v = 0;
    for (int i = bytes - 1; i >= 0; i--)
        v = v << 8 | p[i];
    return v;
}

bool read_elf(const unsigned char *head, size_t size, StandinImage *image)
{
    if (size < EI_NIDENT || head[EI_DATA] != ELFDATA2LSB)
        return false;
    bool wide = head[EI_CLASS] == ELFCLASS64;
    if (!wide && head[EI_CLASS] != ELFCLASS32)
        return false;
    image->bits = wide ? 64 : 32;
    size_t ehdr = wide ? sizeof(Elf64_Ehdr) : sizeof(Elf32_Ehdr);
    if (size < ehdr)
        return false;
    image->machine = (int)field(head + 18, 2);
    unsigned long long phoff = wide ? field(head + 32, 8) : field(head + 28, 4);
    size_t phentsize = (size_t)field(head + (wide ? 54 : 42), 2);
    size_t phnum = (size_t)field(head + (wide ? 56 : 44), 2);
    size_t want = wide ? sizeof(Elf64_Phdr) : sizeof(Elf32_Phdr);
    if (phnum && (phentsize < want || phoff > size || phnum > (size - phoff) / phentsize))
        return false;
    image->interpreted = false;
    for (size_t i = 0; i < phnum; i++)
        if (field(head + phoff + i * phentsize, 4) == PT_INTERP)
            image->interpreted = true;
    return true;
}

}  // namespace

bool standin_read_image(const unsigned char *head, size_t size, StandinImage *image)
{
    memset(image, 0, sizeof *image);
    if (size >= 4 && memcmp(head, ELFMAG, SELFMAG) == 0) {
        image->kind = STANDIN_ELF;
        return read_elf(head, size, image);
    }
    if (size >= 2 && head[0] == '#' && head[1] == '!') {
        // As the kernel reads it: blanks, then the path up to a blank or
        // the end of the line.
        size_t i = 2;
        while (i < size && (head[i] == ' ' || head[i] == '\t'))
            i++;
        size_t n = 0;
        while (i < size && head[i] != ' ' && head[i] != '\t' && head[i] != '\n' && head[i] &&
               n + 1 < sizeof image->interpreter)
            image->interpreter[n++] = (char)head[i++];
        image->kind = n ? STANDIN_SCRIPT : STANDIN_NOT_ELF;
        return true;
    }
    image->kind = STANDIN_NOT_ELF;
    return true;
}

