#include "cc_compare.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>

#include "cc_output.h"

enum {
    MATCH_WINDOW = 300,   // frames (10 s) a cue may lie from where the offset puts it
    FAULTS_SHOWN = 5,     // first faults of each kind named in the report
};

// --- SRT --------------------------------------------------------------------

// Reads n decimal digits (n 0: one or more, at most 6) at *s.
static bool digits(const char **s, int n, int64_t *v)
{
    int k = 0;
    *v = 0;
    while ((n == 0 ? k < 6 : k < n) && **s >= '0' && **s <= '9') {
        *v = *v * 10 + (**s - '0');
        (*s)++;
        k++;
    }
    return n == 0 ? k > 0 : k == n;
}

// HH:MM:SS,mmm (or with a full stop, as WebVTT writes it).
static bool parse_srt_time(const char *s, int64_t *ms, const char **end)
{
    int64_t h, m, sec, milli;
    if (!digits(&s, 0, &h) || *s++ != ':' || !digits(&s, 2, &m) || *s++ != ':' || !digits(&s, 2, &sec) ||
        (*s != ',' && *s != '.'))
        return false;
    s++;
    if (!digits(&s, 3, &milli) || m > 59 || sec > 59)
        return false;
    *ms = ((h * 60 + m) * 60 + sec) * 1000 + milli;
    *end = s;
    return true;
}

bool read_srt(const std::string &text, std::vector<SrtCue> *cues, int *bad_line, std::string *why)
{
    std::vector<std::string> lines;
    size_t pos = 0;
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        pos = 3;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        if (nl == std::string::npos)
            nl = text.size();
        std::string l = text.substr(pos, nl - pos);
        if (!l.empty() && l.back() == '\r')
            l.pop_back();
        lines.push_back(l);
        pos = nl + 1;
    }
    cues->clear();
    size_t i = 0;
    auto fail = [&](size_t at, const std::string &message) {
        *bad_line = (int)at + 1;
        *why = message;
        return false;
    };
    while (i < lines.size()) {
        if (lines[i].find_first_not_of(" \t") == std::string::npos) {
            i++;
            continue;
        }
        SrtCue c;
        c.line = (int)i + 1;
        if (lines[i].find_first_not_of("0123456789 \t") != std::string::npos)
            return fail(i, "expected a cue number, found '" + lines[i] + "'");
        if (++i >= lines.size())
            return fail(i - 1, "the cue has no times");
        const char *s = lines[i].c_str(), *end;
        if (!parse_srt_time(s, &c.start_ms, &end))
            return fail(i, "expected 'HH:MM:SS,mmm --> HH:MM:SS,mmm', found '" + lines[i] + "'");
        while (*end == ' ')
            end++;
        if (end[0] != '-' || end[1] != '-' || end[2] != '>')
            return fail(i, "expected 'HH:MM:SS,mmm --> HH:MM:SS,mmm', found '" + lines[i] + "'");
        end += 3;
        while (*end == ' ')
            end++;
        if (!parse_srt_time(end, &c.end_ms, &end))
            return fail(i, "expected 'HH:MM:SS,mmm --> HH:MM:SS,mmm', found '" + lines[i] + "'");
        if (c.end_ms < c.start_ms)
            return fail(i, "the cue ends before it starts");
        for (i++; i < lines.size() && !lines[i].empty(); i++)
            c.rows.push_back(lines[i]);
        cues->push_back(c);
    }
    return true;
}

static std::string trim(const std::string &s)
{
    size_t a = s.find_first_not_of(" \t");
    if (a == std::string::npos)
        return "";
    size_t b = s.find_last_not_of(" \t");
    return s.substr(a, b - a + 1);
}

std::string srt_plain_text(const SrtCue &c)
{
    std::string out;
    for (const std::string &row : c.rows) {
        std::string plain;
        for (size_t k = 0; k < row.size(); k++) {
            size_t close = row[k] == '<' ? row.find('>', k) : std::string::npos;
            if (close != std::string::npos)
                k = close;
            else
                plain += row[k];
        }
        plain = trim(plain);
        if (plain.empty())
            continue;
        if (!out.empty())
            out += '\n';
        out += plain;
    }
    return out;
}

int64_t ms_to_frame(int64_t ms, int field)
{
    return std::llround(((double)ms * 60.0 / 1001.0 - (field == 2)) / 2.0);
}

CueText caption_cue(const CcCaption &c)
{
    CueText t{c.start_frame, c.end_frame, ""};
    for (const CcCaptionRow &r : c.rows) {
        std::string row = trimmed_text(r);
        if (row.empty())
            continue;
        if (!t.text.empty())
            t.text += '\n';
        t.text += row;
    }
    return t;
}

