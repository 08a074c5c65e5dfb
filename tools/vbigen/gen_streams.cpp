#include "gen_streams.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "vbi.h"

void gen_fields_extend(GenFields *f, size_t frames)
{
    if (f->field1.size() < frames)
        f->field1.resize(frames, L21_NULL_PAIR);
    if (f->field2.size() < frames)
        f->field2.resize(frames, L21_NULL_PAIR);
}

// ---------------------------------------------------------------------------
// SCC files

// Places one file's lines from capture frame 0 = time code first; returns
// the frame after its last pair (0 for no lines).
static int64_t place_lines(const std::vector<L21SccLine> &lines, int field, int64_t first, std::vector<L21Pair> *out,
                           std::vector<GenSccDelay> *delays)
{
    int64_t next = 0;  // the frame after the last pair placed
    for (const L21SccLine &l : lines) {
        int64_t at = l.frame - first;
        if (at < next) {
            delays->push_back(GenSccDelay{field, l.line_number, next - at});
            at = next;
        }
        if (out->size() < (size_t)(at + (int64_t)l.pairs.size()))
            out->resize((size_t)(at + (int64_t)l.pairs.size()), L21_NULL_PAIR);
        for (size_t i = 0; i < l.pairs.size(); i++)
            (*out)[(size_t)at + i] = l.pairs[i];
        next = at + (int64_t)l.pairs.size();
    }
    return next;
}

void gen_scc_plan(const std::vector<L21SccLine> &field1, const std::vector<L21SccLine> &field2, GenSccPlan *plan)
{
    int64_t earliest = INT64_MAX;
    for (const std::vector<L21SccLine> *f : {&field1, &field2})
        if (!f->empty() && f->front().frame < earliest)
            earliest = f->front().frame;
    if (earliest == INT64_MAX)
        earliest = 0;
    plan->first_timecode = earliest > GEN_SCC_MARGIN ? earliest - GEN_SCC_MARGIN : 0;
    plan->fields = GenFields{};
    plan->delays.clear();
    int64_t end1 = place_lines(field1, 1, plan->first_timecode, &plan->fields.field1, &plan->delays);
    int64_t end2 = place_lines(field2, 2, plan->first_timecode, &plan->fields.field2, &plan->delays);
    gen_fields_extend(&plan->fields, (size_t)((end1 > end2 ? end1 : end2) + GEN_SCC_MARGIN));
}

// ---------------------------------------------------------------------------
// Caption text

static const char *const mode_names[] = {"plain", "pop-on", "roll-up", "paint-on", "text"};

bool gen_mode_parse(const char *name, GenMode *mode)
{
    for (int i = 0; i < 5; i++)
        if (strcmp(name, mode_names[i]) == 0) {
            *mode = (GenMode)i;
            return true;
        }
    return false;
}

const char *gen_mode_name(GenMode mode)
{
    return (unsigned)mode < 5 ? mode_names[mode] : "?";
}

// 1.5 s, the shortest time a caption should stay up.
static const int64_t MIN_CAPTION_FRAMES = 45;

int64_t gen_reading_frames(size_t chars, int64_t minimum_frames)
{
    // 15 characters a second at 30000/1001 frames a second, rounded up.
    int64_t frames = ((int64_t)chars * 30000 + 15 * 1001 - 1) / (15 * 1001);
    return frames > minimum_frames ? frames : minimum_frames;
}

static bool is_space(const L21CharCode &c)
{
    return c.set == L21_SET_STANDARD && c.b1 == ' ';
}

std::vector<GenRowRange> gen_wrap(const std::vector<L21CharCode> &cells)
{
    std::vector<GenRowRange> rows;
    size_t i = 0, n = cells.size();
    while (n > 0 && is_space(cells[n - 1]))
        n--;
    while (i < n) {
        size_t end = n;
        if (n - i > GEN_ROW_COLUMNS) {
            // The last space that leaves a row of at most 32 columns; a
            // word longer than a row is cut.
            size_t k = i + GEN_ROW_COLUMNS;
            while (k > i && !is_space(cells[k]))
                k--;
            while (k > i && is_space(cells[k - 1]))
                k--;
            end = k > i ? k : i + GEN_ROW_COLUMNS;
        }
        rows.push_back(GenRowRange{i, end});
        i = end;
        while (i < n && is_space(cells[i]))
            i++;
    }
    return rows;
}

