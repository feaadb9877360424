// The pacing clock: which host frames become which stream positions.
#include "recording/pacing.h"
#include "tests/support/effect_fixture.h"
#include "tests/support/media_probe.h"
#include "tests/support/riff_walk.h"

using Pacing = EffectTest;

TEST_F(Pacing, AFrameSeventyMillisecondsLaterIsWrittenAtItsClockPositionAndCounted)
{
    // 25 frames per second: from 1010 ms to 1080 ms the position goes from 25 to 27.
    HostFrame frame(320, 240);
    render(frame);
    openDialog();
    ASSERT_EQ(start(dir.file("road.avi")), 1);
    NativeAdvanceClock(1010);
    render(frame);
    EXPECT_EQ(statusText(), "1 frames\n24 dropped\n0 MB");

    renderAfter(70, frame);
    EXPECT_EQ(statusText(), "2 frames\n25 dropped\n0 MB") << "27 expected, 2 written";
    effect->stopRecording();
    const auto packets = probePackets(dir.file("road.avi"));
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[1].pts, 27);
    EXPECT_EQ(packets[1].size, 230400) << "320 x 240 x 3 bytes";
    EXPECT_EQ(packets[0].pts, 25);
}

TEST_F(Pacing, FastCallsWriteEveryFrameAndDropNone)
{
    HostFrame frame(16, 16);
    render(frame);
    openDialog();
    ASSERT_EQ(start(dir.file("fast.avi")), 1);
    for (int call = 0; call < 100; ++call)
        renderAfter(10, frame);
    EXPECT_EQ(statusText(), "25 frames\n0 MB");
    effect->stopRecording();
    std::vector<int64_t> expected;
    for (int position = 1; position <= 25; ++position)
        expected.push_back(position);
    EXPECT_EQ(probePositions(dir.file("fast.avi")), expected);
}

TEST_F(Pacing, SlowCallsLeaveGapsCountedAsDropped)
{
    HostFrame frame(16, 16);
    render(frame);
    openDialog();
    ASSERT_EQ(start(dir.file("slow.avi")), 1);
    for (int call = 0; call < 10; ++call)
        renderAfter(100, frame);
    EXPECT_EQ(statusText(), "10 frames\n15 dropped\n0 MB");
    effect->stopRecording();
    EXPECT_EQ(probePositions(dir.file("slow.avi")),
              (std::vector<int64_t> {2, 5, 7, 10, 12, 15, 17, 20, 22, 25}));
}

TEST_F(Pacing, TheTickMayWrapDuringARecording)
{
    NativeUseVirtualClock(0xFFFFFF00u);
    HostFrame frame(8, 8);
    render(frame);
    openDialog();
    ASSERT_EQ(start(dir.file("wrap.avi")), 1);
    for (int call = 0; call < 20; ++call)
        renderAfter(40, frame); // crosses 2^32 after 256 ms
    EXPECT_EQ(statusText(), "20 frames\n0 MB") << "800 ms, 20 frames expected";
    effect->stopRecording();
    const auto pts = probePositions(dir.file("wrap.avi"));
    ASSERT_EQ(pts.size(), 20u);
    EXPECT_EQ(pts.front(), 1);
    EXPECT_EQ(pts.back(), 20);
}

TEST_F(Pacing, ARateOfZeroFromTheStartWritesNothing)
{
    HostFrame frame(8, 8);
    render(frame);
    effect->frameRate = 0;
    ASSERT_EQ(start(dir.file("zero.avi")), 1);
    for (int call = 0; call < 20; ++call)
        renderAfter(50, frame);
    effect->stopRecording();
    EXPECT_TRUE(probePositions(dir.file("zero.avi")).empty());
}

TEST_F(Pacing, ARateSetToZeroDuringARecordingWritesOneLastFrame)
{
    HostFrame frame(8, 8);
    render(frame);
    openDialog();
    ASSERT_EQ(start(dir.file("to-zero.avi")), 1);
    for (int call = 0; call < 5; ++call)
        renderAfter(40, frame);
    effect->frameRate = 0;
    for (int call = 0; call < 5; ++call)
        renderAfter(40, frame);
    EXPECT_EQ(statusText(), "6 frames\n0 MB");
    effect->stopRecording();
    // Position 0 lies before the end, so the writer appends it.
    EXPECT_EQ(probePositions(dir.file("to-zero.avi")), (std::vector<int64_t> {1, 2, 3, 4, 5, 6}));
}

