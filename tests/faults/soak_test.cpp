// A long run of captext on a live feed of mixed blocks: its resident memory
// must not grow, and every caption that was sent must come out.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <random>

#include "process.h"
#include "streams.h"

namespace {

long resident_kib(pid_t pid)
{
    std::ifstream f("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    long value = -1;
    while (f >> key)
        if (key == "VmRSS:" && f >> value)
            break;
    return value;
}

TEST(Soak, CaptextOverAHundredThousandMixedBlocks)
{
    const long total = 100000;
    std::string dir = make_temp_dir();
    std::string err_path = dir + "/stderr";

    // A caption stream to cycle through, and blocks of pure noise.
    GenOptions o = default_gen();
    o.signal.noise = 5;
    std::string captions = make_stream("Soak line one.\nAnd soak line two!\n", o);
    const long ncap = (long)(captions.size() / VBI_BLOCK_SIZE);
    std::mt19937 rng(3);
    std::string noise(VBI_BLOCK_SIZE, '\0');
    for (auto &c : noise)
        c = (char)rng();

    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sv), 0);
    pid_t pid = fork();
    if (pid == 0) {
        int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(err, 2);
        dup2(sv[1], 3);
        std::vector<std::string> env = standin_env();
        for (auto &e : env)
            putenv(const_cast<char *>(e.c_str()));
        setenv("STANDIN_VBI", "fd:3", 1);
        execl(bin_path("captext").c_str(), "captext", (char *)nullptr);
        _exit(127);
    }
    close(sv[1]);

    std::string block;
    uint32_t counter = 1;
    long rss_start = -1, rss_end = -1, passes = 0;
    for (long b = 0; b < total; b++) {
        long k = b % (ncap + 7);
        if (k < ncap) {
            block.assign(captions, (size_t)k * VBI_BLOCK_SIZE, VBI_BLOCK_SIZE);
            if (k == ncap - 1)
                passes++;
        } else {
            block = noise;
            block[(size_t)(rng() % VBI_BLOCK_SIZE)] ^= 0x55;
        }
        // Counters that advance, jump back and forth and wrap; now and then
        // the driver hands the same frame out twice.
        switch (rng() % 16) {
        case 1: counter -= 5; break;
        case 2: counter += 0x40000000; break;
        default: counter++;
        }
        if (counter == 0)
            counter = 1;
        vbi_set_frame_counter((uint8_t *)&block[0], counter);
        for (int copies = rng() % 16 == 0 ? 2 : 1; copies > 0; copies--)
            ASSERT_EQ(send(sv[0], block.data(), block.size(), MSG_NOSIGNAL), (ssize_t)block.size());
        if (b == 2000)
            rss_start = resident_kib(pid);
    }
    rss_end = resident_kib(pid);
    close(sv[0]);
    int status;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

    EXPECT_GT(rss_start, 0);
    EXPECT_LE(rss_end, rss_start) << "resident memory grew from " << rss_start << " KiB to " << rss_end;

    std::string err = read_file(err_path);
    size_t good = 0;
    for (size_t at = 0; (at = err.find("And soak line two! \n", at)) != std::string::npos; at++)
        good++;
    EXPECT_GE(good, (size_t)passes) << err.substr(0, 400);
    unlink(err_path.c_str());
    rmdir(dir.c_str());
}

}  // namespace
