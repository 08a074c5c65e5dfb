#include "line21.h"

#include <cstdio>
#include <cstring>

// ---------------------------------------------------------------------------
// Parity and pairs

bool l21_parity_ok(uint8_t byte)
{
    return __builtin_popcount(byte) & 1;
}

uint8_t l21_add_parity(uint8_t code)
{
    code &= 0x7F;
    return l21_parity_ok(code) ? code : (uint8_t)(code | 0x80);
}

L21Pair l21_pair(int c1, int c2)
{
    return L21Pair{l21_add_parity((uint8_t)c1), l21_add_parity((uint8_t)c2)};
}

bool l21_is_null(L21Pair p)
{
    return p == L21_NULL_PAIR;
}

// ---------------------------------------------------------------------------
// Pair kinds

bool l21_is_control(uint8_t b1)
{
    b1 &= 0x7F;
    return b1 >= 0x10 && b1 <= 0x1F;
}

int l21_channel(uint8_t b1)
{
    if (!l21_is_control(b1))
        return 0;
    return b1 & 0x08 ? 2 : 1;
}

uint8_t l21_on_channel(uint8_t b1, int channel)
{
    b1 &= 0x7F;
    if (!l21_is_control(b1))
        return b1;
    return channel == 2 ? (uint8_t)(b1 | 0x08) : (uint8_t)(b1 & ~0x08);
}

// The row of a PAC's b1 (channel-1 value 0x10-0x17) with b2 below 0x60 and
// with b2 0x60 and above; 0 where there is none.
static const int pac_rows[8][2] = {
    {11, 0}, {1, 2}, {3, 4}, {12, 13}, {14, 15}, {5, 6}, {7, 8}, {9, 10},
};

L21Kind l21_kind(uint8_t b1, uint8_t b2, int field)
{
    b1 &= 0x7F;
    b2 &= 0x7F;
    if (b1 == 0 && b2 == 0)
        return L21_KIND_NULL;
    if (b1 >= 0x01 && b1 <= 0x0F)
        return field == 2 ? L21_KIND_XDS : L21_KIND_UNKNOWN;
    if (b1 >= 0x20)
        return b2 == 0 || b2 >= 0x20 ? L21_KIND_CHARS : L21_KIND_UNKNOWN;
    if (b1 == 0)
        return L21_KIND_UNKNOWN;
    uint8_t c = b1 & 0x17;  // channel-1 value
    if (b2 >= 0x40)
        return pac_rows[c & 7][b2 >= 0x60] ? L21_KIND_PAC : L21_KIND_UNKNOWN;
    if (b2 < 0x20)
        return L21_KIND_UNKNOWN;
    switch (c) {
    case 0x11:
        return b2 < 0x30 ? L21_KIND_MIDROW : L21_KIND_SPECIAL;
    case 0x12:
    case 0x13:
        return L21_KIND_EXTENDED;
    case 0x14:
    case 0x15:
        // The miscellaneous codes use 0x14 on field 1 and 0x15 on field 2.
        return b2 < 0x30 && c == (field == 2 ? 0x15 : 0x14) ? L21_KIND_MISC : L21_KIND_UNKNOWN;
    case 0x17:
        if (b2 >= 0x21 && b2 <= 0x23)
            return L21_KIND_TAB;
        return b2 >= 0x2D && b2 <= 0x2F ? L21_KIND_ATTRIBUTE : L21_KIND_UNKNOWN;
    case 0x10:
        return b2 < 0x30 ? L21_KIND_ATTRIBUTE : L21_KIND_UNKNOWN;
    default:
        return L21_KIND_UNKNOWN;
    }
}

const char *l21_kind_name(L21Kind kind)
{
    static const char *const names[] = {"null",  "xds", "pac",       "mid-row", "special", "extended",
                                        "misc",  "tab", "attribute", "chars",   "unknown"};
    return (unsigned)kind < sizeof names / sizeof names[0] ? names[kind] : "unknown";
}

// ---------------------------------------------------------------------------
// Services

static const char *const service_names[] = {"CC1", "CC2", "CC3", "CC4", "T1", "T2", "T3", "T4"};

const char *l21_service_name(L21Service s)
{
    return (unsigned)s < 8 ? service_names[s] : "?";
}

