// Fuzzes the generator's text-to-pairs path: arbitrary bytes as caption
// text in the plain stream and in every mode and service.  Text it refuses must be named by source
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

// The plain stream over the same lines: what it takes comes back code for
// code (a tab as a space, a CR before the line end dropped); what it
// refuses is named by source and line.
static void plain_stream(const std::vector<GenTextLine> &lines)
{
    std::string error, want;
    size_t room = 0;
    for (const GenTextLine &l : lines) {
        if (!gen_plain_check(l, &error)) {
            if (error.compare(0, 5, "fuzz:") != 0)
                __builtin_trap();
            return;
        }
        std::string t = l.text;
        if (!t.empty() && t.back() == '\r')
            t.pop_back();
        for (char c : t)
            want += c == '\t' ? ' ' : c;
        room += t.size() / 2 + 1 + 6;
    }
    GenOptions o;
    gen_default_options(&o);
    std::vector<uint16_t> pairs(room + 1);
    size_t n = gen_plain_pairs(lines, &o, pairs.data(), pairs.size());
    if (n > room)
        __builtin_trap();
    std::string got;
    for (size_t i = 0; i < n; i++) {
        int b1 = pairs[i] & 0x7F, b2 = pairs[i] >> 8 & 0x7F;
        if (b1 >= 0x20)
            got += (char)b1;
        if (b1 >= 0x20 && b2 >= 0x20)
            got += (char)b2;
    }
    if (got != want)
        __builtin_trap();
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
    plain_stream(lines);

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
