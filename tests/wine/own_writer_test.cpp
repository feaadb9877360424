// Our AVI writer on Windows: its AVIFile functions over Win32 files, driven
// directly so that a recording spans several RIFF segments.
#include "host/animation.h"
#include "tests/support/media_probe.h"
#include "tests/support/written_frames.h"
#include "tests/wine/wine_host.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>

namespace {

size_t countOf(const std::string& haystack, const std::string& needle)
{
    size_t count = 0;
    for (size_t at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + 1))
        ++count;
    return count;
}

std::string fileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace

TEST(OwnWriter, LongRecordingsSpanSeveralRiffSegmentsThatReadersFollow)
{
    PluginFolder folder("segments");
    const int width = 68;
    const int height = 40;
    const int frames = 120;
    const ProgramOutput output = runWriterProbe(
        {"segments", folder.windowsPath("long.avi"), std::to_string(256 * 1024), std::to_string(frames),
         std::to_string(width), std::to_string(height)});
    ASSERT_TRUE(output.finished()) << output.transcript();
    std::vector<int64_t> positions;
    for (const std::string& value : output.values("position"))
        positions.push_back(std::stoll(value));
    ASSERT_EQ(positions.size(), static_cast<size_t>(frames));

    const std::string path = folder.hostPath("long.avi");
    const std::string bytes = fileBytes(path);
    EXPECT_GE(countOf(bytes, "AVIX"), 3u) << "120 frames of 10880 bytes need several 256 KiB segments";
    EXPECT_EQ(countOf(bytes, "indx"), 1u) << "the file became OpenDML";

    std::vector<int64_t> pts;
    for (const ProbedPacket& packet : probePackets(path)) {
        if (packet.size > 0)
            pts.push_back(packet.pts);
    }
    EXPECT_EQ(pts, positions) << "every frame at its position, gaps kept, across segments";

    ProbedStream stream;
    ASSERT_TRUE(probeStream(path, stream));
    EXPECT_EQ(stream.pixelFormat, "bgra");
    EXPECT_EQ(stream.frameCount, positions.back() + 1 - positions.front()) << "from the first frame on";

    std::string errors;
    const auto decoded = decodeFrames(path, "bgra", width, height, &errors);
    ASSERT_EQ(decoded.size(), positions.size()) << errors;
    for (size_t i = 0; i < decoded.size(); ++i) {
        std::vector<uint32_t> pixels(static_cast<size_t>(width) * height);
        renderAnimationFrame(pixels.data(), width, height, static_cast<uint32_t>(positions[i]));
        const auto* expected = reinterpret_cast<const uint8_t*>(pixels.data());
        ASSERT_TRUE(std::equal(decoded[i].begin(), decoded[i].end(), expected)) << "frame at " << positions[i];
    }
}

// What the plug-in passes to FormatMessageA: Windows codes, with the
// system's own words for each.
TEST(OwnWriter, RefusalsAreWindowsErrorCodesWithSystemText)
{
    PluginFolder folder("errors");
    const ProgramOutput output = runWriterProbe({"errors", folder.windowsDirectory()});
    ASSERT_TRUE(output.finished()) << output.transcript();
    const std::vector<std::pair<std::string, long>> expected {
        {"open in a missing directory", 3},   // ERROR_PATH_NOT_FOUND, from the OS
        {"audio stream", 50},                 // ERROR_NOT_SUPPORTED
        {"second stream", 183},               // ERROR_ALREADY_EXISTS
        {"frame before format", 1},           // ERROR_INVALID_FUNCTION
        {"compressed format", 13},            // ERROR_INVALID_DATA
        {"position far past the end", 87},    // ERROR_INVALID_PARAMETER
        {"two samples at once", 87},
        {"good frame", 0},
    };
    for (const auto& [what, code] : expected) {
        const std::string line = output.value(what);
        ASSERT_FALSE(line.empty()) << what << "\n" << output.transcript();
        EXPECT_EQ(std::stol(line), code) << what;
        const size_t quote = line.find('"');
        ASSERT_NE(quote, std::string::npos);
        if (code != 0) {
            EXPECT_GT(line.size() - quote, 2u) << what << ": the system has no text for the code";
        }
    }
    EXPECT_EQ(output.value("stream release"), "0");
    EXPECT_EQ(output.value("file release"), "0");
    EXPECT_NE(std::stol(output.value("open after exit")), 0) << "the library must be initialised";
    EXPECT_EQ(probePackets(folder.hostPath("errors.avi")).size(), 1u);
}

// Each file operation of a recording that crosses segment ends failing in
// turn, once or as a disk that fills and stays full, through our writer
// over Win32 files. Wine cannot set blocks aside (its
// SetFileInformationByHandle has no FileAllocationInfo), so the writer
// holds the index's space with zeros written ahead.
TEST(OwnWriter, AnyCallFailingOrTheDiskFillingLeavesExactlyTheFramesWritten)
{
    for (const std::string kind : {"once", "full"}) {
        SCOPED_TRACE(kind);
        PluginFolder folder("sweep-" + kind);
        const ProgramOutput output = runWriterProbe({"sweep", folder.windowsDirectory(), kind});
        ASSERT_TRUE(output.finished()) << output.transcript();
        const int calls = std::atoi(output.value("calls").c_str());
        ASSERT_GT(calls, 20) << output.transcript();
        for (int at = 1; at <= calls; ++at) {
            SCOPED_TRACE("call " + std::to_string(at) + " of " + std::to_string(calls));
            std::istringstream run(output.value("run " + std::to_string(at)));
            size_t count = 0;
            ASSERT_TRUE(run >> count);
            std::vector<int64_t> written(count);
            for (int64_t& position : written)
                run >> position;
            ASSERT_EQ(closedFileProblems(folder.hostPath("sweep-" + std::to_string(at) + ".avi"), written), "");
        }
    }
}
