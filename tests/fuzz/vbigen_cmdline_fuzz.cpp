// Fuzzes vbigen's command line: any words at all.  The parser must come
// back (never exit), refuse with a message or accept with the text files
// among the words, and read the same words the same way a second time
// (getopt_long keeps its state between calls).
#include <cstring>

#include "fuzz_argv.h"
#include "vbigen_core.h"

static GenArgs first, second;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzArgv a1("vbigen", data, size), a2("vbigen", data, size);
    const char *e1 = gen_parse_args(a1.argc(), a1.argv.data(), &first);
    std::string err1 = e1 ? e1 : "";
    const char *e2 = gen_parse_args(a2.argc(), a2.argv.data(), &second);
    if ((e1 == nullptr) != (e2 == nullptr) || err1 != (e2 ? e2 : ""))
        __builtin_trap();
    if (e1) {
        if (!*e1 || strlen(e1) >= sizeof first.error)
            __builtin_trap();
        return 0;
    }
    if (first.first_file != second.first_file || first.ntexts != second.ntexts ||
        memcmp(&first.opt, &second.opt, sizeof first.opt) != 0 || first.stream.mode != second.stream.mode)
        __builtin_trap();
    if (first.first_file < 0 || first.first_file >= a1.argc() || first.ntexts > GEN_MAX_TEXTS)
        __builtin_trap();
    // Every value read lies in its documented range.
    const GenOptions &o = first.opt;
    if (o.line < 0 || o.line > 31 || o.repeat < 1 || o.hold < 1 || o.ncontrols < 1 ||
        o.ncontrols > GEN_MAX_CONTROLS || o.control_copies < 1 || o.blocks > (1LL << 30) ||
        !(o.signal.edge >= 0 && o.signal.edge <= 56) || !(o.signal.noise >= 0))
        __builtin_trap();
    return 0;
}
