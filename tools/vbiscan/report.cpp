#include "report.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>

#include "level_slicer.h"
#include "runin_crest.h"
#include "runin_slicer.h"

// --- text report -------------------------------------------------------------

static std::string fmt(const char *f, ...) __attribute__((format(printf, 1, 2)));
static std::string fmt(const char *f, ...)
{
    va_list ap;
    va_start(ap, f);
    char small[256];
    int n = vsnprintf(small, sizeof small, f, ap);
    va_end(ap);
    if (n < 0)
        return "";
    if ((size_t)n < sizeof small)
        return small;
    // A long capture name: as long as it takes.
    std::string out((size_t)n + 1, '\0');
    va_start(ap, f);
    vsnprintf(&out[0], out.size(), f, ap);
    va_end(ap);
    out.resize((size_t)n);
    return out;
}

static double share(uint64_t part, uint64_t whole)
{
    return whole ? (double)part / (double)whole : 0;
}

static double line_mean(const LineAccum &a)
{
    return a.samples ? (double)a.sum / (double)a.samples : 0;
}

// "0-10, 12, 14-31"
static std::string index_ranges(const std::vector<int> &v)
{
    std::string out;
    for (size_t i = 0; i < v.size();) {
        size_t j = i;
        while (j + 1 < v.size() && v[j + 1] == v[j] + 1)
            j++;
        if (!out.empty())
            out += ", ";
        out += j > i ? fmt("%d-%d", v[i], v[j]) : fmt("%d", v[i]);
        i = j + 1;
    }
    return out;
}

// Words laid into lines of at most 80 columns, the first after `head`
// (padded to the indent), the others after the indent alone.
static std::string wrap(const std::string &head, const std::string &text, size_t indent = 14)
{
    std::string out = head, word;
    out.resize(std::max(head.size(), indent), ' ');
    size_t col = out.size(), start = col;
    auto put = [&](const std::string &w) {
        if (col > start && col + 1 + w.size() > 80) {
            out += "\n" + std::string(indent, ' ');
            col = start = indent;
        } else if (col > start) {
            out += ' ';
            col++;
        }
        out += w;
        col += w.size();
    };
    for (size_t i = 0; i < text.size(); i++) {
        char ch = text[i];
        // "99 %" and "5.67 s)" stay on one line.
        bool keep = i + 1 < text.size() &&
                    (text[i + 1] == '%' || (text[i + 1] == 's' && (i + 2 == text.size() || text[i + 2] == ')')));
        if (ch == ' ' && !keep) {
            if (!word.empty())
                put(word);
            word.clear();
        } else {
            word += ch;
        }
    }
    if (!word.empty())
        put(word);
    return out + "\n";
}

static std::string at_block(uint64_t block)
{
    return fmt("block %llu (%.2f s)", (unsigned long long)block, block_time(block));
}

static uint64_t decoder_handled(const Scan &s, int d)
{
    return d == INTEGRATING ? s.integrating.handled : s.programs[d].handled;
}

static uint64_t decoder_decoded(const Scan &s, int d)
{
    return d == INTEGRATING ? s.integrating.decoded : s.programs[d].decoded;
}

static const RefusalRuns &decoder_refusals(const Scan &s, int d)
{
    return d == INTEGRATING ? s.integrating.refusals : s.programs[d].refusals;
}

enum { TEXT_LINES_SHOWN = 8, CAPTION_FOLD = 74 };

// A caption line as the program wrote it, indented, folded every
// CAPTION_FOLD bytes (never inside a UTF-8 sequence) with the rest on
// lines marked "+", so that the report stays within 80 columns and the
// pieces put together give the line exactly.
std::string fold_caption_line(const std::string &text)
{
    std::string out = "    ";
    size_t col = 0;
    for (size_t i = 0; i < text.size(); i++) {
        unsigned char ch = (unsigned char)text[i];
        if (col >= CAPTION_FOLD && (ch & 0xC0) != 0x80) {
            out += "\n  + ";
            col = 0;
        }
        out += text[i];
        col += (ch & 0xC0) != 0x80;
    }
    return out + "\n";
}

// --- summary and diagnosis -----------------------------------------------------

bool looks_like_capture(const Scan &s)
{
    for (const LineAccum &a : s.lines)
        if (a.runin_blocks > 0 || a.decoded_blocks > 0)
            return true;
    return false;
}

