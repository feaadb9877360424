// The AVIFile operations as the recording relies on them, checked with
// ffprobe and ffmpeg.
#include "platform/native/native_host.h"
#include "tests/support/avi_session.h"
#include "tests/support/media_probe.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// A 24-bit bottom-up frame whose every pixel differs from its neighbours.
std::vector<uint8_t> patternFrame24(int width, int height, int seed)
{
    const int stride = (width * 3 + 3) & ~3;
    std::vector<uint8_t> bytes(static_cast<size_t>(stride) * height, 0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width * 3; ++x)
            bytes[static_cast<size_t>(y) * stride + x] = static_cast<uint8_t>(seed * 31 + y * 7 + x * 13);
    return bytes;
}

// The picture ffmpeg shows for a bottom-up 24-bit frame: rows reversed, pad dropped.
std::vector<uint8_t> topDown24(const std::vector<uint8_t>& frame, int width, int height)
{
    const int stride = (width * 3 + 3) & ~3;
    std::vector<uint8_t> picture;
    for (int row = height - 1; row >= 0; --row)
        picture.insert(picture.end(), frame.begin() + row * stride, frame.begin() + row * stride + width * 3);
    return picture;
}

} // namespace

TEST(AviFileApi, GapsKeepEveryFramesPositionAsItsTimestamp)
{
    TempDir dir;
    const std::string path = dir.file("gaps.avi");
    {
        AviSession session;
        ASSERT_EQ(session.open(path, bitmapFormat(4, 2, 24)), 0);
        for (LONG position : {1, 2, 5, 7, 10})
            ASSERT_EQ(session.write(position, patternFrame24(4, 2, position)), 0);
    }
    std::vector<int64_t> pts;
    for (const ProbedPacket& packet : probePackets(path))
        pts.push_back(packet.pts);
    EXPECT_EQ(pts, (std::vector<int64_t> {1, 2, 5, 7, 10}));
    ProbedStream stream;
    ASSERT_TRUE(probeStream(path, stream));
    EXPECT_EQ(stream.frameCount, 10); // from the first frame on, gaps included
    EXPECT_EQ(stream.frameRate, "25/1");
    EXPECT_DOUBLE_EQ(stream.duration, 10.0 / 25);
}

TEST(AviFileApi, AWriteReportsOneSampleAndTheBytesPassed)
{
    TempDir dir;
    AviSession session;
    ASSERT_EQ(session.open(dir.file("counts.avi"), bitmapFormat(5, 3, 24)), 0);
    ASSERT_EQ(session.write(1, patternFrame24(5, 3, 1)), 0);
    EXPECT_EQ(session.samples, 1);
    EXPECT_EQ(session.bytesWritten, 48);
}

TEST(AviFileApi, PositionsAtOrBeforeTheEndAreAppended)
{
    TempDir dir;
    const std::string path = dir.file("append.avi");
    {
        AviSession session;
        ASSERT_EQ(session.open(path, bitmapFormat(2, 2, 24)), 0);
        for (LONG position : {3, 4, 2, 4, 0, -7, 9})
            ASSERT_EQ(session.write(position, patternFrame24(2, 2, position)), 0);
    }
    std::vector<int64_t> pts;
    for (const ProbedPacket& packet : probePackets(path))
        pts.push_back(packet.pts);
    EXPECT_EQ(pts, (std::vector<int64_t> {3, 4, 5, 6, 7, 8, 9}));
}

TEST(AviFileApi, BothFrameFormsDecodeToTheirPixelsAtOddWidths)
{
    TempDir dir;
    for (int width : {1, 2, 3, 5, 7, 13, 321}) {
        const int height = 3;
        SCOPED_TRACE("width " + std::to_string(width));
        const std::string bottomUp = dir.file("w" + std::to_string(width) + "-24.avi");
        const std::string topDown = dir.file("w" + std::to_string(width) + "-32.avi");
        std::vector<std::vector<uint8_t>> frames24;
        std::vector<std::vector<uint8_t>> frames32;
        {
            AviSession standard;
            AviSession raw;
            ASSERT_EQ(standard.open(bottomUp, bitmapFormat(width, height, 24)), 0);
            ASSERT_EQ(raw.open(topDown, bitmapFormat(width, -height, 32)), 0);
            for (int frame = 1; frame <= 3; ++frame) {
                frames24.push_back(patternFrame24(width, height, frame));
                std::vector<uint8_t> raw32(static_cast<size_t>(width) * height * 4);
                for (size_t i = 0; i < raw32.size(); ++i)
                    raw32[i] = static_cast<uint8_t>(i * 11 + frame * 3);
                frames32.push_back(raw32);
                ASSERT_EQ(standard.write(frame, frames24.back()), 0);
                ASSERT_EQ(raw.write(frame, frames32.back()), 0);
            }
        }
        ProbedStream stream;
        ASSERT_TRUE(probeStream(bottomUp, stream));
        EXPECT_EQ(stream.pixelFormat, "bgr24");
        EXPECT_EQ(stream.width, width);
        ASSERT_TRUE(probeStream(topDown, stream));
        EXPECT_EQ(stream.pixelFormat, "bgra");
        EXPECT_EQ(stream.height, height);

        std::string errors;
        const auto decoded24 = decodeFrames(bottomUp, "bgr24", width, height, &errors);
        ASSERT_EQ(decoded24.size(), 3u) << errors;
        const auto decoded32 = decodeFrames(topDown, "bgra", width, height, &errors);
        ASSERT_EQ(decoded32.size(), 3u) << errors;
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(decoded24[i], topDown24(frames24[i], width, height));
            EXPECT_EQ(decoded32[i], frames32[i]);
        }
    }
}

