// The readers the project installs (ffprobe, GStreamer, MPlayer, mkvmerge)
// over one small set of recordings: each plays every frame, and the last
// one is the host's picture.
#include "host/animation.h"
#include "tests/support/media_probe.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

namespace {

struct Sample {
    const char* name; // also the file's, which MPlayer's options cannot quote
    int width;
    int height;
    int hostFps;
    bool raw;
    const char* segmentSize; // empty: the default
};

// A picture at an odd width, RAW with dropped positions, and OpenDML in
// twenty segments.
const Sample kSamples[] = {
    {"standard-odd-width", 321, 240, 60, false, ""},
    {"raw-with-gaps", 320, 240, 10, true, ""},
    {"opendml", 160, 120, 60, false, "300000"},
};

struct Recorded {
    std::string path;
    int frames = -1; // as the status reports them
};

Recorded record(const TempDir& dir, const Sample& sample)
{
    Recorded recorded {dir.file(std::string(sample.name) + ".avi")};
    std::string options = "--size " + std::to_string(sample.width) + "x" + std::to_string(sample.height) +
                          " --host-fps " + std::to_string(sample.hostFps) + " --seconds 4" +
                          (sample.raw ? " --raw" : "");
    if (*sample.segmentSize)
        options += std::string(" --segment-size ") + sample.segmentSize;
    recorded.frames = recordWithStandInHost(recorded.path, options);
    return recorded;
}

} // namespace

TEST(EveryReader, PlaysEveryFrameOfEachKindOfRecordingToTheLast)
{
    TempDir dir;
    for (const Sample& sample : kSamples) {
        SCOPED_TRACE(sample.name);
        const Recorded recorded = record(dir, sample);
        ASSERT_GT(recorded.frames, 0);
        EXPECT_EQ(everyReadersFrameCount(recorded.path), framesFromEveryReader(recorded.frames));

        std::string errors;
        const auto frames = decodeFrames(recorded.path, sample.raw ? "bgra" : "bgr24", sample.width, sample.height,
                                         &errors);
        ASSERT_EQ(static_cast<int>(frames.size()), recorded.frames) << errors;
        uint32_t number = 0;
        const int bytesPerPixel = sample.raw ? 4 : 3;
        ASSERT_TRUE(readFrameNumber(frames.back().data(), sample.width, sample.height,
                                    static_cast<size_t>(sample.width) * bytesPerPixel, bytesPerPixel, number));
        std::vector<uint32_t> host(static_cast<size_t>(sample.width) * sample.height);
        renderAnimationFrame(host.data(), sample.width, sample.height, number);
        EXPECT_TRUE(frames.back() == decodedHostPicture(host, sample.raw)) << "the last frame, host frame " << number;
    }
}

// The first frame lands at position 1 or later; a file that filled the
// positions before it with empty chunks was counted a frame too long by
// readers that go by the header (ffprobe's nb_frames, mediainfo, OpenCV).
TEST(EveryReader, CountsThePicturesOfARecordingWithoutGapsFromTheHeader)
{
    TempDir dir;
    const Recorded recorded = record(dir, kSamples[0]);
    ASSERT_GT(recorded.frames, 0);
    ProbedStream stream;
    ASSERT_TRUE(probeStream(recorded.path, stream));
    EXPECT_EQ(stream.frameCount, recorded.frames);
    EXPECT_EQ(probePositions(recorded.path).front(), 1) << "the first frame keeps its position as its timestamp";
}
