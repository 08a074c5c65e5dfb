#include "cc_decoder.h"

#include <cstring>

#include "line21.h"

const char *cc_service_name(int service)
{
    return l21_service_name((L21Service)service);
}

int cc_service_by_name(const std::string &name)
{
    L21Service s;
    return l21_service_parse(name.c_str(), &s) ? (int)s : -1;
}

const char *cc_mode_name(CcMode mode)
{
    switch (mode) {
    case MODE_POP_ON: return "pop-on";
    case MODE_ROLL_UP: return "roll-up";
    case MODE_PAINT_ON: return "paint-on";
    default: return "none";
    }
}

std::string cc_row_text(const CcCaptionRow &r)
{
    std::string s;
    for (const CcCell &c : r.cells) {
        if (c.len)
            s.append(c.glyph, c.len);
        else
            s += ' ';
    }
    return s;
}

// --- cells and memories ----------------------------------------------------

static void put_glyph(CcCell *c, const char *utf8, uint8_t attr)
{
    size_t n = strlen(utf8);
    if (n > sizeof c->glyph)
        n = sizeof c->glyph;
    memcpy(c->glyph, utf8, n);
    c->len = (uint8_t)n;
    c->attr = attr;
}

static bool row_empty(const CcCell *row)
{
    for (int c = 0; c < CC_COLUMNS; c++)
        if (row[c].len)
            return false;
    return true;
}

static bool memory_empty(CcCell mem[CC_ROWS][CC_COLUMNS])
{
    for (int r = 0; r < CC_ROWS; r++)
        if (!row_empty(mem[r]))
            return false;
    return true;
}

static void clear_row(CcCell *row)
{
    memset(row, 0, sizeof(CcCell) * CC_COLUMNS);
}

static void clear_memory(CcCell mem[CC_ROWS][CC_COLUMNS])
{
    memset(mem, 0, sizeof(CcCell) * CC_ROWS * CC_COLUMNS);
}

// The written part of a row, or false when nothing is written on it.
static bool take_row(const CcCell *cells, int row, CcCaptionRow *out)
{
    int first = -1, last = -1;
    for (int c = 0; c < CC_COLUMNS; c++)
        if (cells[c].len) {
            if (first < 0)
                first = c;
            last = c;
        }
    if (first < 0)
        return false;
    out->row = row + 1;
    out->column = first;
    out->cells.assign(cells + first, cells + last + 1);
    return true;
}

// --- captions leaving the screen --------------------------------------------

static void emit_caption(CcDecoder *d, int svc, CcMode mode, int64_t start, int64_t end,
                         std::vector<CcCaptionRow> &&rows)
{
    if (rows.empty())
        return;
    CcCaption c;
    c.service = svc;
    c.mode = mode;
    c.field = cc_service_field(svc);
    c.start_frame = start;
    c.end_frame = end;
    c.rows = std::move(rows);
    d->counts.captions[svc]++;
    d->sink->caption(c);
}

// Ends the pop-on or paint-on caption on screen, as it stands, at frame.
static void close_cue(CcDecoder *d, int svc, int64_t frame)
{
    CcScreen *s = &d->screen[svc];
    if (!s->cue_open)
        return;
    s->cue_open = false;
    std::vector<CcCaptionRow> rows;
    for (int r = 0; r < CC_ROWS; r++) {
        CcCaptionRow row;
        if (take_row(s->mem[s->shown][r], r, &row))
            rows.push_back(std::move(row));
    }
    emit_caption(d, svc, s->cue_mode, s->cue_start, frame, std::move(rows));
}

// Ends one roll-up row: it left the window or the screen was erased.
static void close_roll_row(CcDecoder *d, int svc, int r, int64_t frame)
{
    CcScreen *s = &d->screen[svc];
    if (s->row_start[r] < 0)
        return;
    // A roll-up row is reported on the row it appeared on.
    std::vector<CcCaptionRow> rows(1);
    if (!take_row(s->mem[s->shown][r], s->row_origin[r], &rows[0]))
        rows.clear();
    emit_caption(d, svc, MODE_ROLL_UP, s->row_start[r], frame, std::move(rows));
    s->row_start[r] = -1;
}

