// Recordings made through the dialog under Wine, decoded by ffprobe and
// ffmpeg and compared with what the host rendered.
#include "tests/support/media_probe.h"
#include "tests/support/riff_walk.h"
#include "tests/wine/wine_host.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>

namespace {

struct Recording {
    int width = 160;
    int height = 120;
    int fps = 25;
    bool raw = false;
    std::string end = "stop";
    std::string thenFps;
};

struct Recorded {
    std::string file;
    ProgramOutput output;
};

Recorded record(const PluginFolder& folder, const Recording& recording)
{
    std::vector<std::string> arguments {"--out", folder.windowsPath("out.avi"), "--fps", std::to_string(recording.fps),
                                        "--size",
                                        std::to_string(recording.width) + "x" + std::to_string(recording.height),
                                        "--seconds", "2", "--end", recording.end, "--frames"};
    if (recording.raw)
        arguments.push_back("--raw");
    if (!recording.thenFps.empty()) {
        arguments.push_back("--then-fps");
        arguments.push_back(recording.thenFps);
    }
    return {folder.hostPath("out.avi"), runWinhost("record", folder, arguments)};
}

// A whole recording, checked from the header to the last pixel.
void expectRecordingOf(const Recorded& recorded, const Recording& recording)
{
    const ProgramOutput& output = recorded.output;
    ASSERT_TRUE(output.finished()) << output.transcript();
    EXPECT_EQ(output.value("caption after save"), "STOP");
    EXPECT_EQ(output.value("picture altered"), "0") << "the effect changed the host's picture";

    RecordingStatus status;
    ASSERT_TRUE(parseStatus(output.value("status"), status)) << output.value("status");
    ASSERT_GT(status.frames, 0);
    const long long frameBytes = recording.raw ? 4ll * recording.width * recording.height
                                               : ((recording.width * 3 + 3) & ~3) * 1ll * recording.height;
    EXPECT_EQ(status.megabytes, status.frames * frameBytes / 1048576);

    ProbedStream stream;
    ASSERT_TRUE(probeStream(recorded.file, stream)) << recorded.file;
    EXPECT_EQ(stream.codec, "rawvideo");
    EXPECT_EQ(stream.pixelFormat, recording.raw ? "bgra" : "bgr24");
    EXPECT_EQ(stream.width, recording.width);
    EXPECT_EQ(stream.height, recording.height);
    EXPECT_EQ(stream.frameRate, std::to_string(recording.fps) + "/1");

    const std::vector<ProbedPacket> packets = probeFramePackets(recorded.file);
    EXPECT_EQ(static_cast<int>(packets.size()), status.frames) << "the status counts every frame in the file";
    for (const ProbedPacket& packet : packets)
        EXPECT_EQ(packet.size, frameBytes);
    EXPECT_GE(stream.frameCount, status.frames);

    const std::vector<uint32_t> numbers = decodedFrameNumbers(recorded.file, recording.width, recording.height, recording.raw);
    EXPECT_EQ(static_cast<int>(numbers.size()), status.frames);
    const auto rendered = static_cast<uint32_t>(std::stoul(output.value("frames rendered")));
    for (size_t i = 0; i < numbers.size(); ++i) {
        EXPECT_GE(numbers[i], 2u) << "frame 1 was rendered before Save";
        EXPECT_LE(numbers[i], rendered);
        if (i > 0) {
            EXPECT_GT(numbers[i], numbers[i - 1]) << "frames are in the order the host rendered them";
        }
    }
}

} // namespace

TEST(Recording, StandardFramesDecodeToWhatTheHostRenderedAtAnOddWidth)
{
    PluginFolder folder("standard");
    Recording recording;
    recording.width = 161;
    recording.height = 121;
    const Recorded recorded = record(folder, recording);
    expectRecordingOf(recorded, recording);
}

TEST(Recording, RawFramesDecodeToWhatTheHostRendered)
{
    PluginFolder folder("raw");
    Recording recording;
    recording.raw = true;
    recording.fps = 30;
    const Recorded recorded = record(folder, recording);
    expectRecordingOf(recorded, recording);
    EXPECT_EQ(recorded.output.value("raw"), "1");
}