// The message for what line holds at byte i (n bytes of UTF-8, 0 when
// malformed, code point cp) that cannot be sent; how is what is wrong
// with a printable character.
static std::string refusal(const GenTextLine &line, size_t i, size_t n, uint32_t cp, const char *how)
{
    char what[160];
    if (n == 0)
        snprintf(what, sizeof what, "malformed UTF-8 at byte %zu", i + 1);
    else if (cp >= 0x20 && cp != 0x7F)
        snprintf(what, sizeof what, "character '%.*s' (U+%04X)%s", (int)n, line.text.data() + i, (unsigned)cp, how);
    else
        snprintf(what, sizeof what, "control character U+%04X is not in the line-21 character sets", (unsigned)cp);
    return line.source + ":" + std::to_string(line.line) + ": " + what;
}

// The length of a line without the carriage return of a CR LF line end.
static size_t text_length(const std::string &t)
{
    return !t.empty() && t.back() == '\r' ? t.size() - 1 : t.size();
}

// The cells of a line of text; false with a message for a character line
// 21 cannot carry.
static bool line_cells(const GenTextLine &line, std::vector<L21CharCode> *cells, std::string *error)
{
    cells->clear();
    const std::string &t = line.text;
    size_t len = text_length(t);
    for (size_t i = 0; i < len;) {
        // A tab is a space between words.
        L21CharCode c = {L21_SET_STANDARD, ' ', 0, 0, '\t'};
        size_t n = t[i] == '\t' ? 1 : l21_char_from_utf8(t.data() + i, len - i, &c);
        if (n > 0 && c.set != L21_SET_NONE) {
            cells->push_back(c);
            i += n;
            continue;
        }
        *error = refusal(line, i, n, c.code_point, " is not in the line-21 character sets");
        return false;
    }
    return true;
}

bool gen_plain_check(const GenTextLine &line, std::string *error)
{
    const std::string &t = line.text;
    size_t len = text_length(t);
    for (size_t i = 0; i < len; i++) {
        unsigned char b = (unsigned char)t[i];
        if ((b >= 0x20 && b < 0x7F) || b == '\t')
            continue;
        L21CharCode c = {};
        size_t n = l21_char_from_utf8(t.data() + i, len - i, &c);
        *error = refusal(line, i, n, n ? c.code_point : 0,
                         ": the plain stream sends printable ASCII alone; choose a --mode");
        return false;
    }
    return true;
}

size_t gen_plain_pairs(const std::vector<GenTextLine> &lines, const GenOptions *o, uint16_t *out, size_t max)
{
    size_t n = 0;
    for (const GenTextLine &l : lines)
        n += gen_line_pairs(l.text.data(), l.text.size(), o, out + n, max - n);
    return n;
}

namespace {

// Appends a service's pairs frame by frame.
struct Sender {
    std::vector<L21Pair> *out;
    int field, channel;

    int64_t now() const { return (int64_t)out->size(); }

    // Null pairs up to frame.
    void wait_until(int64_t frame)
    {
        while (now() < frame)
            out->push_back(L21_NULL_PAIR);
    }

    // A control pair (channel-1 b1) twice, in successive frames.
    void control(uint8_t b1, uint8_t b2)
    {
        L21Pair p = l21_pair(l21_on_channel(b1, channel), b2);
        out->push_back(p);
        out->push_back(p);
    }

    void misc(L21Misc m)
    {
        L21Pair p = l21_misc_pair(m, field, channel);
        out->push_back(p);
        out->push_back(p);
    }

    void pac(int row)
    {
        uint8_t b1, b2;
        l21_pac_encode(L21Pac{row, L21_WHITE, false, 0, false}, &b1, &b2);
        control(b1, b2);
    }