// Everything the viewer sees of the service ends at frame, and the
// displayed memory is erased.
static void erase_displayed(CcDecoder *d, int svc, int64_t frame)
{
    CcScreen *s = &d->screen[svc];
    close_cue(d, svc, frame);
    for (int r = 0; r < CC_ROWS; r++)
        close_roll_row(d, svc, r, frame);
    clear_memory(s->mem[s->shown]);
}

// The displayed memory is about to change in paint-on mode: a pop-on
// caption on screen ends here and a paint-on caption begins, holding it.
static void touch_displayed(CcDecoder *d, int svc, int64_t frame)
{
    CcScreen *s = &d->screen[svc];
    if (s->cue_open && s->cue_mode != MODE_PAINT_ON)
        close_cue(d, svc, frame);
    if (!s->cue_open) {
        s->cue_open = true;
        s->cue_mode = MODE_PAINT_ON;
        s->cue_start = frame;
    }
}

static void set_mode(CcDecoder *d, int svc, CcMode mode, int64_t frame)
{
    CcScreen *s = &d->screen[svc];
    if (s->mode == mode)
        return;
    // A receiver clears the roll-up window when it leaves roll-up, and
    // entering roll-up from the other modes erases both memories.
    if (s->mode == MODE_ROLL_UP) {
        erase_displayed(d, svc, frame);
    } else if (mode == MODE_ROLL_UP) {
        erase_displayed(d, svc, frame);
        clear_memory(s->mem[!s->shown]);
    }
    if (mode == MODE_ROLL_UP) {
        s->base = CC_ROWS - 1;
        s->row = s->base;
        s->col = 0;
    }
    s->mode = mode;
}

// The memory characters of the service go to in its mode, or null.
static CcCell (*write_memory(CcScreen *s))[CC_COLUMNS]
{
    switch (s->mode) {
    case MODE_POP_ON: return s->mem[!s->shown];
    case MODE_ROLL_UP:
    case MODE_PAINT_ON: return s->mem[s->shown];
    default: return nullptr;
    }
}

// Before a change to the memory the cursor works on: a paint-on change
// shows at once, a roll-up row begins with its first character.
static void before_change(CcDecoder *d, int svc, int64_t frame, bool writes)
{
    CcScreen *s = &d->screen[svc];
    if (s->mode == MODE_PAINT_ON)
        touch_displayed(d, svc, frame);
    else if (s->mode == MODE_ROLL_UP && writes && s->row_start[s->row] < 0) {
        s->row_start[s->row] = frame;
        s->row_origin[s->row] = (int8_t)s->row;
    }
}

static void caption_char(CcDecoder *d, int svc, int64_t frame, const char *utf8)
{
    CcScreen *s = &d->screen[svc];
    CcCell (*mem)[CC_COLUMNS] = write_memory(s);
    if (!mem)
        return;
    before_change(d, svc, frame, true);
    put_glyph(&mem[s->row][s->col], utf8, s->attr);
    if (s->col < CC_COLUMNS - 1)
        s->col++;
}

static void text_char(CcDecoder *d, int svc, int64_t frame, const char *utf8)
{
    CcTextScreen *t = &d->text[svc - SVC_T1];
    if (t->start < 0)
        t->start = frame;
    put_glyph(&t->row[t->col], utf8, 0);
    if (t->col < CC_COLUMNS - 1)
        t->col++;
}

static void end_text_row(CcDecoder *d, int svc)
{
    CcTextScreen *t = &d->text[svc - SVC_T1];
    CcCaptionRow row;
    if (t->start >= 0 && take_row(t->row, 0, &row)) {
        CcTextRow out;
        out.service = svc;
        out.field = cc_service_field(svc);
        out.frame = t->start;
        out.text = cc_row_text(row);
        d->counts.captions[svc]++;
        d->sink->text(out);
    }
    clear_row(t->row);
    t->col = 0;
    t->start = -1;
}

// --- what a pair does ---------------------------------------------------------