const char *signal_quality(const SignalFigures &f, double *figure)
{
    *figure = 0;
    if (!f.valid)
        return "none";
    // The swing the most demanding of the programs' slicers needs, and a
    // quarter bit of timing, beyond which the slicers' fixed distances
    // from the first crest start to miss the bits.
    if (f.swing < RUNIN_HYSTERESIS) {
        *figure = f.swing;
        return "weak";
    }
    if (fabs(f.crest_mean - NOMINAL_FIRST_CREST) > CAPTION_BIT / 4) {
        *figure = f.crest_mean;
        return "mistimed";
    }
    if (f.eye_valid && f.eye_opening_p99 < 0.5) {
        *figure = f.eye_opening_p99;
        return "noisy";
    }
    // Noise peaks (three standard deviations) past the smallest step the
    // programs' crest searches react to move their timing and thresholds.
    if (3 * f.noise_sigma > CAPTION_CREST_RISE) {
        *figure = f.noise_sigma;
        return "noisy";
    }
    *figure = f.eye_valid ? f.eye_opening_p99 : f.swing;
    return "clean";
}

std::string scan_summary(const Scan &s)
{
    std::string r;
    if (s.counter.blocks == 0) {
        r = "no whole block read";
    } else if (!looks_like_capture(s)) {
        r = "does not look like a capture of the VBI device: no line carries a caption signal or a run-in";
    } else {
        const LineAccum &studied = s.lines[s.opt.line];
        const char *verdict = line_verdict(studied);
        r = std::string("captions ") +
            (strcmp(verdict, "caption") == 0 ? "yes" : studied.decoded_blocks > 0 ? "partly" : "no") + " (";
        for (int d = 0; d < DECODERS; d++)
            r += fmt("%s%s %.0f %%", d ? ", " : "", DecoderNames[d],
                     100 * share(decoder_decoded(s, d), decoder_handled(s, d)));
        SignalFigures f = signal_figures(s.signal);
        double fig;
        const char *q = signal_quality(f, &fig);
        r += "); signal ";
        if (strcmp(q, "none") == 0)
            r += fmt("none (no run-in on line %d)", s.opt.line);
        else if (strcmp(q, "weak") == 0)
            r += fmt("weak (swing %.0f)", fig);
        else if (strcmp(q, "mistimed") == 0)
            r += fmt("mistimed (first crest %.1f, nominal %.1f)", fig, NOMINAL_FIRST_CREST);
        else if (strcmp(q, "noisy") == 0 && f.eye_valid)
            r += fmt("noisy (noise σ %.1f, eye %.2f at 99 %%)", f.noise_sigma, f.eye_opening_p99);
        else if (f.eye_valid)
            r += fmt("%s (eye %.2f at 99 %%)", q, fig);
        else
            r += fmt("%s (swing %.0f)", q, fig);
    }
    const CounterStats &c = s.counter;
    if (s.fault_count == 0) {
        r += "; no frame faults";
    } else {
        std::string kinds;
        for (auto k : {std::make_pair(c.gaps, "gap"), std::make_pair(c.repeats, "repeat"),
                       std::make_pair(c.backward, "backward")})
            if (k.first)
                kinds += fmt("%s%llu %s%s", kinds.empty() ? "" : ", ", (unsigned long long)k.first, k.second,
                             k.first > 1 && strcmp(k.second, "backward") != 0 ? "s" : "");
        const CounterFault &f0 = s.faults.front();
        if (s.fault_count == 1)
            r += std::string("; frame fault: one ") + counter_event_name(f0.kind) + " at " + at_block(f0.block);
        else
            r += "; frame faults: " + kinds + ", the first a " + counter_event_name(f0.kind) + " at " +
                 at_block(f0.block);
    }
    return r;
}