bool l21_service_parse(const char *name, L21Service *s)
{
    for (int i = 0; i < 8; i++)
        if (strcmp(name, service_names[i]) == 0) {
            *s = (L21Service)i;
            return true;
        }
    return false;
}

int l21_service_field(L21Service s)
{
    return (s & 3) >= 2 ? 2 : 1;
}

int l21_service_channel(L21Service s)
{
    return (s & 1) + 1;
}

bool l21_service_is_text(L21Service s)
{
    return s >= L21_T1;
}

L21Service l21_service(int field, int channel, bool text)
{
    return (L21Service)((text ? 4 : 0) + (field == 2 ? 2 : 0) + (channel == 2 ? 1 : 0));
}

// ---------------------------------------------------------------------------
// Characters

const char L21_SOLID_BLOCK[] = "\u25A0";

// The standard set is ASCII but for these codes.
struct Exception {
    uint8_t code;
    const char *utf8;
};
static const Exception standard_exceptions[] = {
    {0x2A, "\u00E1"}, {0x5C, "\u00E9"}, {0x5E, "\u00ED"}, {0x5F, "\u00F3"}, {0x60, "\u00FA"},
    {0x7B, "\u00E7"}, {0x7C, "\u00F7"}, {0x7D, "\u00D1"}, {0x7E, "\u00F1"}, {0x7F, "\u25A0"},
};

static const char *const special_chars[16] = {
    "\u00AE", "\u00B0", "\u00BD", "\u00BF", "\u2122", "\u00A2", "\u00A3", "\u266A",
    "\u00E0", "\u00A0", "\u00E8", "\u00E2", "\u00EA", "\u00EE", "\u00F4", "\u00FB",
};

// Extended sets 0x12 and 0x13, b2 0x20-0x3F, with the standard character a
// sender puts first for receivers that know only the standard set.
struct Extended {
    const char *utf8;
    char fallback;
};
static const Extended extended_chars[2][32] = {
    {
        {"\u00C1", 'A'}, {"\u00C9", 'E'}, {"\u00D3", 'O'}, {"\u00DA", 'U'},
        {"\u00DC", 'U'}, {"\u00FC", 'u'}, {"\u2018", '\''}, {"\u00A1", '!'},
        {"*", '.'},      {"\u2019", '\''}, {"\u2014", '-'}, {"\u00A9", 'c'},
        {"\u2120", ' '}, {"\u2022", '.'}, {"\u201C", '"'}, {"\u201D", '"'},
        {"\u00C0", 'A'}, {"\u00C2", 'A'}, {"\u00C7", 'C'}, {"\u00C8", 'E'},
        {"\u00CA", 'E'}, {"\u00CB", 'E'}, {"\u00EB", 'e'}, {"\u00CE", 'I'},
        {"\u00CF", 'I'}, {"\u00EF", 'i'}, {"\u00D4", 'O'}, {"\u00D9", 'U'},
        {"\u00F9", 'u'}, {"\u00DB", 'U'}, {"\u00AB", '"'}, {"\u00BB", '"'},
    },
    {
        {"\u00C3", 'A'}, {"\u00E3", 'a'}, {"\u00CD", 'I'}, {"\u00CC", 'I'},
        {"\u00EC", 'i'}, {"\u00D2", 'O'}, {"\u00F2", 'o'}, {"\u00D5", 'O'},
        {"\u00F5", 'o'}, {"{", '('},      {"}", ')'},      {"\\", '/'},
        {"^", ' '},      {"_", '-'},      {"|", '!'},      {"~", '-'},
        {"\u00C4", 'A'}, {"\u00E4", 'a'}, {"\u00D6", 'O'}, {"\u00F6", 'o'},
        {"\u00DF", 's'}, {"\u00A5", 'Y'}, {"\u00A4", 'o'}, {"\u00A6", '!'},
        {"\u00C5", 'A'}, {"\u00E5", 'a'}, {"\u00D8", 'O'}, {"\u00F8", 'o'},
        {"\u250C", '+'}, {"\u2510", '+'}, {"\u2514", '+'}, {"\u2518", '+'},
    },
};