// The service printable characters and cursor codes of this field act on
// now, or -1 before any control pair chose one.
static int current_service(const CcDecoder *d, int f)
{
    const CcFieldState *fs = &d->field[f];
    if (fs->channel < 0)
        return -1;
    int cc = f * 2 + fs->channel;
    return fs->text_mode[fs->channel] ? cc + SVC_T1 : cc;
}

static void put_char(CcDecoder *d, int f, int64_t frame, const char *utf8)
{
    int svc = current_service(d, f);
    if (svc < 0 || !utf8 || !*utf8)
        return;
    if (svc >= SVC_T1)
        text_char(d, svc, frame, utf8);
    else
        caption_char(d, svc, frame, utf8);
}

// Backspace and delete to end of row, on the caption memory or the text row.
static void erase_cells(CcDecoder *d, int f, int64_t frame, bool backspace)
{
    int svc = current_service(d, f);
    if (svc < 0)
        return;
    if (svc >= SVC_T1) {
        CcTextScreen *t = &d->text[svc - SVC_T1];
        if (backspace) {
            if (t->col > 0)
                t->row[--t->col] = CcCell();
        } else {
            for (int c = t->col; c < CC_COLUMNS; c++)
                t->row[c] = CcCell();
        }
        return;
    }
    CcScreen *s = &d->screen[svc];
    CcCell (*mem)[CC_COLUMNS] = write_memory(s);
    if (!mem)
        return;
    before_change(d, svc, frame, false);
    if (backspace) {
        if (s->col > 0)
            mem[s->row][--s->col] = CcCell();
    } else {
        for (int c = s->col; c < CC_COLUMNS; c++)
            mem[s->row][c] = CcCell();
    }
}

static void carriage_return(CcDecoder *d, int f, int64_t frame)
{
    int svc = current_service(d, f);
    if (svc < 0)
        return;
    if (svc >= SVC_T1) {
        end_text_row(d, svc);
        return;
    }
    CcScreen *s = &d->screen[svc];
    if (s->mode != MODE_ROLL_UP)
        return;
    CcCell (*mem)[CC_COLUMNS] = s->mem[s->shown];
    int top = s->base - s->window + 1;
    if (top < 0)
        top = 0;
    close_roll_row(d, svc, top, frame);
    for (int r = top; r < s->base; r++) {
        memcpy(mem[r], mem[r + 1], sizeof mem[r]);
        s->row_start[r] = s->row_start[r + 1];
        s->row_origin[r] = s->row_origin[r + 1];
    }
    clear_row(mem[s->base]);
    s->row_start[s->base] = -1;
    s->row = s->base;
    s->col = 0;
}

static void roll_up(CcDecoder *d, int svc, int rows, int64_t frame)
{
    CcScreen *s = &d->screen[svc];
    bool was = s->mode == MODE_ROLL_UP;
    set_mode(d, svc, MODE_ROLL_UP, frame);
    s->window = rows;
    if (was) {
        // A smaller window: the rows above it leave the screen.
        for (int r = 0; r < s->base - rows + 1; r++) {
            close_roll_row(d, svc, r, frame);
            clear_row(s->mem[s->shown][r]);
        }
    }
}

static void end_of_caption(CcDecoder *d, int svc, int64_t frame)
{
    CcScreen *s = &d->screen[svc];
    set_mode(d, svc, MODE_POP_ON, frame);
    close_cue(d, svc, frame);
    s->shown = !s->shown;
    if (!memory_empty(s->mem[s->shown])) {
        s->cue_open = true;
        s->cue_mode = MODE_POP_ON;
        s->cue_start = frame;
    }
}