std::vector<std::string> scan_diagnosis(const Scan &s)
{
    std::vector<std::string> out;
    const SignalFigures f = signal_figures(s.signal);
    const int n = s.opt.line;
    bool refusing = false;
    for (int d = 0; d < DECODERS; d++)
        refusing |= decoder_handled(s, d) > 0 && decoder_handled(s, d) - decoder_decoded(s, d) > 0 &&
                    (decoder_handled(s, d) - decoder_decoded(s, d)) * 100 >= decoder_handled(s, d);
    if (!refusing)
        return out;
    if (!f.valid) {
        out.push_back(fmt("no run-in on line %d: nothing there for the slicers to read", n));
        return out;
    }
    auto refuses = [&](int d) {
        uint64_t h = decoder_handled(s, d), refused = h - decoder_decoded(s, d);
        return refused > 0 && refused * 100 >= h;
    };
    const double offset = f.crest_mean - NOMINAL_FIRST_CREST;
    size_t before = out.size();
    // Each program's slicer against its own limits.
    if (refuses(PROG_RUNIN)) {
        const char *name = DecoderNames[PROG_RUNIN];
        if (f.swing < RUNIN_HYSTERESIS)
            out.push_back(fmt("swing %.0f is below the %d %s's slicer needs", f.swing, RUNIN_HYSTERESIS, name));
        if (f.runin_level <= RUNIN_PEAK_FLOOR)
            out.push_back(fmt("run-in crests at %.0f are not above the %d %s's slicer needs", f.runin_level,
                              RUNIN_PEAK_FLOOR, name));
        if (f.crest_mean < RUNIN_SCAN_START)
            out.push_back(fmt("the first crest at %.1f lies before sample %d, where %s's slicer starts looking",
                              f.crest_mean, RUNIN_SCAN_START, name));
        for (int k = 0; k < RUNIN_CYCLES; k++) {
            double trough = f.crest_mean + (k + 0.5) * CAPTION_BIT;
            if (trough >= RunInSearchLimits[k]) {
                out.push_back(fmt("run-in cycle %d ends at %.0f, past the %d where %s's slicer stops looking", k + 1,
                                  trough, RunInSearchLimits[k], name));
                break;
            }
        }
    }
    for (int d : {PROG_CAPTEXT, PROG_CAPSCOPE}) {
        if (!refuses(d))
            continue;
        const char *name = DecoderNames[d];
        if (f.swing <= CAPTION_CREST_FALL)
            out.push_back(fmt("swing %.0f is not above the %d %s's slicer needs to find the first crest", f.swing,
                              CAPTION_CREST_FALL, name));
        // Below its crest floor capscope's slicer times the bits from a
        // fixed crest position, which fits the nominal timing only.
        if (d == PROG_CAPSCOPE && f.runin_level <= LEVEL_CREST_FLOOR + CAPTION_CREST_RISE)
            out.push_back(fmt("run-in crests at %.0f are not above the %d %s's slicer needs to time the line; "
                              "it takes the first crest at sample %d then",
                              f.runin_level, LEVEL_CREST_FLOOR + CAPTION_CREST_RISE, name, LEVEL_CREST_DEFAULT));
        if (f.crest_mean + CAPTION_BIT / 2 >= CAPTION_CREST_SEARCH)
            out.push_back(fmt("the first crest at %.1f lies past the %d samples %s's slicer searches", f.crest_mean,
                              CAPTION_CREST_SEARCH, name));
    }
    bool someone = false;
    for (int d = 0; d < DECODERS; d++)
        someone |= refuses(d);
    if (someone && fabs(offset) > CAPTION_BIT / 4)
        out.push_back(fmt("the run-in starts %.0f samples %s (nominal %.1f)", fabs(offset),
                          offset > 0 ? "late" : "early", NOMINAL_FIRST_CREST));
    if (someone && f.eye_valid && f.eye_opening_p99 < 0.5) {
        if (f.noise_sigma >= 0.5)
            out.push_back(fmt("noise σ %.1f %s the eye at the bit centres (%.2f at 99 %%)", f.noise_sigma,
                              f.eye_opening_p99 <= 0 ? "closes" : "narrows", f.eye_opening_p99));
        else
            out.push_back(fmt("the eye at the bit centres is %.2f at 99 %%", f.eye_opening_p99));
    }
    // The programs' crest searches follow single samples: noise peaks
    // (three standard deviations) move them once they pass the step the
    // search reacts to.
    for (int d : {PROG_CAPTEXT, PROG_CAPSCOPE})
        if (refuses(d) && 3 * f.noise_sigma > CAPTION_CREST_RISE)
            out.push_back(fmt("noise σ %.1f moves the first crest and the threshold %s's slicer takes from single "
                              "samples (a rise of %d, a fall of %d)",
                              f.noise_sigma, DecoderNames[d], CAPTION_CREST_RISE, CAPTION_CREST_FALL));
    if (refuses(PROG_RUNIN) && 3 * f.noise_sigma > f.swing - RUNIN_HYSTERESIS && f.swing >= RUNIN_HYSTERESIS)
        out.push_back(fmt("noise σ %.1f upsets the run-in cycles %s's slicer follows sample by sample (swing "
                          "%.0f, hysteresis %d)",
                          f.noise_sigma, DecoderNames[PROG_RUNIN], f.swing, RUNIN_HYSTERESIS));
    if (refuses(INTEGRATING)) {
        const IntegratingRun &ig = s.integrating;
        int most = INTEGRATING_NO_RUNIN;
        for (int c = INTEGRATING_NO_RUNIN; c <= INTEGRATING_WEAK; c++)
            if (ig.causes[c] > ig.causes[most])
                most = c;
        out.push_back(fmt("the integrating slicer refuses %llu blocks, most for %s (%llu)",
                          (unsigned long long)ig.refused, integrating_cause_name((IntegratingCause)most),
                          (unsigned long long)ig.causes[most]));
    }
    if (out.size() == before)
        out.push_back("the figures show no cause for the refusals");
    return out;
}

