// capscope as a process: its start-up failures, and against a private Xvfb
// its window, its line stepping, its picture and its caption output.  Live
// tests feed the program block by block through the stand-in's live feed
// and wait on what the program shows, never on the clock.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "level_slicer.h"
#include "process.h"
#include "scope_helpers.h"
#include "vbi.h"
#include "vbigen_core.h"
#include "xvfb.h"

namespace {

const uint32_t kPink = 0xFF7FC0;       // 0xFFFF, 0x7FFF, 0xC000
const uint32_t kLightBlue = 0x7FC0FF;  // 0x7FFF, 0xC000, 0xFFFF
const uint32_t kWhite = 0xFFFFFF;

std::string capscope()
{
    return bin_path("capscope");
}

std::string blocks_file(const std::vector<std::vector<uint8_t>> &blocks)
{
    std::string data;
    for (auto &b : blocks)
        data.append((const char *)b.data(), b.size());
    std::string path = make_temp_dir() + "/capture.vbi";
    write_file(path, data);
    return path;
}

std::vector<std::string> env_with(std::vector<std::string> extra)
{
    std::vector<std::string> env = standin_env();
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
}

TEST(CapscopeStart, DeviceMissingComesFirst)
{
    ProcessOptions opt;
    opt.env = standin_env();  // no STANDIN_VBI: /dev/vbi0 does not exist
    opt.unset = {"DISPLAY", "STANDIN_VBI"};
    ProcessResult r = run_process({capscope()}, opt);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "open /dev/vbi0: No such file or directory\n");
    EXPECT_EQ(r.out, "");
}

TEST(CapscopeStart, DisplayNotSetOrUnreachable)
{
    std::string capture = blocks_file({make_block(0, 2)});
    ProcessOptions opt;
    opt.env = env_with({"STANDIN_VBI=" + capture});
    opt.unset = {"DISPLAY"};
    ProcessResult r = run_process({capscope()}, opt);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "DISPLAY not set.\n");

    // A display number with no server behind it.
    opt.env = env_with({"STANDIN_VBI=" + capture, "DISPLAY=:4093"});
    opt.unset = {};
    r = run_process({capscope()}, opt);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Unable to open display.\n");
}

class CapscopeX : public XvfbTest {
protected:
    LiveFeed feed;
    BackgroundProcess proc;
    Window win = 0;

    // Starts capscope on the live feed and waits for its window.
    void start_live()
    {
        ASSERT_TRUE(feed.open());
        ProcessOptions opt;
        opt.env = env_with({feed.env(), display_env()});
        opt.keep_fds = {feed.theirs};
        proc.start({capscope()}, opt);
        win = x_find_window(display(), "capscope 11");
        ASSERT_NE(win, 0u) << "no window titled capscope 11";
    }

    // Ends the stream and returns how the program ended.
    ProcessResult &finish()
    {
        feed.close_feed();
        return proc.wait();
    }

    void TearDown() override
    {
        feed.close_feed();
        proc.wait();
        XvfbTest::TearDown();
    }

    ProcessResult run_file(const std::string &capture, std::vector<std::string> extra = {})
    {
        ProcessOptions opt;
        extra.push_back("STANDIN_VBI=" + capture);
        extra.push_back(display_env());
        opt.env = env_with(extra);
        return run_process({capscope()}, opt);
    }
};

TEST_F(CapscopeX, WindowAndEndOfStream)
{
    start_live();
    XSizeHints h;
    ASSERT_TRUE(x_normal_hints(display(), win, &h));
    EXPECT_EQ(h.flags & (PPosition | PSize | PMinSize | PMaxSize), PPosition | PSize | PMinSize | PMaxSize);
    EXPECT_EQ(h.x, 100);
    EXPECT_EQ(h.y, 900);
    EXPECT_EQ(h.width, 800);
    EXPECT_EQ(h.height, 256);
    EXPECT_EQ(h.min_width, 256);
    EXPECT_EQ(h.min_height, 0);
    EXPECT_EQ(h.max_width, 800);
    EXPECT_EQ(h.max_height, 256);
    WindowGeometry g = x_geometry(display(), win);
    EXPECT_EQ(g.width, 800u);
    EXPECT_EQ(g.height, 256u);
    XShot shot;
    EXPECT_TRUE(x_wait_shot(display(), win, [](const XShot &s) { return s.lit(0, 0, 800, 256) == 0; }, &shot))
        << "the window does not start black";

    ProcessResult &r = finish();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "");
}

TEST_F(CapscopeX, PressesStepTheTitle)
{
    start_live();
    // No block is sent: the presses are served while the device is silent.
    x_press_key(display(), win);
    EXPECT_TRUE(x_wait_name(display(), win, "capscope 12"));
    x_press_button(display(), win, 1);
    EXPECT_TRUE(x_wait_name(display(), win, "capscope 13"));
    x_press_button(display(), win, 3);
    EXPECT_TRUE(x_wait_name(display(), win, "capscope 14"));
    // A burst: every press counts, and the eighteenth from here wraps past
    // line 31 to line 0.
    for (int i = 0; i < 18; i++)
        x_press_key(display(), win);
    EXPECT_TRUE(x_wait_name(display(), win, "capscope 0")) << x_window_name(display(), win);
    EXPECT_EQ(finish().status, 0);
}

