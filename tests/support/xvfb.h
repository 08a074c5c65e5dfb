// X tests against a real X server: a private Xvfb per test, and the few
// things a test does with a program's window (find it, read its title, hints
// and geometry, press keys and buttons in it, read its pixels back).
#pragma once
// GoogleTest first: Xlib's macros (None, Bool, Status) would break its headers.
#include <gtest/gtest.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "process.h"

// An Xvfb on a display number of its own choosing, 1920x1200x24, no TCP.
// xvfb_start returns once the server accepts connections.
struct XvfbServer {
    pid_t pid = -1;
    int number = -1;
    std::string name;  // ":N", the value for DISPLAY
};
bool xvfb_start(XvfbServer *s, double timeout = 20);
void xvfb_stop(XvfbServer *s);

// A test fixture whose server runs for one test; display() is the test's
// own connection to it.
class XvfbTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    Display *display() const { return dpy_; }
    const std::string &display_name() const { return server_.name; }
    // "DISPLAY=:N" for a child's environment.
    std::string display_env() const { return "DISPLAY=" + server_.name; }

private:
    XvfbServer server_;
    Display *dpy_ = nullptr;
};

// Polls cond every few milliseconds until it holds or timeout seconds pass.
bool wait_until(const std::function<bool()> &cond, double timeout = 20);

// A top-level window (a child of the root) whose WM_NAME is name, or whose
// WM_NAME starts with name when prefix is set; polls until the deadline.
// Returns 0 when none appeared.
Window x_find_window(Display *d, const std::string &name, double timeout = 20, bool prefix = false);

// WM_NAME of the window ("" when it has none).
std::string x_window_name(Display *d, Window w);

// Waits until the window's WM_NAME equals name.
bool x_wait_name(Display *d, Window w, const std::string &name, double timeout = 20);

// WM_NORMAL_HINTS; false when the window has none.
bool x_normal_hints(Display *d, Window w, XSizeHints *hints);

struct WindowGeometry {
    int x, y;  // relative to the root window
    unsigned width, height;
};
WindowGeometry x_geometry(Display *d, Window w);

// Moves the pointer into the window (at its x, y) and presses and releases
// a key (keysym) or a pointer button through XTest; the events go to the
// window under the pointer.  Flushed, not waited for.
void x_press_key(Display *d, Window w, unsigned long keysym = 0x20 /* space */, int x = 10, int y = 10);
void x_press_button(Display *d, Window w, unsigned button = 1, int x = 10, int y = 10);

// The window's contents as 0xRRGGBB pixels, read with XGetImage.
struct XShot {
    int width = 0, height = 0;
    std::vector<uint32_t> rgb;
    uint32_t at(int x, int y) const { return rgb[(size_t)y * (size_t)width + (size_t)x]; }
    // Pixels of colour in the rectangle [x0, x1) x [y0, y1).
    int count(uint32_t colour, int x0, int y0, int x1, int y1) const;
    // Pixels other than black in the rectangle.
    int lit(int x0, int y0, int x1, int y1) const;
};
XShot x_capture(Display *d, Window w);

// Waits until a capture of the window satisfies cond; the last capture is
// left in *shot.
bool x_wait_shot(Display *d, Window w, const std::function<bool(const XShot &)> &cond, XShot *shot,
                 double timeout = 20);

// A program run in a thread of the test while the test drives it (feeds
// its device, presses keys); wait() joins and returns how it ended.
struct BackgroundProcess {
    std::thread thread;
    ProcessResult result;
    void start(const std::vector<std::string> &argv, const ProcessOptions &opt);
    ProcessResult &wait();
    ~BackgroundProcess();
};

// A live VBI feed: a SOCK_SEQPACKET pair whose child end the program gets
// as STANDIN_VBI=fd:N; every send() is one block for the program's read.
struct LiveFeed {
    int ours = -1, theirs = -1;
    bool open();
    std::string env() const;          // "STANDIN_VBI=fd:N"
    bool send(const void *block, size_t size);
    // True once the program has read everything sent so far.
    bool consumed() const;
    bool wait_consumed(double timeout = 20) const;
    void close_child_end();           // after the program has started
    void close_feed();                // end of stream for the program
    ~LiveFeed();
};
