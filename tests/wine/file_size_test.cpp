// Recordings that run into the file size each Windows build can write: the
// standard build goes past 4 GB, the build over the system's AVIFile ends
// before 2 GB with a box. Full-HD RAW frames get there in seconds.
#include "host/animation.h"
#include "tests/support/media_probe.h"
#include "tests/wine/wine_host.h"

#include <gtest/gtest.h>

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFps = 25;
constexpr long long kFrameBytes = 4ll * kWidth * kHeight;

// Records until `until` says so, or for six times as long as `frames`
// frames take at full speed, whichever comes first.
ProgramOutput recordFullHd(const PluginFolder& folder, int frames, const std::vector<std::string>& until)
{
    std::vector<std::string> arguments {"--out", folder.windowsPath("long.avi"), "--raw", "--size",
                                        std::to_string(kWidth) + "x" + std::to_string(kHeight), "--fps",
                                        std::to_string(kFps), "--seconds", std::to_string(6 * frames / kFps)};
    arguments.insert(arguments.end(), until.begin(), until.end());
    return runWinhost("record", folder, arguments);
}

// Every reader plays the file to its end and gets `frames` frames, and the
// last one is the host's picture.
void expectEveryReaderGets(const std::string& file, int frames, const ProgramOutput& output)
{
    const std::vector<ProbedPacket> packets = probeFramePackets(file);
    ASSERT_EQ(static_cast<int>(packets.size()), frames) << "the status counts every frame in the file";
    for (const ProbedPacket& packet : packets)
        ASSERT_EQ(packet.size, kFrameBytes);

    EXPECT_EQ(everyReadersFrameCount(file, WithRemux::No), framesFromEveryReader(frames, WithRemux::No));

    std::string errors;

    const auto last = decodeFrameAt(file, "bgra", kWidth, kHeight, double(packets.back().pts) / kFps, &errors);
    ASSERT_EQ(last.size(), static_cast<size_t>(kFrameBytes)) << errors;
    uint32_t number = 0;
    ASSERT_TRUE(readFrameNumber(last.data(), kWidth, kHeight, 4 * kWidth, 4, number));
    EXPECT_LE(number, std::stoul(output.value("frames rendered")));
    EXPECT_TRUE(last == expectedPixels(number, kWidth, kHeight, true)) << "the last frame differs from host frame "
                                                                       << number;
}

} // namespace

TEST(AnyLength, ARecordingPastFourGigabytesPlaysToItsLastFrameInEveryReader)
{
    if (!windowsBuild().ownWriter)
        GTEST_SKIP() << "the system's AVIFile stops at 2 GB";
    PluginFolder folder("any-length");
    // 4200 MiB is 4.4 GB, past every 32-bit size and offset.
    const ProgramOutput output = recordFullHd(folder, 540, {"--until-mb", "4200", "--end", "stop"});
    ASSERT_TRUE(output.finished()) << output.transcript();
    EXPECT_FALSE(output.has("box 0 caption")) << output.transcript();
    RecordingStatus status;
    ASSERT_TRUE(parseStatus(output.value("status after stop"), status)) << output.transcript();
    ASSERT_GE(status.megabytes, 4200) << output.transcript();

    const std::string file = folder.hostPath("long.avi");
    EXPECT_GT(fileSize(file), 4'300'000'000ll);
    expectEveryReaderGets(file, status.frames, output);
}

TEST(LargestFile, TheSystemAviFileBuildEndsBeforeTwoGigabytesWithABoxAndKeepsEveryCountedFrame)
{
    if (windowsBuild().ownWriter)
        GTEST_SKIP() << "our writer has no such limit";
    PluginFolder folder("largest-file");
    const ProgramOutput output = recordFullHd(folder, 260, {"--until-ended", "--end", "none"});
    ASSERT_TRUE(output.finished()) << output.transcript();
    EXPECT_EQ(output.value("box 0 caption"), "error");
    EXPECT_EQ(output.value("box 0 text"),
              "the file has reached the largest size this build can write (2 GB), so the recording has ended; "
              "use the standard build for longer recordings");
    EXPECT_EQ(output.value("box 0 icon"), "1") << "the information icon";
    EXPECT_EQ(output.value("box 0 buttons"), "OK");
    EXPECT_EQ(output.value("box 0 owner"), "host window");
    EXPECT_FALSE(output.has("box 1 caption")) << "one box";
    EXPECT_EQ(output.value("caption at end"), "save");

    RecordingStatus status;
    ASSERT_TRUE(parseStatus(output.value("status"), status)) << output.transcript();
    const std::string file = folder.hostPath("long.avi");
    const long long size = fileSize(file);
    EXPECT_LT(size, 2147483648ll) << "past 2 GiB the system's AVIFile loses frames";
    EXPECT_GT(size, 2147483648ll - 4 * kFrameBytes) << "the limit leaves a sensible margin, not a wide one";
    expectEveryReaderGets(file, status.frames, output);
}