    // The characters of cells [begin, end): standard characters two a
    // pair, special and extended characters in pairs of their own (an
    // extended one after its standard fallback, which it replaces).
    void chars(const std::vector<L21CharCode> &cells, size_t begin, size_t end)
    {
        std::vector<uint8_t> pending;
        auto flush = [&] {
            for (size_t i = 0; i < pending.size(); i += 2)
                out->push_back(l21_pair(pending[i], i + 1 < pending.size() ? pending[i + 1] : 0));
            pending.clear();
        };
        for (size_t i = begin; i < end; i++) {
            const L21CharCode &c = cells[i];
            if (c.set == L21_SET_STANDARD) {
                pending.push_back(c.b1);
                continue;
            }
            if (c.set == L21_SET_EXTENDED)
                pending.push_back(c.fallback);
            flush();
            control(c.b1, c.b2);
        }
        flush();
    }
};

// A caption of up to two rows, bottom-aligned on rows 14 and 15.
struct Caption {
    const std::vector<L21CharCode> *cells;
    std::vector<GenRowRange> rows;
    size_t chars() const
    {
        size_t n = 0;
        for (const GenRowRange &r : rows)
            n += r.end - r.begin;
        return n;
    }
};

}  // namespace

bool gen_caption_pairs(const std::vector<GenTextLine> &lines, const GenCaptionStyle &style,
                       std::vector<L21Pair> *pairs, std::string *error)
{
    // Every line's cells first, so that a bad character is refused before
    // anything is built.
    std::vector<std::vector<L21CharCode>> cells(lines.size());
    for (size_t i = 0; i < lines.size(); i++)
        if (!line_cells(lines[i], &cells[i], error))
            return false;

    pairs->clear();
    Sender s = {pairs, l21_service_field(style.service), l21_service_channel(style.service)};
    std::vector<Caption> captions;  // pop-on and paint-on: two rows at most each
    std::vector<Caption> rows;      // roll-up and text: one row each
    for (const std::vector<L21CharCode> &c : cells) {
        std::vector<GenRowRange> r = gen_wrap(c);
        for (size_t k = 0; k < r.size(); k += 2) {
            size_t end = k + 2 < r.size() ? k + 2 : r.size();
            captions.push_back(Caption{&c, std::vector<GenRowRange>(r.begin() + k, r.begin() + end)});
        }
        for (const GenRowRange &one : r)
            rows.push_back(Caption{&c, {one}});
    }
    if (rows.empty())
        return true;

    int64_t next = 0;  // the earliest frame the next caption may change the screen
    switch (style.mode) {
    case GEN_MODE_POP_ON:
        // Load each caption off screen, show it with EOC once the one
        // before has been up long enough to read.
        for (const Caption &c : captions) {
            s.misc(L21_RCL);
            s.misc(L21_ENM);
            for (size_t k = 0; k < c.rows.size(); k++) {
                s.pac((int)(16 - c.rows.size() + k));
                s.chars(*c.cells, c.rows[k].begin, c.rows[k].end);
            }
            s.wait_until(next);
            int64_t shown = s.now();
            s.misc(L21_EOC);
            next = shown + gen_reading_frames(c.chars(), MIN_CAPTION_FRAMES);
        }
        break;
    case GEN_MODE_ROLL_UP:
        // Each row is written on the base row and rolls up with CR once it
        // has been up long enough to read, so that every pause is followed
        // by a control pair.
        s.misc((L21Misc)(L21_RU2 + (style.rows - 2)));
        s.pac(15);
        for (const Caption &r : rows) {
            int64_t start = s.now();
            s.chars(*r.cells, r.rows[0].begin, r.rows[0].end);
            s.wait_until(start + gen_reading_frames(r.chars(), 0));
            s.misc(L21_CR);
            next = s.now() + MIN_CAPTION_FRAMES;
        }
        break;
    case GEN_MODE_PAINT_ON:
        for (const Caption &c : captions) {
            s.wait_until(next);
            s.misc(L21_RDC);
            s.misc(L21_EDM);
            for (size_t k = 0; k < c.rows.size(); k++) {
                s.pac((int)(16 - c.rows.size() + k));
                s.chars(*c.cells, c.rows[k].begin, c.rows[k].end);
            }
            next = s.now() + gen_reading_frames(c.chars(), MIN_CAPTION_FRAMES);
        }
        break;
    case GEN_MODE_TEXT:
        s.misc(L21_TR);
        for (const Caption &r : rows) {
            s.chars(*r.cells, r.rows[0].begin, r.rows[0].end);
            s.misc(L21_CR);
        }
        return true;
    case GEN_MODE_PLAIN:
        return true;
    }
    // The last caption leaves the screen once it has been read.
    s.wait_until(next);
    s.misc(L21_EDM);
    return true;
}

