#include "pictures.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "font.h"

Image::Image(int w, int h, Rgb fill_colour) : width(w), height(h), rgb((size_t)w * (size_t)h * 3)
{
    fill(0, 0, w, h, fill_colour);
}

void Image::set(int x, int y, Rgb c)
{
    if (x < 0 || y < 0 || x >= width || y >= height)
        return;
    uint8_t *p = &rgb[((size_t)y * (size_t)width + (size_t)x) * 3];
    p[0] = c.r;
    p[1] = c.g;
    p[2] = c.b;
}

Rgb Image::at(int x, int y) const
{
    const uint8_t *p = &rgb[((size_t)y * (size_t)width + (size_t)x) * 3];
    return {p[0], p[1], p[2]};
}

void Image::fill(int x0, int y0, int x1, int y1, Rgb c)
{
    for (int y = y0; y < y1; y++)
        for (int x = x0; x < x1; x++)
            set(x, y, c);
}

int draw_text(Image *img, int x, int y, const std::string &text, Rgb c, int scale)
{
    for (char ch : text) {
        const char *const *rows = font_glyph(ch);
        for (int r = 0; rows && r < FONT_H; r++)
            for (int k = 0; k < FONT_W; k++)
                if (rows[r][k] == '#')
                    img->fill(x + k * scale, y + r * scale, x + (k + 1) * scale, y + (r + 1) * scale, c);
        x += FONT_ADVANCE * scale;
    }
    return x;
}

static std::string format(const char *f, double a = 0, double b = 0, double c = 0)
{
    char buf[160];
    snprintf(buf, sizeof buf, f, a, b, c);
    return buf;
}

static const Rgb White = {255, 255, 255}, Grey = {150, 150, 150}, Dim = {70, 70, 70}, Black = {0, 0, 0};
const Rgb ColourDecoded = {40, 200, 70}, ColourRefused = {230, 40, 40}, ColourMixed = {240, 150, 0},
          ColourIdle = {35, 35, 35}, ColourGap = {250, 230, 0}, ColourRepeat = {70, 140, 255},
          ColourBackward = {230, 60, 230};

// --- waterfall ---------------------------------------------------------------

static Rgb program_colour(uint8_t m)
{
    if (m & ROW_REFUSED)
        return m & ROW_DECODED ? ColourMixed : ColourRefused;
    return m & ROW_DECODED ? ColourDecoded : ColourIdle;
}

static Rgb counter_colour(uint8_t m)
{
    if (m & ROW_GAP)
        return ColourGap;
    if (m & ROW_BACKWARD)
        return ColourBackward;
    if (m & ROW_REPEAT)
        return ColourRepeat;
    return ColourIdle;
}

// Seconds down the left edge, each with its block number below, as far
// apart as keeps the labels clear of each other; a tick in the counter
// column's colours where each listed counter fault falls.
static void draw_time_axis(Image *img, const Scan &s)
{
    const Waterfall &w = s.waterfall;
    static const int steps[] = {1, 2, 5, 10, 20, 30, 60, 120, 300, 600, 1200, 1800, 3600, 7200, 14400};
    int every = steps[0];
    for (int st : steps) {
        every = st;
        if ((double)st * BLOCKS_PER_SECOND / (double)w.step >= 24)
            break;
    }
    draw_text(img, 2, WF_HEADER - 26, "S", White);
    draw_text(img, 2, WF_HEADER - 16, "BLOCK", Grey);
    for (long sec = 0;; sec += every) {
        // The block that starts second sec, and the row standing for it.
        double block = (double)sec * 30000.0 / 1001.0;
        long row = (long)(block / (double)w.step);
        if (row >= w.rows)
            break;
        int y = WF_HEADER + (int)row;
        img->fill(WF_AXIS - 6, y, WF_AXIS, y + 1, Grey);
        if (y + 17 <= img->height || sec == 0) {
            draw_text(img, 2, y + 1, format("%.0f", (double)sec), White);
            draw_text(img, 2, y + 9, format("%.0f", ceil(block)), Grey);
        }
    }
    for (const CounterFault &f : s.faults) {
        long row = (long)(f.block / (uint64_t)w.step);
        if (row >= w.rows)
            continue;
        uint8_t m = f.kind == COUNTER_GAP ? ROW_GAP : f.kind == COUNTER_REPEAT ? ROW_REPEAT : ROW_BACKWARD;
        img->fill(WF_AXIS - 14, WF_HEADER + (int)row, WF_AXIS, WF_HEADER + (int)row + 1, counter_colour(m));
    }
}