// --- text report -----------------------------------------------------------------

std::string text_report(const Scan &s, const std::string &source, bool all)
{
    const CounterStats &c = s.counter;
    std::string r = wrap("summary", scan_summary(s));
    for (const std::string &d : scan_diagnosis(s))
        r += wrap("  why", d);
    r += "\nstream        " + source + (s.interrupted ? " (interrupted)" : "") + "\n";
    r += fmt("  blocks      %llu whole, %llu trailing bytes, %.2f s of video\n", (unsigned long long)c.blocks,
             (unsigned long long)s.trailing_bytes, block_time(c.blocks));
    r += wrap("  counter", fmt("%u to %u: %llu steps, %llu repeats, %llu gaps (%llu frames missing), %llu backward",
                               c.first, c.last, (unsigned long long)c.steps, (unsigned long long)c.repeats,
                               (unsigned long long)c.gaps, (unsigned long long)c.missing,
                               (unsigned long long)c.backward));
    enum { EVENTS_SHOWN = 10 };
    for (size_t i = 0; i < s.faults.size() && i < EVENTS_SHOWN; i++) {
        const CounterFault &e = s.faults[i];
        r += fmt("%s%-8s at %s: %u to %u\n", i ? "              " : "  faults      ", counter_event_name(e.kind),
                 at_block(e.block).c_str(), e.from, e.to);
    }
    if (s.fault_count > EVENTS_SHOWN)
        r += fmt("              and %llu more\n", (unsigned long long)(s.fault_count - EVENTS_SHOWN));

    r += "\nlines         index field line  min   mean  max  run-in  verdict\n";
    std::vector<int> blank;
    for (int k = 0; k < VBI_LINES; k++) {
        const LineAccum &a = s.lines[k];
        const char *verdict = line_verdict(a);
        if (strcmp(verdict, "blank") == 0 && k != s.opt.line) {
            blank.push_back(k);
            continue;
        }
        r += fmt("              %5d %5d %4d %4d %6.1f %4d  %6.2f  %s\n", k, line_field(k), line_number(k), a.min,
                 line_mean(a), a.max, share(a.runin_blocks, a.blocks), verdict);
    }
    if (!blank.empty())
        r += wrap("  blank", index_ranges(blank));

    const int n = s.opt.line;
    r += fmt("\ncaption line  %d (field %d, line %d)\n", n, line_field(n), line_number(n));
    r += "  decoder         handled  decoded  refused  lines\n";
    std::vector<std::string> texts[PROGRAMS];
    for (int d = 0; d < DECODERS; d++) {
        uint64_t h = decoder_handled(s, d), dec = decoder_decoded(s, d);
        std::string lines = "-";
        if (d < PROGRAMS) {
            texts[d] = program_lines(s.programs[d]);
            lines = std::to_string(texts[d].size());
        }
        r += fmt("  %-14s %8llu %8llu %8llu %6s\n", DecoderNames[d], (unsigned long long)h, (unsigned long long)dec,
                 (unsigned long long)(h - dec), lines.c_str());
    }
    enum { RUNS_SHOWN = 3 };
    for (int d = 0; d < DECODERS; d++) {
        const RefusalRuns &rr = decoder_refusals(s, d);
        std::vector<RefusalRun> longest = refusal_longest(rr);
        for (size_t i = 0; i < longest.size() && i < RUNS_SHOWN; i++) {
            const RefusalRun &run = longest[i];
            std::string head = i ? "" : fmt("  %s refuses", DecoderNames[d]);
            std::string what = run.count == 1
                                   ? fmt("1 at %s", at_block(run.first_block).c_str())
                                   : fmt("%llu from %s to %llu (%.2f s)", (unsigned long long)run.count,
                                         at_block(run.first_block).c_str(), (unsigned long long)run.last_block,
                                         block_time(run.last_block));
            r += wrap(head, what + ", " + run.cause, 28);
        }
        if (rr.total > RUNS_SHOWN)
            r += fmt("%28sand %llu more runs\n", "", (unsigned long long)(rr.total - RUNS_SHOWN));
    }
    if (s.integrating.refused) {
        std::string causes;
        for (int k = INTEGRATING_NO_RUNIN; k <= INTEGRATING_WEAK; k++)
            if (s.integrating.causes[k])
                causes += fmt("%s%llu %s", causes.empty() ? "" : ", ", (unsigned long long)s.integrating.causes[k],
                              integrating_cause_name((IntegratingCause)k));
        r += wrap("  integrating refusals by cause:", causes, 4);
    }
    for (int p = 0; p < PROGRAMS; p++) {
        const char *name = DecoderNames[p];
        std::string note = program_skips_counters(p) ? " (it decodes even counters only)" : "";
        int same = -1;
        for (int q = 0; q < p && same < 0; q++)
            if (texts[q] == texts[p])
                same = q;
        if (texts[p].empty()) {
            r += fmt("  %s prints nothing%s\n", name, note.c_str());
            continue;
        }
        if (same >= 0) {
            r += fmt("  %s prints the same as %s%s\n", name, DecoderNames[same], note.c_str());
            continue;
        }
        r += fmt("  %s prints%s:\n", name, note.c_str());
        size_t shown = all ? texts[p].size() : std::min(texts[p].size(), (size_t)TEXT_LINES_SHOWN);
        for (size_t i = 0; i < shown; i++)
            r += fold_caption_line(texts[p][i]);
        if (shown < texts[p].size())
            r += fmt("    ... %zu more lines (--all shows them)\n", texts[p].size() - shown);
    }

    SignalFigures f = signal_figures(s.signal);
    r += "\nsignal        ";
    if (!f.valid) {
        r += "no run-in on this line\n";
        return r;
    }
    r += fmt("over the %llu blocks with a run-in\n", (unsigned long long)s.signal.levels.runin_blocks);
    r += fmt("  blanking    %6.1f\n", f.blanking);
    r += fmt("  run-in      %6.1f\n", f.runin_level);
    r += fmt("  swing       %6.1f\n", f.swing);
    r += fmt("  noise       %6.2f (standard deviation of the blanking)\n", f.noise_sigma);
    r += fmt("  first crest %6.2f (nominal %.2f), spread %.2f\n", f.crest_mean, NOMINAL_FIRST_CREST, f.crest_spread);
    if (f.eye_valid) {
        r += fmt("  eye         %6.2f open (1 is wide open), over %llu decoded blocks\n", f.eye_opening,
                 (unsigned long long)s.signal.eye_blocks);
        r += fmt("  eye at 99 %% %6.2f open: what 99 %% of the bit windows clear\n", f.eye_opening_p99);
    } else {
        r += "  eye             no decoded block\n";
    }
    if (f.snr_valid)
        r += fmt("  snr         %6.1f dB\n", f.snr_db);
    else
        r += "  snr             no noise measured\n";
    return r;
}