// ---------------------------------------------------------------------------
// Extended Data Services

static bool is_leap(int y)
{
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

static int days_in_month(int y, int m)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && is_leap(y) ? 29 : days[m - 1];
}

bool gen_xds_time_parse(const char *s, L21XdsTime *t)
{
    int y, mo, d, h, mi, n = 0;
    if (strlen(s) != 17 || sscanf(s, "%4d-%2d-%2dT%2d:%2dZ%n", &y, &mo, &d, &h, &mi, &n) != 5 || n != 17)
        return false;
    for (int i : {0, 1, 2, 3, 5, 6, 8, 9, 11, 12, 14, 15})
        if (s[i] < '0' || s[i] > '9')
            return false;
    if (y < 1990 || y > 2053 || mo < 1 || mo > 12 || d < 1 || d > days_in_month(y, mo) || h > 23 || mi > 59)
        return false;
    *t = L21XdsTime{y, mo, d, h, mi, l21_weekday(y, mo, d), false, true, false};
    return true;
}

L21XdsTime gen_xds_time_at(const L21XdsTime &t, int64_t frame)
{
    L21XdsTime r = t;
    int64_t minutes = frame * 1001 / 30000 / 60 + r.minute + 60 * r.hour;
    r.minute = (int)(minutes % 60);
    r.hour = (int)(minutes / 60 % 24);
    for (int64_t days = minutes / 1440; days > 0; days--) {
        if (++r.day > days_in_month(r.year, r.month)) {
            r.day = 1;
            if (++r.month > 12) {
                r.month = 1;
                r.year++;
            }
        }
    }
    r.weekday = l21_weekday(r.year, r.month, r.day);
    return r;
}

bool gen_xds_any(const GenXds &xds)
{
    return !xds.program_name.empty() || !xds.network.empty() || !xds.call_letters.empty() || xds.has_time;
}

std::vector<std::vector<L21Pair>> gen_xds_round(const GenXds &xds, int64_t frame)
{
    std::vector<std::vector<L21Pair>> packets;
    if (!xds.program_name.empty())
        packets.push_back(l21_xds_packet(L21_XDS_CURRENT, L21_XDS_TYPE_PROGRAM_NAME, xds.program_name));
    if (!xds.network.empty())
        packets.push_back(l21_xds_packet(L21_XDS_CHANNEL, L21_XDS_TYPE_NETWORK, xds.network));
    if (!xds.call_letters.empty())
        packets.push_back(l21_xds_packet(L21_XDS_CHANNEL, L21_XDS_TYPE_CALL_LETTERS, xds.call_letters));
    std::string data;
    if (xds.has_time && l21_xds_time_encode(gen_xds_time_at(xds.time, frame), &data))
        packets.push_back(l21_xds_packet(L21_XDS_MISC, L21_XDS_TYPE_TIME_OF_DAY, data));
    return packets;
}

