// Fuzzes devstandin's command line: any words at all.  The parser must
// come back (never exit), refuse with a message or name the program to
// run among the words, and read the same words the same way a second time.
#include <cstring>

#include "fuzz_argv.h"
#include "standin_args.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzArgv a1("devstandin", data, size), a2("devstandin", data, size);
    StandinArgs s1, s2;
    const char *e = standin_parse_args(a1.argc(), a1.argv.data(), &s1);
    bool refused = e != nullptr;
    std::string e1 = e ? e : "";  // the message lives until the next call
    e = standin_parse_args(a2.argc(), a2.argv.data(), &s2);
    if (refused != (e != nullptr) || e1 != (e ? e : ""))
        __builtin_trap();
    if (refused)
        return 0;
    if (s1.program != s2.program || s1.help != s2.help || s1.version != s2.version || s1.vbi_stdin != s2.vbi_stdin)
        __builtin_trap();
    if (!s1.help && !s1.version && (s1.program < 1 || s1.program >= a1.argc()))
        __builtin_trap();
    // What goes on to the library is what was typed or its plain decimal.
    if (s1.vbi_socket && (!s1.vbi || strcmp(s1.vbi, (std::string("socket:") + s1.vbi_socket).c_str()) != 0))
        __builtin_trap();
    return 0;
}