// Every standard character as a string of its own.
static const char *const *ascii_strings()
{
    static char storage[96][2];
    static const char *const *table = [] {
        static const char *t[96];
        for (int c = 0x20; c < 0x80; c++) {
            storage[c - 0x20][0] = (char)c;
            t[c - 0x20] = storage[c - 0x20];
        }
        return t;
    }();
    return table;
}

const char *l21_standard_char(uint8_t code)
{
    code &= 0x7F;
    if (code < 0x20)
        return nullptr;
    for (const Exception &e : standard_exceptions)
        if (e.code == code)
            return e.utf8;
    return ascii_strings()[code - 0x20];
}

const char *l21_special_char(uint8_t b2)
{
    b2 &= 0x7F;
    return b2 >= 0x30 && b2 <= 0x3F ? special_chars[b2 - 0x30] : nullptr;
}

const char *l21_extended_char(uint8_t b1, uint8_t b2)
{
    b1 &= 0x17;
    b2 &= 0x7F;
    if ((b1 != 0x12 && b1 != 0x13) || b2 < 0x20 || b2 > 0x3F)
        return nullptr;
    return extended_chars[b1 - 0x12][b2 - 0x20].utf8;
}

const char *l21_received_char(uint8_t byte)
{
    if (!l21_parity_ok(byte))
        return L21_SOLID_BLOCK;
    const char *s = l21_standard_char(byte);
    return s ? s : "";
}

