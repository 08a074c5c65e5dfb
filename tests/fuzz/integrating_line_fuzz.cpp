// Fuzzes the workstation tools' integrating slicer on arbitrary lines.  The
// line is held in a buffer that ends right after the furthest sample the
// slicer may read, so AddressSanitizer stops any read beyond it.  Whatever
// it returns must keep its promises: a pair only with both bytes of odd
// parity and the cause ok, the raw bits only where the cause allows them,
// at most one bit of each byte put right, and a pair returned only with a
// doubt (never NaN) within the slicer's limit of one in a hundred.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "fuzz_line.h"
#include "integrating_slicer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    uint8_t *line = fuzz_line(data, size, INTEGRATING_LAST_SAMPLE + 1);
    IntegratingResult r;
    CaptionWord w = IntegratingSlicer(line, &r);
    bool odd = (__builtin_popcount(w & 0xFF) & 1) && (__builtin_popcount(w >> 8) & 1);
    if (w != 0 && (!odd || r.cause != INTEGRATING_OK || r.raw != w))
        __builtin_trap();
    if (w == 0 && r.cause == INTEGRATING_OK)
        __builtin_trap();
    if (r.corrected < 0 || r.corrected > 2 || (w == 0 && r.corrected != 0))
        __builtin_trap();
    if (w != 0 && !(r.doubt >= 0 && r.doubt <= 0.01))
        __builtin_trap();
    if ((r.cause == INTEGRATING_NO_RUNIN || r.cause == INTEGRATING_START_BIT) && r.raw != 0)
        __builtin_trap();
    if (IntegratingSlicer(line, nullptr) != w)
        __builtin_trap();
    free(line);
    return 0;
}
