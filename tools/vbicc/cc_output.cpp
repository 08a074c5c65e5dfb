#include "cc_output.h"

#include <cerrno>
#include <cmath>
#include <nlohmann/json.hpp>

#include "line21.h"

using Json = nlohmann::json;

static const char *const format_names[FMT_COUNT] = {"text", "srt", "vtt", "scc", "json"};

const char *format_name(OutFormat f)
{
    return format_names[f];
}

int format_by_name(const std::string &name)
{
    for (int f = 0; f < FMT_COUNT; f++)
        if (name == format_names[f])
            return f;
    return -1;
}

double frame_seconds(int64_t frame, int field)
{
    return (double)(frame * 2 + (field == 2)) * 1001.0 / 60000.0;
}

int64_t frame_ms(int64_t frame, int field)
{
    // Exact in integers: half frames of 1001/60 ms.
    int64_t halves = frame * 2 + (field == 2);
    return (halves * 1001 + 30) / 60;
}

std::string clock_time(int64_t ms, char sep)
{
    // A comparison can put a received cue before the reference's start.
    if (ms < 0)
        return "-" + clock_time(-ms, sep);
    char buf[40];
    snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld%c%03lld", (long long)(ms / 3600000),
             (long long)(ms / 60000 % 60), (long long)(ms / 1000 % 60), sep, (long long)(ms % 1000));
    return buf;
}

std::string drop_frame_code(int64_t frame)
{
    // Time codes name one day; a longer capture starts the day again (and
    // a frame before the first is on the day before).
    const int64_t day = L21_LAST_TIMECODE_FRAME + 1;
    char tc[12];
    l21_timecode_format((frame % day + day) % day, tc);
    return tc;
}

std::string xds_value(const CcXdsPacket &p, std::string *name)
{
    const char *type = l21_xds_type_name((L21XdsClass)p.start_code, (uint8_t)p.type);
    if (!type || !p.checksum_ok)
        return "";
    std::string chars(p.data.begin(), p.data.end());
    if ((L21XdsClass)p.start_code == L21_XDS_MISC) {
        L21XdsTime t;
        if (!l21_xds_time_decode(chars, &t))
            return "";
        char buf[64];
        snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02dZ", t.year, t.month, t.day, t.hour, t.minute);
        *name = type;
        return buf;
    }
    // Names and call letters: their characters, trailing padding spaces
    // left out.
    while (!chars.empty() && chars.back() == ' ')
        chars.pop_back();
    *name = type;
    return chars;
}

// The range of cells that hold more than spaces: [*from, *to).
static bool text_range(const CcCaptionRow &r, size_t *from, size_t *to)
{
    size_t a = 0, b = r.cells.size();
    auto blank = [](const CcCell &c) { return c.len == 0 || (c.len == 1 && c.glyph[0] == ' '); };
    while (a < b && blank(r.cells[a]))
        a++;
    while (b > a && blank(r.cells[b - 1]))
        b--;
    *from = a;
    *to = b;
    return a < b;
}

std::string trimmed_text(const CcCaptionRow &r)
{
    size_t a, b;
    if (!text_range(r, &a, &b))
        return "";
    CcCaptionRow part = r;
    part.cells.assign(r.cells.begin() + (long)a, r.cells.begin() + (long)b);
    return cc_row_text(part);
}

std::string styled_text(const CcCaptionRow &r, bool vtt)
{
    size_t a, b;
    if (!text_range(r, &a, &b))
        return "";
    std::string s;
    int open = -1;   // attributes of the open tags
    auto close = [&]() {
        if (open < 0)
            return;
        if (open & CC_ATTR_UNDERLINE)
            s += "</u>";
        if (open & CC_ATTR_ITALIC)
            s += "</i>";
        if (vtt && (open & CC_ATTR_COLOUR))
            s += "</c>";
        open = -1;
    };
    for (size_t k = a; k < b; k++) {
        const CcCell &c = r.cells[k];
        int attr = c.attr & (CC_ATTR_ITALIC | CC_ATTR_UNDERLINE | (vtt ? CC_ATTR_COLOUR : 0));
        // A space shows no italics and no colour, only an underline: one
        // that starts a style (the column a mid-row code takes) stays
        // outside the tag, so that a tag opens and closes at the word.
        bool blank = c.len == 0 || (c.len == 1 && c.glyph[0] == ' ');
        if (blank && open >= 0 && !(attr & CC_ATTR_UNDERLINE) && !(open & CC_ATTR_UNDERLINE)) {
            int shown = attr & open & CC_ATTR_ITALIC;
            if ((attr & CC_ATTR_COLOUR) == (open & CC_ATTR_COLOUR))
                shown |= attr & CC_ATTR_COLOUR;
            attr = shown;
        }
        if (attr != open) {
            close();
            if (vtt && (attr & CC_ATTR_COLOUR))
                s += std::string("<c.") + l21_colour_name((L21Colour)(attr & CC_ATTR_COLOUR)) + ">";
            if (attr & CC_ATTR_ITALIC)
                s += "<i>";
            if (attr & CC_ATTR_UNDERLINE)
                s += "<u>";
            open = attr;
        }
        if (!c.len) {
            s += ' ';
        } else if (vtt && c.len == 1 && (c.glyph[0] == '&' || c.glyph[0] == '<' || c.glyph[0] == '>')) {
            s += c.glyph[0] == '&' ? "&amp;" : c.glyph[0] == '<' ? "&lt;" : "&gt;";
        } else {
            s.append(c.glyph, c.len);
        }
    }
    close();
    return s;
}

