// Recordings longer than one RIFF segment, at segment sizes small enough
// to test: OpenDML indexes, gaps across segment ends, both frame forms.
#include "platform/avi/avi_writer.h"
#include "platform/native/native_host.h"
#include "tests/support/avi_session.h"
#include "tests/support/media_probe.h"
#include "tests/support/riff_walk.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <unistd.h>

namespace {

struct Form {
    const char* name;
    int bits;
    const char* pixelFormat;
};
const Form kForms[] = {{"standard", 24, "bgr24"}, {"raw", 32, "bgra"}};

class SmallSegments : public ::testing::Test {
protected:
    void SetUp() override
    {
        NativeAviWriterOptions options {64 * 1024, 0, 64};
        NativeSetAviWriterOptions(&options);
        AVIFileInit();
    }
    void TearDown() override
    {
        AVIFileExit();
        NativeSetAviWriterOptions(nullptr);
    }
};

class Recording {
public:
    Recording(const std::string& path, int width, int height, const Form& form)
        : width_(width)
        , height_(height)
        , form_(form)
    {
        result = AVIFileOpenA(&file_, path.c_str(), OF_WRITE | OF_CREATE, nullptr);
        if (result != 0)
            return;
        AVISTREAMINFOA info {};
        info.fccType = streamtypeVIDEO;
        info.dwScale = 1;
        info.dwRate = 25;
        std::strcpy(info.szName, "avs capture quorvane");
        result = AVIFileCreateStreamA(file_, &stream_, &info);
        if (result != 0)
            return;
        BITMAPINFOHEADER format {};
        format.biSize = 40;
        format.biWidth = width;
        format.biHeight = form.bits == 32 ? -height : height;
        format.biPlanes = 1;
        format.biBitCount = static_cast<WORD>(form.bits);
        format.biSizeImage = static_cast<DWORD>(frameBytes());
        result = AVIStreamSetFormat(stream_, 0, &format, sizeof format);
    }
    ~Recording() { close(); }

    size_t frameBytes() const
    {
        return form_.bits == 32 ? size_t(width_) * height_ * 4 : size_t((width_ * 3 + 3) & ~3) * height_;
    }

