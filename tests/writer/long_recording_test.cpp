// A real recording past 4 GiB. It takes minutes and 5 GB of disk, so CI
// leaves it out; scripts/long-test runs it.
#include "host/animation.h"
#include "tests/support/media_probe.h"
#include "tests/support/riff_walk.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(LongRecording, DISABLED_PastFourGibibytesTheLastFrameDecodesAndSeeks)
{
    TempDir dir;
    const std::string path = dir.file("long.avi");
    std::string output;
    // 1920 x 1080 RAW frames of 8294400 bytes: 550 of them make 4.56 GB.
    ASSERT_EQ(runCommand(shellQuote(hostPath()) + " record " + shellQuote(pluginPath()) + " --out " +
                             shellQuote(path) +
                             " --size 1920x1080 --raw --fps 25 --host-fps 25 --seconds 22 --virtual-clock --quiet 2>&1",
                         &output),
              0)
        << output;
    EXPECT_GT(fileSize(path), 4LL << 30);
    std::vector<RiffChunk> top;
    ASSERT_TRUE(walkRiff(path, top));
    EXPECT_GE(top.size(), 5u);

    const auto packets = probePackets(path);
    ASSERT_EQ(packets.size(), 550u);
    EXPECT_EQ(packets.back().pts, 550);

    // Seek straight to the last frame, as a player does.
    std::string last;
    ASSERT_EQ(runCommand("ffmpeg -nostdin -v error -ss 21.99 -i " + shellQuote(path) +
                             " -frames:v 1 -f rawvideo -pix_fmt bgra -",
                         &last),
              0);
    std::vector<uint32_t> expected(1920 * 1080);
    renderAnimationFrame(expected.data(), 1920, 1080, 550);
    ASSERT_EQ(last.size(), expected.size() * 4);
    EXPECT_EQ(std::memcmp(last.data(), expected.data(), last.size()), 0) << "the last frame is frame 550";
}