void gen_xds_interleave(GenFields *fields, const GenXds &xds)
{
    if (!gen_xds_any(xds))
        return;
    std::vector<L21Pair> &f2 = fields->field2;
    size_t pass = f2.size();
    // A frame can take an XDS pair when its pair is null and the next
    // caption pair after it (if any) is a control pair: a caption that
    // interrupts a packet, or follows one, must begin with a control pair
    // so that receivers know the characters are captions again.
    std::vector<bool> usable(pass + 1);
    bool control_next = true;
    for (size_t i = pass; i-- > 0;) {
        if (l21_is_null(f2[i])) {
            usable[i] = control_next;
        } else {
            usable[i] = false;
            control_next = l21_is_control(f2[i].b1);
        }
    }
    auto free_at = [&](size_t t) { return t >= pass || usable[t]; };

    size_t t = 0;
    for (size_t round = 0; round < pass; round += GEN_XDS_PERIOD) {
        if (t < round)
            t = round;
        for (const std::vector<L21Pair> &packet : gen_xds_round(xds, (int64_t)round)) {
            while (t < pass && !free_at(t))
                t++;
            if (t >= pass)
                break;  // no room left in the pass for another packet
            bool interrupted = false;
            for (size_t k = 0; k < packet.size(); t++) {
                if (!free_at(t)) {
                    interrupted = true;
                    continue;
                }
                gen_fields_extend(fields, t + 1);
                if (interrupted) {
                    // Resume with the class's continue code and the type.
                    f2[t] = l21_pair((packet[0].b1 & 0x7F) + 1, packet[0].b2);
                    interrupted = false;
                } else {
                    f2[t] = packet[k++];
                }
            }
        }
        // A round held up past the next one's time leaves that one out.
        while (round + GEN_XDS_PERIOD < t)
            round += GEN_XDS_PERIOD;
    }
}

// ---------------------------------------------------------------------------
// Rendering

int64_t gen_fields_blocks(const GenOptions *o, size_t frames)
{
    if (o->blocks >= 0)
        return o->blocks;
    return (int64_t)frames * (o->repeat > 0 ? o->repeat : 1);
}

void gen_render_fields_block(uint8_t *block, L21Pair field1, L21Pair field2, int64_t frame, const GenOptions *o,
                             GenNoise *noise)
{
    memset(block, (int)lround(o->signal.blank), VBI_BLOCK_SIZE);
    gen_render_signal(block + VBI_CAPTION_LINE * VBI_LINE_SIZE, l21_word(field1), &o->signal, noise);
    gen_render_signal(block + VBI_CAPTION_LINE_F2 * VBI_LINE_SIZE, l21_word(field2), &o->signal, noise);
    vbi_set_frame_counter(block, gen_counter(o, frame));
}

namespace {
struct FieldsSource {
    const GenOptions *o;
    const GenFields *f;
};
}  // namespace

static void render_fields(uint8_t *block, int64_t frame, const void *src, GenNoise *noise)
{
    const FieldsSource *s = (const FieldsSource *)src;
    size_t n = s->f->field1.size();
    size_t i = n ? (size_t)(frame % (int64_t)n) : 0;
    L21Pair f1 = n ? s->f->field1[i] : L21_NULL_PAIR, f2 = n ? s->f->field2[i] : L21_NULL_PAIR;
    gen_render_fields_block(block, f1, f2, frame, s->o, noise);
}

int64_t gen_stream_fields(const GenOptions *o, const GenFields *fields, GenPut put, void *ctx)
{
    FieldsSource src = {o, fields};
    return gen_stream_frames(o, gen_fields_blocks(o, fields->field1.size()), render_fields, &src, put, ctx);
}

// ---------------------------------------------------------------------------
// The command line's part

static const char *say(char *error, size_t size, const char *opt, const char *value, const char *why)
{
    std::string m = std::string(opt) + ": '" + value + "' " + why;
    snprintf(error, size, "%s", m.c_str());
    return error;
}

// XDS text: 7-bit printable characters, min to max of them.
static const char *xds_text(const char *opt, const char *v, size_t min, size_t max, const char **out, char *error,
                            size_t size)
{
    size_t n = strlen(v);
    for (size_t i = 0; i < n; i++)
        if ((unsigned char)v[i] < 0x20 || (unsigned char)v[i] > 0x7E)
            return say(error, size, opt, v, "holds a character other than printable ASCII");
    if (n < min || n > max) {
        char why[64];
        if (min == 4 && max == 6)
            snprintf(why, sizeof why, "is not 4 characters (or 6 with a channel number)");
        else
            snprintf(why, sizeof why, "is not %zu to %zu characters long", min, max);
        return say(error, size, opt, v, why);
    }
    if (min == 4 && max == 6 && n == 5)
        return say(error, size, opt, v, "is not 4 characters (or 6 with a channel number)");
    *out = v;
    return nullptr;
}

