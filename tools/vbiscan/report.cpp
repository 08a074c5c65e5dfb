#include "report.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>

// --- text report -------------------------------------------------------------

static std::string fmt(const char *f, ...) __attribute__((format(printf, 1, 2)));
static std::string fmt(const char *f, ...)
{
    char buf[512];
    va_list ap;
    va_start(ap, f);
    vsnprintf(buf, sizeof buf, f, ap);
    va_end(ap);
    return buf;
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

enum { TEXT_LINES_SHOWN = 8 };

std::string text_report(const Scan &s, const std::string &source)
{
    const CounterStats &c = s.counter;
    std::string r;
    r += fmt("stream        %s\n", source.c_str());
    r += fmt("  blocks      %llu whole, %llu trailing bytes\n", (unsigned long long)c.blocks,
             (unsigned long long)s.trailing_bytes);
    r += fmt("  counter     %u to %u: %llu steps, %llu repeats, %llu gaps (%llu frames missing), %llu backward\n",
             c.first, c.last, (unsigned long long)c.steps, (unsigned long long)c.repeats,
             (unsigned long long)c.gaps, (unsigned long long)c.missing, (unsigned long long)c.backward);

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
        r += fmt("  blank       %s\n", index_ranges(blank).c_str());

    const int n = s.opt.line;
    r += fmt("\ncaption line  %d (field %d, line %d)\n", n, line_field(n), line_number(n));
    r += "  program         handled  decoded  refused  lines\n";
    std::vector<std::string> texts[PROGRAMS];
    for (int p = 0; p < PROGRAMS; p++) {
        const ProgramRun &pr = s.programs[p];
        texts[p] = program_lines(pr);
        r += fmt("  %-14s %8llu %8llu %8llu %6zu\n", CaptionPrograms[p].name, (unsigned long long)pr.handled,
                 (unsigned long long)pr.decoded, (unsigned long long)pr.refused, texts[p].size());
    }
    for (int p = 0; p < PROGRAMS; p++) {
        int same = -1;
        for (int q = 0; q < p && same < 0; q++)
            if (texts[q] == texts[p])
                same = q;
        if (texts[p].empty()) {
            r += fmt("  %s prints nothing\n", CaptionPrograms[p].name);
            continue;
        }
        if (same >= 0) {
            r += fmt("  %s prints the same as %s\n", CaptionPrograms[p].name, CaptionPrograms[same].name);
            continue;
        }
        r += fmt("  %s prints:\n", CaptionPrograms[p].name);
        size_t shown = std::min(texts[p].size(), (size_t)TEXT_LINES_SHOWN);
        for (size_t i = 0; i < shown; i++)
            r += "    " + texts[p][i] + "\n";
        if (shown < texts[p].size())
            r += fmt("    ... %zu more lines\n", texts[p].size() - shown);
    }

    SignalFigures f = signal_figures(s.signal);
    r += "\nsignal        ";
    if (!f.valid) {
        r += "no run-in on this line\n";
        return r;
    }
    r += fmt("over the %llu blocks with a run-in\n", (unsigned long long)s.signal.runin_blocks);
    r += fmt("  blanking    %6.1f\n", f.blanking);
    r += fmt("  run-in      %6.1f\n", f.runin_level);
    r += fmt("  swing       %6.1f\n", f.swing);
    r += fmt("  noise       %6.2f (standard deviation of the blanking)\n", f.noise_sigma);
    r += fmt("  first crest %6.2f samples from the line's start, spread %.2f\n", f.crest_mean, f.crest_spread);
    if (f.eye_valid)
        r += fmt("  eye         %6.2f open (1 is wide open), over %llu decoded blocks\n", f.eye_opening,
                 (unsigned long long)s.signal.eye_blocks);
    else
        r += "  eye             no decoded block\n";
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

std::string json_report(const Scan &s, const std::string &source)
{
    const CounterStats &c = s.counter;
    Json j;
    j["source"] = source;
    j["blocks"] = c.blocks;
    j["trailing_bytes"] = s.trailing_bytes;
    j["counter"] = {{"first", c.first},     {"last", c.last},       {"steps", c.steps},
                    {"repeats", c.repeats}, {"gaps", c.gaps},       {"missing", c.missing},
                    {"backward", c.backward}};
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
                                     {"end_pass", pr.end_pass}};
    }
    SignalFigures f = signal_figures(s.signal);
    auto opt = [](bool valid, double v) { return valid ? number(v) : Json(nullptr); };
    Json signal = {{"blanking", opt(f.valid, f.blanking)},
                   {"runin_level", opt(f.valid, f.runin_level)},
                   {"swing", opt(f.valid, f.swing)},
                   {"noise_sigma", opt(f.valid, f.noise_sigma)},
                   {"first_crest", {{"mean", opt(f.valid, f.crest_mean)}, {"spread", opt(f.valid, f.crest_spread)}}},
                   {"eye_opening", opt(f.eye_valid, f.eye_opening)},
                   {"snr_db", opt(f.snr_valid, f.snr_db)},
                   {"blocks", s.signal.runin_blocks},
                   {"eye_blocks", s.signal.eye_blocks}};
    j["caption_line"] = {{"index", n},
                         {"field", line_field(n)},
                         {"line", line_number(n)},
                         {"programs", programs},
                         {"signal", signal}};
    return j.dump(2) + "\n";
}