std::string text_line(const CcCaption &c)
{
    std::string rows;
    for (const CcCaptionRow &r : c.rows) {
        std::string t = trimmed_text(r);
        if (t.empty())
            continue;
        if (!rows.empty())
            rows += " | ";
        rows += t;
    }
    if (rows.empty())
        return "";
    return clock_time(frame_ms(c.start_frame, c.field)) + "  " + rows;
}

// The styled rows, one a line, each ending in a newline.
static std::string cue_rows(const CcCaption &c, bool vtt)
{
    std::string out;
    for (const CcCaptionRow &r : c.rows) {
        std::string t = styled_text(r, vtt);
        if (!t.empty())
            out += t + "\n";
    }
    return out;
}

std::string srt_cue(int index, const CcCaption &c)
{
    std::string rows = cue_rows(c, false);
    if (rows.empty())
        return "";
    return std::to_string(index) + "\n" + clock_time(frame_ms(c.start_frame, c.field), ',') + " --> " +
           clock_time(frame_ms(c.end_frame, c.field), ',') + "\n" + rows + "\n";
}

static std::string percent(double v)
{
    char buf[32];
    snprintf(buf, sizeof buf, "%.2f", v);
    std::string s = buf;
    while (s.back() == '0')
        s.pop_back();
    if (s.back() == '.')
        s.pop_back();
    return s + "%";
}

std::string vtt_cue(const CcCaption &c)
{
    std::string rows = cue_rows(c, true);
    if (rows.empty())
        return "";
    // The caption area is the central 80 % of the picture: 15 rows high,
    // 32 columns wide.
    int top = CC_ROWS, left = CC_COLUMNS;
    for (const CcCaptionRow &r : c.rows) {
        size_t a, b;
        if (!text_range(r, &a, &b))
            continue;
        top = std::min(top, r.row);
        left = std::min(left, r.column + (int)a);
    }
    return clock_time(frame_ms(c.start_frame, c.field)) + " --> " + clock_time(frame_ms(c.end_frame, c.field)) +
           " line:" + percent(10 + (top - 1) * 80.0 / 15) + " position:" + percent(10 + left * 80.0 / 32) +
           " align:start\n" + rows + "\n";
}

// --- writers ------------------------------------------------------------------

namespace {

struct FileWriter : Writer {
    FILE *out;
    int service;
    explicit FileWriter(FILE *f, int svc) : out(f), service(svc) {}
    void put(const std::string &s, bool flush = true)
    {
        if (error || s.empty())
            return;
        errno = 0;
        if (fwrite(s.data(), 1, s.size(), out) != s.size() || (flush && fflush(out) != 0))
            error = errno ? errno : EIO;
    }
    void finish(const CcStream &) override
    {
        if (!error && fflush(out) != 0)
            error = errno ? errno : EIO;
    }
};

struct TextWriter : FileWriter {
    using FileWriter::FileWriter;
    void caption(const CcCaption &c) override
    {
        if (c.service == service) {
            std::string line = text_line(c);
            if (!line.empty())
                put(line + "\n");
        }
    }
    void text(const CcTextRow &t) override
    {
        if (t.service == service)
            put(clock_time(frame_ms(t.frame, t.field)) + "  " + t.text + "\n");
    }
};

struct SrtWriter : FileWriter {
    int index = 0;
    using FileWriter::FileWriter;
    void caption(const CcCaption &c) override
    {
        if (c.service != service)
            return;
        std::string cue = srt_cue(index + 1, c);
        if (!cue.empty()) {
            index++;
            put(cue);
        }
    }
};

struct VttWriter : FileWriter {
    explicit VttWriter(FILE *f, int svc) : FileWriter(f, svc) { put("WEBVTT\n\n"); }
    void caption(const CcCaption &c) override
    {
        if (c.service == service)
            put(vtt_cue(c));
    }
};

// The pairs of one field as received; null pairs and frames that carried
// none start a new line.  A line goes out when the next one begins.
struct SccWriter : FileWriter {
    int field;
    L21SccWriter scc;
    std::string buf;
    explicit SccWriter(FILE *f, int svc) : FileWriter(f, svc), field(cc_service_field(svc)) {}
    void pair(int f, int64_t frame, uint16_t raw, bool) override
    {
        if (f != field)
            return;
        buf.clear();
        l21_scc_put(&scc, frame, l21_from_word(raw), &buf);
        put(buf, buf.find('\n') != std::string::npos);
    }
    void finish(const CcStream &s) override
    {
        buf.clear();
        l21_scc_finish(&scc, &buf);
        put(buf);
        FileWriter::finish(s);
    }
};

}  // namespace