const char *gen_stream_option(GenStreamArgs *s, const char *opt, const char *v, char *error, size_t size)
{
    if (strcmp(opt, "--scc") == 0 || strcmp(opt, "--scc2") == 0) {
        s->scc[opt[5] == '2'] = v;
    } else if (strcmp(opt, "--mode") == 0) {
        if (!gen_mode_parse(v, &s->mode))
            return say(error, size, opt, v, "is not a mode (plain, pop-on, roll-up, paint-on, text)");
    } else if (strcmp(opt, "--channel") == 0) {
        if (!l21_service_parse(v, &s->service))
            return say(error, size, opt, v, "is not a channel (CC1, CC2, CC3, CC4, T1, T2, T3, T4)");
        s->service_set = true;
    } else if (strcmp(opt, "--xds-program-name") == 0) {
        return xds_text(opt, v, 2, 32, &s->program_name, error, size);
    } else if (strcmp(opt, "--xds-network") == 0) {
        return xds_text(opt, v, 2, 32, &s->network, error, size);
    } else if (strcmp(opt, "--xds-call-letters") == 0) {
        return xds_text(opt, v, 4, 6, &s->call_letters, error, size);
    } else if (strcmp(opt, "--xds-time") == 0) {
        if (!gen_xds_time_parse(v, &s->time))
            return say(error, size, opt, v, "is not a time YYYY-MM-DDTHH:MMZ from 1990 to 2053");
        s->time_set = true;
    }
    return nullptr;
}

static bool any_xds(const GenStreamArgs *s)
{
    return s->program_name || s->network || s->call_letters || s->time_set;
}

bool gen_two_fields(const GenStreamArgs *s)
{
    return s->scc[0] || s->scc[1] || s->mode != GEN_MODE_PLAIN || any_xds(s);
}

const char *gen_stream_check(const GenArgs *a, char *error, size_t size)
{
    const GenStreamArgs *s = &a->stream;
    GenOptions d;
    gen_default_options(&d);
    const GenOptions *o = &a->opt;
    bool scc = s->scc[0] || s->scc[1];
    const char *why = nullptr;
    if (scc && (a->ntexts > 0 || a->first_file > 0))
        why = "--scc: the captions come from the SCC files; give no text with them";
    else if (scc && (s->mode != GEN_MODE_PLAIN || s->service_set))
        why = "--scc: the SCC files carry their own modes and channels; give no --mode or --channel with them";
    else if (s->scc[0] && s->scc[1] && strcmp(s->scc[0], "-") == 0 && strcmp(s->scc[1], "-") == 0)
        why = "--scc2: standard input is read once, for --scc";
    else if (scc && o->lead != d.lead)
        why = "--lead: an SCC capture starts 30 frames before the first time code";
    else if (s->rows && s->mode != GEN_MODE_ROLL_UP)
        why = "--rows: only --mode roll-up has rows";
    else if (s->service_set && s->mode == GEN_MODE_PLAIN)
        why = "--channel: the plain stream has no channel; choose a --mode";
    else if (s->service_set && s->mode == GEN_MODE_TEXT && !l21_service_is_text(s->service))
        why = "--channel: --mode text sends T1, T2, T3 or T4";
    else if (s->service_set && s->mode != GEN_MODE_TEXT && l21_service_is_text(s->service))
        why = "--channel: T1-T4 are text services; use them with --mode text";
    if (why) {
        snprintf(error, size, "%s", why);
        return error;
    }
    if (!gen_two_fields(s))
        return nullptr;
    // A two-field stream puts its pairs on line indices 11 and 27 its own way.
    bool plain_xds = s->mode == GEN_MODE_PLAIN && !scc;
    if (o->line != d.line)
        why = "--line";
    else if (!plain_xds && o->hold != d.hold)
        why = "--hold";
    else if (!plain_xds && (o->ncontrols != d.ncontrols || memcmp(o->controls, d.controls, sizeof d.controls) != 0))
        why = "--controls";
    else if (!plain_xds && o->control_copies != d.control_copies)
        why = "--copies";
    if (why) {
        snprintf(error, size, "%s: applies to the plain stream alone (no --mode, --scc or --xds-* options)", why);
        return error;
    }
    return nullptr;
}