// Our writer keeps every frame at the position the clock gave it, so its
// timestamp tells when the host handed it over. AVIFile under Wine moves
// later frames by one position, so there only the order is checked.
TEST(Recording, EachFrameLandsAtItsClockPosition)
{
    if (!windowsBuild().ownWriter)
        GTEST_SKIP() << "Wine's AVIFile shifts positions; checked on our own writer";
    PluginFolder folder("positions");
    Recording recording;
    const Recorded recorded = record(folder, recording);
    ASSERT_TRUE(recorded.output.finished()) << recorded.output.transcript();

    unsigned long saveBefore = 0, saveAfter = 0;
    ASSERT_EQ(std::sscanf(recorded.output.value("save clicked").c_str(), "%lu %lu", &saveBefore, &saveAfter), 2);
    std::map<uint32_t, RenderedFrame> calls;
    for (const RenderedFrame& frame : renderedFrames(recorded.output))
        calls[frame.number] = frame;

    const std::vector<ProbedPacket> packets = probeFramePackets(recorded.file);
    const std::vector<uint32_t> numbers = decodedFrameNumbers(recorded.file, recording.width, recording.height, recording.raw);
    ASSERT_EQ(packets.size(), numbers.size());
    ASSERT_FALSE(packets.empty());
    for (size_t i = 0; i < packets.size(); ++i) {
        ASSERT_TRUE(calls.count(numbers[i])) << "frame " << numbers[i] << " was never rendered";
        const RenderedFrame& call = calls[numbers[i]];
        // The effect read the clock inside the call and started it inside the click.
        const int64_t earliest = (int64_t(call.before) - int64_t(saveAfter)) * recording.fps / 1000;
        const int64_t latest = (int64_t(call.after) - int64_t(saveBefore)) * recording.fps / 1000;
        EXPECT_GE(packets[i].pts, std::max<int64_t>(earliest, 1)) << "host frame " << numbers[i];
        EXPECT_LE(packets[i].pts, latest) << "host frame " << numbers[i];
        if (i > 0) {
            EXPECT_GT(packets[i].pts, packets[i - 1].pts);
        }
    }
    ProbedStream stream;
    ASSERT_TRUE(probeStream(recorded.file, stream));
    EXPECT_EQ(declaredStart(recorded.file) + stream.frameCount, packets.back().pts + 1)
        << "the stream ends with its last frame";
}

TEST(Recording, StopClosesTheFileAndRestoresTheCaption)
{
    PluginFolder folder("stop");
    Recording recording;
    const Recorded recorded = record(folder, recording);
    expectRecordingOf(recorded, recording);
    EXPECT_EQ(recorded.output.value("caption at end"), "STOP");
    EXPECT_EQ(recorded.output.value("caption after stop"), "Save");
    EXPECT_EQ(recorded.output.value("status after stop"), recorded.output.value("status"))
        << "frames after STOP are not counted";
}

TEST(Recording, DeletingTheEffectWhileItRecordsFinishesTheFile)
{
    PluginFolder folder("delete");
    Recording recording;
    recording.end = "delete";
    const Recorded recorded = record(folder, recording);
    expectRecordingOf(recorded, recording);
    EXPECT_TRUE(recorded.output.has("deleted while recording"));
}

TEST(Recording, ANewFrameSizeEndsTheRecordingAndResetsTheCaption)
{
    PluginFolder folder("resize");
    Recording recording;
    recording.end = "resize";
    const Recorded recorded = record(folder, recording);
    expectRecordingOf(recorded, recording);
    EXPECT_EQ(recorded.output.value("caption after resize"), "save");
}