static void misc_control(CcDecoder *d, int f, int ch, int code, int64_t frame)
{
    CcFieldState *fs = &d->field[f];
    int svc = f * 2 + ch;      // the caption service of this channel
    CcScreen *s = &d->screen[svc];
    switch (code) {
    case L21_RCL:
        fs->text_mode[ch] = false;
        set_mode(d, svc, MODE_POP_ON, frame);
        break;
    case L21_BS:
        erase_cells(d, f, frame, true);
        break;
    case L21_DER:
        erase_cells(d, f, frame, false);
        break;
    case L21_RU2:
    case L21_RU3:
    case L21_RU4:
        fs->text_mode[ch] = false;
        roll_up(d, svc, code - L21_RU2 + 2, frame);
        break;
    case L21_RDC:
        fs->text_mode[ch] = false;
        set_mode(d, svc, MODE_PAINT_ON, frame);
        break;
    case L21_TR:
        fs->text_mode[ch] = true;
        clear_row(d->text[svc].row);
        d->text[svc].col = 0;
        d->text[svc].start = -1;
        break;
    case L21_RTD:
        fs->text_mode[ch] = true;
        break;
    case L21_EDM:
        erase_displayed(d, svc, frame);
        break;
    case L21_CR:
        carriage_return(d, f, frame);
        break;
    case L21_ENM:
        clear_memory(s->mem[!s->shown]);
        break;
    case L21_EOC:
        fs->text_mode[ch] = false;
        end_of_caption(d, svc, frame);
        break;
    default:   // AOF, AON, FON: nothing a transcript shows
        break;
    }
}

// A preamble address code: row, indent and attributes; in roll-up the
// window moves, with what it holds, so that its base is the code's row.
static void preamble(CcDecoder *d, int f, const L21Pac &pac, int64_t frame)
{
    int svc = current_service(d, f);
    if (svc < 0 || svc >= SVC_T1)
        return;
    CcScreen *s = &d->screen[svc];
    int row = pac.row - 1;
    if (s->mode == MODE_ROLL_UP && row != s->base) {
        int top = row - s->window + 1;
        if (top < 0) {
            top = 0;
            row = s->window - 1;
        }
        CcCell (*mem)[CC_COLUMNS] = s->mem[s->shown];
        CcCell moved[CC_ROWS][CC_COLUMNS];
        int64_t starts[CC_ROWS];
        int8_t origins[CC_ROWS] = {};
        memset(moved, 0, sizeof moved);
        for (int r = 0; r < CC_ROWS; r++)
            starts[r] = -1;
        for (int k = 0; k < s->window; k++) {
            int from = s->base - k, to = row - k;
            if (from < 0 || to < 0)
                break;
            memcpy(moved[to], mem[from], sizeof moved[to]);
            starts[to] = s->row_start[from];
            origins[to] = (int8_t)to;
            s->row_start[from] = -1;
        }
        // Rows of the old window that the move leaves behind end here.
        for (int r = 0; r < CC_ROWS; r++)
            close_roll_row(d, svc, r, frame);
        memcpy(mem, moved, sizeof moved);
        memcpy(s->row_start, starts, sizeof starts);
        memcpy(s->row_origin, origins, sizeof origins);
        s->base = row;
    }
    s->row = s->mode == MODE_ROLL_UP ? s->base : row;
    s->col = pac.indent;
    s->attr = (uint8_t)(pac.colour | (pac.italics ? CC_ATTR_ITALIC : 0) | (pac.underline ? CC_ATTR_UNDERLINE : 0));
}

static void mid_row(CcDecoder *d, int f, const L21MidRow &m, int64_t frame)
{
    int svc = current_service(d, f);
    if (svc < 0)
        return;
    if (svc < SVC_T1) {
        // Italics keep the colour; a colour ends italics.
        CcScreen *s = &d->screen[svc];
        uint8_t attr = m.italics ? (uint8_t)((s->attr & CC_ATTR_COLOUR) | CC_ATTR_ITALIC) : (uint8_t)m.colour;
        if (m.underline)
            attr |= CC_ATTR_UNDERLINE;
        s->attr = attr;
    }
    // The code takes a column, shown as a space.
    put_char(d, f, frame, " ");
}

static void tab_offset(CcDecoder *d, int f, int n)
{
    int svc = current_service(d, f);
    if (svc < 0)
        return;
    int *col = svc >= SVC_T1 ? &d->text[svc - SVC_T1].col : &d->screen[svc].col;
    *col += n;
    if (*col > CC_COLUMNS - 1)
        *col = CC_COLUMNS - 1;
}