// --- JSON report -------------------------------------------------------------

using Json = nlohmann::ordered_json;

// Four decimals are more than any of these figures can carry.
static Json number(double v)
{
    return std::round(v * 1e4) / 1e4;
}

static Json refusals_json(const RefusalRuns &rr)
{
    Json runs = Json::array();
    for (const RefusalRun &run : refusal_list(rr))
        runs.push_back({{"first_block", run.first_block},
                        {"last_block", run.last_block},
                        {"count", run.count},
                        {"cause", run.cause}});
    return runs;
}

std::string json_report(const Scan &s, const std::string &source)
{
    const CounterStats &c = s.counter;
    Json j;
    j["source"] = source;
    j["summary"] = scan_summary(s);
    j["diagnosis"] = scan_diagnosis(s);
    j["interrupted"] = s.interrupted;
    j["blocks"] = c.blocks;
    j["seconds"] = number(block_time(c.blocks));
    j["trailing_bytes"] = s.trailing_bytes;
    Json events = Json::array();
    for (const CounterFault &e : s.faults)
        events.push_back({{"kind", counter_event_name(e.kind)},
                          {"block", e.block},
                          {"time", number(block_time(e.block))},
                          {"from", e.from},
                          {"to", e.to}});
    j["counter"] = {{"first", c.first},     {"last", c.last},   {"steps", c.steps},
                    {"repeats", c.repeats}, {"gaps", c.gaps},   {"missing", c.missing},
                    {"backward", c.backward}, {"events", events}};
    if (s.fault_count > s.faults.size())
        j["counter"]["events_truncated"] = true;
    Json lines = Json::array();
    for (int k = 0; k < VBI_LINES; k++) {
        const LineAccum &a = s.lines[k];
        lines.push_back({{"index", k},
                         {"field", line_field(k)},
                         {"line", line_number(k)},
                         {"min", a.blocks ? a.min : 0},
                         {"mean", number(line_mean(a))},
                         {"max", a.max},
                         {"runin_share", number(share(a.runin_blocks, a.blocks))},
                         {"verdict", line_verdict(a)},
                         {"decoded_share", number(share(a.decoded_blocks, a.blocks))}});
    }
    j["lines"] = lines;

    const int n = s.opt.line;
    Json programs;
    for (int p = 0; p < PROGRAMS; p++) {
        const ProgramRun &pr = s.programs[p];
        programs[CaptionPrograms[p].name] = {{"handled", pr.handled},
                                             {"decoded", pr.decoded},
                                             {"refused", pr.refused},
                                             {"text", program_lines(pr)},
                                             {"end_pass", pr.end_pass},
                                             {"even_counters_only", program_skips_counters(p)},
                                             {"refusals", refusals_json(pr.refusals)}};
        if (pr.refusals.total > pr.refusals.runs.size() + (pr.refusals.open ? 1 : 0))
            programs[CaptionPrograms[p].name]["refusals_truncated"] = true;
    }
    const IntegratingRun &ig = s.integrating;
    Json causes;
    for (int k = INTEGRATING_NO_RUNIN; k <= INTEGRATING_WEAK; k++)
        causes[integrating_cause_name((IntegratingCause)k)] = ig.causes[k];
    Json integrating = {{"handled", ig.handled},
                        {"decoded", ig.decoded},
                        {"refused", ig.refused},
                        {"causes", causes},
                        {"refusals", refusals_json(ig.refusals)}};
    if (ig.refusals.total > ig.refusals.runs.size() + (ig.refusals.open ? 1 : 0))
        integrating["refusals_truncated"] = true;
    SignalFigures f = signal_figures(s.signal);
    auto opt = [](bool valid, double v) { return valid ? number(v) : Json(nullptr); };
    Json signal = {{"blanking", opt(f.valid, f.blanking)},
                   {"runin_level", opt(f.valid, f.runin_level)},
                   {"swing", opt(f.valid, f.swing)},
                   {"noise_sigma", opt(f.valid, f.noise_sigma)},
                   {"first_crest",
                    {{"mean", opt(f.valid, f.crest_mean)},
                     {"spread", opt(f.valid, f.crest_spread)},
                     {"nominal", number(NOMINAL_FIRST_CREST)}}},
                   {"eye_opening", opt(f.eye_valid, f.eye_opening)},
                   {"eye_opening_p99", opt(f.eye_valid, f.eye_opening_p99)},
                   {"snr_db", opt(f.snr_valid, f.snr_db)},
                   {"blocks", s.signal.levels.runin_blocks},
                   {"eye_blocks", s.signal.eye_blocks}};
    j["caption_line"] = {{"index", n},
                         {"field", line_field(n)},
                         {"line", line_number(n)},
                         {"programs", programs},
                         {"integrating", integrating},
                         {"signal", signal}};
    Json timeline = Json::array();
    for (size_t k = 0; k < s.timeline.size(); k++) {
        const Second &sec = s.timeline[k];
        Json decoded;
        for (int d = 0; d < DECODERS; d++)
            decoded[DecoderNames[d]] = sec.handled[d] ? number(share(sec.decoded[d], sec.handled[d])) : Json(nullptr);
        double runin, blanking, noise;
        level_sums_figures(sec.levels, &runin, &blanking, &noise);
        bool valid = sec.levels.runin_blocks > 0;
        timeline.push_back({{"second", k},
                            {"first_block", (uint64_t)k * BLOCKS_PER_SECOND},
                            {"blocks", sec.blocks},
                            {"decoded_share", decoded},
                            {"swing", opt(valid, runin - blanking)},
                            {"noise_sigma", opt(valid, noise)}});
    }
    j["timeline"] = timeline;
    // One line per capture (JSON Lines), and bytes of a name that are not
    // UTF-8 replaced rather than refused.
    return j.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}