    // A frame whose bytes tell its position.
    std::vector<uint8_t> frame(LONG position) const
    {
        std::vector<uint8_t> bytes(frameBytes());
        for (size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<uint8_t>(position * 7 + i * 3);
        if (form_.bits == 24) {
            const size_t stride = (width_ * 3 + 3) & ~3;
            for (int row = 0; row < height_; ++row)
                std::memset(&bytes[row * stride + width_ * 3], 0, stride - width_ * 3);
        }
        return bytes;
    }

    // The frame as ffmpeg returns it: top row first, no padding.
    std::vector<uint8_t> picture(LONG position) const
    {
        const std::vector<uint8_t> bytes = frame(position);
        if (form_.bits == 32)
            return bytes;
        const size_t stride = (width_ * 3 + 3) & ~3;
        std::vector<uint8_t> out;
        for (int row = height_ - 1; row >= 0; --row)
            out.insert(out.end(), bytes.begin() + row * stride, bytes.begin() + row * stride + width_ * 3);
        return out;
    }

    HRESULT write(LONG position)
    {
        std::vector<uint8_t> bytes = frame(position);
        return AVIStreamWrite(stream_, position, 1, bytes.data(), static_cast<LONG>(bytes.size()), AVIIF_KEYFRAME,
                              nullptr, nullptr);
    }

    void close()
    {
        if (stream_)
            AVIStreamRelease(stream_);
        if (file_)
            AVIFileRelease(file_);
        stream_ = nullptr;
        file_ = nullptr;
    }

    HRESULT result = 0;

private:
    PAVIFILE file_ = nullptr;
    PAVISTREAM stream_ = nullptr;
    int width_;
    int height_;
    Form form_;
};

int segmentsOf(const std::string& path)
{
    std::vector<RiffChunk> top;
    if (!walkRiff(path, top))
        return -1;
    int segments = 0;
    for (const RiffChunk& chunk : top)
        segments += chunk.id == "RIFF" ? 1 : 0;
    return segments;
}

void expectFramesAt(const std::string& path, const Recording& recording, const std::vector<LONG>& positions,
                    int width, int height, const char* pixelFormat)
{
    const auto packets = probePackets(path);
    ASSERT_EQ(packets.size(), positions.size());
    for (size_t i = 0; i < positions.size(); ++i)
        ASSERT_EQ(packets[i].pts, positions[i]) << "packet " << i;
    std::string errors;
    const auto frames = decodeFrames(path, pixelFormat, width, height, &errors);
    ASSERT_EQ(frames.size(), positions.size()) << errors;
    for (size_t i = 0; i < positions.size(); ++i)
        ASSERT_TRUE(frames[i] == recording.picture(positions[i])) << "frame at " << positions[i];
}

} // namespace

TEST_F(SmallSegments, EveryFrameOfAManySegmentRecordingDecodesAtItsPosition)
{
    TempDir dir;
    for (const Form& form : kForms) {
        SCOPED_TRACE(form.name);
        const std::string path = dir.file(std::string(form.name) + ".avi");
        std::vector<LONG> positions;
        {
            Recording recording(path, 21, 9, form);
            ASSERT_EQ(recording.result, 0);
            for (LONG position = 1; position <= 600; ++position) {
                ASSERT_EQ(recording.write(position), 0) << position;
                positions.push_back(position);
            }
        }
        EXPECT_GT(segmentsOf(path), 5);
        ProbedStream stream;
        ASSERT_TRUE(probeStream(path, stream));
        EXPECT_EQ(stream.frameCount, 600);
        EXPECT_DOUBLE_EQ(stream.duration, 600.0 / 25);
        Recording expected(dir.file("unused.avi"), 21, 9, form);
        expectFramesAt(path, expected, positions, 21, 9, form.pixelFormat);
    }
}

TEST_F(SmallSegments, GapsThatCrossSegmentEndsKeepEveryTimestamp)
{
    TempDir dir;
    for (const Form& form : kForms) {
        SCOPED_TRACE(form.name);
        const std::string path = dir.file(std::string(form.name) + "-gaps.avi");
        std::vector<LONG> positions;
        {
            Recording recording(path, 8, 4, form);
            ASSERT_EQ(recording.result, 0);
            LONG position = 0;
            for (int i = 0; i < 300; ++i) {
                // Runs of empty positions from 1 to several thousand, some larger than a segment holds.
                position += (i % 7 == 0) ? 1 + (i * 977) % 9000 : 1 + i % 3;
                ASSERT_EQ(recording.write(position), 0) << position;
                positions.push_back(position);
            }
        }
        EXPECT_GT(segmentsOf(path), 5);
        ProbedStream stream;
        ASSERT_TRUE(probeStream(path, stream));
        EXPECT_EQ(stream.frameCount, positions.back() + 1 - positions.front());
        Recording expected(dir.file("unused.avi"), 8, 4, form);
        expectFramesAt(path, expected, positions, 8, 4, form.pixelFormat);
    }
}

TEST_F(SmallSegments, TheFileIsOpenDmlWithLegacyIndexForItsFirstSegment)
{
    TempDir dir;
    const std::string path = dir.file("structure.avi");
    {
        Recording recording(path, 21, 9, kForms[0]);
        for (LONG position = 1; position <= 300; ++position)
            ASSERT_EQ(recording.write(position), 0);
    }
    std::vector<RiffChunk> top;
    ASSERT_TRUE(walkRiff(path, top));
    ASSERT_GE(top.size(), 2u);
    EXPECT_EQ(top[0].listType, "AVI ");
    for (size_t i = 1; i < top.size(); ++i) {
        EXPECT_EQ(top[i].listType, "AVIX");
        EXPECT_LE(top[i].size + 8u, 64u * 1024) << "every segment stays under its limit";
    }
    EXPECT_NE(findChunk(top[0].children, "idx1"), nullptr);
    EXPECT_NE(findChunk(top[0].children, "indx"), nullptr);
    EXPECT_NE(findChunk(top[0].children, "odml"), nullptr);
    // One ix00 for each segment, listed in the super index.
    const AviCheck check = checkAvi(path, AviState::Closed);
    EXPECT_TRUE(check.consistent()) << check.report();
    EXPECT_EQ(check.segments, static_cast<int>(top.size()));
    EXPECT_EQ(check.indexedFrames, 300u);

    // A reader of AVI 1.0 alone still plays the first segment: ffmpeg told to ignore OpenDML.
    std::string count;
    runCommand("ffprobe -v error -use_odml 0 -count_packets -show_entries stream=nb_read_packets -of csv=p=0 " +
                   shellQuote(path),
               &count);
    EXPECT_GT(std::atoi(count.c_str()), 0);
}

TEST_F(SmallSegments, AShortRecordingStaysAPlainAviFile)
{
    TempDir dir;
    const std::string path = dir.file("short.avi");
    {
        Recording recording(path, 8, 4, kForms[0]);
        for (LONG position = 1; position <= 20; ++position)
            ASSERT_EQ(recording.write(position), 0);
    }
    std::vector<RiffChunk> top;
    ASSERT_TRUE(walkRiff(path, top));
    ASSERT_EQ(top.size(), 1u);
    EXPECT_EQ(findChunk(top, "indx"), nullptr);
    EXPECT_EQ(findChunk(top, "odml"), nullptr);
    EXPECT_NE(findChunk(top, "idx1"), nullptr);
    EXPECT_EQ(probePackets(path).size(), 20u);
}

TEST_F(SmallSegments, AFullSuperIndexRefusesMoreFramesAndKeepsTheFileValid)
{
    NativeAviWriterOptions options {64 * 1024, 0, 3};
    NativeSetAviWriterOptions(&options);
    TempDir dir;
    const std::string path = dir.file("full.avi");
    LONG written = 0;
    HRESULT refused = 0;
    {
        Recording recording(path, 21, 9, kForms[0]);
        for (LONG position = 1; position <= 2000 && refused == 0; ++position) {
            refused = recording.write(position);
            if (refused == 0)
                written = position;
        }
    }
    ASSERT_NE(refused, 0);
    char* text = nullptr;
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, static_cast<DWORD>(refused),
                   0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "The AVI file has reached the largest size its index can describe.");
    LocalFree(text);
    EXPECT_EQ(segmentsOf(path), 3);
    EXPECT_EQ(static_cast<LONG>(probePackets(path).size()), written);
}

