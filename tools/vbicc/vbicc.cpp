// vbicc: decodes the caption stream of a VBI capture or the device as a
// caption receiver shows it, and writes it as text, SRT, WebVTT, SCC or
// JSON Lines, or compares it with a reference file.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "cc_compare.h"
#include "cc_output.h"
#include "cc_stream.h"
#include "cli.h"
#include "line21.h"
#include "vbi.h"
#include "vbicc_args.h"

static uint8_t block[VBI_BLOCK_SIZE];
static CcStream stream;
static volatile sig_atomic_t stop_reading;

static void on_signal(int)
{
    stop_reading = 1;
}

static int fail(const std::string &what, const std::string &why)
{
    fprintf(stderr, "vbicc: %s: %s\n", what.c_str(), why.c_str());
    return 1;
}

static bool read_file(const std::string &path, std::string *text, std::string *why)
{
    FILE *f = fopen(path.c_str(), "rb");
    if (!f) {
        *why = strerror(errno);
        return false;
    }
    char chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0)
        text->append(chunk, n);
    bool ok = !ferror(f);
    *why = ok ? "" : strerror(errno ? errno : EIO);
    fclose(f);
    return ok;
}

struct Reference {
    bool scc = false;
    std::vector<CueText> cues;
    std::vector<PairAt> pairs;
};

// Reads the reference file named by --compare; "" or the message naming
// the file (and line) for a file that cannot be used.
static std::string load_reference(const std::string &path, int service, Reference *ref)
{
    std::string text, why;
    if (!read_file(path, &text, &why))
        return path + ": " + why;
    const char header[] = "Scenarist_SCC V1.0";
    size_t bom = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    ref->scc = text.compare(bom, sizeof header - 1, header) == 0;
    if (ref->scc) {
        std::vector<L21SccLine> lines;
        L21SccError e;
        if (!l21_scc_read(text.data(), text.size(), &lines, &e))
            return path + ":" + std::to_string(e.line) + ": " + e.message;
        for (const L21SccLine &l : lines)
            for (size_t k = 0; k < l.pairs.size(); k++) {
                L21Pair p = l.pairs[k];
                if (!l21_is_null(p))
                    ref->pairs.push_back(PairAt{l.frame + (int64_t)k, l21_word(p),
                                                l21_parity_ok(p.b1) && l21_parity_ok(p.b2)});
            }
        ref->cues = decode_pairs(ref->pairs, service);
        return "";
    }
    std::vector<SrtCue> cues;
    int line;
    if (!read_srt(text, &cues, &line, &why))
        return path + ":" + std::to_string(line) + ": " + why;
    int field = cc_service_field(service);
    for (const SrtCue &c : cues) {
        CueText t{ms_to_frame(c.start_ms, field), ms_to_frame(c.end_ms, field), srt_plain_text(c)};
        if (!t.text.empty())
            ref->cues.push_back(t);
    }
    return "";
}

// Where the output goes: standard output, or a temporary file beside -o
// FILE that takes its name only when everything was written.
struct Output {
    FILE *file = stdout;
    std::string path, temp;
    std::string open(const std::string &out)
    {
        if (out.empty())
            return "";
        path = out;
        temp = out + ".XXXXXX";
        int fd = mkstemp(&temp[0]);
        if (fd < 0)
            return out + ": " + strerror(errno);
        fchmod(fd, 0666 & ~current_umask());
        file = fdopen(fd, "w");
        if (!file) {
            std::string why = strerror(errno);
            close(fd);
            unlink(temp.c_str());
            file = stdout;
            return out + ": " + why;
        }
        return "";
    }
    static mode_t current_umask()
    {
        mode_t m = umask(0);
        umask(m);
        return m;
    }
    void discard()
    {
        if (file != stdout) {
            fclose(file);
            unlink(temp.c_str());
        }
    }
    // Renames the finished file into place; "" or the error.
    std::string commit()
    {
        if (file == stdout)
            return "";
        errno = 0;
        if (fclose(file) != 0) {
            std::string why = strerror(errno ? errno : EIO);
            unlink(temp.c_str());
            return path + ": " + why;
        }
        if (rename(temp.c_str(), path.c_str()) != 0) {
            std::string why = strerror(errno);
            unlink(temp.c_str());
            return path + ": " + why;
        }
        return "";
    }
};

