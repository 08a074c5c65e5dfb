// The two logo converters against the file system: outputs that refuse to
// be written (a full device, a read-only file, a folder) and inputs that
// are no plain file of the format (a folder, a FIFO, an empty file).  Each
// ends with one clear message and status 1; an input failure leaves an
// existing output as it was.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "process.h"

namespace {

struct Converter {
    const char *name;
    std::string input;           // a good input file
    const char *short_message;   // for an input the first read cannot fill
};

std::string good_ppm()
{
    std::string raster(49152, '\0');
    for (size_t i = 0; i < raster.size(); i++)
        raster[i] = (char)(i * 7 + i / 384);
    return "P6\n128 128\n255\n" + raster;
}

const Converter &converter(int i)
{
    static const Converter c[] = {
        {"crestmake", good_ppm(), "cannot read ppm header\n"},
        {"crestimg", std::string(16384, '\x2a'), "input file not in crest format\n"},
    };
    return c[i];
}

class ConverterFaults : public ::testing::TestWithParam<int> {
protected:
    const Converter &c = converter(GetParam());
    std::string dir = make_temp_dir();
    std::string in = dir + "/in";
    std::string out = dir + "/out";

    ProcessResult convert(const std::string &from, const std::string &to)
    {
        ProcessOptions opt;
        opt.timeout = 60;
        return run_process({bin_path(c.name), from, to}, opt);
    }
    void TearDown() override
    {
        if (!HasFailure())
            run_process({"/bin/rm", "-rf", dir});
    }
};

TEST_P(ConverterFaults, OutputOnAFullDeviceOrAFolder)
{
    write_file(in, c.input);
    ProcessResult r = convert(in, "/dev/full");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "/dev/full: No space left on device\n");

    ProcessResult d = convert(in, dir);
    EXPECT_EQ(d.status, 1);
    EXPECT_EQ(d.err, dir + ": Is a directory\n");
}

// The palette dump goes to standard output; on a full device it is lost
// and must not end as a success.
TEST(CrestmakeDump, OnAFullDevice)
{
    ProcessResult r = run_process({"/bin/sh", "-c", "exec \"$0\" -m >/dev/full", bin_path("crestmake")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "stdout: No space left on device\n");
}

TEST_P(ConverterFaults, ReadOnlyOutputIsRefusedAndKept)
{
    write_file(in, c.input);
    write_file(out, "keep me");
    chmod(out.c_str(), 0444);
    // Root writes through the permission bits; the immutable flag stops
    // it where the file system has one.
    bool immutable = geteuid() == 0 && run_process({"/usr/bin/chattr", "+i", out}).status == 0;
    int probe = open(out.c_str(), O_WRONLY);
    int why = errno;
    if (probe >= 0) {
        close(probe);
        GTEST_SKIP() << "no way to make a file read-only for this user here";
    }
    ProcessResult r = convert(in, out);
    if (immutable)
        run_process({"/usr/bin/chattr", "-i", out});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, out + ": " + strerror(why) + "\n");
    EXPECT_TRUE(read_file(out) == "keep me");
}

TEST_P(ConverterFaults, InputThatIsNoFileOfTheFormat)
{
    write_file(out, "keep me");
    // A folder: it opens, but the first read fails.
    ProcessResult r = convert(dir, out);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.short_message);

    write_file(in, "");
    r = convert(in, out);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.short_message);
    EXPECT_TRUE(read_file(out) == "keep me");
}

// A FIFO holding a whole input file and more.  crestimg reads its file
// front to back and converts it; crestmake must go back to where its
// header ended, which a FIFO cannot do, and says so instead of converting
// the bytes that happen to follow.
TEST_P(ConverterFaults, InputFromAFifo)
{
    ASSERT_EQ(mkfifo(in.c_str(), 0600), 0);
    write_file(out, "keep me");
    // Held open for writing by the test, so that the program's open does
    // not wait and its reads find the data already queued.
    int w = open(in.c_str(), O_RDWR);
    ASSERT_GE(w, 0);
    std::string data = c.input + std::string(1009, '\x11');
    ASSERT_EQ(write(w, data.data(), data.size()), (ssize_t)data.size());
    ProcessResult r = convert(in, out);
    close(w);
    if (std::string(c.name) == "crestmake") {
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, in + ": Illegal seek\n");
        EXPECT_TRUE(read_file(out) == "keep me");
    } else {
        EXPECT_EQ(r.status, 0) << r.err;
        std::string plain = dir + "/plain";
        write_file(plain, c.input);
        std::string expected_out = dir + "/expected";
        ASSERT_EQ(convert(plain, expected_out).status, 0);
        EXPECT_TRUE(read_file(out) == read_file(expected_out));
    }
}

INSTANTIATE_TEST_SUITE_P(Converters, ConverterFaults, ::testing::Values(0, 1),
                         [](const ::testing::TestParamInfo<int> &i) { return std::string(converter(i.param).name); });

}  // namespace
