// Fuzzes vbiscan's command line: any words at all.  The parser must come
// back (never exit), refuse with a one-line message or accept values in
// their ranges, and read the same words the same way a second time.
#include "fuzz_argv.h"
#include "scan_args.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzArgv a1("vbiscan", data, size), a2("vbiscan", data, size);
    ScanArgs s1, s2;
    std::string e1 = scan_parse_args(a1.argc(), a1.argv.data(), &s1);
    std::string e2 = scan_parse_args(a2.argc(), a2.argv.data(), &s2);
    if (e1 != e2)
        __builtin_trap();
    if (!e1.empty())
        return 0;
    if (s1.line != s2.line || s1.json != s2.json || s1.png_dir != s2.png_dir || s1.max_blocks != s2.max_blocks ||
        s1.captures != s2.captures || s1.all != s2.all || s1.help != s2.help || s1.version != s2.version)
        __builtin_trap();
    if (s1.line < 0 || s1.line >= VBI_LINES || s1.max_blocks < 0)
        __builtin_trap();
    for (const std::string &c : s1.captures)
        if (capture_name(c).empty())
            __builtin_trap();
    return 0;
}