TEST(AviFileApi, TheStreamDescriptionReachesTheFile)
{
    TempDir dir;
    const std::string path = dir.file("described.avi");
    {
        AviSession session;
        ASSERT_EQ(session.open(path, bitmapFormat(320, -240, 32), 30), 0);
        ASSERT_EQ(session.write(1, std::vector<uint8_t>(320 * 240 * 4, 7)), 0);
    }
    std::string title;
    runCommand("ffprobe -v error -show_entries stream_tags=title -of csv=p=0 " + shellQuote(path), &title);
    EXPECT_EQ(title, "avs capture quorvane\n");
    ProbedStream stream;
    ASSERT_TRUE(probeStream(path, stream));
    EXPECT_EQ(stream.frameRate, "30/1");
    EXPECT_EQ(stream.width, 320);
    EXPECT_EQ(stream.height, 240);
}

TEST(AviFileApi, ReleasingTheFileBeforeItsStreamStillFinishesTheFile)
{
    TempDir dir;
    const std::string path = dir.file("order.avi");
    AVIFileInit();
    PAVIFILE file = nullptr;
    PAVISTREAM stream = nullptr;
    ASSERT_EQ(AVIFileOpenA(&file, path.c_str(), OF_WRITE | OF_CREATE, nullptr), 0);
    AVISTREAMINFOA info = videoStream(25);
    ASSERT_EQ(AVIFileCreateStreamA(file, &stream, &info), 0);
    BITMAPINFOHEADER format = bitmapFormat(2, 2, 24);
    ASSERT_EQ(AVIStreamSetFormat(stream, 0, &format, sizeof format), 0);
    auto frame = patternFrame24(2, 2, 1);
    ASSERT_EQ(AVIStreamWrite(stream, 1, 1, frame.data(), 16, AVIIF_KEYFRAME, nullptr, nullptr), 0);
    EXPECT_EQ(AVIFileRelease(file), 1u); // the stream still holds it
    EXPECT_EQ(AVIStreamRelease(stream), 0u);
    AVIFileExit();
    EXPECT_EQ(probePackets(path).size(), 1u);
}

TEST(AviFileApi, InitAndExitNest)
{
    TempDir dir;
    PAVIFILE file = nullptr;
    EXPECT_NE(AVIFileOpenA(&file, dir.file("a.avi").c_str(), OF_WRITE | OF_CREATE, nullptr), 0)
        << "the library is not initialised";
    AVIFileInit();
    AVIFileInit();
    AVIFileExit();
    ASSERT_EQ(AVIFileOpenA(&file, dir.file("b.avi").c_str(), OF_WRITE | OF_CREATE, nullptr), 0)
        << "one init is still unmatched";
    AVIFileRelease(file);
    AVIFileExit();
    EXPECT_NE(AVIFileOpenA(&file, dir.file("c.avi").c_str(), OF_WRITE | OF_CREATE, nullptr), 0);
    AVIFileExit(); // an exit too many is ignored
    AVIFileInit();
    EXPECT_EQ(AVIFileOpenA(&file, dir.file("d.avi").c_str(), OF_WRITE | OF_CREATE, nullptr), 0);
    AVIFileRelease(file);
    AVIFileExit();
}

TEST(AviFileApi, FailuresCarryTextsTheSystemCanFormat)
{
    TempDir dir;
    AviSession session;
    const HRESULT missingDirectory = session.open(dir.file("no/such/dir.avi"), bitmapFormat(2, 2, 24));
    ASSERT_NE(missingDirectory, 0);
    EXPECT_EQ(errorText(missingDirectory), "No such file or directory.");

    AviSession full;
    const HRESULT diskFull = full.open("/dev/full", bitmapFormat(2, 2, 24));
    ASSERT_NE(diskFull, 0);
    EXPECT_EQ(errorText(diskFull), "No space left on device.");

    AviSession early;
    ASSERT_EQ(AVIFileOpenA(&early.file, dir.file("early.avi").c_str(), OF_WRITE | OF_CREATE, nullptr), 0);
    AVISTREAMINFOA info = videoStream(25);
    ASSERT_EQ(AVIFileCreateStreamA(early.file, &early.stream, &info), 0);
    const HRESULT beforeFormat = early.write(1, patternFrame24(2, 2, 1));
    ASSERT_NE(beforeFormat, 0);
    EXPECT_EQ(errorText(beforeFormat), "The stream format has not been set.");
    EXPECT_EQ(early.samples, 0);
    EXPECT_EQ(early.bytesWritten, 0);

    char* none = nullptr;
    EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, 0x12345678u, 0,
                             reinterpret_cast<LPSTR>(&none), 0, nullptr),
              0u);
    EXPECT_EQ(none, nullptr);
}

TEST(AviFileApi, OneStreamPerFileOfVideoOnly)
{
    TempDir dir;
    AviSession session;
    ASSERT_EQ(AVIFileOpenA(&session.file, dir.file("one.avi").c_str(), OF_WRITE | OF_CREATE, nullptr), 0);
    AVISTREAMINFOA audio = videoStream(25);
    audio.fccType = mmioFOURCC('a', 'u', 'd', 's');
    PAVISTREAM refused = nullptr;
    EXPECT_NE(AVIFileCreateStreamA(session.file, &refused, &audio), 0);
    EXPECT_EQ(refused, nullptr);
    AVISTREAMINFOA video = videoStream(25);
    ASSERT_EQ(AVIFileCreateStreamA(session.file, &session.stream, &video), 0);
    PAVISTREAM second = nullptr;
    EXPECT_NE(AVIFileCreateStreamA(session.file, &second, &video), 0);
}
