// What the workstation tools (vbigen, devstandin, vbiscan, vbicc) share on
// their command lines, so that they read and refuse options alike:
//
//   - options are read with getopt_long ("--opt=value", "--opt value",
//     bundled short options, "-n5", "--" ending the options), its own
//     messages switched off (opterr = 0, optstring starting with ':') and
//     replaced by cli_option_error;
//   - numbers are decimal and checked whole: no blanks, no
//     hexadecimal or octal (a leading 0 means nothing), no inf or nan, and
//     the message names the option, the value and what is wrong with it;
//   - a usage error is two lines on standard error, "PROG: MESSAGE" and
//     "Try 'PROG --help'.", and a distinct status (2 unless the tool
//     documents another);
//   - every tool's --version prints "PROG (vbitools) X.Y.Z".
#pragma once
#include <getopt.h>
#include <signal.h>
#include <sys/types.h>

#include <string>

// A decimal whole number from lo to hi: digits after an optional sign.
// True with *out set; otherwise false with *why set to one of
//   OPT: 'TEXT' is not a whole number
//   OPT: 'TEXT' is too large               (beyond 64 bits; "too small" below)
//   OPT: 'TEXT' is out of range (LO to HI) ("(LO or more)" when HI is the
//                                           largest long long)
bool cli_whole(const char *opt, const char *text, long long lo, long long hi, long long *out,
               std::string *why);

// A decimal real number from lo to hi ("12", "-3.5", ".5", "1e-2").  The
// same messages, "is not a number" for anything else ("0x1p3", "inf", "1e").
bool cli_real(const char *opt, const char *text, double lo, double hi, double *out, std::string *why);

// The option name getopt_long returned c for, as the user would type it:
// "-n" for a short option, "--noise" for a long one (found by its val).
std::string cli_option_name(int c, const struct option *longopts);

// The message for what getopt_long just refused (it returned '?' or ':'):
//   unknown option '--frob'             ambiguous option '--co' (--copies, --controls)
//   --seed: needs a value               --help: takes no value
// Reads optind and optopt, so it must be called before getopt_long again.
std::string cli_option_error(char *const argv[], const struct option *longopts, int c);

// Writes "PROG: MESSAGE" and "Try 'PROG --help'." to standard error;
// returns status.
int cli_usage_error(const char *prog, const std::string &message, int status = 2);

// The version line every tool prints: "PROG (vbitools) X.Y.Z\n".
std::string cli_version(const char *prog);

// Prints text (the help or the version) on standard output and flushes it:
// 0, or `status` after "PROG: standard output: REASON" when that failed
// (a closed pipe, a full disc).
int cli_print(const char *prog, const std::string &text, int status = 1);

// Fills buf with size bytes from fd, as the tools read a capture: a device
// delivers a block per read, a pipe may deliver it in pieces.  Returns the
// bytes read, fewer than size only at the end of the stream or once *stop
// (may be null) is set by a signal, or -1 with errno set.
ssize_t cli_read_whole(int fd, void *buf, size_t size, const volatile sig_atomic_t *stop = nullptr);
