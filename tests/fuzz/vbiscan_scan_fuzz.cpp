// Fuzzes the scanner's whole-block path as vbiscan runs it: whole blocks,
// the trailing piece of a short read and the programs' pass over it, then
// both reports under an arbitrary capture name, and the pictures.  The
// input is
//   byte 0    the studied line (modulo 32)
//   byte 1    bits 0-1: blocks - 1; bit 3: pictures; bit 4: a trailing
//             piece; bit 5: interrupted; bit 6: --all
//   byte 2    length of the capture name (modulo 48), then the name's bytes
//   the rest  the material: tiled over every block from a point that moves
//             with the block, so that a 2048-byte line of signal lands on
//             every line and the frame counters differ.
// The JSON report must parse back (any name bytes replaced, never thrown
// on), and every line of the text report but the stream's fit 80 columns.
#include <cstring>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "pictures.h"
#include "report.h"
#include "scan_core.h"

static uint8_t block[VBI_BLOCK_SIZE];

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 3)
        return 0;
    ScanOptions opt;
    opt.line = data[0] % VBI_LINES;
    const int blocks = (data[1] & 3) + 1;
    opt.pictures = data[1] & 8;
    const bool trailing_piece = data[1] & 16, all = data[1] & 64;
    size_t name_len = data[2] % 48;
    if (3 + name_len > size)
        name_len = size - 3;
    const std::string name((const char *)data + 3, name_len);
    const uint8_t *material = data + 3 + name_len;
    const size_t msize = size - 3 - name_len;

    std::unique_ptr<Scan> scan(new Scan);
    Scan *s = scan.get();
    if (!scan_init(s, opt))
        __builtin_trap();
    auto fill = [&](int k) {
        for (size_t i = 0; i < VBI_BLOCK_SIZE; i++)
            block[i] = msize ? material[(i + (size_t)k * 7) % msize] : 0;
    };
    for (int k = 0; k < blocks; k++) {
        fill(k);
        scan_block(s, block);
    }
    s->interrupted = data[1] & 32;
    if (trailing_piece && !s->interrupted) {
        // A short read over the last whole block, as the read buffer holds it.
        size_t trailing = (msize * 97 + 1) % VBI_BLOCK_SIZE;
        for (size_t i = 0; i < trailing; i++)
            block[i] = msize ? material[(i * 3) % msize] : 0;
        scan_end(s, block, trailing);
    }

    std::string text = text_report(*s, name, all);
    size_t start = 0;
    for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
        size_t cols = 0;
        for (size_t i = start; i < nl; i++)
            cols += ((unsigned char)text[i] & 0xC0) != 0x80;
        if (cols > 80 && text.compare(start, 6, "stream") != 0)
            __builtin_trap();
    }
    nlohmann::json j = nlohmann::json::parse(json_report(*s, name), nullptr, false);
    if (j.is_discarded() || j["blocks"] != (uint64_t)blocks || !j["summary"].is_string())
        __builtin_trap();
    if (opt.pictures) {
        Image w = render_waterfall(*s), e = render_eye(*s), l = render_lines(*s);
        if (w.height != WF_HEADER + blocks || e.width <= 0 || l.height <= 0)
            __builtin_trap();
    }
    scan_free(s);
    return 0;
}
