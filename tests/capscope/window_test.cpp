// The scope window built in this process against a private Xvfb: what the
// window manager is asked for, the black start picture, and the marks a
// slicer records drawn in their colours.
#include <gtest/gtest.h>

#include <cstdlib>

#include "scope_window.h"
#include "xvfb.h"

namespace {

const uint32_t kLightBlue = 0x7FC0FF;  // 0x7FFF, 0xC000, 0xFFFF on a 24-bit visual
const uint32_t kWhite = 0xFFFFFF;

class ScopeWindowTest : public XvfbTest {
protected:
    void SetUp() override
    {
        XvfbTest::SetUp();
        setenv("DISPLAY", display_name().c_str(), 1);
    }
};

TEST_F(ScopeWindowTest, AsksForItsPlaceSizeAndTitle)
{
    ScopeWindow w;
    char arg0[] = "capscope";
    char *argv[] = {arg0, nullptr};
    scope_window_open(&w, &scope_layout, 1, argv);
    XFlush(w.display);

    Window win = x_find_window(display(), "capscope 11");
    ASSERT_NE(win, 0u);
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
    EXPECT_EQ(g.x, 100);
    EXPECT_EQ(g.y, 900);
    EXPECT_EQ(g.width, 800u);
    EXPECT_EQ(g.height, 256u);

    XShot shot;
    EXPECT_TRUE(x_wait_shot(display(), win, [](const XShot &s) { return s.count(0, 0, 0, 800, 256) == 800 * 256; },
                            &shot));

    scope_window_set_title(&w, 3);
    XFlush(w.display);
    EXPECT_TRUE(x_wait_name(display(), win, "capscope 3"));

    // Marks land in the pixmap, in their contexts' colours, once the
    // window is cleared.
    ScopeMarks marks;
    marks_clear(&marks);
    marks_line(&marks, MARK_MARKER_GC, 24, 30, 24, 255);
    marks_line(&marks, MARK_TEXT_GC, 300, 30, 300, 256);
    marks_number(&marks, MARK_TEXT_GC, 400, 245, 12345);
    scope_window_draw_marks(&w, &marks);
    XClearWindow(w.display, w.window);
    XFlush(w.display);
    ASSERT_TRUE(x_wait_shot(display(), win, [](const XShot &s) { return s.at(24, 100) == kLightBlue; }, &shot));
    EXPECT_EQ(shot.count(kLightBlue, 24, 30, 25, 256), 226);
    EXPECT_EQ(shot.at(24, 29), 0u);
    EXPECT_EQ(shot.count(kWhite, 300, 30, 301, 256), 226);
    EXPECT_GT(shot.lit(400, 230, 440, 247), 10);

    scope_window_close(&w);
    EXPECT_TRUE(wait_until([&] {
        Window root, parent, *children = nullptr;
        unsigned n = 0;
        XQueryTree(display(), DefaultRootWindow(display()), &root, &parent, &children, &n);
        if (children)
            XFree(children);
        return n == 0;
    }));
}

}  // namespace
