// vmemburst's whole test on a window of video memory: on a file-backed
// window of the stand-in's memory file, and as a process under the
// stand-in.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <fcntl.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <regex>
#include <sstream>

#include "burst.h"
#include "hw_files.h"
#include "process.h"

namespace {

// Checks a whole report: the lines in order, with their formats.
void expect_report(const std::string &err, uintptr_t virt, const uint8_t *first)
{
    std::vector<std::string> lines;
    std::istringstream in(err);
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    ASSERT_EQ(lines.size(), 9u) << err;

    char text[BURST_TEXT_SIZE];
    burst_format_mapping(text, sizeof text, virt);
    EXPECT_EQ(lines[0] + "\n", text);
    burst_format_dump(text, sizeof text, virt, first);
    EXPECT_EQ(lines[1] + "\n", text);
    EXPECT_EQ(lines[2], "");
    EXPECT_EQ(lines[3], "Testing sequential video memory burst writes.");
    EXPECT_EQ(lines[4], "wrote 383909888 bytes to sequential video mem addresses.");
    std::smatch stop, start, elapsed;
    ASSERT_TRUE(std::regex_match(lines[5], stop, std::regex("stop time  = ( *\\d+)\\.(\\d{6})")))
        << lines[5];
    ASSERT_TRUE(std::regex_match(lines[6], start, std::regex("start time = ( *\\d+)\\.(\\d{6})")))
        << lines[6];
    ASSERT_TRUE(std::regex_match(
        lines[7], elapsed,
        std::regex("elapsed    = ( *\\d+)\\.(\\d{6})\t( *\\d+\\.\\d{6}) bytes/sec")))
        << lines[7];
    EXPECT_EQ(stop[1].length(), 10);
    EXPECT_EQ(start[1].length(), 10);
    EXPECT_EQ(elapsed[1].length(), 10);
    EXPECT_GE(elapsed[3].length(), 16);
    // The stop line is the later time; elapsed is their difference.
    BurstTime t0 = {std::stoi(start[1]), std::stoi(start[2])};
    BurstTime t1 = {std::stoi(stop[1]), std::stoi(stop[2])};
    BurstTime e = burst_elapsed(t0, t1);
    EXPECT_GE(e.sec, 0);
    EXPECT_EQ(std::stoi(elapsed[1]), e.sec);
    EXPECT_EQ(std::stoi(elapsed[2]), e.usec);
    EXPECT_EQ(lines[8], "");
    EXPECT_EQ(err.substr(err.size() - 2), "\n\n");
}

struct MemFile {
    std::string path;
    uint8_t before[BURST_WINDOW_SIZE];
};

void make_window(MemFile *mem)
{
    mem->path = make_temp_dir() + "/mem";
    fill_pattern(mem->before);
    make_mem_file(mem->path, mem->before);
}

std::string bytes(const uint8_t *p, size_t n)
{
    return std::string(reinterpret_cast<const char *>(p), n);
}

TEST(BurstRun, ReportsTimesAndRestoresAFileBackedWindow)
{
    static MemFile mem;
    make_window(&mem);
    int fd = open(mem.path.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    void *p = mmap(nullptr, BURST_WINDOW_SIZE, PROT_READ | PROT_WRITE, MAP_SHARED, fd,
                   (off_t)BURST_PHYS_ADDR);
    close(fd);
    ASSERT_NE(p, MAP_FAILED);
    FILE *report = tmpfile();
    ASSERT_NE(report, nullptr);
    static uint8_t save[BURST_WINDOW_SIZE];
    burst_run(reinterpret_cast<uintptr_t>(p), save, report);

    EXPECT_EQ(bytes(static_cast<uint8_t *>(p), BURST_WINDOW_SIZE),
              bytes(mem.before, BURST_WINDOW_SIZE));
    munmap(p, BURST_WINDOW_SIZE);
    EXPECT_EQ(read_mem_window(mem.path), bytes(mem.before, BURST_WINDOW_SIZE));

    std::string err(4096, '\0');
    rewind(report);
    err.resize(fread(&err[0], 1, err.size(), report));
    fclose(report);
    expect_report(err, reinterpret_cast<uintptr_t>(p), mem.before);
}

ProcessResult run_vmemburst(const std::string &mem_path)
{
    ProcessOptions opt;
    opt.env = standin_env();
    if (!mem_path.empty())
        opt.env.push_back("STANDIN_MEM=" + mem_path);
    return run_process({bin_path("vmemburst")}, opt);
}

TEST(Vmemburst, FailedOpenIsTheOnlyOutput)
{
    ProcessResult r = run_vmemburst("");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "open /dev/mem: No such file or directory\n");
    EXPECT_EQ(r.out, "");
}

TEST(Vmemburst, FailedMappingIsTheOnlyOutput)
{
    // A FIFO opens read-write but cannot be mapped; where a mapping at
    // address 0 is refused anyway, that refusal is the failure seen.
    std::string fifo = make_temp_dir() + "/mem";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ProcessResult r = run_vmemburst(fifo);
    EXPECT_EQ(r.status, 1);
    const std::string text =
        "mmap 131072 bytes of /dev/mem at physical 0xe8000000 to virtual 0x00000000: ";
    EXPECT_EQ(r.err.substr(0, text.size()), text) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(r.err.back(), '\n');
    EXPECT_EQ(r.out, "");
}

// The whole program: map at 0, save, the fills, the report, the restore.
// Where this machine refuses a mapping at address 0, the 32-bit vmemburst
// runs under qemu-i386-static with the 32-bit stand-in library, against
// the same memory file: the emulated program has an address 0 to map.
TEST(Vmemburst, RunsOnTheStandInWindowAtAddressZero)
{
    static MemFile mem;
    make_window(&mem);
    std::string why;
    ProcessResult r;
    std::string how;
    if (can_map_page_zero(&why)) {
        how = "natively";
        r = run_vmemburst(mem.path);
    } else {
#ifdef VT_TARGET32_BIN_DIR
        how = "as a 32-bit program under " VT_QEMU_I386 " (" VT_TARGET32_BIN_DIR "), since " + why;
        ProcessOptions opt;
        opt.env = {"LD_PRELOAD=" VT_TARGET32_BIN_DIR "/libdevstandin.so",
                   "STANDIN_MEM=" + mem.path};
        r = run_process({VT_QEMU_I386, VT_TARGET32_BIN_DIR "/vmemburst"}, opt);
#else
        GTEST_SKIP() << why << ", and this build made no 32-bit vmemburst to run under qemu";
#endif
    }
    printf("vmemburst ran %s\n", how.c_str());
    RecordProperty("ran", how);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    expect_report(r.err, 0, mem.before);
    EXPECT_EQ(r.err.substr(0, 10), "mapped 131");
    EXPECT_EQ(r.err.find("\n00000000: "), r.err.find('\n'));
    EXPECT_EQ(read_mem_window(mem.path), bytes(mem.before, BURST_WINDOW_SIZE));
}

TEST(StandinMem, MapsTheWindowAtItsPhysicalOffset)
{
    static MemFile mem;
    make_window(&mem);
    ProcessOptions opt;
    opt.env = standin_env();
    opt.env.push_back("STANDIN_MEM=" + mem.path);
    ProcessResult r = run_process({bin_path("hw_mem_probe")}, opt);
    ASSERT_EQ(r.status, 0) << r.err;
    char dump[64] = "";
    for (int i = 0; i < 16; i++)
        snprintf(dump + 3 * i, sizeof dump - 3 * i, "%02x ", mem.before[i]);
    EXPECT_EQ(r.out, std::string(dump) + "\n");
    std::string after = read_mem_window(mem.path);
    EXPECT_EQ((uint8_t)after[0], 0xA5);  // a shared mapping: the store reached the file
    EXPECT_EQ(after.substr(1), bytes(mem.before + 1, BURST_WINDOW_SIZE - 1));
}

}  // namespace