// An extended character replaces the fallback the sender put before it.
static void extended_char(CcDecoder *d, int f, int64_t frame, const char *utf8)
{
    int svc = current_service(d, f);
    if (svc < 0)
        return;
    int *col = svc >= SVC_T1 ? &d->text[svc - SVC_T1].col : &d->screen[svc].col;
    if (*col > 0)
        (*col)--;
    put_char(d, f, frame, utf8);
}

// A control pair (b1 0x10-0x1F), parity good, repeat rule already applied.
static void control_pair(CcDecoder *d, int f, int b1, int b2, int64_t frame)
{
    CcFieldState *fs = &d->field[f];
    L21Kind kind = l21_kind((uint8_t)b1, (uint8_t)b2, f + 1);
    if (kind == L21_KIND_UNKNOWN)
        return;
    int ch = l21_channel((uint8_t)b1) - 1;
    fs->channel = ch;
    fs->in_xds = false;
    switch (kind) {
    case L21_KIND_MISC:
        misc_control(d, f, ch, b2, frame);
        break;
    case L21_KIND_PAC: {
        L21Pac pac;
        if (l21_pac_decode((uint8_t)b1, (uint8_t)b2, &pac))
            preamble(d, f, pac, frame);
        break;
    }
    case L21_KIND_MIDROW: {
        L21MidRow m;
        if (l21_midrow_decode((uint8_t)b1, (uint8_t)b2, &m))
            mid_row(d, f, m, frame);
        break;
    }
    case L21_KIND_SPECIAL:
        put_char(d, f, frame, l21_special_char((uint8_t)b2));
        break;
    case L21_KIND_EXTENDED:
        extended_char(d, f, frame, l21_extended_char((uint8_t)b1, (uint8_t)b2));
        break;
    case L21_KIND_TAB:
        tab_offset(d, f, l21_tab_columns((uint8_t)b1, (uint8_t)b2));
        break;
    case L21_KIND_ATTRIBUTE:
        put_char(d, f, frame, " ");
        break;
    default:
        break;
    }
}

// --- Extended Data Services ---------------------------------------------------

static CcXdsState *xds_find(CcDecoder *d, int start_code, int type)
{
    for (CcXdsState &x : d->xds)
        if (x.used && x.start_code == start_code && x.type == type)
            return &x;
    return nullptr;
}

static void xds_control(CcDecoder *d, int b1, int b2, bool ok, int64_t frame)
{
    CcFieldState *fs = &d->field[1];
    fs->in_xds = true;
    if (b1 == L21_XDS_END) {
        fs->in_xds = false;
        if (fs->xds_current < 0)
            return;
        CcXdsState *x = &d->xds[fs->xds_current];
        fs->xds_current = -1;
        x->used = false;
        CcXdsPacket p;
        p.start_code = x->start_code;
        p.type = x->type;
        p.frame = frame;
        uint8_t whole[XDS_MAX_DATA + 4];
        whole[0] = (uint8_t)x->start_code;
        whole[1] = (uint8_t)x->type;
        memcpy(whole + 2, x->data, (size_t)x->len);
        whole[x->len + 2] = L21_XDS_END;
        whole[x->len + 3] = (uint8_t)b2;
        p.checksum_ok = ok && !x->broken && l21_xds_checksum_ok(whole, (size_t)x->len + 4);
        for (int i = 0; i < x->len; i++)
            if (x->data[i])
                p.data.push_back(x->data[i]);
        d->counts.xds_packets++;
        if (!p.checksum_ok)
            d->counts.xds_checksum_errors++;
        d->sink->xds(p);
        return;
    }
    if (!ok) {
        fs->xds_current = -1;
        return;
    }
    L21XdsClass cls;
    bool is_continue;
    if (!l21_xds_class_of((uint8_t)b1, &cls, &is_continue)) {
        fs->xds_current = -1;
        return;
    }
    int start_code = cls;
    CcXdsState *x = xds_find(d, start_code, b2);
    if (!is_continue) {
        // A start code begins the packet afresh: in the slot of an
        // interrupted one of the same kind, else the free or oldest slot.
        if (!x) {
            x = &d->xds[0];
            for (CcXdsState &y : d->xds) {
                if (!y.used) {
                    x = &y;
                    break;
                }
                if (y.age < x->age)
                    x = &y;
            }
        }
        x->used = true;
        x->start_code = start_code;
        x->type = b2;
        x->len = 0;
        x->broken = false;
    }
    if (x)
        x->age = ++d->xds_clock;
    fs->xds_current = x ? (int)(x - d->xds) : -1;
}