// --- character error rate --------------------------------------------------------

static std::vector<uint32_t> code_points(const std::string &s)
{
    std::vector<uint32_t> out;
    for (size_t k = 0; k < s.size();) {
        unsigned char c = (unsigned char)s[k];
        int n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        uint32_t v = n == 1 ? c : c & (0x3F >> (n - 1));
        for (int j = 1; j < n && k + (size_t)j < s.size(); j++)
            v = v << 6 | ((unsigned char)s[k + (size_t)j] & 0x3F);
        out.push_back(v);
        k += (size_t)n;
    }
    return out;
}

double char_error_rate(const std::string &ref, const std::string &got)
{
    std::vector<uint32_t> a = code_points(ref), b = code_points(got);
    std::vector<size_t> prev(b.size() + 1), cur(b.size() + 1);
    for (size_t j = 0; j <= b.size(); j++)
        prev[j] = j;
    for (size_t i = 1; i <= a.size(); i++) {
        cur[0] = i;
        for (size_t j = 1; j <= b.size(); j++)
            cur[j] = std::min({prev[j] + 1, cur[j - 1] + 1, prev[j - 1] + (a[i - 1] != b[j - 1])});
        std::swap(prev, cur);
    }
    if (a.empty())
        return b.empty() ? 0 : 1;
    return std::min(1.0, (double)prev[b.size()] / (double)a.size());
}

// --- matching -----------------------------------------------------------------------

static int64_t median(std::vector<int64_t> v)
{
    if (v.empty())
        return 0;
    std::nth_element(v.begin(), v.begin() + (long)(v.size() / 2), v.end());
    return v[v.size() / 2];
}

// The offset most cues agree on: the median over cues of the same text,
// each taken in order.
static int64_t first_offset(const std::vector<CueText> &ref, const std::vector<CueText> &got)
{
    std::map<std::string, std::vector<size_t>> by_text;
    for (size_t i = ref.size(); i-- > 0;)
        by_text[ref[i].text].push_back(i);
    std::vector<int64_t> d;
    for (const CueText &g : got) {
        auto it = by_text.find(g.text);
        if (it == by_text.end() || it->second.empty())
            continue;
        d.push_back(g.start - ref[it->second.back()].start);
        it->second.pop_back();
    }
    if (d.empty() && !ref.empty() && !got.empty())
        return got[0].start - ref[0].start;
    return median(d);
}

// The in-order matching of greatest weight: every reference cue to at most
// one received cue and back, neither order crossed.  Candidates are the
// pairs of cues within reach of each other in time whose texts are alike,
// or that start within the tolerance of each other;
// the heaviest chain over them is found with a prefix maximum over the
// received cues.  Returns match[i] = index into got, or -1.
static std::vector<int> match_cues(const std::vector<CueText> &ref, const std::vector<CueText> &got, int64_t off,
                                   int tolerance)
{
    struct Cand {
        size_t i, j;
        double w, best;
        long prev;
    };
    std::vector<Cand> cands;
    size_t lo = 0;
    for (size_t i = 0; i < ref.size(); i++) {
        int64_t at = ref[i].start + off;
        while (lo < got.size() && got[lo].start < at - MATCH_WINDOW)
            lo++;
        for (size_t j = lo; j < got.size() && got[j].start <= at + MATCH_WINDOW; j++) {
            // Alike texts match; so do cues that start where the offset
            // puts them, however much of their text was lost.
            double cer = ref[i].text == got[j].text ? 0 : char_error_rate(ref[i].text, got[j].text);
            int64_t dt = std::llabs(got[j].start - at);
            double w = cer <= 0.5 ? 2.0 - cer : dt <= tolerance ? 0.5 : 0;
            if (w > 0)
                cands.push_back({i, j, w + 0.01 / (1.0 + (double)dt), 0, -1});
        }
    }
    // Fenwick tree over got indices of (best chain weight, candidate).
    std::vector<std::pair<double, long>> tree(got.size() + 1, {0.0, -1});
    auto query = [&](size_t j) {   // best over got indices < j
        std::pair<double, long> b{0.0, -1};
        for (size_t k = j; k > 0; k -= k & (~k + 1))
            b = std::max(b, tree[k]);
        return b;
    };
    auto update = [&](size_t j, std::pair<double, long> v) {
        for (size_t k = j + 1; k <= got.size(); k += k & (~k + 1))
            tree[k] = std::max(tree[k], v);
    };
    size_t c = 0;
    long best = -1;
    while (c < cands.size()) {
        size_t row_end = c;
        while (row_end < cands.size() && cands[row_end].i == cands[c].i)
            row_end++;
        for (size_t k = c; k < row_end; k++) {
            std::pair<double, long> b = query(cands[k].j);
            cands[k].best = b.first + cands[k].w;
            cands[k].prev = b.second;
        }
        for (size_t k = c; k < row_end; k++) {
            update(cands[k].j, {cands[k].best, (long)k});
            if (best < 0 || cands[k].best > cands[(size_t)best].best)
                best = (long)k;
        }
        c = row_end;
    }
    std::vector<int> match(ref.size(), -1);
    for (long k = best; k >= 0; k = cands[(size_t)k].prev)
        match[cands[(size_t)k].i] = (int)cands[(size_t)k].j;
    return match;
}

