// capscope-runin run as a process against a private Xvfb, fed block by block
// through a live VBI feed: its window, the line stepping, the picture it
// draws, the caption lines it writes and how it ends.
#include "xvfb.h"  // first: GoogleTest before the X headers

#include <cstring>
#include <string>
#include <vector>

#include "caption.h"
#include "runin_slicer.h"
#include "scope_helpers.h"
#include "vbi.h"
#include "vbigen_core.h"

namespace {

const uint32_t kWhite = 0xFFFFFF;

// The pairs of caption text as a broadcaster sends them: two null pairs,
// then every text line followed by its control pairs, each sent twice.
std::vector<uint16_t> text_pairs(const char *text)
{
    GenOptions o;
    gen_default_options(&o);
    std::vector<uint16_t> pairs(1024);
    pairs.resize(gen_text_pairs(text, &o, pairs.data(), pairs.size()));
    pairs.insert(pairs.begin(), 2, gen_pair(0, 0));
    return pairs;
}

class RunInScope : public XvfbTest {
protected:
    LiveFeed feed;
    BackgroundProcess proc;
    Window win = 0;

    void launch()
    {
        ASSERT_TRUE(feed.open());
        ProcessOptions opt = {};
        opt.env = standin_env();
        opt.env.push_back(display_env());
        opt.env.push_back(feed.env());
        opt.keep_fds = {feed.theirs};
        proc.start({bin_path("capscope-runin")}, opt);
        win = x_find_window(display(), "capscope 11");
        if (!win) {
            feed.close_feed();
            ProcessResult &r = proc.wait();
            FAIL() << "no window; status " << r.status << ", standard error: " << r.err;
        }
        // The program has the device open before it makes its window.
        feed.close_child_end();
    }

    void send(const std::vector<uint8_t> &block)
    {
        ASSERT_TRUE(feed.send(block.data(), block.size()));
        ASSERT_TRUE(feed.wait_consumed());
    }

    ProcessResult &finish()
    {
        feed.close_feed();
        return proc.wait();
    }

    // Draws text where the program would, alone on a black picture of the
    // window's size, and tells whether the shot shows exactly the same
    // pixels in the box around it, down to row bottom (not included).
    bool shows_text(const XShot &shot, int x, int y, const std::string &text, int bottom = 256)
    {
        Display *d = display();
        int screen = DefaultScreen(d);
        Pixmap pm = XCreatePixmap(d, DefaultRootWindow(d), (unsigned)shot.width, (unsigned)shot.height,
                                  (unsigned)DefaultDepth(d, screen));
        XGCValues v;
        v.foreground = BlackPixel(d, screen);
        GC gc = XCreateGC(d, pm, GCForeground, &v);
        XFillRectangle(d, pm, gc, 0, 0, (unsigned)shot.width, (unsigned)shot.height);
        XSetForeground(d, gc, WhitePixel(d, screen));
        XDrawString(d, pm, gc, x, y, text.data(), (int)text.size());
        XFontStruct *font = XQueryFont(d, XGContextFromGC(gc));
        int ascent = font ? font->ascent : 13, descent = font ? font->descent : 3;
        int width = XTextWidth(font, text.data(), (int)text.size());
        if (font)
            XFreeFontInfo(nullptr, font, 1);
        int x0 = std::max(x - 1, 0), y0 = std::max(y - ascent - 1, 0);
        int x1 = std::min(x + width + 1, shot.width), y1 = std::min(std::min(y + descent + 1, shot.height), bottom);
        XImage *img = XGetImage(d, pm, x0, y0, (unsigned)(x1 - x0), (unsigned)(y1 - y0), AllPlanes, ZPixmap);
        bool same = img != nullptr;
        for (int yy = y0; same && yy < y1; yy++)
            for (int xx = x0; same && xx < x1; xx++)
                same = (XGetPixel(img, xx - x0, yy - y0) != BlackPixel(d, screen)) == (shot.at(xx, yy) != 0);
        if (img)
            XDestroyImage(img);
        XFreeGC(d, gc);
        XFreePixmap(d, pm);
        return same;
    }
};

TEST_F(RunInScope, WindowAsksForItsPlaceAndSizeAndEndsWithTheStream)
{
    ASSERT_NO_FATAL_FAILURE(launch());
    XSizeHints h;
    ASSERT_TRUE(x_normal_hints(display(), win, &h));
    EXPECT_EQ(h.flags & (PPosition | PSize | PMinSize | PMaxSize), PPosition | PSize | PMinSize | PMaxSize);
    EXPECT_EQ(h.x, 0);
    EXPECT_EQ(h.y, 580);
    EXPECT_EQ(h.width, 1600);
    EXPECT_EQ(h.height, 256);
    EXPECT_EQ(h.min_width, 256);
    EXPECT_EQ(h.min_height, 0);
    EXPECT_EQ(h.max_width, 1600);
    EXPECT_EQ(h.max_height, 256);
    WindowGeometry g = x_geometry(display(), win);
    EXPECT_EQ(g.x, 0);
    EXPECT_EQ(g.y, 0);
    EXPECT_EQ(g.width, 1600u);
    EXPECT_EQ(g.height, 256u);
    XShot shot;
    EXPECT_TRUE(x_wait_shot(display(), win, [](const XShot &s) { return s.lit(0, 0, 1600, 256) == 0; }, &shot));

    ProcessResult &r = finish();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "");
}