Image render_waterfall(const Scan &s)
{
    const Waterfall &w = s.waterfall;
    Image img(WF_SAMPLES_X + WATERFALL_SAMPLES, WF_HEADER + (w.rows > 0 ? w.rows : 1), Black);
    // Levels stretched from the lowest to the highest the line reached, so
    // that a swing of 70 levels fills the grey scale.
    const LineAccum &a = s.lines[s.opt.line];
    int lo = a.min, hi = a.max;
    if (hi - lo < 16) {
        lo = 0;
        hi = 255;
    }
    uint8_t grey[256];
    for (int v = 0; v < 256; v++) {
        int g = (v - lo) * 255 / (hi - lo);
        grey[v] = (uint8_t)(g < 0 ? 0 : g > 255 ? 255 : g);
    }
    for (int r = 0; r < w.rows; r++) {
        int y = WF_HEADER + r;
        const uint8_t *m = &w.marks[(size_t)r * 4];
        for (int c = 0; c < 4; c++) {
            Rgb col = c < 3 ? program_colour(m[c]) : counter_colour(m[3]);
            img.fill(WF_COLUMNS_X + c * WF_COLUMN_STEP, y, WF_COLUMNS_X + c * WF_COLUMN_STEP + WF_COLUMN, y + 1, col);
        }
        const uint8_t *line = &w.samples[(size_t)r * WATERFALL_SAMPLES];
        uint8_t *px = &img.rgb[((size_t)y * (size_t)img.width + WF_SAMPLES_X) * 3];
        for (int i = 0; i < WATERFALL_SAMPLES; i++)
            px[3 * i] = px[3 * i + 1] = px[3 * i + 2] = grey[line[i]];
    }
    // Column letters: captext, capscope, capscope-runin, counter.
    const char *letters = "TSRC";
    for (int c = 0; c < 4; c++)
        draw_text(&img, WF_COLUMNS_X + c * WF_COLUMN_STEP + 1, WF_HEADER - 16, std::string(1, letters[c]), White, 2);
    draw_time_axis(&img, s);
    std::string title = format("LINE %.0f  %.0f BLOCKS", s.opt.line, (double)s.counter.blocks) +
                        format("  ONE ROW = %.0f BLOCK", (double)w.step) + (w.step > 1 ? "S" : "") +
                        "    T CAPTEXT  S CAPSCOPE  R CAPSCOPE-RUNIN  C COUNTER";
    draw_text(&img, WF_SAMPLES_X, 3, title, White, 2);
    // The sample scale: a tick every 100 samples, a number every 200.
    for (int i = 0; i < WATERFALL_SAMPLES; i += 100) {
        int x = WF_SAMPLES_X + i;
        img.fill(x, WF_HEADER - 4, x + 1, WF_HEADER, Grey);
        if (i % 200 == 0 && i > 0)
            draw_text(&img, x - 9, WF_HEADER - 14, format("%.0f", i), Grey);
    }
    return img;
}

// --- eye -----------------------------------------------------------------------

enum { EYE_LEFT = 28, EYE_TOP = 18, EYE_BOTTOM = 14, EYE_RIGHT = 8, EYE_PLOT = 300 };

// Black through blue and cyan to white as more traces pass.
static Rgb heat(double t)
{
    struct Stop {
        double at;
        Rgb c;
    } stops[] = {{0, {0, 0, 0}}, {0.3, {20, 50, 170}}, {0.65, {0, 210, 220}}, {1, {255, 255, 255}}};
    for (int k = 1; k < 4; k++)
        if (t <= stops[k].at) {
            double f = (t - stops[k - 1].at) / (stops[k].at - stops[k - 1].at);
            const Rgb &a = stops[k - 1].c, &b = stops[k].c;
            return {(uint8_t)lround(a.r + f * (b.r - a.r)), (uint8_t)lround(a.g + f * (b.g - a.g)),
                    (uint8_t)lround(a.b + f * (b.b - a.b))};
        }
    return stops[3].c;
}

