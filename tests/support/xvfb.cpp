#include "xvfb.h"

#include <X11/extensions/XTest.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

static double now()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

static void pause_ms(int ms)
{
    struct timespec ts = {0, ms * 1000000L};
    nanosleep(&ts, nullptr);
}

bool wait_until(const std::function<bool()> &cond, double timeout)
{
    double deadline = now() + timeout;
    for (;;) {
        if (cond())
            return true;
        if (now() > deadline)
            return false;
        pause_ms(5);
    }
}

// Xvfb chooses a free display number itself (-displayfd), taking its lock
// atomically, so tests running side by side never share a server; it
// writes the number to the pipe once it is ready for clients.  -noreset:
// otherwise the server resets whenever its last client leaves, and a
// connection made in that moment is refused.
bool xvfb_start(XvfbServer *s, double timeout)
{
    signal(SIGPIPE, SIG_IGN);
    int p[2];
    if (pipe2(p, O_CLOEXEC) != 0)
        return false;
    pid_t pid = fork();
    if (pid < 0)
        return false;
    if (pid == 0) {
        int null = ::open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        int fd = dup(p[1]);  // without close-on-exec
        std::string fd_text = std::to_string(fd);
        execlp("Xvfb", "Xvfb", "-displayfd", fd_text.c_str(), "-screen", "0", "1920x1200x24", "-noreset", "-nolisten",
               "tcp", (char *)nullptr);
        _exit(127);
    }
    close(p[1]);
    std::string number;
    double deadline = now() + timeout;
    bool ready = false;
    while (!ready && now() < deadline) {
        struct pollfd pfd = {p[0], POLLIN, 0};
        if (poll(&pfd, 1, 50) <= 0)
            continue;
        char c;
        if (read(p[0], &c, 1) != 1)
            break;  // the server ended before naming its display
        if (c == '\n')
            ready = !number.empty();
        else
            number += c;
    }
    close(p[0]);
    if (ready) {
        std::string name = ":" + number;
        Display *d = XOpenDisplay(name.c_str());
        if (d) {
            XCloseDisplay(d);
            s->pid = pid;
            s->number = atoi(number.c_str());
            s->name = name;
            return true;
        }
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return false;
}

void xvfb_stop(XvfbServer *s)
{
    if (s->pid > 0) {
        kill(s->pid, SIGTERM);
        double deadline = now() + 5;
        int status;
        while (waitpid(s->pid, &status, WNOHANG) == 0) {
            if (now() > deadline) {
                kill(s->pid, SIGKILL);
                waitpid(s->pid, &status, 0);
                break;
            }
            pause_ms(10);
        }
    }
    s->pid = -1;
}

// The programs under test create and destroy their windows while a test
// looks at them; a request on a window that is gone or not yet mapped
// fails, and the test's own checks then report it, instead of Xlib's
// default handler ending the test program.
static int ignore_x_error(Display *, XErrorEvent *)
{
    return 0;
}

void XvfbTest::SetUp()
{
    XSetErrorHandler(ignore_x_error);
    ASSERT_TRUE(xvfb_start(&server_)) << "Xvfb did not start";
    dpy_ = XOpenDisplay(server_.name.c_str());
    ASSERT_NE(dpy_, nullptr);
}

void XvfbTest::TearDown()
{
    if (dpy_)
        XCloseDisplay(dpy_);
    dpy_ = nullptr;
    xvfb_stop(&server_);
}

std::string x_window_name(Display *d, Window w)
{
    char *name = nullptr;
    std::string out;
    if (XFetchName(d, w, &name) && name) {
        out = name;
        XFree(name);
    }
    return out;
}

Window x_find_window(Display *d, const std::string &name, double timeout, bool prefix)
{
    Window found = 0;
    wait_until(
        [&] {
            Window root, parent, *children = nullptr;
            unsigned n = 0;
            if (!XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &n))
                return false;
            for (unsigned i = 0; i < n && !found; i++) {
                std::string title = x_window_name(d, children[i]);
                if (prefix ? title.compare(0, name.size(), name) == 0 && !title.empty() : title == name)
                    found = children[i];
            }
            if (children)
                XFree(children);
            return found != 0;
        },
        timeout);
    return found;
}

bool x_wait_name(Display *d, Window w, const std::string &name, double timeout)
{
    return wait_until([&] { return x_window_name(d, w) == name; }, timeout);
}

bool x_normal_hints(Display *d, Window w, XSizeHints *hints)
{
    long supplied = 0;
    return XGetWMNormalHints(d, w, hints, &supplied) != 0;
}

WindowGeometry x_geometry(Display *d, Window w)
{
    XWindowAttributes a;
    memset(&a, 0, sizeof a);
    XGetWindowAttributes(d, w, &a);
    Window child;
    int rx = 0, ry = 0;
    XTranslateCoordinates(d, w, DefaultRootWindow(d), 0, 0, &rx, &ry, &child);
    return {rx, ry, (unsigned)a.width, (unsigned)a.height};
}

