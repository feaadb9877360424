// A host that renders on one thread and runs the dialog on another.
#include "host/dialog_driver.h"
#include "resources/resource.h"
#include "tests/support/effect_fixture.h"
#include "tests/support/media_probe.h"

#include <cerrno>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

using TwoThreads = EffectTest;

TEST_F(TwoThreads, StartStopAndWritesNeverOverlap)
{
    HostFrame frame(24, 16);
    render(frame);
    HWND dialog = effect->createConfigDialog(moduleInstance, nullptr);
    std::atomic<bool> done {false};
    std::thread renderer([&] {
        uint32_t number = 0;
        while (!done.load()) {
            NativeAdvanceClock(7);
            HostFrame local(24, 16, ++number);
            render(local);
        }
    });
    std::map<std::string, int> counted;
    for (int round = 0; round < 60; ++round) {
        const std::string path = dir.file("round" + std::to_string(round) + ".avi");
        typeInto(dialog, IDC_FILENAME, path);
        click(dialog, IDC_SAVE);
        std::this_thread::sleep_for(std::chrono::milliseconds(round % 5));
        if (round % 7 == 3) {
            DestroyWindow(dialog);
            dialog = effect->createConfigDialog(moduleInstance, nullptr);
        }
        click(dialog, IDC_SAVE); // STOP
        effect->stopRecording();  // and once more, harmlessly
        counted[path] = effect->totalFrames;
    }
    done = true;
    renderer.join();
    DestroyWindow(dialog);
    EXPECT_TRUE(boxes.boxes().empty());
    EXPECT_EQ(NativeOpenAviFileCount(), 0);
    for (const auto& [path, frames] : counted)
        EXPECT_EQ(static_cast<int>(probePackets(path).size()), frames) << path;
}

namespace {

// Holds the write error box open until the other thread is done with the dialog.
struct BoxThatWaits {
    std::mutex lock;
    std::condition_variable changed;
    bool boxOpen = false;
    bool stopPressed = false; // the user is done with the dialog

    static int answer(void* context, HWND, LPCSTR, LPCSTR, UINT)
    {
        auto* self = static_cast<BoxThatWaits*>(context);
        std::unique_lock<std::mutex> guard(self->lock);
        self->boxOpen = true;
        self->changed.notify_all();
        self->changed.wait_for(guard, std::chrono::seconds(10), [self] { return self->stopPressed; });
        return IDOK;
    }
};

} // namespace

TEST_F(TwoThreads, TheDialogWorksWhileTheRenderThreadShowsAnErrorBox)
{
    HostFrame frame(24, 16);
    render(frame);
    HWND dialog = effect->createConfigDialog(moduleInstance, nullptr);
    typeInto(dialog, IDC_FILENAME, dir.file("box.avi"));
    click(dialog, IDC_SAVE);
    renderAfter(40, frame);

    BoxThatWaits box;
    NativeSetMessageBoxSink(BoxThatWaits::answer, &box);
    NativeFailNextAviCall("AVIStreamWrite", NativeErrorFromErrno(EIO));
    std::thread renderer([&] { renderAfter(40, frame); });
    {
        std::unique_lock<std::mutex> guard(box.lock);
        ASSERT_TRUE(box.changed.wait_for(guard, std::chrono::seconds(10), [&] { return box.boxOpen; }));
    }
    EXPECT_EQ(effect->recording.load(), 0) << "the recording ends before its box is shown";
    EXPECT_EQ(controlText(dialog, IDC_SAVE), "save");
    EXPECT_EQ(probePackets(dir.file("box.avi")).size(), 1u) << "and its file is complete";
    // The user starts the next recording and stops it while the box is still open.
    const auto pressed = std::chrono::steady_clock::now();
    typeInto(dialog, IDC_FILENAME, dir.file("next.avi"));
    click(dialog, IDC_SAVE);
    EXPECT_EQ(controlText(dialog, IDC_SAVE), "STOP");
    click(dialog, IDC_SAVE);
    EXPECT_LT(std::chrono::steady_clock::now() - pressed, std::chrono::seconds(5)) << "the dialog waited for the box";
    EXPECT_EQ(controlText(dialog, IDC_SAVE), "Save");
    {
        std::lock_guard<std::mutex> guard(box.lock);
        box.stopPressed = true;
        box.changed.notify_all();
    }
    renderer.join();
    NativeSetMessageBoxSink(nullptr, nullptr);
    EXPECT_EQ(effect->recording.load(), 0);
    EXPECT_EQ(controlText(dialog, IDC_SAVE), "Save") << "the box's return changes nothing";
    EXPECT_EQ(NativeOpenAviFileCount(), 0);
    DestroyWindow(dialog);
}