TEST(RecordingErrors, AnImpossiblePathShowsCannotCreateFile)
{
    PluginFolder folder("impossible");
    const std::string impossible = folder.windowsPath("no such folder\\out.avi");
    const ProgramOutput output =
        runWinhost("record", folder, {"--out", impossible, "--seconds", "0.2", "--end", "stop"});
    ASSERT_TRUE(output.finished()) << output.transcript();
    EXPECT_EQ(output.value("box 0 caption"), "error");
    EXPECT_EQ(output.value("box 0 text"), "cannot create file");
    EXPECT_EQ(output.value("box 0 icon"), "1") << "the information icon";
    EXPECT_EQ(output.value("box 0 buttons"), "OK");
    EXPECT_EQ(output.value("box 0 owner"), "host window");
    EXPECT_FALSE(output.has("box 1 caption"));
    EXPECT_EQ(output.value("caption after save"), "Save") << "a failed start leaves the caption";
    EXPECT_LT(fileSize(folder.hostPath("no such folder/out.avi")), 0);
}

// A frame rate typed mid-recording that puts the next position further
// than our writer accepts: the write fails with a Windows error code, and
// the box shows the system's text for it.
TEST(RecordingErrors, AFailedWriteShowsTheSystemsTextAndEndsTheRecording)
{
    if (!windowsBuild().ownWriter)
        GTEST_SKIP() << "AVIFile accepts any position";
    PluginFolder folder("write-error");
    Recording recording;
    recording.end = "none";
    recording.thenFps = "99999999";
    const Recorded recorded = record(folder, recording);
    const ProgramOutput& output = recorded.output;
    ASSERT_TRUE(output.finished()) << output.transcript();
    EXPECT_EQ(output.value("box 0 caption"), "error");
    // The system's words for ERROR_INVALID_PARAMETER, as this system words them.
    const ProgramOutput probe = runWriterProbe({"errors", folder.windowsDirectory()});
    const std::string line = probe.value("position far past the end");
    ASSERT_EQ(line.rfind("87 \"", 0), 0u) << probe.transcript();
    const std::string systemText = line.substr(4, line.size() - 5);
    ASSERT_FALSE(systemText.empty());
    std::string text = output.value("box 0 text");
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    EXPECT_EQ(text, systemText);
    EXPECT_EQ(output.value("box 0 icon"), "1");
    EXPECT_EQ(output.value("box 0 owner"), "host window");
    EXPECT_FALSE(output.has("box 1 caption")) << "one error, one box";
    EXPECT_EQ(output.value("caption at end"), "save");

    RecordingStatus status;
    ASSERT_TRUE(parseStatus(output.value("status"), status)) << output.value("status");
    const std::vector<uint32_t> numbers = decodedFrameNumbers(recorded.file, recording.width, recording.height, recording.raw);
    EXPECT_EQ(static_cast<int>(numbers.size()), status.frames) << "the file is closed and kept";
}

TEST(Lifetime, EffectsComeAndGoWithoutLeaking)
{
    PluginFolder folder("lifetime");
    const ProgramOutput output = runWinhost("lifetime", folder, {"--cycles", "40"});
    ASSERT_TRUE(output.finished()) << output.transcript();
    const long long before = std::stoll(output.value("heap before"));
    const long long after = std::stoll(output.value("heap after"));
    EXPECT_LT(after - before, 40) << "heap grew from " << before << " to " << after << " bytes";
    EXPECT_FALSE(output.has("box 0 caption")) << output.transcript();
}

TEST(Lifetime, RecordingsCutShortByDeletionLeakNothing)
{
    PluginFolder folder("lifetime-recording");
    const ProgramOutput output =
        runWinhost("lifetime", folder, {"--cycles", "20", "--out", folder.windowsPath("cycle.avi")});
    ASSERT_TRUE(output.finished()) << output.transcript();
    const long long before = std::stoll(output.value("heap before"));
    const long long after = std::stoll(output.value("heap after"));
    EXPECT_LT(after - before, 20) << "heap grew from " << before << " to " << after << " bytes";
    EXPECT_FALSE(output.has("box 0 caption")) << output.transcript();
    EXPECT_GT(probeFramePackets(folder.hostPath("cycle.avi")).size(), 0u) << "the last recording was finished";
}
