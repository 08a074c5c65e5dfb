// Fuzzes the caption receiver with arbitrary pair streams on both fields:
// four bytes a frame, field 1's pair then field 2's, parity bits as they
// come.  Every caption must lie on the screen, end no earlier than it
// starts, and its text must be whole UTF-8; the counts must add up.
#include <cstddef>
#include <cstdint>

#include "cc_decoder.h"

namespace {

struct Check : CcSink {
    uint64_t captions = 0, pairs = 0;
    int64_t frames = 0;
    static void utf8(const char *s, size_t n)
    {
        for (size_t k = 0; k < n;) {
            unsigned char c = (unsigned char)s[k];
            size_t len = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : 0;
            if (len == 0 || k + len > n)
                __builtin_trap();
            for (size_t j = 1; j < len; j++)
                if (((unsigned char)s[k + j] & 0xC0) != 0x80)
                    __builtin_trap();
            k += len;
        }
    }
    void pair(int, int64_t, uint16_t, bool) override { pairs++; }
    void caption(const CcCaption &c) override
    {
        captions++;
        if (c.start_frame > c.end_frame || c.start_frame < 0 || c.end_frame > frames || c.rows.empty())
            __builtin_trap();
        int last = 0;
        for (const CcCaptionRow &r : c.rows) {
            if (r.row < 1 || r.row > CC_ROWS || r.column < 0 || r.cells.empty() ||
                r.column + r.cells.size() > CC_COLUMNS)
                __builtin_trap();
            if (c.mode != MODE_ROLL_UP && r.row <= last)
                __builtin_trap();
            last = r.row;
            for (const CcCell &cell : r.cells)
                utf8(cell.glyph, cell.len);
        }
    }
    void text(const CcTextRow &t) override
    {
        captions++;
        utf8(t.text.data(), t.text.size());
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static CcDecoder d;
    Check check;
    check.frames = (int64_t)(size / 4);
    cc_init(&d, &check);
    int64_t frame = 0;
    for (size_t i = 0; i + 3 < size; i += 4, frame++) {
        cc_pair(&d, 1, frame, (uint16_t)(data[i] | data[i + 1] << 8));
        cc_pair(&d, 2, frame, (uint16_t)(data[i + 2] | data[i + 3] << 8));
    }
    cc_finish(&d, frame);
    uint64_t counted = 0;
    for (uint64_t n : d.counts.captions)
        counted += n;
    if (counted != check.captions || d.counts.pairs[0] + d.counts.pairs[1] != check.pairs ||
        d.counts.xds_checksum_errors > d.counts.xds_packets)
        __builtin_trap();
    return 0;
}
