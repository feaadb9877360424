// A hostile host under Wine, through the real USER32: the error box's modal
// loop runs the host's own timers and messages, and the host's render
// thread ends a recording while the dialog thread is busy.
#include "tests/wine/wine_host.h"

#include <gtest/gtest.h>

namespace {

struct HostileRun {
    std::string file;
    ProgramOutput output;
};

HostileRun runCase(const PluginFolder& folder, const std::string& name)
{
    return {folder.hostPath("out.avi"),
            runWinhost("hostile", folder, {"--out", folder.windowsPath("out.avi"), "--case", name})};
}

// The recording's file is closed and holds, decoded, every frame the status
// label counted: winhost records 160 x 120 standard frames.
void expectFileHoldsTheCountedFrames(const HostileRun& run, const std::string& statusKey)
{
    RecordingStatus status;
    ASSERT_TRUE(parseStatus(run.output.value(statusKey), status)) << run.output.transcript();
    ASSERT_GT(status.frames, 0);
    const std::vector<uint32_t> numbers = decodedFrameNumbers(run.file, 160, 120, false);
    EXPECT_EQ(static_cast<int>(numbers.size()), status.frames);
}

} // namespace

// The host deletes the effect from inside the box its failed write raised,
// and takes the freed memory back filled with a pattern, so that anything
// the plug-in touched after the box would hang or crash the host.
TEST(HostileHost, DeletingTheEffectWhileItsErrorBoxIsOpenIsSafe)
{
    PluginFolder folder("delete-in-box");
    const HostileRun run = runCase(folder, "delete-in-box");
    const ProgramOutput& output = run.output;
    ASSERT_TRUE(output.finished()) << output.transcript();
    ASSERT_TRUE(output.has("deleted in box")) << output.transcript();
    EXPECT_GT(std::stoi(output.value("effect blocks")), 0);
    EXPECT_EQ(output.value("effect blocks taken back"), output.value("effect blocks"))
        << "the freed effect must be refilled, or a use of it would go unseen";
    EXPECT_EQ(output.value("boxes shown"), "1");
    EXPECT_EQ(output.value("box 0 caption"), "error");
    expectFileHoldsTheCountedFrames(run, "status");
}

// The host renders from its window's timer, which the box's loop runs, and
// the user takes a while to answer; every write would fail meanwhile.
TEST(HostileHost, AHostRenderingThroughTheErrorBoxGetsOneBox)
{
    PluginFolder folder("timer-host");
    const HostileRun run = runCase(folder, "timer-host");
    const ProgramOutput& output = run.output;
    ASSERT_TRUE(output.finished()) << output.transcript();
    ASSERT_GT(std::stoi(output.value("frames rendered from inside a box")), 0) << "the box's loop ran the host's timer";
    EXPECT_EQ(output.value("boxes shown"), "1") << output.transcript();
    EXPECT_EQ(output.value("most boxes open at once"), "1");
    EXPECT_EQ(output.value("caption at end"), "save");
    expectFileHoldsTheCountedFrames(run, "status");
}

// The render thread ends the recording with a new frame size; its caption
// is still on its way to the dialog's thread when the user clicks STOP.
TEST(HostileHost, AClickOnStopJustAfterTheRecordingEndedStartsNoNewOne)
{
    PluginFolder folder("stop-after-end");
    const HostileRun run = runCase(folder, "stop-after-end");
    const ProgramOutput& output = run.output;
    ASSERT_TRUE(output.finished()) << output.transcript();
    ASSERT_EQ(output.value("caption before click"), "STOP");
    EXPECT_EQ(output.value("caption after click"), "Save");
    EXPECT_EQ(output.value("status"), output.value("status before click"))
        << "the frames rendered after the click reach no recording";
    expectFileHoldsTheCountedFrames(run, "status before click");
}

// The host renders on its own thread inside a lock of its own, which its
// window thread takes now and then without taking messages meanwhile.
// Frames must keep coming, and the window thread never waits long for it.
TEST(HostileHost, AHostHoldingItsOwnLockAroundRenderingNeverStops)
{
    PluginFolder folder("host-lock");
    const HostileRun run = runCase(folder, "host-lock");
    const ProgramOutput& output = run.output;
    ASSERT_TRUE(output.finished()) << output.transcript();
    EXPECT_LT(std::stoi(output.value("longest wait for the host lock")), 1000) << output.transcript();
    EXPECT_GT(std::stoi(output.value("frames rendered under the host lock")), 50);
    EXPECT_EQ(output.value("boxes shown"), "0");
    EXPECT_EQ(output.value("caption at end"), "Save");
    expectFileHoldsTheCountedFrames(run, "status");
}