TEST_F(RunInScope, PressesStepTheShownLine)
{
    ASSERT_NO_FATAL_FAILURE(launch());
    // Only line 12 carries a caption: line 11 shows flat blanking.
    std::vector<uint8_t> block = make_block(gen_pair('H', 'i'), 1, 12);
    const uint8_t *line12 = block.data() + 12 * VBI_LINE_SIZE;
    int crest = 414;  // seventh run-in crest of the generated line
    ASSERT_GT(line12[crest], 120);
    send(block);
    XShot shot;
    ASSERT_TRUE(x_wait_shot(display(), win, [](const XShot &s) { return s.at(800, 256 - 60) == kWhite; }, &shot));
    EXPECT_EQ(shot.at(crest, 256 - line12[crest]), 0u);

    x_press_key(display(), win);
    ASSERT_TRUE(x_wait_name(display(), win, "capscope 12"));
    block[VBI_COUNTER_OFFSET] = 2;
    send(block);
    ASSERT_TRUE(x_wait_shot(
        display(), win, [&](const XShot &s) { return s.at(crest, 256 - line12[crest]) == kWhite; }, &shot));

    // Presses queued together each step one line before the next block.
    x_press_button(display(), win, 1);
    x_press_button(display(), win, 3);
    x_press_key(display(), win, 'a');
    ASSERT_TRUE(x_wait_name(display(), win, "capscope 15"));
    // The 21st press after start shows line 0, the 32nd line 11 again.
    for (int press = 5; press <= 21; press++)
        x_press_key(display(), win);
    ASSERT_TRUE(x_wait_name(display(), win, "capscope 0"));
    for (int press = 22; press <= 32; press++)
        x_press_button(display(), win);
    ASSERT_TRUE(x_wait_name(display(), win, "capscope 11"));

    EXPECT_EQ(finish().status, 0);
}