TEST_F(CapscopeX, PictureShowsTraceMarkersAndTexts)
{
    start_live();
    const uint16_t word = gen_pair('H', 'e');
    std::vector<uint8_t> block = make_block(word, 1234);
    const uint8_t *raw = block.data() + VBI_CAPTION_LINE * VBI_LINE_SIZE;
    // What the slicer decides on this line, worked out here.
    std::vector<uint8_t> smooth(raw, raw + 2048);
    smooth_line(smooth.data());
    ScopeMarks marks;
    marks_clear(&marks);
    ASSERT_EQ(LevelSlicer(smooth.data(), &marks), word);
    ASSERT_EQ(marks.count, 19);

    ASSERT_TRUE(feed.send(block.data(), block.size()));
    XShot shot;
    ASSERT_TRUE(x_wait_shot(display(), win, [](const XShot &s) { return s.count(kPink, 0, 0, 800, 256) > 0; },
                            &shot));

    // The raw trace in pink: plenty of it, and every pink pixel on the raw
    // line's course through its column.
    EXPECT_GT(shot.count(kPink, 0, 0, 800, 256), 50);
    for (int x = 0; x < 800; x++)
        for (int y = 0; y < 256; y++) {
            if (shot.at(x, y) != kPink)
                continue;
            int lo = 255, hi = 0;
            for (int i = 2 * x - 2; i <= 2 * x + 2; i++)
                if (i >= 0 && i < 1600) {
                    lo = std::min(lo, (int)raw[i]);
                    hi = std::max(hi, (int)raw[i]);
                }
            ASSERT_TRUE(y >= 256 - hi && y <= 256 - lo) << "pink at " << x << "," << y;
        }

    // The crest marker in light blue; the start bit, accepted, and the 16
    // bit markers in white, each over the extent the slicer chose.
    const ScopeMark &peak = marks.mark[0];
    EXPECT_GT(shot.count(kLightBlue, peak.x1, 30, peak.x1 + 1, 256), 180);
    for (int m = 2; m < 19; m++) {
        const ScopeMark &k = marks.mark[m];
        int length = k.y2 - k.y1 + 1;
        int y_end = std::min((int)k.y2, 255) + 1;
        EXPECT_GE(shot.count(kWhite, k.x1, k.y1, k.x1 + 1, y_end), std::min(length, 256 - k.y1) - 12)
            << "marker " << m << " at x " << k.x1;
        // The other end of a bit marker stays dark.
        if (m > 2 && k.y1 == 30) {
            EXPECT_EQ(shot.count(kWhite, k.x1, k.y2 + 15, k.x1 + 1, 230), 0) << "1 bit at x " << k.x1;
        }
    }

    // Texts: the error count near the bottom left, the status line at the
    // top left, white, away from the marker columns.
    auto text_pixels = [&](int x0, int y0, int x1, int y1) {
        int n = 0;
        for (int x = x0; x < x1; x++) {
            bool marker = false;
            for (int m = 0; m < marks.count; m++)
                marker |= marks.mark[m].x1 == x;
            if (!marker)
                n += shot.count(kWhite, x, y0, x + 1, y1);
        }
        return n;
    };
    EXPECT_GT(text_pixels(20, 232, 40, 247), 5) << "error count";
    EXPECT_GT(text_pixels(20, 6, 62, 22), 20) << "status line";
    EXPECT_EQ(text_pixels(200, 6, 700, 22), 0) << "the ticker is still beyond the right edge";

    EXPECT_EQ(finish().status, 0);
}

TEST_F(CapscopeX, OddCounterLeavesThePictureAlone)
{
    start_live();
    std::vector<uint8_t> even = make_block(gen_pair('a', 'b'), 10);
    ASSERT_TRUE(feed.send(even.data(), even.size()));
    XShot before;
    ASSERT_TRUE(x_wait_shot(display(), win, [](const XShot &s) { return s.count(kPink, 0, 0, 800, 256) > 0; },
                            &before));

    // A different line with an odd counter: read, then passed over.
    std::vector<uint8_t> odd = make_block(gen_pair('x', 'y'), 11, VBI_CAPTION_LINE, 200);
    ASSERT_TRUE(feed.send(odd.data(), odd.size()));
    ASSERT_TRUE(feed.wait_consumed());
    // The press is taken in a later pass than the odd block's read, so once
    // the title has followed it, that pass is over and anything it had
    // drawn would have reached the server.
    x_press_key(display(), win);
    ASSERT_TRUE(x_wait_name(display(), win, "capscope 12"));
    XSync(display(), False);
    XShot after = x_capture(display(), win);
    EXPECT_TRUE(after.rgb == before.rgb) << "the odd block changed the picture";
    EXPECT_EQ(finish().status, 0);
}

TEST_F(CapscopeX, DecodedStreamWritesCaptionLines)
{
    std::string dir = make_temp_dir();
    ProcessResult gen = run_process({bin_path("vbigen"), "-t", "Hello world.", "-t", "Second line here",
                                     "--counter-start", "2", "--counter-step", "2", "-o", dir + "/c.vbi"});
    ASSERT_EQ(gen.status, 0) << gen.err;
    ProcessResult r = run_file(dir + "/c.vbi");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "hello world. \nSecond line here \n");
    EXPECT_EQ(r.out, "");

    // With every counter odd nothing is decoded.
    gen = run_process({bin_path("vbigen"), "-t", "Hello world.", "--counter-start", "1", "--counter-step", "2",
                       "-o", dir + "/odd.vbi"});
    ASSERT_EQ(gen.status, 0);
    r = run_file(dir + "/odd.vbi");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
}

}  // namespace