TEST_F(Pacing, ANegativeRateWritesNothingAndShowsNoDrops)
{
    HostFrame frame(8, 8);
    render(frame);
    openDialog();
    effect->frameRate = -5;
    ASSERT_EQ(start(dir.file("negative.avi")), 1);
    for (int call = 0; call < 10; ++call)
        renderAfter(100, frame);
    EXPECT_EQ(statusText(), "");

    // Turned negative during a recording: like zero, one last frame.
    effect->frameRate = 25;
    for (int call = 0; call < 3; ++call)
        renderAfter(40, frame);
    effect->frameRate = -25;
    renderAfter(40, frame);
    renderAfter(40, frame);
    EXPECT_EQ(statusText(), "4 frames\n0 MB");
    effect->stopRecording();
    for (int64_t pts : probePositions(dir.file("negative.avi")))
        EXPECT_GE(pts, 0);
    EXPECT_EQ(littleEndian32(chunkData(dir.file("negative.avi"), "strh"), 24), 0u) << "no nonsense rate in the header";
}

TEST_F(Pacing, RateChangesTakeEffectAtOnce)
{
    HostFrame frame(8, 8);
    render(frame);
    ASSERT_EQ(start(dir.file("change.avi")), 1);
    renderAfter(1000, frame);
    effect->frameRate = 50;
    renderAfter(20, frame);
    effect->stopRecording();
    EXPECT_EQ(probePositions(dir.file("change.avi")), (std::vector<int64_t> {25, 51}));
    EXPECT_EQ(littleEndian32(chunkData(dir.file("change.avi"), "strh"), 24), 25u) << "the declared rate stays";
}

TEST(PacingArithmetic, StaysRightPastTheThirtyTwoBitProduct)
{
    // 25 fps leaves the 32-bit range after 85899345 ms; positions go on.
    EXPECT_EQ(framePeriods(85899345, 25), 2147483);
    EXPECT_EQ(framePeriods(86400000, 25), 2160000);
    EXPECT_EQ(framePeriods(int64_t(30) * 24 * 3600 * 1000, 60), int64_t(30) * 24 * 3600 * 60);
    EXPECT_EQ(framePeriods(999, 1), 0);
    EXPECT_EQ(framePeriods(1000, 1), 1);
    EXPECT_EQ(framePeriods(1000, 0), 0);
    EXPECT_EQ(framePeriods(1000, -5), 0);
    EXPECT_EQ(framePeriods(INT64_MAX, INT32_MAX), INT64_MAX / 1000) << "saturates instead of overflowing";
    EXPECT_EQ(framePosition(INT64_MAX, INT32_MAX), INT32_MAX);
}

TEST_F(Pacing, ARecordingPastADayKeepsCountingPositions)
{
    HostFrame frame(4, 4);
    render(frame);
    ASSERT_EQ(start(dir.file("day.avi")), 1);
    effect->elapsedMs = 86400000 - 40; // a day, less one frame
    effect->lastFrameIndex = 2159999;
    renderAfter(40, frame);
    EXPECT_EQ(effect->lastFrameIndex, 2160000);
}

TEST_F(Pacing, AHostWithoutAFramebufferIsNeverRead)
{
    HostFrame frame(8, 8);
    render(frame);
    openDialog();
    ASSERT_EQ(start(dir.file("null.avi")), 1);
    NativeAdvanceClock(40);
    render(nullptr, 8, 8);
    renderAfter(40, frame);
    EXPECT_EQ(statusText(), "1 frames\n1 dropped\n0 MB") << "position 1 had nothing to read";
    effect->stopRecording();
    EXPECT_EQ(probePositions(dir.file("null.avi")), (std::vector<int64_t> {2}));
}
