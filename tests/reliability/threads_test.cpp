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

// Holds the write error box open until the other thread has pressed STOP.
struct BoxThatWaits {
    std::mutex lock;
    std::condition_variable changed;
    bool boxOpen = false;
    bool stopPressed = false;

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

TEST_F(TwoThreads, StopWhileTheRenderThreadShowsAnErrorBoxDoesNotDeadlock)
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
    EXPECT_EQ(effect->recording.load(), 1) << "the box comes before the stop";
    const auto pressed = std::chrono::steady_clock::now();
    click(dialog, IDC_SAVE); // STOP, while the box is open on the other thread
    EXPECT_LT(std::chrono::steady_clock::now() - pressed, std::chrono::seconds(5)) << "STOP waited for the box";
    EXPECT_EQ(controlText(dialog, IDC_SAVE), "Save");
    {
        std::lock_guard<std::mutex> guard(box.lock);
        box.stopPressed = true;
        box.changed.notify_all();
    }
    renderer.join();
    NativeSetMessageBoxSink(nullptr, nullptr);
    EXPECT_EQ(effect->recording.load(), 0);
    EXPECT_EQ(controlText(dialog, IDC_SAVE), "save");
    EXPECT_EQ(NativeOpenAviFileCount(), 0);
    EXPECT_EQ(probePackets(dir.file("box.avi")).size(), 1u);
    DestroyWindow(dialog);
}