TEST_F(RunInScope, PictureShowsWaveformMarkersAndTexts)
{
    ASSERT_NO_FATAL_FAILURE(launch());
    // Counters 5, 6, 9: three frames dropped.
    uint16_t word = gen_pair('O', 'k');
    std::vector<uint8_t> block;
    for (int32_t counter : {5, 6, 9}) {
        block = make_block(word, counter);
        send(block);
    }
    XShot shot;
    ASSERT_TRUE(x_wait_shot(display(), win, [&](const XShot &s) { return shows_text(s, 20, 20, "3 9"); }, &shot));

    const uint8_t *s = block.data() + VBI_CAPTION_LINE * VBI_LINE_SIZE;
    ScopeMarks marks;
    marks_clear(&marks);
    ASSERT_EQ(RunInSlicer(s, &marks), word);

    // Every sample at its place, one per pixel.
    int missing = 0;
    for (int i = 0; i < 1600; i++)
        missing += shot.at(i, 256 - s[i]) != kWhite;
    EXPECT_EQ(missing, 0);
    // Where neither the waveform nor a marker nor a text lies, black.
    EXPECT_EQ(shot.lit(0, 30, 40, 190), 0);

    // The slicer's markers and numbers where it put them, in white.
    int numbers = 0;
    for (int i = 0; i < marks.count; i++) {
        const ScopeMark &m = marks.mark[i];
        if (m.kind == MARK_LINE) {
            EXPECT_EQ(shot.count(kWhite, m.x1, m.y1, m.x1 + 1, m.y2 + 1), std::min((int)m.y2, 255) - m.y1 + 1)
                << "line at " << m.x1;
        } else {
            // A trough's value stands right on top of its marker.
            EXPECT_TRUE(shows_text(shot, m.x1, m.y1, std::to_string(m.value), 226)) << m.value << " at " << m.x1;
            numbers++;
        }
    }
    EXPECT_EQ(numbers, 12);
    EXPECT_TRUE(shows_text(shot, 20, 245, "0"));

    // A blank line is refused: the error count goes up.
    send(make_block(0, 10));
    ASSERT_TRUE(x_wait_shot(display(), win, [&](const XShot &sh) { return shows_text(sh, 20, 245, "1"); }, &shot));
    EXPECT_TRUE(shows_text(shot, 20, 20, "3 10"));

    ProcessResult &r = finish();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
}

TEST_F(RunInScope, DecodedStreamWritesCaptionLinesAndTheTicker)
{
    ASSERT_NO_FATAL_FAILURE(launch());
    std::vector<uint16_t> pairs = text_pairs("One two.\nThree four.\nFive six.\n");
    ASSERT_EQ(pairs.size(), 2u + 4 + 6 + 6 + 6 + 5 + 6);
    XShot shot;
    int32_t counter = 100;
    int text_left = 1600;
    for (size_t k = 0; k < pairs.size(); k++) {
        send(make_block(pairs[k], counter++));
        // The ticker's text enters at the right of the strip along the top
        // edge and slides left while characters wait.
        if (k == 6 || k == 18) {
            ASSERT_TRUE(x_wait_shot(
                display(), win, [&](const XShot &s) { return shows_text(s, 20, 20, "0 " + std::to_string(counter - 1)); },
                &shot));
            int left = 1600;
            for (int x = 1599; x >= 90; x--)
                if (shot.lit(x, 0, x + 1, 25))
                    left = x;
            EXPECT_LT(left, text_left);
            text_left = left;
        }
    }
    ProcessResult &r = finish();
    EXPECT_EQ(r.status, 0);
    // The fifteenth counted control pair writes the line; the rest of the
    // stream is lost at its end.
    EXPECT_EQ(r.err, "one two. Three four. Five six. \n");
}

// Start-up failures need no server, or one that cannot be reached.
TEST(RunInStart, FailuresAreReportedOnceWithStatusOne)
{
    std::string dir = make_temp_dir();
    write_file(dir + "/capture.vbi", std::string(VBI_BLOCK_SIZE, '\0'));

    ProcessOptions opt = {};
    opt.env = standin_env();
    opt.unset = {"DISPLAY", "STANDIN_VBI"};
    ProcessResult r = run_process({bin_path("capscope-runin")}, opt);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "open /dev/vbi: No such file or directory\n");

    opt.env.push_back("STANDIN_VBI=" + dir + "/capture.vbi");
    r = run_process({bin_path("capscope-runin")}, opt);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "DISPLAY not set.\n");

    opt.env.push_back("DISPLAY=:1999");
    r = run_process({bin_path("capscope-runin")}, opt);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Unable to open display.\n");
    EXPECT_EQ(r.out, "");
}

}  // namespace
