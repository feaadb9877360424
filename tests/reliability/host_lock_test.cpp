// A host that holds a lock of its own around renderFrame and takes it on
// its window thread, where the dialog lives; and that deletes effects on
// its render thread while their dialogs are in use.
#include "host/dialog_driver.h"
#include "dialog/dialog_view.h"
#include "resources/resource.h"
#include "tests/support/effect_fixture.h"
#include "tests/support/media_probe.h"
#include "tests/support/both_targets.h"

#include <cerrno>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace {

class HostLock : public EffectTest {
protected:
    HWND openDialogOn(AviOutputEffect& owner)
    {
        HWND dialog = nullptr;
        windowThread.run([&] { dialog = owner.createConfigDialog(moduleInstance, nullptr); });
        return dialog;
    }
    // The window thread's dialog of a recording into `name` started on `frame`.
    HWND startRecording(const std::string& name, const HostFrame& frame)
    {
        render(frame);
        HWND dialog = openDialogOn(*effect);
        typeInto(dialog, IDC_FILENAME, dir.file(name));
        click(dialog, IDC_SAVE);
        return dialog;
    }
    void closeDialog(HWND dialog)
    {
        windowThread.run([&] { DestroyWindow(dialog); });
    }
    // The status label once the window thread has taken what was posted to it.
    std::string settledStatus(HWND dialog)
    {
        std::string status;
        windowThread.run([&] {
            MSG message;
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageA(&message);
            status = controlText(dialog, IDC_STATUS);
        });
        return status;
    }

    both::WindowThread windowThread;
};

} // namespace

// The window thread waits for the host's lock without taking messages, as
// such a host does while it edits its effect list. A render thread that
// waited for the window thread while holding that lock would stop both.
TEST_F(HostLock, FramesKeepComingWhileTheWindowThreadWaitsForTheHostsLock)
{
    HostFrame frame(24, 16);
    HWND dialog = startRecording("locked.avi", frame);

    std::mutex hostLock;
    std::atomic<bool> done {false};
    std::atomic<int> rendered {0};
    // Between frames the host lets go of its lock for a moment, as one that
    // paces its frames does; a mutex retaken at once could starve the
    // window thread of it on a busy machine, whatever the plug-in does.
    std::thread renderer([&] {
        while (!done.load()) {
            {
                std::lock_guard<std::mutex> guard(hostLock);
                renderAfter(40, frame);
                ++rendered;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    bool stalled = false;
    while (rendered.load() < 300 && !stalled) {
        windowThread.run([&] {
            const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(2);
            while (!hostLock.try_lock() && !(stalled = std::chrono::steady_clock::now() > giveUp))
                std::this_thread::sleep_for(std::chrono::microseconds(100));
            if (!stalled)
                hostLock.unlock();
        });
    }
    done = true;
    renderer.join();
    click(dialog, IDC_SAVE); // STOP
    EXPECT_FALSE(stalled) << "the window thread waited 2 s for the host's lock, " << rendered.load() << " frames in";
    const std::string status = settledStatus(dialog);
    closeDialog(dialog);
    EXPECT_EQ(std::atoi(status.c_str()), effect->totalFrames) << status;
    EXPECT_EQ(static_cast<int>(probePackets(dir.file("locked.avi")).size()), effect->totalFrames);
    EXPECT_TRUE(boxes.boxes().empty());
}

// A host loading a preset on its render thread deletes the effect whatever
// the window thread is doing: here, taking a typed file name into it.
TEST_F(HostLock, DeletingTheEffectOnTheRenderThreadWhileItsDialogIsTypedIntoIsSafe)
{
    for (int round = 0; round < 60; ++round) {
        auto doomed = std::make_unique<AviOutputEffect>();
        HWND dialog = openDialogOn(*doomed);
        std::atomic<bool> gone {false};
        std::thread typist([&] {
            for (int typed = 0; !gone.load() || typed % 8 != 0; ++typed)
                typeInto(dialog, IDC_FILENAME, dir.file("typed" + std::to_string(typed) + ".avi"));
        });
        std::this_thread::sleep_for(std::chrono::microseconds(round * 97 % 2000));
        doomed.reset();
        gone = true;
        typist.join();
        closeDialog(dialog);
    }
    EXPECT_TRUE(boxes.boxes().empty());
}

// A host's window thread that ends takes the dialog with it, unannounced,
// while the render thread records on: the recording goes on, its write
// error is shown without an owner, and a dialog opened later shows how the
// recording ended.
TEST_F(HostLock, AWindowThreadThatEndsWithTheDialogOpenLeavesTheRecordingItsBoxAndItsState)
{
    HostFrame frame(24, 16);
    render(frame);
    HWND orphan = nullptr;
    std::thread([&] {
        orphan = effect->createConfigDialog(moduleInstance, nullptr);
        typeInto(orphan, IDC_FILENAME, dir.file("orphan.avi"));
        click(orphan, IDC_SAVE);
    }).join();
    ASSERT_FALSE(IsWindow(orphan));
    renderAfter(40, frame);
    renderAfter(40, frame);
    NativeFailNextAviCall("AVIStreamWrite", NativeErrorFromErrno(ENOSPC));
    renderAfter(40, frame);

    const auto shown = boxes.boxes();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].caption, "error");
    EXPECT_EQ(shown[0].owner, nullptr);
    EXPECT_EQ(probePackets(dir.file("orphan.avi")).size(), 2u);
    HWND dialog = openDialogOn(*effect);
    EXPECT_EQ(controlText(dialog, IDC_SAVE), kCaptionSave);
    closeDialog(dialog);
}