// --- the report ------------------------------------------------------------------------

static std::string cue_time(int64_t frame)
{
    return clock_time(frame_ms(frame, 1));
}

static std::string indent_rows(const std::string &text)
{
    std::string out;
    for (char ch : text)
        out += ch == '\n' ? std::string(" | ") : std::string(1, ch);
    return out;
}

// "frames 120-129 (00:00:04;00-00:00:04;09), frame 300 (...)" for the first
// few runs of successive frames.
static std::string frame_runs(const std::vector<int64_t> &frames)
{
    std::string out;
    int runs = 0;
    for (size_t k = 0; k < frames.size() && runs < FAULTS_SHOWN; runs++) {
        size_t e = k;
        while (e + 1 < frames.size() && frames[e + 1] == frames[e] + 1)
            e++;
        if (!out.empty())
            out += ", ";
        if (e == k)
            out += "frame " + std::to_string(frames[k]) + " (" + drop_frame_code(frames[k]) + ")";
        else
            out += "frames " + std::to_string(frames[k]) + "-" + std::to_string(frames[e]) + " (" +
                   drop_frame_code(frames[k]) + "-" + drop_frame_code(frames[e]) + ")";
        k = e + 1;
    }
    return out;
}

// The offset at which the most of the reference's first pairs find the
// same pair in the capture.
static int64_t pair_offset(const std::vector<PairAt> &ref, const std::vector<PairAt> &got)
{
    std::map<uint16_t, std::vector<int64_t>> frames_of;
    for (const PairAt &p : got)
        if (p.ok && frames_of[p.raw].size() < 64)
            frames_of[p.raw].push_back(p.frame);
    std::map<int64_t, int> votes;
    for (size_t k = 0; k < ref.size() && k < 256; k++) {
        auto it = frames_of.find(ref[k].raw);
        if (it != frames_of.end())
            for (int64_t f : it->second)
                votes[f - ref[k].frame]++;
    }
    int64_t best = 0;
    int most = 0;
    for (const auto &v : votes)
        if (v.second > most) {
            most = v.second;
            best = v.first;
        }
    return best;
}

static std::string signed_frames(int64_t v)
{
    return (v > 0 ? "+" : "") + std::to_string(v) + (v == 1 || v == -1 ? " frame" : " frames");
}

