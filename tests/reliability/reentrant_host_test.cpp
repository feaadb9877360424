// A host on one thread whose message boxes run its own messages, as
// Windows' modal loops do: while an error box is open, the host renders,
// deletes effects and works the dialog.
#include "host/dialog_driver.h"
#include "tests/support/effect_fixture.h"
#include "tests/support/media_probe.h"

#include <cerrno>
#include <algorithm>
#include <functional>
#include <set>

namespace {

// Runs `inside` once, from inside the first box, as the box's message loop
// would run the host's own messages; counts how deep boxes nest.
struct HostInsideTheBox {
    std::function<void()> inside;
    int shown = 0;
    int depth = 0;
    int deepest = 0;

    static int answer(void* context, HWND, LPCSTR, LPCSTR, UINT)
    {
        auto* self = static_cast<HostInsideTheBox*>(context);
        ++self->shown;
        self->deepest = std::max(self->deepest, ++self->depth);
        if (self->shown == 1 && self->inside)
            self->inside();
        --self->depth;
        return IDOK;
    }
};

class ReentrantHost : public EffectTest {
protected:
    void SetUp() override
    {
        EffectTest::SetUp();
        NativeSetMessageBoxSink(HostInsideTheBox::answer, &host);
    }
    void TearDown() override
    {
        NativeSetMessageBoxSink(nullptr, nullptr);
        EffectTest::TearDown();
    }

    // The dialog of a recording into `name` started on `frame`.
    HWND startRecording(const std::string& name, const HostFrame& frame)
    {
        render(frame);
        HWND dialog = openDialog();
        typeInto(dialog, IDC_FILENAME, dir.file(name));
        click(dialog, IDC_SAVE);
        return dialog;
    }

    // A recording of `frames` frames whose next write fails.
    HWND recordThenFail(const std::string& name, const HostFrame& frame, int frames)
    {
        HWND dialog = startRecording(name, frame);
        for (int i = 0; i < frames; ++i)
            renderAfter(40, frame);
        NativeFailNextAviCall("AVIStreamWrite", NativeErrorFromErrno(ENOSPC));
        return dialog;
    }

    HostInsideTheBox host;
};

} // namespace

TEST_F(ReentrantHost, DeletingTheEffectWhileItsErrorBoxIsOpenIsSafe)
{
    HostFrame frame(16, 8);
    recordThenFail("deleted.avi", frame, 3);
    AviOutputEffect* raw = effect.get();
    host.inside = [&] { effect.reset(); };
    NativeAdvanceClock(40);
    raw->renderFrame(0, 0, frame.pixels.data(), 0, 16, 8);
    EXPECT_EQ(host.shown, 1);
    EXPECT_EQ(effect, nullptr);
    EXPECT_EQ(NativeOpenAviFileCount(), 0);
    EXPECT_EQ(probePackets(dir.file("deleted.avi")).size(), 3u);
}

namespace {

// A host that renders from its window's timer, on a disk that stays full,
// and a user slow to answer: the box stays open while five frames go by.
struct TimerHost {
    std::function<void()> renderOne;
    int rendered = 0;
    int renderedInBox = 0;
    std::set<LPCSTR> openBoxes; // each box has its own text
    int shown = 0;
    size_t mostOpen = 0;

    static TimerHost*& current()
    {
        static TimerHost* host = nullptr;
        return host;
    }
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        if (message == WM_TIMER && current()) {
            TimerHost& host = *current();
            ++host.rendered;
            host.renderedInBox += !host.openBoxes.empty();
            NativeFailNextAviCall("AVIStreamWrite", NativeErrorFromErrno(ENOSPC));
            host.renderOne();
        }
        return DefWindowProcA(window, message, wParam, lParam);
    }
    static int answer(void* context, HWND, LPCSTR text, LPCSTR, UINT)
    {
        auto* host = static_cast<TimerHost*>(context);
        if (host->openBoxes.insert(text).second)
            ++host->shown;
        host->mostOpen = std::max(host->mostOpen, host->openBoxes.size());
        if (host->renderedInBox < 5)
            return 0;
        host->openBoxes.erase(text);
        return IDOK;
    }
};

} // namespace

TEST_F(ReentrantHost, AHostRenderingFromATimerThroughAnOpenBoxSeesOneBox)
{
    HostFrame frame(16, 8);
    HWND dialog = startRecording("timer.avi", frame);
    renderAfter(40, frame);
    renderAfter(40, frame);

    TimerHost timerHost;
    timerHost.renderOne = [&] { renderAfter(40, frame); };
    TimerHost::current() = &timerHost;
    NativeSetMessageBoxSink(TimerHost::answer, &timerHost);
    WNDCLASSA windowClass {};
    windowClass.lpfnWndProc = TimerHost::procedure;
    windowClass.lpszClassName = "TimerHost";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowExA(0, "TimerHost", "host", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    SetTimer(window, 1, 10, nullptr);
    MSG message;
    while (timerHost.rendered < 10 && GetMessageA(&message, nullptr, 0, 0) > 0)
        DispatchMessageA(&message);
    DestroyWindow(window);
    UnregisterClassA("TimerHost", nullptr);
    TimerHost::current() = nullptr;

    EXPECT_GE(timerHost.renderedInBox, 5) << "the host rendered from inside the box";
    EXPECT_EQ(timerHost.shown, 1);
    EXPECT_EQ(timerHost.mostOpen, 1u) << "never a box inside the box";
    EXPECT_EQ(controlText(dialog, IDC_SAVE), "save");
    EXPECT_EQ(probePackets(dir.file("timer.avi")).size(), 2u) << "closed before the box, with its two frames";
}

TEST_F(ReentrantHost, SaveInsideTheErrorBoxLeavesTheNewRecordingsCaptionAndStatus)
{
    HostFrame frame(16, 8);
    HWND dialog = recordThenFail("failed.avi", frame, 4);
    host.inside = [&] {
        typeInto(dialog, IDC_FILENAME, dir.file("next.avi"));
        click(dialog, IDC_SAVE);
    };
    renderAfter(40, frame);
    EXPECT_EQ(effect->recording.load(), 1) << "the recording started from inside the box goes on";
    EXPECT_EQ(controlText(dialog, IDC_SAVE), "STOP");
    renderAfter(40, frame);
    EXPECT_EQ(controlText(dialog, IDC_STATUS), "1 frames\n0 MB");
    click(dialog, IDC_SAVE);
    EXPECT_EQ(probePackets(dir.file("failed.avi")).size(), 4u);
    EXPECT_EQ(probePackets(dir.file("next.avi")).size(), 1u);
}

TEST_F(ReentrantHost, AClickOnStopAfterTheRecordingEndedNeverStartsAnother)
{
    HostFrame frame(16, 8);
    HWND dialog = startRecording("kept.avi", frame);
    for (int i = 0; i < 10; ++i)
        renderAfter(40, frame);
    // The render thread ends the recording just before the user's click
    // reaches a button that still says STOP.
    effect->stopRecording();
    ASSERT_EQ(controlText(dialog, IDC_SAVE), "STOP");
    click(dialog, IDC_SAVE);
    EXPECT_EQ(effect->recording.load(), 0);
    EXPECT_EQ(controlText(dialog, IDC_SAVE), "Save");
    EXPECT_EQ(probePackets(dir.file("kept.avi")).size(), 10u) << "the file just written is not replaced";
}