Image render_eye(const Scan &s)
{
    Image img(EYE_LEFT + EYE_WIDTH + EYE_RIGHT, EYE_TOP + EYE_PLOT + EYE_BOTTOM, Black);
    const EyeAccum &e = s.eye;
    SignalFigures f = signal_figures(s.signal);
    // The levels the traces reach, with a margin, fill the plot's height.
    int lo = 255, hi = 0;
    uint32_t most = 0;
    for (int y = 0; y < EYE_HEIGHT; y++)
        for (int x = 0; x < EYE_WIDTH; x++) {
            uint32_t h = e.hits[(size_t)y * EYE_WIDTH + (size_t)x];
            if (!h)
                continue;
            most = h > most ? h : most;
            int level = EYE_HEIGHT - 1 - y;
            lo = level < lo ? level : lo;
            hi = level > hi ? level : hi;
        }
    if (most == 0) {
        lo = 0;
        hi = 255;
    }
    lo = lo - 12 < 0 ? 0 : lo - 12;
    hi = hi + 12 > 255 ? 255 : hi + 12;
    const double per_row = (hi - lo + 1) / (double)EYE_PLOT;  // levels per plot row
    auto row_of = [&](double level) { return EYE_TOP + (int)((hi + 1 - level) / per_row); };
    // Brightness grows with the logarithm of the traces through a pixel, so
    // that a rare stray trace still shows beside the thousands on the eye.
    double scale = most > 0 ? 1 / log1p((double)most) : 0;
    for (int r = 0; r < EYE_PLOT; r++) {
        int l1 = hi - (int)(r * per_row), l0 = hi - (int)((r + 1) * per_row - 1e-9);
        for (int x = 0; x < EYE_WIDTH; x++) {
            uint32_t h = 0;
            for (int level = l0 < lo ? lo : l0; level <= l1; level++) {
                uint32_t v = e.hits[(size_t)(EYE_HEIGHT - 1 - level) * EYE_WIDTH + (size_t)x];
                h = v > h ? v : h;
            }
            if (h)
                img.set(EYE_LEFT + x, EYE_TOP + r, heat(0.15 + 0.85 * log1p((double)h) * scale));
        }
    }
    // Frame, bit centre and the edges of the bit (dotted), level scale.
    for (int x = 0; x < EYE_WIDTH; x++) {
        img.set(EYE_LEFT + x, EYE_TOP - 1, Dim);
        img.set(EYE_LEFT + x, EYE_TOP + EYE_PLOT, Dim);
    }
    for (int y = 0; y < EYE_PLOT; y += 3)
        for (int q = 1; q < 4; q++)
            if (img.at(EYE_LEFT + EYE_WIDTH * q / 4, EYE_TOP + y).b == 0)
                img.set(EYE_LEFT + EYE_WIDTH * q / 4, EYE_TOP + y, q == 2 ? Grey : Dim);
    int step = hi - lo > 150 ? 50 : 20;
    for (int v = (lo + step - 1) / step * step; v <= hi; v += step) {
        int y = row_of(v + 0.5);
        img.fill(EYE_LEFT - 4, y, EYE_LEFT - 1, y + 1, Grey);
        draw_text(&img, v >= 100 ? 2 : v >= 10 ? 8 : 14, y - 3, format("%.0f", v), Grey);
    }
    draw_text(&img, EYE_LEFT + EYE_WIDTH / 2 - 18, EYE_TOP + EYE_PLOT + 4, "CENTRE", Grey);
    draw_text(&img, EYE_LEFT, EYE_TOP + EYE_PLOT + 4, "-1 BIT", Grey);
    draw_text(&img, EYE_LEFT + EYE_WIDTH - 36, EYE_TOP + EYE_PLOT + 4, "+1 BIT", Grey);

    std::string title = format("EYE  LINE %.0f  %.0f DECODED BLOCKS", s.opt.line, (double)s.signal.eye_blocks);
    if (f.eye_valid)
        title += format("  OPENING %.2f", f.eye_opening);
    draw_text(&img, EYE_LEFT, 5, title, White);
    if (f.valid && f.threshold >= lo && f.threshold <= hi) {
        // The threshold, dashed so that the traces under it still show.
        int y = row_of(f.threshold);
        for (int x = 0; x < EYE_WIDTH; x++)
            if (x % 8 < 5)
                img.set(EYE_LEFT + x, y, {255, 60, 60});
        draw_text(&img, EYE_LEFT + 4, y - 9, "THRESHOLD", {255, 90, 90});
    }
    return img;
}

