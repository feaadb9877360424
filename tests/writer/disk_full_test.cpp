// Writes the disk or the process may not make: the error names the OS's
// reason, and the file closed afterwards holds every frame reported written.
#include "tests/support/avi_session.h"
#include "tests/support/media_probe.h"
#include "tests/support/riff_walk.h"
#include "tests/support/small_disk.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

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
    const AviCheck check = checkAvi(path, AviState::Closed);
    EXPECT_TRUE(check.consistent()) << check.report();
    EXPECT_EQ(static_cast<int>(check.framePositions().size()), run.framesCounted) << "frames the index describes";
}

constexpr int kBigFrameSide = 1024; // 3 MiB a frame

// Writes 3 MiB frames until the disk refuses one, calling `after` with
// each frame's position, its result and the space free before it.
// Returns the frames written.
template<typename After>
int fillWithBigFrames(const SmallDisk& disk, const std::string& path, After after)
{
    AviSession session;
    EXPECT_EQ(session.open(path, bitmapFormat(kBigFrameSide, kBigFrameSide, 24)), 0);
    const std::vector<uint8_t> frame(kBigFrameSide * kBigFrameSide * 3, 0x5A);
    for (LONG position = 1; position < 100; ++position) {
        const uint64_t freeBefore = disk.freeBytes();
        const HRESULT result = session.write(position, frame);
        after(position, result, freeBefore);
        if (result != 0) {
            EXPECT_EQ(errorText(result), "No space left on device.");
            return position - 1;
        }
    }
    ADD_FAILURE() << "the disk never filled";
    return 0;
}

} // namespace

TEST(DiskFull, ASmallFileSystemReportsNoSpaceAndKeepsEveryFrame)
{
    SmallDisk disk(SmallDisk::Kind::Tmpfs, 3);
    if (!disk.mounted())
        GTEST_SKIP() << disk.whyNot();
    const std::string path = disk.file("full.avi");
    const HostRun run = record("", path, "--seconds 4");
    EXPECT_NE(run.output.find("[message box \"error\"] No space left on device."), std::string::npos) << run.output;
    expectEveryCountedFrame(run, path, 320, 240);
}

TEST(DiskFull, ClosingNeedsNoSpaceTheDiskNoLongerHas)
{
    // Tiny frames make the index a large part of the file: without space
    // set aside for it, the last frames would leave no room for the index.
    SmallDisk disk(SmallDisk::Kind::Tmpfs, 1);
    if (!disk.mounted())
        GTEST_SKIP() << disk.whyNot();
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

TEST(DiskFull, TheReserveAheadOfTheFramesLeavesOtherProgramsTheirSpace)
{
    SmallDisk disk(SmallDisk::Kind::Ext4, 51);
    if (!disk.mounted())
        GTEST_SKIP() << disk.whyNot();
    const std::string path = disk.file("big.avi");
    const int frames = fillWithBigFrames(disk, path, [&](LONG, HRESULT result, uint64_t freeBefore) {
        if (result != 0)
            return;
        // What the file holds past its frames is a small share of what was free.
        EXPECT_LE(allocatedPastEnd(path), static_cast<long long>(freeBefore / 8 + (64 << 10)))
            << freeBefore << " bytes free before the frame";
    });
    EXPECT_GE(frames, 8) << "the frames, not the reserve, filled the disk";
}

TEST(DiskFull, AReservationTheDiskCannotMeetGivesBackWhatItTook)
{
    SmallDisk disk(SmallDisk::Kind::Ext4, 160);
    if (!disk.mounted())
        GTEST_SKIP() << disk.whyNot();
    fillWithBigFrames(disk, disk.file("big.avi"), [&](LONG position, HRESULT result, uint64_t) {
        if (position == 1) {
            // Another program takes all but 2 MiB, less than a frame needs.
            const uint64_t take = disk.freeBytes() - (2 << 20);
            ASSERT_EQ(runCommand("fallocate -l " + std::to_string(take) + " " + shellQuote(disk.file("other"))), 0);
        }
        if (result != 0) {
            EXPECT_GE(disk.freeBytes(), uint64_t(1) << 20) << "the space left that no frame fits in";
        }
    });
}

TEST(DiskFull, WithoutPreallocationTheIndexStillFitsWhenTheDiskFills)
{
    SmallDisk disk(SmallDisk::Kind::Ext2, 2);
    if (!disk.mounted())
        GTEST_SKIP() << disk.whyNot();
    const std::string path = disk.file("tiny.avi");
    const HostRun run = record("", path, "--size 2x2 --fps 1000 --host-fps 1000 --seconds 120");
    EXPECT_NE(run.output.find("No space left on device."), std::string::npos) << run.output;
    expectEveryCountedFrame(run, path, 2, 2);
}