namespace {

double rounded_seconds(int64_t frame, int field)
{
    return std::round(frame_seconds(frame, field) * 1e6) / 1e6;
}

std::string hex_bytes(const std::vector<uint8_t> &data)
{
    std::string s;
    char b[4];
    for (uint8_t v : data) {
        snprintf(b, sizeof b, "%02x", v);
        s += b;
    }
    return s;
}

struct JsonWriter : FileWriter {
    const CcStream *stream;
    JsonWriter(FILE *f, int svc, const CcStream *s) : FileWriter(f, svc), stream(s) {}
    bool wanted(int svc) const { return service < 0 || service == svc; }
    void line(const Json &j) { put(j.dump() + "\n"); }

    void caption(const CcCaption &c) override
    {
        if (!wanted(c.service))
            return;
        Json rows = Json::array();
        for (const CcCaptionRow &r : c.rows)
            rows.push_back({{"row", r.row}, {"column", r.column}, {"text", cc_row_text(r)}});
        line({{"type", "caption"}, {"service", cc_service_name(c.service)}, {"mode", cc_mode_name(c.mode)},
              {"start", rounded_seconds(c.start_frame, c.field)}, {"end", rounded_seconds(c.end_frame, c.field)},
              {"start_frame", c.start_frame}, {"end_frame", c.end_frame}, {"rows", rows}});
    }
    void text(const CcTextRow &t) override
    {
        if (wanted(t.service))
            line({{"type", "text"}, {"service", cc_service_name(t.service)},
                  {"time", rounded_seconds(t.frame, t.field)}, {"text", t.text}});
    }
    void xds(const CcXdsPacket &p) override
    {
        Json j = {{"type", "xds"}, {"class", l21_xds_class_name((L21XdsClass)p.start_code)}, {"xds_type", p.type},
                  {"time", rounded_seconds(p.frame, 2)}, {"checksum_ok", p.checksum_ok}};
        std::string name, value = xds_value(p, &name);
        if (!name.empty()) {
            j["name"] = name;
            j["value"] = value;
        } else {
            j["hex"] = hex_bytes(p.data);
        }
        line(j);
    }
    void pair(int field, int64_t frame, uint16_t raw, bool ok) override
    {
        if (ok)
            return;
        char hex[8];
        snprintf(hex, sizeof hex, "%02x%02x", raw & 0xFF, raw >> 8);
        line({{"type", "event"}, {"kind", "parity"}, {"block", stream->blocks - 1},
              {"time", rounded_seconds(frame, field)}, {"field", field}, {"pair", hex}});
    }
    void event(const StreamEvent &e) override
    {
        Json j = {{"type", "event"}, {"kind", stream_event_name(e.kind)}, {"block", e.block},
                  {"time", rounded_seconds(e.frame, 1)}, {"counter", e.counter}, {"previous", e.previous}};
        if (e.kind == EVENT_GAP)
            j["missing"] = e.missing;
        line(j);
    }
    void finish(const CcStream &s) override
    {
        const CcCounts &c = s.decoder.counts;
        Json captions = Json::object();
        for (int svc = 0; svc < SVC_COUNT; svc++)
            if (wanted(svc))
                captions[cc_service_name(svc)] = c.captions[svc];
        line({{"type", "summary"}, {"blocks", s.blocks}, {"frames", s.frames},
              {"pairs", {{"field1", c.pairs[0]}, {"field2", c.pairs[1]}}},
              {"parity_errors", {{"field1", c.parity_errors[0]}, {"field2", c.parity_errors[1]}}},
              {"captions", captions}, {"xds_packets", c.xds_packets},
              {"xds_checksum_errors", c.xds_checksum_errors}});
        FileWriter::finish(s);
    }
};

}  // namespace

std::unique_ptr<Writer> make_writer(OutFormat format, int service, FILE *out, const CcStream *stream)
{
    switch (format) {
    case FMT_TEXT: return std::make_unique<TextWriter>(out, service);
    case FMT_SRT: return std::make_unique<SrtWriter>(out, service);
    case FMT_VTT: return std::make_unique<VttWriter>(out, service);
    case FMT_SCC: return std::make_unique<SccWriter>(out, service);
    default: return std::make_unique<JsonWriter>(out, service, stream);
    }
}
