// What lands in the file for each frame: converted, or the host's own bytes.
#include "tests/support/effect_fixture.h"
#include "tests/support/media_probe.h"

namespace {

uint32_t pixelFromBytes(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3)
{
    return b0 | (uint32_t(b1) << 8) | (uint32_t(b2) << 16) | (uint32_t(b3) << 24);
}

// The 2 x 2 frame: top-left, top-right, bottom-left, bottom-right.
const uint32_t kTwoByTwo[4] = {
    pixelFromBytes(0x33, 0x22, 0x11, 0xAA), pixelFromBytes(0x66, 0x55, 0x44, 0xBB),
    pixelFromBytes(0x99, 0x88, 0x77, 0xCC), pixelFromBytes(0xCC, 0xBB, 0xAA, 0xDD)};

} // namespace

using FrameContent = EffectTest;

TEST_F(FrameContent, TheStandardFormIsBottomUpTwentyFourBitWithPaddedRows)
{
    render(kTwoByTwo, 2, 2);
    ASSERT_EQ(start(dir.file("two.avi")), 1);
    NativeAdvanceClock(40);
    render(kTwoByTwo, 2, 2);
    ASSERT_EQ(effect->lastBytesWritten, 16);
    const std::vector<uint8_t> stored(effect->scratch.data, effect->scratch.data + 16);
    EXPECT_EQ(stored, (std::vector<uint8_t> {0x99, 0x88, 0x77, 0xCC, 0xBB, 0xAA, 0, 0, 0x33, 0x22, 0x11, 0x66, 0x55,
                                             0x44, 0, 0}));
    effect->stopRecording();
    const auto frames = decodeFrames(dir.file("two.avi"), "bgr24", 2, 2);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], (std::vector<uint8_t> {0x33, 0x22, 0x11, 0x66, 0x55, 0x44, 0x99, 0x88, 0x77, 0xCC, 0xBB,
                                                0xAA}));
}

TEST_F(FrameContent, TheRawFormIsTheHostsOwnFrameMadeOpaque)
{
    render(kTwoByTwo, 2, 2);
    effect->rawMode = 1;
    ASSERT_EQ(start(dir.file("raw.avi")), 1);
    NativeAdvanceClock(40);
    render(kTwoByTwo, 2, 2);
    effect->stopRecording();
    ProbedStream stream;
    ASSERT_TRUE(probeStream(dir.file("raw.avi"), stream));
    EXPECT_EQ(stream.pixelFormat, "bgra");
    const auto frames = decodeFrames(dir.file("raw.avi"), "bgra", 2, 2);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], decodedHostPicture(std::vector<uint32_t>(kTwoByTwo, kTwoByTwo + 4), true));
}

TEST_F(FrameContent, EveryWrittenFrameIsTheFrameRenderedWhenItsPositionCame)
{
    for (bool raw : {false, true}) {
        for (int width : {1, 3, 37, 64}) {
            SCOPED_TRACE(std::string(raw ? "raw " : "standard ") + std::to_string(width));
            const int height = 5;
            const std::string path = dir.file(std::to_string(width) + (raw ? "r.avi" : "s.avi"));
            HostFrame frame(width, height, 0);
            render(frame);
            effect->rawMode = raw;
            ASSERT_EQ(start(path), 1);
            std::vector<std::vector<uint8_t>> expected;
            for (uint32_t call = 1; call <= 12; ++call) {
                frame.draw(call);
                const int before = effect->totalFrames;
                renderAfter(call % 3 == 0 ? 90 : 30, frame); // some calls skip positions
                if (effect->totalFrames != before)
                    expected.push_back(decodedHostPicture(frame.pixels, raw));
            }
            effect->stopRecording();
            std::string errors;
            const auto decoded = decodeFrames(path, raw ? "bgra" : "bgr24", width, height, &errors);
            ASSERT_EQ(decoded.size(), expected.size()) << errors;
            for (size_t i = 0; i < decoded.size(); ++i)
                EXPECT_EQ(decoded[i], expected[i]) << "frame " << i;
        }
    }
}

TEST_F(FrameContent, TheHostsPictureIsNeverChanged)
{
    HostFrame frame(33, 7, 5);
    const std::vector<uint32_t> before = frame.pixels;
    render(frame);
    for (int raw : {0, 1}) {
        effect->rawMode = raw;
        ASSERT_EQ(start(dir.file(raw ? "r.avi" : "s.avi")), 1);
        for (int call = 0; call < 4; ++call)
            renderAfter(40, frame);
        effect->stopRecording();
    }
    EXPECT_EQ(frame.pixels, before);
}