int main(int argc, char **argv)
{
    VbiccArgs args;
    std::string err = parse_vbicc_args(argc, argv, &args);
    if (!err.empty())
        return cli_usage_error("vbicc", err);
    if (args.help || args.version)
        return cli_print("vbicc", args.help ? vbicc_usage : cli_version("vbicc"));

    bool from_stdin = args.capture.empty() || args.capture == "-";
    // Blocks typed on a terminal are no capture; waiting for them would
    // only look like a hang.
    if (from_stdin && isatty(STDIN_FILENO))
        return cli_usage_error("vbicc", "standard input is a terminal; name a capture or pipe one in");
    const std::string name = from_stdin ? "standard input" : args.capture;
    Reference ref;
    if (!args.compare.empty()) {
        std::string why = load_reference(args.compare, args.service, &ref);
        if (!why.empty()) {
            fprintf(stderr, "vbicc: %s\n", why.c_str());
            return 1;
        }
    }
    int fd = 0;
    if (!from_stdin && (fd = open(args.capture.c_str(), O_RDONLY)) < 0)
        return fail(name, strerror(errno));

    Output out;
    std::string why = out.open(args.out);
    if (!why.empty()) {
        fprintf(stderr, "vbicc: %s\n", why.c_str());
        return 1;
    }
    // The signals end the reading; what is on screen then is written.
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_signal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);

    CompareSink collect(args.service);
    std::unique_ptr<Writer> writer;
    StreamSink *sink = &collect;
    if (args.compare.empty()) {
        // JSON covers every service unless one is asked for.
        int service = args.format == FMT_JSON && !args.service_given ? -1 : args.service;
        writer = make_writer(args.format, service, out.file, &stream);
        sink = writer.get();
    }
    stream_init(&stream, args.slicer, sink);

    size_t trailing = 0;
    int read_errno = 0;
    for (;;) {
        ssize_t n = cli_read_whole(fd, block, sizeof block, &stop_reading);
        if (n < 0) {
            read_errno = errno;
            if (stream.blocks == 0) {
                out.discard();
                return fail(name, strerror(read_errno));
            }
            break;
        }
        if (n < (ssize_t)sizeof block) {
            trailing = (size_t)n;
            break;
        }
        stream_block(&stream, block);
        if (writer && writer->error)
            break;
    }
    if (fd != 0)
        close(fd);
    if (stream.blocks == 0) {
        out.discard();
        if (stop_reading)
            return 0;
        if (trailing == 0)
            return fail(name, "empty: no block to decode");
        return fail(name, "holds no whole block (" + std::to_string(trailing) + " bytes; a block is " +
                              std::to_string(VBI_BLOCK_SIZE) + ")");
    }
    stream_finish(&stream);

    int status = 0;
    if (writer) {
        writer->finish(stream);
        if (writer->error) {
            out.discard();
            return fail(args.out.empty() ? "standard output" : args.out, strerror(writer->error));
        }
    } else {
        CompareOptions opt;
        opt.ref_name = args.compare;
        opt.capture_name = name;
        opt.service = cc_service_name(args.service);
        opt.ref_is_scc = ref.scc;
        opt.tolerance = args.tolerance;
        CompareResult r = compare_captions(ref.cues, collect.cues, ref.scc ? ref.pairs : std::vector<PairAt>(),
                                           collect.pairs, opt);
        errno = 0;
        if (fwrite(r.report.data(), 1, r.report.size(), out.file) != r.report.size() || fflush(out.file) != 0) {
            int e = errno ? errno : EIO;
            out.discard();
            return fail(args.out.empty() ? "standard output" : args.out, strerror(e));
        }
        status = r.same ? 0 : 3;
    }
    // A device that failed after delivering blocks: what came was decoded
    // and written to standard output, but a file named by -o is not left
    // half done.
    if (read_errno) {
        out.discard();
        return fail(name, strerror(read_errno));
    }
    why = out.commit();
    if (!why.empty()) {
        fprintf(stderr, "vbicc: %s\n", why.c_str());
        return 1;
    }
    return status;
}
