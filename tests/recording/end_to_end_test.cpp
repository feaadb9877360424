// The stand-in host records through the plug-in's dialog on the virtual
// clock; ffmpeg decodes the file and every frame must be the host's render
// at the moment its position came, with its timestamp exact.
#include "host/animation.h"
#include "recording/pacing.h"
#include "tests/support/media_probe.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <map>

namespace {

struct Recording {
    int width;
    int height;
    int frameRate;
    int hostFps;
    double seconds;
    bool raw;
};

// The host call whose frame the plug-in wrote at each position: the first
// call at which the pacing clock reached that position.
std::map<int64_t, uint32_t> expectedCalls(const Recording& recording)
{
    std::map<int64_t, uint32_t> calls;
    int64_t last = 0;
    const uint32_t total = static_cast<uint32_t>(recording.seconds * recording.hostFps + 0.5);
    for (uint32_t call = 1; call <= total; ++call) {
        const int64_t elapsed = int64_t(call) * 1000 / recording.hostFps;
        const int64_t position = framePeriods(elapsed, recording.frameRate);
        if (position != last)
            calls[position] = call;
        last = position;
    }
    return calls;
}

std::vector<uint8_t> expectedPicture(const Recording& recording, uint32_t call)
{
    std::vector<uint32_t> pixels(static_cast<size_t>(recording.width) * recording.height);
    renderAnimationFrame(pixels.data(), recording.width, recording.height, call);
    return decodedHostPicture(pixels, recording.raw);
}

void recordAndCompare(const Recording& recording)
{
    TempDir dir;
    const std::string path = dir.file("e2e.avi");
    std::string output;
    const std::string command = shellQuote(hostPath()) + " record " + shellQuote(pluginPath()) + " --out " +
                                shellQuote(path) + " --size " + std::to_string(recording.width) + "x" +
                                std::to_string(recording.height) + " --fps " + std::to_string(recording.frameRate) +
                                " --host-fps " + std::to_string(recording.hostFps) + " --seconds " +
                                std::to_string(recording.seconds) + (recording.raw ? " --raw" : "") +
                                " --virtual-clock --quiet 2>&1";
    ASSERT_EQ(runCommand(command, &output), 0) << output;

    const auto calls = expectedCalls(recording);
    ProbedStream stream;
    ASSERT_TRUE(probeStream(path, stream));
    EXPECT_EQ(stream.codec, "rawvideo");
    EXPECT_EQ(stream.pixelFormat, recording.raw ? "bgra" : "bgr24");
    EXPECT_EQ(stream.width, recording.width);
    EXPECT_EQ(stream.height, recording.height);
    EXPECT_EQ(stream.frameRate, std::to_string(recording.frameRate) + "/1");

    const auto packets = probePackets(path);
    std::string errors;
    const auto frames =
        decodeFrames(path, recording.raw ? "bgra" : "bgr24", recording.width, recording.height, &errors);
    ASSERT_EQ(packets.size(), calls.size()) << output;
    ASSERT_EQ(frames.size(), calls.size()) << errors;
    EXPECT_NE(output.find("status: " + std::to_string(calls.size()) + " frames"), std::string::npos) << output;

    size_t index = 0;
    for (const auto& [position, call] : calls) {
        SCOPED_TRACE("position " + std::to_string(position));
        EXPECT_EQ(packets[index].pts, position);
        uint32_t number = 0;
        if (readFrameNumber(frames[index].data(), recording.width, recording.height,
                            static_cast<size_t>(recording.width) * (recording.raw ? 4 : 3), recording.raw ? 4 : 3,
                            number)) {
            EXPECT_EQ(number, call) << "the frame counter drawn by the host";
        }
        EXPECT_TRUE(frames[index] == expectedPicture(recording, call)) << "pixels of host call " << call;
        ++index;
    }
}

} // namespace

TEST(EndToEnd, StandardRecordingMatchesTheHostPixelForPixel)
{
    recordAndCompare({320, 240, 25, 60, 3.0, false});
}

TEST(EndToEnd, RawRecordingMatchesTheHostPixelForPixel)
{
    recordAndCompare({320, 240, 25, 60, 3.0, true});
}

TEST(EndToEnd, AnOddSizeAndASlowHostLeaveGapsAtExactPositions)
{
    recordAndCompare({321, 203, 30, 17, 4.0, false});
}

TEST(EndToEnd, ASixtyFpsRawRecordingOfAFasterHostMatchesAtAnOddSize)
{
    recordAndCompare({97, 61, 60, 144, 2.0, true});
}
