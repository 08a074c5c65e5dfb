// Both scopes answer every press at once while a stream runs: fed as fast as
// they read (the device always has the next block ready, as a capture file
// or a fast feed does) and at the device's own pace of 29.97 blocks a
// second.  Each press must show in the title within a quarter of a second,
// the time in which a user sees the scope react.
#include "xvfb.h"  // first: GoogleTest before the X headers

#include <time.h>

#include <atomic>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "vbi.h"

namespace {

const double kPromptly = 0.25;  // seconds from press to title
const int kPresses = 12;

double now()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

// A flat block with an even counter: both scopes draw every one of them.
std::vector<uint8_t> flat_block(uint32_t counter)
{
    std::vector<uint8_t> b(VBI_BLOCK_SIZE, 40);
    vbi_set_frame_counter(b.data(), counter);
    return b;
}

// (program, paced)
using Param = std::tuple<const char *, bool>;

class ScopePresses : public XvfbTest, public ::testing::WithParamInterface<Param> {
protected:
    const char *program() const { return std::get<0>(GetParam()); }
    bool paced() const { return std::get<1>(GetParam()); }

    // Presses kPresses times, alternating keys and buttons, and checks each
    // step of the title and how long it took to show.
    void press_and_time(Window win)
    {
        for (int k = 1; k <= kPresses; k++) {
            std::string want = "capscope " + std::to_string((VBI_CAPTION_LINE + k) % VBI_LINES);
            double t0 = now();
            if (k % 2)
                x_press_key(display(), win);
            else
                x_press_button(display(), win, (unsigned)(1 + k % 3));
            ASSERT_TRUE(x_wait_name(display(), win, want, 10)) << "press " << k << " never showed";
            double took = now() - t0;
            EXPECT_LE(took, kPromptly) << "press " << k << " showed after " << took << " s";
        }
    }
};

TEST_P(ScopePresses, EveryPressShowsPromptlyWhileTheStreamRuns)
{
    BackgroundProcess proc;
    ProcessOptions opt;
    opt.env = {display_env()};
    opt.timeout = 120;
    LiveFeed feed;
    std::atomic<bool> stop{false};
    std::thread feeder;

    if (paced()) {
        // Eight seconds of stream at the device's rate, through the runner a
        // user replays captures with.
        std::string data;
        for (uint32_t c = 0; c < 240; c++) {
            std::vector<uint8_t> b = flat_block(2 * c + 2);
            data.append((const char *)b.data(), b.size());
        }
        std::string capture = make_temp_dir() + "/paced.vbi";
        write_file(capture, data);
        proc.start({bin_path("devstandin"), "--pace", "--vbi", capture, bin_path(program())}, opt);
    } else {
        // A feed that always has the next block ready.
        ASSERT_TRUE(feed.open());
        opt.env.push_back(feed.env());
        std::vector<std::string> preload = standin_env();
        opt.env.insert(opt.env.end(), preload.begin(), preload.end());
        opt.keep_fds = {feed.theirs};
        proc.start({bin_path(program())}, opt);
        feeder = std::thread([&] {
            for (uint32_t c = 2; !stop; c += 2) {
                std::vector<uint8_t> b = flat_block(c);
                if (!feed.send(b.data(), b.size()))
                    break;
            }
        });
    }

    Window win = x_find_window(display(), "capscope 11");
    if (win) {
        // Let the stream get going before the first press.
        XShot shot;
        EXPECT_TRUE(x_wait_shot(display(), win, [](const XShot &s) { return s.lit(0, 0, s.width, 256) > 0; },
                                &shot));
        press_and_time(win);
    }

    stop = true;
    if (feeder.joinable())
        feeder.join();
    feed.close_feed();
    ProcessResult &r = proc.wait();
    ASSERT_NE(win, 0u) << "no window; standard error: " << r.err;
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(r.timed_out);
}

INSTANTIATE_TEST_SUITE_P(Scopes, ScopePresses,
                         ::testing::Combine(::testing::Values("capscope", "capscope-runin"),
                                            ::testing::Values(false, true)),
                         [](const ::testing::TestParamInfo<Param> &i) {
                             std::string name = std::get<0>(i.param);
                             for (char &c : name)
                                 if (c == '-')
                                     c = '_';
                             return name + (std::get<1>(i.param) ? "_paced" : "_as_fast_as_read");
                         });

}  // namespace
