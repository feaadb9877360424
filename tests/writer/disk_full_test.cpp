// Writes the disk or the process may not make: the error names the OS's
// reason, and the file closed afterwards holds every frame reported written.
#include "tests/support/media_probe.h"
#include "tests/support/riff_walk.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

// A tmpfs of the given size, mounted for the test's lifetime.
class SmallFileSystem {
public:
    explicit SmallFileSystem(const std::string& size)
    {
        if (geteuid() != 0)
            return;
        mounted_ = runCommand("mount -t tmpfs -o size=" + size + " tmpfs " + shellQuote(dir_.path()) +
                              " 2>/dev/null") == 0;
    }
    ~SmallFileSystem()
    {
        if (mounted_)
            runCommand("umount " + shellQuote(dir_.path()));
    }
    bool mounted() const { return mounted_; }
    std::string file(const std::string& name) const { return dir_.file(name); }

private:
    TempDir dir_;
    bool mounted_ = false;
};

struct HostRun {
    int status;
    std::string output;
    int framesCounted;
};

HostRun record(const std::string& prefix, const std::string& path, const std::string& options)
{
    HostRun run {};
    run.status = runCommand(prefix + shellQuote(hostPath()) + " record " + shellQuote(pluginPath()) + " --out " +
                                shellQuote(path) + " --virtual-clock --quiet " + options + " 2>&1",
                            &run.output);
    const size_t at = run.output.find("status: ");
    run.framesCounted = at == std::string::npos ? -1 : std::atoi(run.output.c_str() + at + 8);
    return run;
}

void expectEveryCountedFrame(const HostRun& run, const std::string& path, int width, int height)
{
    EXPECT_EQ(run.status, 2) << run.output; // the plug-in ended the recording
    ASSERT_GT(run.framesCounted, 0) << run.output;
    EXPECT_EQ(static_cast<int>(probePackets(path).size()), run.framesCounted);
    std::string errors;
    EXPECT_EQ(static_cast<int>(decodeFrames(path, "bgr24", width, height, &errors).size()), run.framesCounted)
        << errors;
}

} // namespace

TEST(DiskFull, ASmallFileSystemReportsNoSpaceAndKeepsEveryFrame)
{
    SmallFileSystem disk("3m");
    if (!disk.mounted())
        GTEST_SKIP() << "mounting a tmpfs needs root";
    const std::string path = disk.file("full.avi");
    const HostRun run = record("", path, "--seconds 4");
    EXPECT_NE(run.output.find("[message box \"error\"] No space left on device."), std::string::npos) << run.output;
    expectEveryCountedFrame(run, path, 320, 240);
}

TEST(DiskFull, ClosingNeedsNoSpaceTheDiskNoLongerHas)
{
    // Tiny frames make the index a large part of the file: without space
    // set aside for it, the last frames would leave no room for the index.
    SmallFileSystem disk("1m");
    if (!disk.mounted())
        GTEST_SKIP() << "mounting a tmpfs needs root";
    const std::string path = disk.file("tiny.avi");
    const HostRun run = record("", path, "--size 2x2 --fps 1000 --host-fps 1000 --seconds 60");
    EXPECT_NE(run.output.find("No space left on device."), std::string::npos) << run.output;
    expectEveryCountedFrame(run, path, 2, 2);
    std::vector<RiffChunk> top;
    ASSERT_TRUE(walkRiff(path, top));
    EXPECT_NE(findChunk(top, "idx1"), nullptr) << "the index made it into the file";
}

TEST(DiskFull, AFileSizeLimitInALaterSegmentKeepsEveryFrame)
{
    TempDir dir;
    const std::string path = dir.file("limited.avi");
    const HostRun run = record("prlimit --fsize=2500000 ", path, "--size 64x48 --seconds 60 --segment-size 200000");
    EXPECT_NE(run.output.find("File too large."), std::string::npos) << run.output;
    expectEveryCountedFrame(run, path, 64, 48);
    std::vector<RiffChunk> top;
    ASSERT_TRUE(walkRiff(path, top));
    EXPECT_GT(top.size(), 5u) << "several segments";
}