void gen_text_lines(const char *text, size_t len, const std::string &source, std::vector<GenTextLine> *lines)
{
    int number = 1;
    for (size_t pos = 0; pos < len; number++) {
        const char *eol = (const char *)memchr(text + pos, '\n', len - pos);
        size_t end = eol ? (size_t)(eol - text) : len;
        lines->push_back(GenTextLine{std::string(text + pos, end - pos), source, number});
        pos = eol ? end + 1 : len;
    }
}

const char *gen_scc_name(const char *path)
{
    return strcmp(path, "-") == 0 ? "standard input" : path;
}

static bool load_scc(const char *path, const std::string &text, std::vector<L21SccLine> *lines, std::string *error)
{
    L21SccError e;
    if (l21_scc_read(text.data(), text.size(), lines, &e))
        return true;
    *error = std::string(gen_scc_name(path)) + ":" + std::to_string(e.line) + ": " + e.message;
    return false;
}

bool gen_build_fields(const GenArgs *a, const std::string scc[2], const std::vector<GenTextLine> &text,
                      const uint16_t *plain, size_t nplain, GenFields *fields, std::vector<std::string> *warnings,
                      std::string *error)
{
    const GenStreamArgs *s = &a->stream;
    const GenOptions *o = &a->opt;
    *fields = GenFields{};
    if (s->scc[0] || s->scc[1]) {
        std::vector<L21SccLine> lines[2];
        for (int i = 0; i < 2; i++)
            if (s->scc[i] && !load_scc(s->scc[i], scc[i], &lines[i], error))
                return false;
        if (lines[0].empty() && lines[1].empty()) {
            const char *path = s->scc[0] ? s->scc[0] : s->scc[1];
            *error = std::string(gen_scc_name(path)) + ": no caption lines after the header";
            return false;
        }
        GenSccPlan plan;
        gen_scc_plan(lines[0], lines[1], &plan);
        for (const GenSccDelay &d : plan.delays) {
            char msg[160];
            snprintf(msg, sizeof msg, "%s:%d: the line before is still being sent; this one goes out %lld frame%s late",
                     gen_scc_name(s->scc[d.field - 1]), d.line_number, (long long)d.frames, d.frames == 1 ? "" : "s");
            warnings->push_back(msg);
        }
        *fields = std::move(plan.fields);
    } else if (s->mode != GEN_MODE_PLAIN) {
        L21Service service = s->service;
        if (!s->service_set)
            service = s->mode == GEN_MODE_TEXT ? L21_T1 : L21_CC1;
        std::vector<L21Pair> pairs;
        if (!gen_caption_pairs(text, GenCaptionStyle{s->mode, s->rows ? s->rows : 3, service}, &pairs, error))
            return false;
        // The lead first: null pairs on both fields.
        std::vector<L21Pair> &mine = l21_service_field(service) == 1 ? fields->field1 : fields->field2;
        mine.assign((size_t)o->lead, L21_NULL_PAIR);
        mine.insert(mine.end(), pairs.begin(), pairs.end());
        gen_fields_extend(fields, mine.size());
    } else {
        // The plain stream on field 1, one pass of it.
        GenOptions pass = *o;
        pass.blocks = -1;
        pass.repeat = 1;
        int64_t frames = gen_stream_blocks(&pass, nplain);
        for (int64_t f = 0; f < frames; f++)
            fields->field1.push_back(l21_from_word(gen_frame_word(o, plain, nplain, f)));
        gen_fields_extend(fields, (size_t)frames);
    }
    GenXds xds;
    xds.program_name = s->program_name ? s->program_name : "";
    xds.network = s->network ? s->network : "";
    xds.call_letters = s->call_letters ? s->call_letters : "";
    xds.has_time = s->time_set;
    xds.time = s->time;
    gen_xds_interleave(fields, xds);
    return true;
}