static void xds_data(CcDecoder *d, int b1, int b2, bool ok)
{
    CcFieldState *fs = &d->field[1];
    if (fs->xds_current < 0)
        return;
    CcXdsState *x = &d->xds[fs->xds_current];
    if (!ok || x->len + 2 > XDS_MAX_DATA) {
        x->broken = true;
        return;
    }
    x->data[x->len++] = (uint8_t)b1;
    x->data[x->len++] = (uint8_t)b2;
}

// --- the pair -------------------------------------------------------------------

void cc_init(CcDecoder *d, CcSink *sink)
{
    memset((void *)d, 0, sizeof *d);
    d->sink = sink;
    for (CcScreen &s : d->screen) {
        s.window = 2;
        s.base = CC_ROWS - 1;
        s.row = s.base;
        for (int64_t &r : s.row_start)
            r = -1;
    }
    for (CcTextScreen &t : d->text)
        t.start = -1;
    for (CcFieldState &f : d->field) {
        f.last = -1;
        f.channel = -1;
        f.xds_current = -1;
    }
    d->last_frame = -1;
}

void cc_lost(CcDecoder *d, int field)
{
    d->field[field - 1].last = -1;
    d->field[field - 1].last_acted = false;
}

void cc_pair(CcDecoder *d, int field, int64_t frame, uint16_t raw)
{
    int f = field - 1;
    CcFieldState *fs = &d->field[f];
    int r1 = raw & 0xFF, r2 = raw >> 8;
    bool ok1 = l21_parity_ok((uint8_t)r1), ok2 = l21_parity_ok((uint8_t)r2);
    int b1 = r1 & 0x7F, b2 = r2 & 0x7F;
    d->last_frame = frame;
    d->counts.pairs[f]++;
    if (!ok1 || !ok2)
        d->counts.parity_errors[f]++;
    d->sink->pair(field, frame, raw, ok1 && ok2);

    int pair = b1 << 8 | b2;
    bool control = b1 >= 0x10 && b1 <= 0x1F;
    if (control) {
        // A control pair that cannot be trusted is dropped whole and is
        // not the first copy of anything.
        if (!ok1 || !ok2) {
            cc_lost(d, field);
            return;
        }
        bool repeat = fs->last == pair && fs->last_acted;
        fs->last = pair;
        fs->last_acted = !repeat;
        if (!repeat)
            control_pair(d, f, b1, b2, frame);
        return;
    }
    fs->last = ok1 && ok2 ? pair : -1;
    fs->last_acted = false;
    if (f == 1 && b1 >= 0x01 && b1 <= 0x0F) {
        xds_control(d, b1, b2, ok1 && ok2, frame);
        return;
    }
    if (ok1 && ok2 && b1 == 0 && b2 == 0)
        return;   // null pair
    if (f == 1 && fs->in_xds) {
        xds_data(d, b1, b2, ok1 && ok2);
        return;
    }
    // Codes below 0x20 outside the ranges above carry nothing on screen.
    if (ok1 && b1 > 0 && b1 < 0x20)
        return;
    // Characters: one with a parity error shows as a solid block.
    put_char(d, f, frame, l21_received_char((uint8_t)r1));
    put_char(d, f, frame, l21_received_char((uint8_t)r2));
}

void cc_finish(CcDecoder *d, int64_t last)
{
    for (int svc = 0; svc < 4; svc++)
        erase_displayed(d, svc, last);
    for (int svc = SVC_T1; svc < SVC_COUNT; svc++)
        end_text_row(d, svc);
}