// --- lines -----------------------------------------------------------------------

enum { LINES_LEFT = 58, LINES_TOP = 16, BAND = 48, BAND_PLOT = 42, LINES_WIDTH = VBI_LINE_SIZE / 2 };

static Rgb verdict_colour(const char *v)
{
    if (strcmp(v, "caption") == 0)
        return ColourDecoded;
    if (strcmp(v, "run-in only") == 0)
        return ColourGap;
    if (strcmp(v, "signal") == 0)
        return ColourRepeat;
    return ColourIdle;
}

Image render_lines(const Scan &s)
{
    Image img(LINES_LEFT + LINES_WIDTH + 4, LINES_TOP + VBI_LINES * BAND, Black);
    std::vector<double> mean = scan_mean_block(s);
    bool have = !s.env_min.empty() && s.counter.blocks > 0;
    // One level scale for every band, from the lowest to the highest level
    // any line reached, so that bands compare and signals fill them.
    int lo = 255, hi = 0;
    for (int k = 0; have && k < VBI_LINES; k++) {
        lo = s.lines[k].min < lo ? s.lines[k].min : lo;
        hi = s.lines[k].max > hi ? s.lines[k].max : hi;
    }
    if (!have) {
        lo = 0;
        hi = 255;
    }
    lo = lo - 8 < 0 ? 0 : lo - 8;
    hi = hi + 8 > 255 ? 255 : hi + 8;
    draw_text(&img, 4, 4,
              format("MEAN BLOCK OF %.0f BLOCKS  LEVELS %.0f TO %.0f", (double)s.counter.blocks, lo, hi) +
                  "  LINE NUMBER (INDEX)  MEAN YELLOW  RANGE BLUE",
              White);
    for (int k = 0; k < VBI_LINES; k++) {
        int top = LINES_TOP + k * BAND;
        auto y_of = [&](double v) { return top + 3 + (int)lround((hi - v) * (BAND_PLOT - 1) / (double)(hi - lo)); };
        img.fill(LINES_LEFT, top + 1, LINES_LEFT + LINES_WIDTH, top + BAND - 1, {14, 14, 22});
        if (k == 16)
            img.fill(0, top, img.width, top + 1, Grey);  // field 2 begins
        draw_text(&img, 4, top + 10, format("%.0f", line_number(k)), White);
        draw_text(&img, 26, top + 10, format("(%.0f)", k), Grey);
        img.fill(4, top + 24, 14, top + 30, verdict_colour(line_verdict(s.lines[k])));
        if (!have)
            continue;
        int samples = line_samples(k);
        int prev = -1;
        for (int x = 0; x < LINES_WIDTH; x++) {
            // Two samples a pixel: the range the line covered over all
            // blocks, dim, and the mean over it.
            int vlo = 255, vhi = 0;
            double m = 0;
            int n = 0;
            for (int i = 2 * x; i < 2 * x + 2 && i < samples; i++) {
                size_t at = (size_t)k * VBI_LINE_SIZE + (size_t)i;
                vlo = s.env_min[at] < vlo ? s.env_min[at] : vlo;
                vhi = s.env_max[at] > vhi ? s.env_max[at] : vhi;
                m += mean[at];
                n++;
            }
            if (n == 0)
                continue;
            for (int y = y_of(vhi); y <= y_of(vlo); y++)
                img.set(LINES_LEFT + x, y, {45, 60, 110});
            int y = y_of(m / n);
            int a = prev < 0 ? y : prev < y ? prev + 1 : y, b = prev < 0 ? y : prev > y ? prev - 1 : y;
            for (int yy = a; yy <= b; yy++)
                img.set(LINES_LEFT + x, yy, {255, 220, 90});
            prev = y;
        }
    }
    return img;
}
