// The README's commands for sharing and editing a recording, run as the
// README gives them on a 24-bit recording of odd width and height, a RAW
// one with gaps and one made as the demo's: each output shows, from Save
// on, the picture recorded at every position, in the colours the host
// drew, and the song lines up with Save.
#include "tests/support/media_probe.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <sstream>

namespace {

// The largest mean difference per 8-bit sample, over one frame, between
// the sharing copy decoded as its tags say (BT.709, limited range) and the
// recording: halfway between the errors of the right decoding and of the
// wrong ones. Measured on the three recordings below with Debian 12's
// ffmpeg 5.1 (libx264 at -crf 18; the animation's red is a fine pattern
// that 4:2:0 blurs), the worst frame of each:
//   the README's command, decoded BT.709, limited:   3.5, 3.0, 3.6
//   the same file decoded with the BT.601 matrix:    8.5, 8.4, 8.5
//   the same file decoded as full range:             9.8, 9.8, 9.9
//   -pix_fmt yuv420p alone (no tags; the demo's
//   recording only), decoded BT.709, as players
//   take an untagged HD video:                       8.4 (3.4 decoded BT.601)
constexpr double kColourTolerance = 6.0;

struct Sample {
    const char* name;
    const char* options; // apehost's
    bool gaps;           // a host slower than the frame rate leaves some
};

const Sample kSamples[] = {
    {"24-bit, 321 x 241", "--size 321x241 --host-fps 60 --seconds 4", false},
    {"RAW with gaps", "--size 320x240 --host-fps 10 --seconds 4 --raw", true},
    {"as the demo records", "--size 320x240 --fps 25 --host-fps 60 --seconds 4", false},
};

std::vector<std::string> fileLines(const std::string& path)
{
    std::ifstream file(path);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

bool startsWith(const std::string& text, const std::string& start) { return text.rfind(start, 0) == 0; }

// README.md's commands: the lines that start with "ffmpeg " between its markers.
std::vector<std::string> readmeCommands()
{
    std::vector<std::string> commands;
    bool inside = false;
    for (const std::string& line : fileLines(AVI_OUTPUT_SOURCE_DIR "/README.md")) {
        if (startsWith(line, "<!-- after-recording commands"))
            inside = true;
        else if (startsWith(line, "<!-- end of after-recording commands"))
            inside = false;
        else if (inside && startsWith(line, "ffmpeg "))
            commands.push_back(line);
    }
    return commands;
}

// README.txt's commands, which Windows spells ffmpeg.exe and with
// backslashes, spelled as README.md does.
std::vector<std::string> readmeTxtCommands()
{
    std::vector<std::string> commands;
    for (const std::string& line : fileLines(AVI_OUTPUT_SOURCE_DIR "/docs/README.txt.in")) {
        const std::string command = line.substr(std::min(line.find_first_not_of(' '), line.size()));
        if (!startsWith(command, "ffmpeg.exe "))
            continue;
        std::string unix = "ffmpeg" + command.substr(10);
        std::replace(unix.begin(), unix.end(), '\\', '/');
        commands.push_back(unix);
    }
    return commands;
}

// The README's command that writes `output`, its last word.
std::string commandWriting(const std::string& output)
{
    for (const std::string& command : readmeCommands()) {
        if (command.size() > output.size() && command.compare(command.size() - output.size() - 1, std::string::npos,
                                                               " " + output) == 0)
            return command;
    }
    ADD_FAILURE() << "README.md has no command that writes " << output;
    return "";
}

// The encoders `command` asks for that this machine's ffmpeg lacks.
std::string missingEncoders(const std::string& command)
{
    std::string listed;
    runCommand("ffmpeg -hide_banner -encoders 2>/dev/null", &listed);
    std::istringstream words(command);
    std::string word;
    std::string missing;
    while (words >> word) {
        std::string codec;
        if ((word == "-c:v" || word == "-c:a") && words >> codec && codec != "copy" &&
            listed.find(" " + codec + " ") == std::string::npos)
            missing += " " + codec;
    }
    return missing;
}

// Runs a command as it stands, in the folder that holds the files it names.
::testing::AssertionResult runInFolder(const std::string& folder, const std::string& command)
{
    const std::string missing = missingEncoders(command);
    if (!missing.empty())
        return ::testing::AssertionFailure() << "this ffmpeg has no encoder" << missing << ", which the README's "
                                             << "command needs: " << command;
    std::string output;
    if (runCommand("cd " + shellQuote(folder) + " && " + command + " </dev/null 2>&1", &output) != 0) {
        // Past ffmpeg's banner: the reason is at the end.
        const size_t tail = output.size() > 600 ? output.size() - 600 : 0;
        return ::testing::AssertionFailure() << "the README's command failed: " << command << "\n..."
                                             << output.substr(tail);
    }
    return ::testing::AssertionSuccess();
}

struct Recording {
    std::string folder; // holds recording.avi, as the README names it
    int width = 0;
    int height = 0;
    std::vector<int64_t> positions; // of each picture; the positions between are gaps
    std::vector<std::vector<uint8_t>> pictures; // bgr24, top row first
};

::testing::AssertionResult record(const TempDir& dir, size_t index, Recording& recording)
{
    recording.folder = dir.file(std::to_string(index));
    const std::string file = recording.folder + "/recording.avi";
    std::string output;
    if (runCommand("mkdir -p " + shellQuote(recording.folder)) != 0 ||
        recordWithStandInHost(file, kSamples[index].options, &output) <= 0)
        return ::testing::AssertionFailure() << "no recording: " << output;
    ProbedStream stream;
    if (!probeStream(file, stream))
        return ::testing::AssertionFailure() << "ffprobe cannot read " << file;
    recording.width = stream.width;
    recording.height = stream.height;
    for (const ProbedPacket& packet : probeFramePackets(file))
        recording.positions.push_back(packet.pts);
    std::string errors;
    recording.pictures = decodeFrames(file, "bgr24", stream.width, stream.height, &errors);
    if (recording.pictures.empty() || recording.pictures.size() != recording.positions.size())
        return ::testing::AssertionFailure() << "the recording does not decode: " << errors;
    const auto span = static_cast<size_t>(recording.positions.back() - recording.positions.front() + 1);
    if ((span != recording.positions.size()) != kSamples[index].gaps)
        return ::testing::AssertionFailure() << recording.positions.size() << " pictures over " << span
                                             << " positions, not what the sample is for";
    return ::testing::AssertionSuccess();
}

// The mean difference per sample between an output frame and the top
// left of the recording's picture, which is as large or a pixel larger.
double frameError(const std::vector<uint8_t>& frame, int width, int height, const Recording& recording,
                  size_t picture)
{
    const std::vector<uint8_t>& expected = recording.pictures[picture];
    const size_t rowBytes = static_cast<size_t>(width) * 3;
    uint64_t sum = 0;
    for (size_t y = 0; y < static_cast<size_t>(height); ++y) {
        for (size_t x = 0; x < rowBytes; ++x)
            sum += static_cast<uint64_t>(
                std::abs(frame[y * rowBytes + x] - expected[y * static_cast<size_t>(recording.width) * 3 + x]));
    }
    return static_cast<double>(sum) / static_cast<double>(rowBytes * static_cast<size_t>(height));
}

// The output shows the recording from Save on, one frame per position to
// its last picture: at each, the picture recorded there, or at a gap the
// one before (before the first picture, the first). Gives the worst
// frame's error.
double expectEveryPosition(const Recording& recording, const std::string& output, const std::string& filter)
{
    ProbedStream stream;
    EXPECT_TRUE(probeStream(output, stream)) << output;
    EXPECT_EQ(stream.frameRate, "25/1");
    EXPECT_DOUBLE_EQ(stream.startTime, 0) << "the video starts at Save";
    if (stream.width > recording.width || stream.height > recording.height) {
        ADD_FAILURE() << stream.width << " x " << stream.height << " is larger than the recording";
        return std::numeric_limits<double>::infinity();
    }
    std::string errors;
    const auto frames = decodeFrames(output, "bgr24", stream.width, stream.height, &errors, filter);
    EXPECT_EQ(frames.size(), static_cast<size_t>(recording.positions.back()) + 1) << errors;
    EXPECT_NEAR(stream.fileDuration, static_cast<double>(frames.size()) / 25, 0.005);
    double worst = 0;
    size_t picture = 0;
    for (size_t position = 0; position < frames.size(); ++position) {
        while (picture + 1 < recording.positions.size() &&
               recording.positions[picture + 1] <= static_cast<int64_t>(position))
            ++picture;
        worst = std::max(worst, frameError(frames[position], stream.width, stream.height, recording, picture));
    }
    return worst;
}

// A song of silence and then a tone that starts `toneAt` seconds in.
::testing::AssertionResult makeSong(const std::string& file, double toneAt)
{
    std::ostringstream command;
    command << "ffmpeg -nostdin -v error -y -f lavfi -i \"sine=frequency=440:duration=" << toneAt + 6
            << ",volume=enable='lt(t," << toneAt << ")':volume=0\" -c:a libmp3lame " << shellQuote(file) << " 2>&1";
    std::string output;
    if (runCommand(command.str(), &output) != 0)
        return ::testing::AssertionFailure() << "cannot make the song: " << output;
    return ::testing::AssertionSuccess();
}

// Where the file's sound starts after silence, in seconds; -1 when it does not.
double toneStart(const std::string& file)
{
    std::string output;
    runCommand("ffmpeg -nostdin -i " + shellQuote(file) +
                   " -map 0:a -af silencedetect=noise=-30dB:duration=0.1 -f null - 2>&1",
               &output);
    const size_t end = output.find("silence_end: ");
    return end == std::string::npos ? -1 : std::atof(output.c_str() + end + 13);
}

// Runs the README's command that writes `outputName` on every sample
// recording, in its folder, and hands what it wrote to `check`.
void forEverySample(const std::string& outputName,
                    const std::function<void(const Recording&, const std::string&, const ProbedStream&)>& check)
{
    const std::string command = commandWriting(outputName);
    ASSERT_FALSE(command.empty());
    TempDir dir;
    for (size_t index = 0; index < std::size(kSamples); ++index) {
        SCOPED_TRACE(kSamples[index].name);
        Recording recording;
        ASSERT_TRUE(record(dir, index, recording));
        const ::testing::AssertionResult ran = runInFolder(recording.folder, command);
        EXPECT_TRUE(ran);
        if (!ran)
            continue;
        const std::string output = recording.folder + "/" + outputName;
        ProbedStream stream;
        ASSERT_TRUE(probeStream(output, stream));
        check(recording, output, stream);
    }
}

} // namespace

TEST(AfterRecording, ReadmeTxtGivesTheReadmesCommandsInWindowsWords)
{
    const auto commands = readmeCommands();
    EXPECT_EQ(commands.size(), 3u) << "to share, with the song, to edit";
    EXPECT_EQ(readmeTxtCommands(), commands);
}

TEST(AfterRecording, SharingCopyIsEvenSizedTaggedBt709AndShowsTheHostsColoursAtEveryPosition)
{
    forEverySample("recording.mp4", [](const Recording& recording, const std::string& output,
                                      const ProbedStream& stream) {
        EXPECT_EQ(stream.codec, "h264");
        EXPECT_EQ(stream.pixelFormat, "yuv420p");
        EXPECT_EQ(stream.width, recording.width & ~1) << "an odd width loses its last column, as the README says";
        EXPECT_EQ(stream.height, recording.height & ~1) << "an odd height loses its last row";
        EXPECT_EQ(stream.colourMatrix + " " + stream.colourRange + " " + stream.colourPrimaries + " " +
                      stream.colourTransfer,
                  "bt709 tv bt709 bt709");
        EXPECT_LE(expectEveryPosition(recording, output, "scale=in_color_matrix=bt709:in_range=tv"),
                  kColourTolerance);
    });
}

TEST(AfterRecording, EditingCopyKeepsEveryPixelAtEveryPosition)
{
    forEverySample("recording.mkv", [](const Recording& recording, const std::string& output,
                                      const ProbedStream& stream) {
        EXPECT_EQ(stream.codec, "ffv1");
        EXPECT_EQ(stream.width, recording.width);
        EXPECT_EQ(stream.height, recording.height);
        EXPECT_EQ(expectEveryPosition(recording, output, ""), 0);
    });
}

// The README gives the seconds between starting the song and pressing
// Save after -ss, and says to write -itsoffset in their place when the
// song started after Save.
TEST(AfterRecording, SongLinesUpWithSaveWhenCutOrDelayedByTheGivenSeconds)
{
    const std::string sharing = commandWriting("recording.mp4");
    const std::string cut = commandWriting("recording-with-song.mp4");
    ASSERT_FALSE(sharing.empty());
    ASSERT_FALSE(cut.empty());
    const size_t at = cut.find(" -ss ");
    ASSERT_NE(at, std::string::npos) << cut;
    const double seconds = std::atof(cut.c_str() + at + 5);
    ASSERT_GT(seconds, 0);
    ASSERT_LT(seconds, 3) << "the tone below must fall inside the 4 s recording";
    std::string delayed = cut;
    delayed.replace(at, 5, " -itsoffset ");

    TempDir dir;
    Recording recording;
    ASSERT_TRUE(record(dir, 2, recording));
    ASSERT_TRUE(runInFolder(recording.folder, sharing));
    const std::string song = recording.folder + "/song.mp3";
    const std::string output = recording.folder + "/recording-with-song.mp4";
    // Half a frame at 25 frames per second; both land within 10 ms.
    constexpr double kTolerance = 0.02;

    ASSERT_TRUE(makeSong(song, seconds + 1));
    ASSERT_TRUE(runInFolder(recording.folder, cut));
    EXPECT_NEAR(toneStart(output), 1, kTolerance) << "the song's second after Save, a second into the video";
    ProbedStream video;
    ASSERT_TRUE(probeStream(output, video));
    EXPECT_EQ(video.codec, "h264");
    EXPECT_NEAR(video.fileDuration, video.duration, kTolerance) << "the file ends with the video";

    std::remove(output.c_str());
    ASSERT_TRUE(makeSong(song, 0.5));
    ASSERT_TRUE(runInFolder(recording.folder, delayed));
    EXPECT_NEAR(toneStart(output), seconds + 0.5, kTolerance) << "the song starts the given seconds after Save";
}