static void pointer_into(Display *d, Window w, int x, int y)
{
    WindowGeometry g = x_geometry(d, w);
    XTestFakeMotionEvent(d, DefaultScreen(d), g.x + x, g.y + y, CurrentTime);
}

void x_press_key(Display *d, Window w, unsigned long keysym, int x, int y)
{
    pointer_into(d, w, x, y);
    KeyCode code = XKeysymToKeycode(d, (KeySym)keysym);
    XTestFakeKeyEvent(d, code, True, CurrentTime);
    XTestFakeKeyEvent(d, code, False, CurrentTime);
    XFlush(d);
}

void x_press_button(Display *d, Window w, unsigned button, int x, int y)
{
    pointer_into(d, w, x, y);
    XTestFakeButtonEvent(d, button, True, CurrentTime);
    XTestFakeButtonEvent(d, button, False, CurrentTime);
    XFlush(d);
}

int XShot::count(uint32_t colour, int x0, int y0, int x1, int y1) const
{
    int n = 0;
    for (int y = y0; y < y1 && y < height; y++)
        for (int x = x0; x < x1 && x < width; x++)
            n += at(x, y) == colour;
    return n;
}

int XShot::lit(int x0, int y0, int x1, int y1) const
{
    int n = 0;
    for (int y = y0; y < y1 && y < height; y++)
        for (int x = x0; x < x1 && x < width; x++)
            n += at(x, y) != 0;
    return n;
}

XShot x_capture(Display *d, Window w)
{
    XShot shot;
    XWindowAttributes a;
    if (!XGetWindowAttributes(d, w, &a) || a.map_state != IsViewable)
        return shot;
    WindowGeometry g = x_geometry(d, w);
    XImage *img = XGetImage(d, w, 0, 0, g.width, g.height, AllPlanes, ZPixmap);
    if (!img)
        return shot;
    shot.width = (int)g.width;
    shot.height = (int)g.height;
    shot.rgb.resize((size_t)shot.width * (size_t)shot.height);
    for (int y = 0; y < shot.height; y++)
        for (int x = 0; x < shot.width; x++) {
            unsigned long p = XGetPixel(img, x, y);
            // The 24-bit TrueColor visual of the test server: 8 bits per
            // channel at the masks of the image.
            uint32_t r = (uint32_t)((p & img->red_mask) >> __builtin_ctzl(img->red_mask));
            uint32_t gr = (uint32_t)((p & img->green_mask) >> __builtin_ctzl(img->green_mask));
            uint32_t b = (uint32_t)((p & img->blue_mask) >> __builtin_ctzl(img->blue_mask));
            shot.rgb[(size_t)y * (size_t)shot.width + (size_t)x] = r << 16 | gr << 8 | b;
        }
    XDestroyImage(img);
    return shot;
}

bool x_wait_shot(Display *d, Window w, const std::function<bool(const XShot &)> &cond, XShot *shot,
                 double timeout)
{
    return wait_until(
        [&] {
            *shot = x_capture(d, w);
            return shot->width > 0 && cond(*shot);
        },
        timeout);
}

void BackgroundProcess::start(const std::vector<std::string> &argv, const ProcessOptions &opt)
{
    thread = std::thread([this, argv, opt] { result = run_process(argv, opt); });
}

ProcessResult &BackgroundProcess::wait()
{
    if (thread.joinable())
        thread.join();
    return result;
}

BackgroundProcess::~BackgroundProcess()
{
    wait();
}

bool LiveFeed::open()
{
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sv) != 0)
        return false;
    ours = sv[0];
    theirs = sv[1];
    // Room for a few whole blocks queued ahead of the program.
    int size = 1 << 20;
    setsockopt(ours, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    setsockopt(theirs, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    return true;
}

std::string LiveFeed::env() const
{
    return "STANDIN_VBI=fd:" + std::to_string(theirs);
}

bool LiveFeed::send(const void *block, size_t size)
{
    return ::send(ours, block, size, MSG_NOSIGNAL) == (ssize_t)size;
}

bool LiveFeed::consumed() const
{
    int queued = 0;
    return ioctl(ours, SIOCOUTQ, &queued) == 0 && queued == 0;
}

bool LiveFeed::wait_consumed(double timeout) const
{
    return wait_until([this] { return consumed(); }, timeout);
}

void LiveFeed::close_child_end()
{
    if (theirs >= 0)
        ::close(theirs);
    theirs = -1;
}

void LiveFeed::close_feed()
{
    if (ours >= 0)
        ::close(ours);
    ours = -1;
}

LiveFeed::~LiveFeed()
{
    close_child_end();
    close_feed();
}
