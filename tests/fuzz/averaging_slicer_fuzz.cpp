// Fuzzes captext's slicer on arbitrary lines.  The line is held in a buffer
// that ends right after the furthest sample the slicer may read (1670), so
// AddressSanitizer stops any read beyond it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "averaging_slicer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const size_t reach = 1671;
    uint8_t *line = (uint8_t *)malloc(reach);
    memset(line, data && size ? data[size - 1] : 0, reach);
    memcpy(line, data, size < reach ? size : reach);
    CaptionWord w = AveragingSlicer(line);
    if (w != 0 && !caption_parity_ok(w))
        __builtin_trap();
    free(line);
    return 0;
}