TEST_F(SmallSegments, ASuperIndexLargerThanItsChunkCanHoldIsClampedToTheLargestThatFits)
{
    NativeAviWriterOptions options {0, 0, UINT32_MAX};
    NativeSetAviWriterOptions(&options);
    TempDir dir;
    const std::string path = dir.file("clamped.avi");
    {
        Recording recording(path, 8, 4, kForms[0]);
        ASSERT_EQ(recording.result, 0);
        ASSERT_EQ(recording.write(1), 0);
    }
    const AviCheck check = checkAvi(path, AviState::Closed);
    EXPECT_TRUE(check.consistent()) << check.report();
    std::vector<RiffChunk> top;
    ASSERT_TRUE(walkRiff(path, top));
    const RiffChunk* strl = findChunk(top, "strl");
    ASSERT_NE(strl, nullptr);
    const RiffChunk* room = findChunk(strl->children, "JUNK");
    ASSERT_NE(room, nullptr);
    EXPECT_EQ(room->size, 24u + 16u * avi::kLargestSuperIndex) << "room for the super index";
}

// A first segment with no room for a frame after the header (66 KB with a
// super index of 4096 entries) made a file whose AVI 1.0 part held no
// frame, which mkvmerge refused even when it was closed.
TEST_F(SmallSegments, ASegmentSizeWithNoRoomForAFrameAfterTheHeaderIsRefused)
{
    NativeAviWriterOptions options {60000, 0, 0};
    NativeSetAviWriterOptions(&options);
    TempDir dir;
    Recording recording(dir.file("refused.avi"), 8, 4, kForms[0]);
    ASSERT_NE(recording.result, 0);
    EXPECT_EQ(errorText(recording.result),
              "The AVI file's segment size leaves no room for a frame after the file header.");

    std::string output;
    EXPECT_EQ(runCommand(shellQuote(hostPath()) + " record " + shellQuote(pluginPath()) + " --out " +
                             shellQuote(dir.file("host.avi")) + " --segment-size 60000 --virtual-clock 2>&1",
                         &output),
              1);
    EXPECT_NE(output.find("apehost: --segment-size 60000 leaves no room for a 320x240 frame after the file header; "
                          "use at least "),
              std::string::npos)
        << output;
    EXPECT_FALSE(fileExists(dir.file("host.avi")));
}