CompareResult compare_captions(const std::vector<CueText> &ref_in, const std::vector<CueText> &got_in,
                               const std::vector<PairAt> &ref_pairs, const std::vector<PairAt> &got_pairs,
                               const CompareOptions &opt)
{
    auto by_start = [](const CueText &a, const CueText &b) { return a.start < b.start; };
    std::vector<CueText> ref = ref_in, got = got_in;
    std::stable_sort(ref.begin(), ref.end(), by_start);
    std::stable_sort(got.begin(), got.end(), by_start);

    std::vector<int> match = match_cues(ref, got, first_offset(ref, got), opt.tolerance);
    std::vector<int64_t> d;
    std::vector<bool> got_used(got.size());
    for (size_t i = 0; i < ref.size(); i++)
        if (match[i] >= 0) {
            d.push_back(got[(size_t)match[i]].start - ref[i].start);
            got_used[(size_t)match[i]] = true;
        }
    int64_t offset = median(d);

    std::string body;
    size_t same = 0, differs = 0, missing = 0, late = 0;
    int64_t deviation = 0;
    std::string differ_lines, missing_lines, late_lines;
    for (size_t i = 0; i < ref.size(); i++) {
        std::string name = "cue " + std::to_string(i + 1) + " at " + cue_time(ref[i].start);
        if (match[i] < 0) {
            if (++missing <= FAULTS_SHOWN)
                missing_lines += "  missing: " + name + ": " + indent_rows(ref[i].text) + "\n";
            continue;
        }
        const CueText &g = got[(size_t)match[i]];
        int64_t dev = g.start - ref[i].start - offset;
        deviation = std::max(deviation, (int64_t)std::llabs(dev));
        if (g.text != ref[i].text) {
            if (++differs <= FAULTS_SHOWN) {
                char rate[32];
                snprintf(rate, sizeof rate, "%.1f %%", 100 * char_error_rate(ref[i].text, g.text));
                differ_lines += "  text differs: " + name + " (character error rate " + rate + ")\n" +
                                "    reference: " + indent_rows(ref[i].text) + "\n" +
                                "    received:  " + indent_rows(g.text) + "\n";
            }
        } else {
            same++;
        }
        if (std::llabs(dev) > opt.tolerance && ++late <= FAULTS_SHOWN)
            late_lines += "  " + std::string(dev > 0 ? "late" : "early") + ": " + name + " by " +
                          signed_frames(dev) + " from the offset\n";
    }
    size_t extra = 0;
    std::string extra_lines;
    for (size_t j = 0; j < got.size(); j++)
        if (!got_used[j] && ++extra <= FAULTS_SHOWN)
            extra_lines += "  extra: at " + cue_time(got[j].start - offset) + ": " + indent_rows(got[j].text) + "\n";

    std::string r = "reference: " + opt.ref_name + " (" + (opt.ref_is_scc ? "SCC" : "SRT") + "), " + opt.service +
                    "\ncapture: " + opt.capture_name + "\n";
    r += "cues: " + std::to_string(ref.size()) + " in the reference, " + std::to_string(same) + " matched, " +
         std::to_string(differs) + " text differs, " + std::to_string(missing) + " missing, " +
         std::to_string(extra) + " extra\n";
    r += differ_lines + missing_lines + extra_lines;
    r += "offset: " + signed_frames(offset) + " (median), largest deviation " + std::to_string(deviation) +
         (deviation == 1 ? " frame" : " frames") + ", tolerance " + std::to_string(opt.tolerance) + "\n";
    r += late_lines;

    if (opt.ref_is_scc) {
        // Pairs frame by frame, the reference moved by the cues' offset (or,
        // with no cue matched, by the offset most pairs agree on).
        int64_t poff = d.empty() ? pair_offset(ref_pairs, got_pairs) : offset;
        std::map<int64_t, const PairAt *> got_at;
        for (const PairAt &p : got_pairs)
            got_at.emplace(p.frame, &p);
        size_t intact = 0;
        std::vector<int64_t> lost, parity, extras;
        std::map<int64_t, uint16_t> sent;
        for (const PairAt &p : ref_pairs) {
            sent[p.frame + poff] = p.raw;
            auto it = got_at.find(p.frame + poff);
            if (it == got_at.end() || (it->second->ok && it->second->raw != p.raw))
                lost.push_back(p.frame);
            else if (!it->second->ok)
                parity.push_back(p.frame);
            else
                intact++;
        }
        // Pairs in frames where none was sent, or other than the one sent.
        for (const PairAt &p : got_pairs) {
            auto it = sent.find(p.frame);
            if (it == sent.end() || (p.ok && it->second != p.raw))
                extras.push_back(p.frame - poff);
        }
        r += "pairs: " + std::to_string(ref_pairs.size()) + " sent, " + std::to_string(intact) +
             " received intact, " + std::to_string(parity.size()) + " with a parity error, " +
             std::to_string(lost.size()) + " missing, " + std::to_string(extras.size()) + " extra\n";
        if (!lost.empty())
            r += "  missing: " + frame_runs(lost) + "\n";
        if (!parity.empty())
            r += "  parity errors: " + frame_runs(parity) + "\n";
        if (!extras.empty())
            r += "  extra: " + frame_runs(extras) + "\n";
    }
    bool ok = missing == 0 && differs == 0 && late == 0;
    r += ok ? "verdict: same\n" : "verdict: differs\n";
    return CompareResult{r, ok};
}

// --- collecting --------------------------------------------------------------------

void CompareSink::caption(const CcCaption &c)
{
    if (c.service != service)
        return;
    CueText t = caption_cue(c);
    if (!t.text.empty())
        cues.push_back(t);
}

void CompareSink::pair(int field, int64_t frame, uint16_t raw, bool ok)
{
    if (field == cc_service_field(service) && raw != 0x8080)
        pairs.push_back(PairAt{frame, raw, ok});
}

std::vector<CueText> decode_pairs(const std::vector<PairAt> &pairs, int service)
{
    CompareSink sink(service);
    std::unique_ptr<CcDecoder> decoder(new CcDecoder);
    CcDecoder &d = *decoder;
    cc_init(&d, &sink);
    int field = cc_service_field(service);
    int64_t last = -1;
    for (const PairAt &p : pairs) {
        if (last >= 0 && p.frame != last + 1)
            cc_pair(&d, field, p.frame - 1, 0x8080);
        cc_pair(&d, field, p.frame, p.raw);
        last = p.frame;
    }
    cc_finish(&d, last < 0 ? 0 : last);
    return sink.cues;
}