// Decodes one UTF-8 sequence; 0 when malformed (overlong forms, surrogates
// and values past U+10FFFF included).
static size_t utf8_decode(const char *s, size_t len, uint32_t *cp)
{
    if (len == 0)
        return 0;
    const unsigned char *u = (const unsigned char *)s;
    size_t n;
    uint32_t c, min;
    if (u[0] < 0x80)
        return *cp = u[0], 1;
    else if ((u[0] & 0xE0) == 0xC0)
        n = 2, c = u[0] & 0x1F, min = 0x80;
    else if ((u[0] & 0xF0) == 0xE0)
        n = 3, c = u[0] & 0x0F, min = 0x800;
    else if ((u[0] & 0xF8) == 0xF0)
        n = 4, c = u[0] & 0x07, min = 0x10000;
    else
        return 0;
    if (len < n)
        return 0;
    for (size_t i = 1; i < n; i++) {
        if ((u[i] & 0xC0) != 0x80)
            return 0;
        c = c << 6 | (u[i] & 0x3F);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return 0;
    *cp = c;
    return n;
}

// True when the UTF-8 string utf8 is exactly the code point cp.
static bool is_code_point(const char *utf8, uint32_t cp)
{
    uint32_t c;
    size_t n = utf8_decode(utf8, strlen(utf8), &c);
    return n > 0 && utf8[n] == '\0' && c == cp;
}

size_t l21_char_from_utf8(const char *s, size_t len, L21CharCode *code)
{
    *code = L21CharCode{L21_SET_NONE, 0, 0, 0, 0};
    uint32_t cp;
    size_t n = utf8_decode(s, len, &cp);
    if (n == 0)
        return 0;
    code->code_point = cp;
    // Most text is ASCII, and most of ASCII is the standard set itself.
    if (cp >= 0x20 && cp < 0x7F && !strchr("*\\^_`{|}~", (int)cp)) {
        *code = L21CharCode{L21_SET_STANDARD, (uint8_t)cp, 0, 0, cp};
        return n;
    }
    // Standard set first, then special, then extended: a character in
    // several sets travels in the one every receiver knows.
    for (int c = 0x20; c < 0x80; c++)
        if (is_code_point(l21_standard_char((uint8_t)c), cp)) {
            *code = L21CharCode{L21_SET_STANDARD, (uint8_t)c, 0, 0, cp};
            return n;
        }
    for (int i = 0; i < 16; i++)
        if (is_code_point(special_chars[i], cp)) {
            *code = L21CharCode{L21_SET_SPECIAL, 0x11, (uint8_t)(0x30 + i), 0, cp};
            return n;
        }
    for (int set = 0; set < 2; set++)
        for (int i = 0; i < 32; i++)
            if (is_code_point(extended_chars[set][i].utf8, cp)) {
                const Extended &e = extended_chars[set][i];
                *code = L21CharCode{L21_SET_EXTENDED, (uint8_t)(0x12 + set), (uint8_t)(0x20 + i),
                                    (uint8_t)e.fallback, cp};
                return n;
            }
    return n;
}

// ---------------------------------------------------------------------------
// Colours, PACs, mid-row codes, tab offsets

const char *l21_colour_name(L21Colour c)
{
    static const char *const names[] = {"white", "green", "blue", "cyan", "red", "yellow", "magenta"};
    return (unsigned)c < 7 ? names[c] : "white";
}

bool l21_pac_decode(uint8_t b1, uint8_t b2, L21Pac *pac)
{
    b1 &= 0x7F;
    b2 &= 0x7F;
    if (!l21_is_control(b1) || b2 < 0x40)
        return false;
    int row = pac_rows[b1 & 7][b2 >= 0x60];
    if (row == 0)
        return false;
    int a = (b2 & 0x1E) >> 1;
    pac->row = row;
    pac->underline = b2 & 1;
    pac->colour = a < 7 ? (L21Colour)a : L21_WHITE;
    pac->italics = a == 7;
    pac->indent = a >= 8 ? 4 * (a - 8) : 0;
    return true;
}

bool l21_pac_encode(const L21Pac &pac, uint8_t *b1, uint8_t *b2)
{
    if (pac.row < 1 || pac.row > 15 || pac.indent < 0 || pac.indent > 31)
        return false;
    for (int c = 0; c < 8; c++)
        for (int high = 0; high < 2; high++)
            if (pac_rows[c][high] == pac.row) {
                int a = pac.indent >= 4 ? 8 + pac.indent / 4 : pac.italics ? 7 : (int)pac.colour;
                *b1 = (uint8_t)(0x10 + c);
                *b2 = (uint8_t)(0x40 | high << 5 | a << 1 | (pac.underline ? 1 : 0));
                return true;
            }
    return false;
}

bool l21_midrow_decode(uint8_t b1, uint8_t b2, L21MidRow *m)
{
    b1 &= 0x7F;
    b2 &= 0x7F;
    if ((b1 & 0x17) != 0x11 || b2 < 0x20 || b2 > 0x2F)
        return false;
    int a = (b2 & 0x0E) >> 1;
    m->italics = a == 7;
    m->colour = a < 7 ? (L21Colour)a : L21_WHITE;
    m->underline = b2 & 1;
    return true;
}

uint8_t l21_midrow_encode(const L21MidRow &m)
{
    int a = m.italics ? 7 : (int)m.colour;
    return (uint8_t)(0x20 | a << 1 | (m.underline ? 1 : 0));
}

int l21_tab_columns(uint8_t b1, uint8_t b2)
{
    b1 &= 0x7F;
    b2 &= 0x7F;
    if ((b1 & 0x17) != 0x17 || !l21_is_control(b1) || b2 < 0x21 || b2 > 0x23)
        return 0;
    return b2 - 0x20;
}

// ---------------------------------------------------------------------------
// Miscellaneous control codes

static const char *const misc_names[16] = {"RCL", "BS",  "AOF", "AON", "DER", "RU2", "RU3", "RU4",
                                           "FON", "RDC", "TR",  "RTD", "EDM", "CR",  "ENM", "EOC"};

const char *l21_misc_name(uint8_t b2)
{
    b2 &= 0x7F;
    return b2 >= 0x20 && b2 <= 0x2F ? misc_names[b2 - 0x20] : nullptr;
}

int l21_misc_parse(const char *name)
{
    for (int i = 0; i < 16; i++)
        if (strcmp(name, misc_names[i]) == 0)
            return 0x20 + i;
    return -1;
}

L21Pair l21_misc_pair(L21Misc misc, int field, int channel)
{
    uint8_t b1 = field == 2 ? 0x15 : 0x14;
    return l21_pair(l21_on_channel(b1, channel), misc);
}

// ---------------------------------------------------------------------------
// Extended Data Services

bool l21_xds_class_of(uint8_t b1, L21XdsClass *cls, bool *is_continue)
{
    b1 &= 0x7F;
    if (b1 < 0x01 || b1 > 0x0E)
        return false;
    *is_continue = (b1 & 1) == 0;
    *cls = (L21XdsClass)(*is_continue ? b1 - 1 : b1);
    return true;
}

const char *l21_xds_class_name(L21XdsClass cls)
{
    switch (cls) {
    case L21_XDS_CURRENT:
        return "current";
    case L21_XDS_FUTURE:
        return "future";
    case L21_XDS_CHANNEL:
        return "channel";
    case L21_XDS_MISC:
        return "miscellaneous";
    case L21_XDS_PUBLIC_SERVICE:
        return "public_service";
    case L21_XDS_RESERVED:
        return "reserved";
    case L21_XDS_PRIVATE:
        return "private";
    }
    return "unknown";
}

const char *l21_xds_type_name(L21XdsClass cls, uint8_t type)
{
    type &= 0x7F;
    if (cls == L21_XDS_CURRENT && type == L21_XDS_TYPE_PROGRAM_NAME)
        return "program_name";
    if (cls == L21_XDS_CHANNEL && type == L21_XDS_TYPE_NETWORK)
        return "network";
    if (cls == L21_XDS_CHANNEL && type == L21_XDS_TYPE_CALL_LETTERS)
        return "call_letters";
    if (cls == L21_XDS_MISC && type == L21_XDS_TYPE_TIME_OF_DAY)
        return "time_of_day";
    return nullptr;
}

static unsigned sum7(const uint8_t *bytes, size_t n)
{
    unsigned sum = 0;
    for (size_t i = 0; i < n; i++)
        sum += bytes[i] & 0x7F;
    return sum;
}

uint8_t l21_xds_checksum(const uint8_t *bytes, size_t n)
{
    return (uint8_t)((128 - sum7(bytes, n) % 128) % 128);
}

bool l21_xds_checksum_ok(const uint8_t *bytes, size_t n)
{
    return sum7(bytes, n) % 128 == 0;
}

std::vector<L21Pair> l21_xds_packet(L21XdsClass cls, uint8_t type, const std::string &data)
{
    std::vector<uint8_t> bytes = {(uint8_t)cls, (uint8_t)(type & 0x7F)};
    for (size_t i = 0; i < data.size(); i++)
        bytes.push_back((uint8_t)(data[i] & 0x7F));
    if (data.size() % 2)
        bytes.push_back(0);
    bytes.push_back(L21_XDS_END);
    bytes.push_back(l21_xds_checksum(bytes.data(), bytes.size()));
    std::vector<L21Pair> pairs;
    for (size_t i = 0; i < bytes.size(); i += 2)
        pairs.push_back(l21_pair(bytes[i], bytes[i + 1]));
    return pairs;
}

int l21_weekday(int year, int month, int day)
{
    // Zeller's congruence, moved so that Sunday is 1.
    if (month < 3) {
        month += 12;
        year--;
    }
    int k = year % 100, j = year / 100;
    int h = (day + 13 * (month + 1) / 5 + k + k / 4 + j / 4 + 5 * j) % 7;  // 0 Saturday
    return (h + 6) % 7 + 1;
}

bool l21_xds_time_encode(const L21XdsTime &t, std::string *data)
{
    if (t.year < 1990 || t.year > 2053 || t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31 || t.hour < 0 ||
        t.hour > 23 || t.minute < 0 || t.minute > 59 || t.weekday < 1 || t.weekday > 7)
        return false;
    char c[6] = {
        (char)(0x40 | t.minute),
        (char)(0x40 | t.hour | (t.daylight_saving ? 0x20 : 0)),
        (char)(0x40 | t.day),
        (char)(0x40 | t.month | (t.zero_seconds ? 0x10 : 0) | (t.tape_delay ? 0x20 : 0)),
        (char)(0x40 | t.weekday),
        (char)(0x40 | (t.year - 1990)),
    };
    data->assign(c, 6);
    return true;
}

bool l21_xds_time_decode(const std::string &data, L21XdsTime *t)
{
    if (data.size() != 6)
        return false;
    uint8_t c[6];
    for (int i = 0; i < 6; i++) {
        c[i] = (uint8_t)data[i] & 0x7F;
        if (!(c[i] & 0x40))
            return false;
    }
    L21XdsTime r;
    r.minute = c[0] & 0x3F;
    r.hour = c[1] & 0x1F;
    r.daylight_saving = c[1] & 0x20;
    r.day = c[2] & 0x1F;
    r.month = c[3] & 0x0F;
    r.zero_seconds = c[3] & 0x10;
    r.tape_delay = c[3] & 0x20;
    r.weekday = c[4] & 0x07;
    r.year = 1990 + (c[5] & 0x3F);
    if (r.minute > 59 || r.hour > 23 || r.day < 1 || r.month < 1 || r.month > 12 || r.weekday < 1)
        return false;
    *t = r;
    return true;
}

// ---------------------------------------------------------------------------
// Time codes

enum {
    FRAMES_PER_10_MINUTES = 17982,  // 10 x 1800 labels less 9 x 2 dropped
    FRAMES_PER_MINUTE = 1798,       // a minute that drops two labels
};

bool l21_timecode_format(int64_t frame, char out[12])
{
    out[0] = '\0';
    if (frame < 0 || frame > L21_LAST_TIMECODE_FRAME)
        return false;
    int64_t tens = frame / FRAMES_PER_10_MINUTES, rest = frame % FRAMES_PER_10_MINUTES;
    // The first minute of ten keeps all its labels; every later one starts
    // two labels on.
    int64_t label = frame + 18 * tens + (rest > 1 ? 2 * ((rest - 2) / FRAMES_PER_MINUTE) : 0);
    int ff = (int)(label % 30), ss = (int)(label / 30 % 60), mm = (int)(label / 1800 % 60),
        hh = (int)(label / 108000);
    snprintf(out, 12, "%02d:%02d:%02d;%02d", hh % 100, mm, ss, ff);
    return true;
}

static bool two_digits(const char *s, int *v)
{
    if (s[0] < '0' || s[0] > '9' || s[1] < '0' || s[1] > '9')
        return false;
    *v = (s[0] - '0') * 10 + (s[1] - '0');
    return true;
}

bool l21_timecode_parse(const char *s, size_t len, int64_t *frame, const char **why)
{
    int hh, mm, ss, ff;
    if (len != 11 || s[2] != ':' || s[5] != ':' || (s[8] != ';' && s[8] != ':') || !two_digits(s, &hh) ||
        !two_digits(s + 3, &mm) || !two_digits(s + 6, &ss) || !two_digits(s + 9, &ff)) {
        *why = "is not a time code HH:MM:SS;FF";
        return false;
    }
    if (hh > 23 || mm > 59 || ss > 59 || ff > 29) {
        *why = "is out of range (00:00:00;00 to 23:59:59;29)";
        return false;
    }
    int64_t labels = ((int64_t)(hh * 60 + mm) * 60 + ss) * 30 + ff;
    if (s[8] == ':') {
        *frame = labels;
        return true;
    }
    if (ss == 0 && ff < 2 && mm % 10 != 0) {
        *why = "names a frame label that drop-frame time skips";
        return false;
    }
    int minutes = hh * 60 + mm;
    *frame = labels - 2 * (minutes - minutes / 10);
    return true;
}

// ---------------------------------------------------------------------------
// SCC files

static const char SCC_HEADER[] = "Scenarist_SCC V1.0";

static bool is_blank(char c)
{
    return c == ' ' || c == '\t';
}

static int hex_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

static bool scc_error(L21SccError *error, int line, const std::string &message)
{
    error->line = line;
    error->message = message;
    return false;
}

// A piece of text shown in a message: at most 20 bytes, control and
// non-ASCII bytes as \xNN.
static std::string quoted(const char *s, size_t n)
{
    std::string q = "'";
    for (size_t i = 0; i < n && i < 20; i++) {
        unsigned char c = (unsigned char)s[i];
        if (c >= 0x20 && c < 0x7F) {
            q += (char)c;
        } else {
            char x[5];
            snprintf(x, sizeof x, "\\x%02x", c);
            q += x;
        }
    }
    if (n > 20)
        q += "...";
    return q + "'";
}

// Reads one caption line (no line end) into *out.
static bool scc_line(const char *s, size_t n, int number, L21SccLine *out, L21SccError *error)
{
    size_t i = 0;
    while (i < n && !is_blank(s[i]))
        i++;
    const char *why;
    if (!l21_timecode_parse(s, i, &out->frame, &why))
        return scc_error(error, number, "time code " + quoted(s, i) + " " + why);
    out->pairs.clear();
    out->line_number = number;
    while (i < n) {
        if (!is_blank(s[i]))
            return scc_error(error, number, "expected a blank before " + quoted(s + i, n - i));
        while (i < n && is_blank(s[i]))
            i++;
        if (i == n)
            break;
        size_t start = i;
        while (i < n && !is_blank(s[i]))
            i++;
        int d[4];
        bool hex = i - start == 4;
        for (size_t k = 0; hex && k < 4; k++)
            hex = (d[k] = hex_value(s[start + k])) >= 0;
        if (!hex)
            return scc_error(error, number, "pair " + quoted(s + start, i - start) + " is not four hexadecimal digits");
        out->pairs.push_back(L21Pair{(uint8_t)(d[0] << 4 | d[1]), (uint8_t)(d[2] << 4 | d[3])});
    }
    if (out->pairs.empty())
        return scc_error(error, number, "no pairs after the time code");
    return true;
}

bool l21_scc_read(const char *text, size_t len, std::vector<L21SccLine> *lines, L21SccError *error)
{
    lines->clear();
    size_t pos = 0;
    if (len >= 3 && memcmp(text, "\xEF\xBB\xBF", 3) == 0)
        pos = 3;
    if (pos == len)
        return scc_error(error, 1, "empty file, expected the header 'Scenarist_SCC V1.0'");
    L21SccLine line;
    for (int number = 1; pos < len; number++) {
        const char *eol = (const char *)memchr(text + pos, '\n', len - pos);
        size_t end = eol ? (size_t)(eol - text) : len, n = end - pos;
        const char *s = text + pos;
        pos = eol ? end + 1 : len;
        // Line ends CR LF, and trailing blanks, carry nothing.
        while (n > 0 && (s[n - 1] == '\r' || is_blank(s[n - 1])))
            n--;
        if (number == 1) {
            if (n != sizeof SCC_HEADER - 1 || memcmp(s, SCC_HEADER, n) != 0)
                return scc_error(error, 1, "not an SCC file: the first line is " + quoted(s, n) +
                                               ", expected 'Scenarist_SCC V1.0'");
            continue;
        }
        if (n == 0)
            continue;
        if (!scc_line(s, n, number, &line, error))
            return false;
        if (!lines->empty() && line.frame < lines->back().frame) {
            char tc[12], prev[12];
            l21_timecode_format(line.frame, tc);
            l21_timecode_format(lines->back().frame, prev);
            return scc_error(error, number,
                             std::string("time code ") + tc + " goes back (the line before starts at " + prev + ")");
        }
        lines->push_back(line);
    }
    return true;
}

static void append_pair(std::string *out, L21Pair p)
{
    char hex[5];
    snprintf(hex, sizeof hex, "%02x%02x", p.b1, p.b2);
    out->append(hex, 4);
}

static void scc_header(L21SccWriter *w, std::string *out)
{
    if (!w->header_done) {
        out->append(SCC_HEADER);
        out->append("\n\n");
        w->header_done = true;
    }
}

bool l21_scc_put(L21SccWriter *w, int64_t frame, L21Pair pair, std::string *out)
{
    if (frame <= w->last_frame || frame < 0 || frame > L21_LAST_TIMECODE_FRAME)
        return false;
    scc_header(w, out);
    bool continues = w->line_open && frame == w->last_frame + 1;
    w->last_frame = frame;
    if (continues && !l21_is_null(pair)) {
        out->push_back(' ');
        append_pair(out, pair);
        return true;
    }
    // A null pair, or a frame left out, ends the open line; the next pair
    // that is not null starts a new one with its own time code.
    if (w->line_open)
        out->append("\n\n");
    w->line_open = !l21_is_null(pair);
    if (w->line_open) {
        char tc[12];
        l21_timecode_format(frame, tc);
        out->append(tc);
        out->push_back('\t');
        append_pair(out, pair);
    }
    return true;
}

void l21_scc_finish(L21SccWriter *w, std::string *out)
{
    scc_header(w, out);
    if (w->line_open)
        out->append("\n\n");
    w->line_open = false;
}

bool l21_scc_write(const std::vector<L21FramePair> &pairs, std::string *out)
{
    L21SccWriter w;
    std::string text;
    for (const L21FramePair &p : pairs)
        if (!l21_scc_put(&w, p.frame, p.pair, &text))
            return false;
    l21_scc_finish(&w, &text);
    out->swap(text);
    return true;
}
