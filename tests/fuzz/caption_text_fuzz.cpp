// Fuzzes the generator's text-to-pairs path: arbitrary bytes as caption
// text in every mode and service.  Text it refuses must be named by source
// and line; text it takes must come back from the pairs: every pair with
// good parity, every control pair sent twice, and the characters, read as
// a receiver reads them (an extended character replacing the one before
// it), those of the text with the spaces left out.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "gen_streams.h"

// The text's characters as UTF-8, blanks left out.
static std::string without_blanks(const std::string &s)
{
    std::string out;
    for (char c : s)
        if (c != ' ' && c != '\t' && c != '\r')
            out += c;
    return out;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    GenCaptionStyle style;
    style.mode = (GenMode)(1 + data[0] % 4);
    style.rows = 2 + data[0] / 4 % 3;
    int service = data[0] / 16 % 4;
    style.service = (L21Service)(style.mode == GEN_MODE_TEXT ? L21_T1 + service : L21_CC1 + service);
    std::vector<GenTextLine> lines;
    gen_text_lines((const char *)data + 1, size - 1, "fuzz", &lines);

    std::vector<L21Pair> pairs;
    std::string error;
    if (!gen_caption_pairs(lines, style, &pairs, &error)) {
        if (error.compare(0, 5, "fuzz:") != 0)
            __builtin_trap();
        return 0;
    }
    std::vector<std::string> shown;  // UTF-8 characters in the order they land
    int field = l21_service_field(style.service);
    for (size_t i = 0; i < pairs.size(); i++) {
        L21Pair p = pairs[i];
        if (!l21_parity_ok(p.b1) || !l21_parity_ok(p.b2))
            __builtin_trap();
        if (l21_is_control(p.b1)) {
            if (i + 1 >= pairs.size() || pairs[i + 1] != p)
                __builtin_trap();
            i++;
            if (l21_channel(p.b1) != l21_service_channel(style.service))
                __builtin_trap();
            L21Kind kind = l21_kind(p.b1, p.b2, field);
            if (kind == L21_KIND_SPECIAL) {
                shown.push_back(l21_special_char(p.b2));
            } else if (kind == L21_KIND_EXTENDED) {
                if (shown.empty())
                    __builtin_trap();
                shown.back() = l21_extended_char(p.b1, p.b2);
            } else if (kind != L21_KIND_MISC && kind != L21_KIND_PAC) {
                __builtin_trap();
            }
            continue;
        }
        if (l21_is_null(p))
            continue;
        for (uint8_t b : {p.b1, p.b2})
            if ((b & 0x7F) != 0)
                shown.push_back(l21_standard_char(b));
    }
    std::string got, want;
    for (const std::string &s : shown)
        got += s;
    for (const GenTextLine &l : lines)
        want += l.text;
    // The transparent space comes back as a no-break space, itself.
    if (without_blanks(got) != without_blanks(want))
        __builtin_trap();
    return 0;
}
