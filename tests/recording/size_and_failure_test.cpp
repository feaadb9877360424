// Ends of a recording that the frame path decides: a new frame size, a
// failed write.
#include "host/dialog_driver.h"
#include "tests/support/effect_fixture.h"
#include "tests/support/media_probe.h"

#include <cerrno>

#include "resources/resource.h"

using FramePathEnds = EffectTest;

TEST_F(FramePathEnds, ANewFrameSizeEndsTheRecordingAndSaysSave)
{
    HWND dialog = effect->createConfigDialog(moduleInstance, nullptr);
    HostFrame small(16, 8);
    HostFrame large(32, 8);
    render(small);
    SetDlgItemTextA(dialog, IDC_FILENAME, dir.file("resized.avi").c_str());
    SendMessageA(GetDlgItem(dialog, IDC_SAVE), BM_CLICK, 0, 0);
    ASSERT_EQ(controlText(dialog, IDC_SAVE), "STOP");
    for (int i = 0; i < 3; ++i)
        renderAfter(40, small);
    renderAfter(40, large);
    EXPECT_EQ(effect->recording.load(), 0);
    EXPECT_EQ(controlText(dialog, IDC_SAVE), "save");
    EXPECT_EQ(effect->width, 32);
    EXPECT_TRUE(boxes.boxes().empty()) << "ended silently";
    EXPECT_EQ(NativeOpenAviFileCount(), 0);
    EXPECT_EQ(probePackets(dir.file("resized.avi")).size(), 3u);
    DestroyWindow(dialog);
}

TEST_F(FramePathEnds, ANewFrameSizeWithTheDialogClosedEndsTheRecordingToo)
{
    HostFrame small(16, 8);
    render(small);
    ASSERT_EQ(start(dir.file("closed.avi")), 1);
    renderAfter(40, small);
    render(nullptr, 17, 8);
    EXPECT_EQ(effect->recording.load(), 0);
    EXPECT_EQ(probePackets(dir.file("closed.avi")).size(), 1u);
}

TEST_F(FramePathEnds, AFailedWriteShowsTheSystemsTextAndEndsTheRecording)
{
    HWND dialog = effect->createConfigDialog(moduleInstance, nullptr);
    HostFrame frame(16, 8);
    render(frame);
    ASSERT_EQ(start(dir.file("failed.avi")), 1);
    for (int i = 0; i < 4; ++i)
        renderAfter(40, frame);
    NativeFailNextAviCall("AVIStreamWrite", NativeErrorFromErrno(ENOSPC));
    renderAfter(40, frame);
    const auto shown = boxes.boxes();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, "No space left on device.");
    EXPECT_EQ(shown[0].caption, "error");
    EXPECT_EQ(shown[0].type, static_cast<UINT>(MB_ICONINFORMATION | MB_OK));
    EXPECT_EQ(shown[0].owner, dialog);
    EXPECT_EQ(effect->recording.load(), 0);
    EXPECT_EQ(controlText(dialog, IDC_SAVE), "save");
    EXPECT_EQ(controlText(dialog, IDC_STATUS), "4 frames\n1 dropped\n0 MB");
    EXPECT_EQ(NativeOpenAviFileCount(), 0);
    EXPECT_EQ(probePackets(dir.file("failed.avi")).size(), 4u);
    DestroyWindow(dialog);
}

TEST_F(FramePathEnds, ACodeWithoutSystemTextIsShownAsItsNumber)
{
    HostFrame frame(16, 8);
    render(frame);
    ASSERT_EQ(start(dir.file("coded.avi")), 1);
    NativeFailNextAviCall("AVIStreamWrite", static_cast<HRESULT>(0x80044074));
    renderAfter(40, frame);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "cannot write frame (error 0x80044074)");
    EXPECT_EQ(boxes.boxes()[0].owner, nullptr) << "no dialog, no owner";
    EXPECT_EQ(effect->recording.load(), 0);
}

TEST_F(FramePathEnds, AnErrorBoxWhoseOwnerIsGoneIsShownWithoutOwner)
{
    HWND gone = effect->createConfigDialog(moduleInstance, nullptr);
    DestroyWindow(gone);
    showWriteError(gone, NativeErrorFromErrno(ENOSPC));
    const auto shown = boxes.boxes();
    ASSERT_EQ(shown.size(), 1u) << "the user never heard of the failed write";
    EXPECT_EQ(shown[0].owner, nullptr);
    EXPECT_EQ(shown[0].caption, "error");
}

namespace {

// The user presses STOP and then Save again while the error box is still open.
struct RestartWhileBoxIsOpen {
    AviOutputEffect* effect;
    std::string nextFile;
    int answered = 0;
    static int answer(void* context, HWND, LPCSTR, LPCSTR, UINT)
    {
        auto* self = static_cast<RestartWhileBoxIsOpen*>(context);
        ++self->answered;
        self->effect->stopRecording();
        std::strncpy(self->effect->fileName, self->nextFile.c_str(), 99);
        self->effect->runStartSequence();
        return IDOK;
    }
};

} // namespace

TEST_F(FramePathEnds, AStopAfterTheBoxNeverEndsARecordingStartedMeanwhile)
{
    HostFrame frame(16, 8);
    render(frame);
    ASSERT_EQ(start(dir.file("first.avi")), 1);
    renderAfter(40, frame);
    RestartWhileBoxIsOpen user {effect.get(), dir.file("second.avi")};
    NativeSetMessageBoxSink(RestartWhileBoxIsOpen::answer, &user);
    NativeFailNextAviCall("AVIStreamWrite", NativeErrorFromErrno(EIO));
    renderAfter(40, frame);
    NativeSetMessageBoxSink(nullptr, nullptr);
    EXPECT_EQ(user.answered, 1);
    EXPECT_EQ(effect->recording.load(), 1) << "the new recording goes on";
    renderAfter(40, frame);
    effect->stopRecording();
    EXPECT_EQ(probePackets(dir.file("first.avi")).size(), 1u);
    EXPECT_EQ(probePackets(dir.file("second.avi")).size(), 1u);
}

TEST_F(FramePathEnds, AFileSizeLimitStopsTheRecordingWithTheSystemsReasonAndKeepsEveryFrame)
{
    TempDir out;
    const std::string path = out.file("limited.avi");
    std::string output;
    const int status = runCommand("prlimit --fsize=3000000 " + shellQuote(hostPath()) + " record " +
                                      shellQuote(pluginPath()) + " --out " + shellQuote(path) +
                                      " --virtual-clock --seconds 4 --host-fps 50 --quiet 2>&1",
                                  &output);
    EXPECT_EQ(status, 2) << output; // ended by the plug-in
    EXPECT_NE(output.find("[message box \"error\"] File too large."), std::string::npos) << output;
    const size_t statusAt = output.find("status: ");
    ASSERT_NE(statusAt, std::string::npos) << output;
    const int framesCounted = std::atoi(output.c_str() + statusAt + 8);
    EXPECT_GT(framesCounted, 5);
    EXPECT_LE(fileSize(path), 3000000);
    std::string errors;
    const auto frames = decodeFrames(path, "bgr24", 320, 240, &errors);
    EXPECT_EQ(static_cast<int>(frames.size()), framesCounted) << errors;
    EXPECT_EQ(static_cast<int>(probePackets(path).size()), framesCounted);
}
