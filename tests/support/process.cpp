#include "process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

#ifndef VT_BIN_DIR
#error "VT_BIN_DIR must name the bin folder of the build"
#endif

std::string bin_path(const std::string &name)
{
    return std::string(VT_BIN_DIR) + "/" + name;
}

std::vector<std::string> standin_env()
{
    const char *asan = getenv("ASAN_OPTIONS");
    std::string opts = asan && *asan ? std::string(asan) + ":" : std::string();
    return {"LD_PRELOAD=" + bin_path("libdevstandin.so"),
            "ASAN_OPTIONS=" + opts + "verify_asan_link_order=0"};
}

static double now()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

ProcessResult run_process(const std::vector<std::string> &argv, const ProcessOptions &opt)
{
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC))
        throw std::runtime_error("pipe");

    // Everything the child needs is built before fork.
    std::vector<std::string> env;
    for (char **e = environ; *e; e++) {
        std::string entry = *e;
        std::string name = entry.substr(0, entry.find('='));
        bool drop = false;
        for (auto &u : opt.unset)
            drop |= u == name;
        for (auto &o : opt.env)
            drop |= o.substr(0, o.find('=')) == name;
        if (!drop)
            env.push_back(entry);
    }
    for (auto &o : opt.env)
        env.push_back(o);
    std::vector<char *> envp, args;
    for (auto &e : env)
        envp.push_back(const_cast<char *>(e.c_str()));
    envp.push_back(nullptr);
    for (auto &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);

    pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork");
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        for (int fd : opt.keep_fds) {
            int flags = fcntl(fd, F_GETFD);
            fcntl(fd, F_SETFD, flags & ~FD_CLOEXEC);
        }
        if (opt.occupy_fds > 3) {
            struct rlimit lim;
            getrlimit(RLIMIT_NOFILE, &lim);
            rlim_t want = (rlim_t)opt.occupy_fds + 64;
            if (lim.rlim_cur < want) {
                lim.rlim_cur = lim.rlim_max == RLIM_INFINITY || lim.rlim_max > want ? want : lim.rlim_max;
                setrlimit(RLIMIT_NOFILE, &lim);
            }
            int null = open("/dev/null", O_RDWR);
            for (int fd = 3; fd < opt.occupy_fds; fd++) {
                bool kept = fd == null;
                for (int k : opt.keep_fds)
                    kept |= k == fd;
                // Open descriptors marked close-on-exec would leave holes.
                if (!kept && dup2(null, fd) != fd)
                    _exit(126);
            }
        }
        if (!opt.cwd.empty() && chdir(opt.cwd.c_str()) != 0)
            _exit(126);
        execve(args[0], args.data(), envp.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);

    ProcessResult r;
    size_t written = 0;
    int in_fd = in[1];
    if (opt.input.empty()) {
        close(in_fd);
        in_fd = -1;
    }
    signal(SIGPIPE, SIG_IGN);
    double deadline = now() + opt.timeout;
    int open_fds = 2;
    int out_fd = out[0], err_fd = err[0];
    while (open_fds > 0 || in_fd >= 0) {
        struct pollfd p[3];
        int n = 0;
        if (out_fd >= 0) p[n++] = {out_fd, POLLIN, 0};
        if (err_fd >= 0) p[n++] = {err_fd, POLLIN, 0};
        if (in_fd >= 0) p[n++] = {in_fd, POLLOUT, 0};
        double left = deadline - now();
        if (left <= 0) {
            kill(pid, SIGKILL);
            r.timed_out = true;
            break;
        }
        int ready = poll(p, n, (int)(left * 1000) + 1);
        if (ready < 0 && errno != EINTR)
            break;
        for (int k = 0; k < n; k++) {
            if (!p[k].revents)
                continue;
            if (p[k].fd == in_fd) {
                ssize_t w = write(in_fd, opt.input.data() + written, opt.input.size() - written);
                if (w > 0)
                    written += (size_t)w;
                if (w < 0 || written == opt.input.size()) {
                    close(in_fd);
                    in_fd = -1;
                }
                continue;
            }
            char buf[65536];
            ssize_t got = read(p[k].fd, buf, sizeof buf);
            std::string &dst = p[k].fd == out_fd ? r.out : r.err;
            if (got > 0) {
                dst.append(buf, (size_t)got);
            } else {
                close(p[k].fd);
                (p[k].fd == out_fd ? out_fd : err_fd) = -1;
                open_fds--;
            }
        }
    }
    if (in_fd >= 0) close(in_fd);
    if (out_fd >= 0) close(out_fd);
    if (err_fd >= 0) close(err_fd);
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
    return r;
}

namespace {
// The scratch folders of one test program, removed when it ends (only by
// the process that made them, not by a forked child that exits).
struct TempDirs {
    pid_t owner = getpid();
    std::vector<std::string> dirs;
    ~TempDirs()
    {
        if (getpid() != owner)
            return;
        for (const std::string &d : dirs) {
            std::error_code ec;
            std::filesystem::remove_all(d, ec);
        }
    }
};
TempDirs temp_dirs;
}  // namespace

std::string make_temp_dir()
{
    char tmpl[] = "/tmp/vbitools-test-XXXXXX";
    if (!mkdtemp(tmpl))
        throw std::runtime_error("mkdtemp");
    temp_dirs.dirs.push_back(tmpl);
    return tmpl;
}

std::string read_file(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

void write_file(const std::string &path, const std::string &data)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(data.data(), (std::streamsize)data.size());
}

Scratch::~Scratch()
{
    std::filesystem::remove_all(dir);
}

std::string generate(const Scratch &s, const std::string &name, std::vector<std::string> args)
{
    std::string path = s / name;
    args.insert(args.begin(), bin_path("vbigen"));
    args.push_back("-o");
    args.push_back(path);
    ProcessResult r = run_process(args);
    EXPECT_EQ(r.status, 0) << r.err;
    return path;
}
