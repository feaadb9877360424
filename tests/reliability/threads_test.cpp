// A host that renders on one thread and runs the dialog on another, whose
// loop takes the messages; the user's typing and clicks reach the dialog
// from a third thread, as sends.
#include "host/dialog_driver.h"
#include "resources/resource.h"
#include "tests/support/effect_fixture.h"
#include "tests/support/media_probe.h"
#include "tests/support/both_targets.h"

#include <cerrno>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <map>
#include <thread>

class TwoThreads : public EffectTest {
protected:
    HWND openDialogOnWindowThread()
    {
        HWND dialog = nullptr;
        windowThread.run([&] { dialog = effect->createConfigDialog(moduleInstance, nullptr); });
        return dialog;
    }
    void closeDialog(HWND dialog)
    {
        windowThread.run([&] { DestroyWindow(dialog); });
    }

    both::WindowThread windowThread;
};

TEST_F(TwoThreads, StartStopAndWritesNeverOverlap)
{
    HostFrame frame(24, 16);
    render(frame);
    HWND dialog = openDialogOnWindowThread();
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
            closeDialog(dialog);
            dialog = openDialogOnWindowThread();
        }
        click(dialog, IDC_SAVE); // STOP
        effect->stopRecording();  // and once more, harmlessly
        effect->waitForReleases(); // a frame being written is counted when its write returns
        counted[path] = effect->totalFrames;
    }
    done = true;
    renderer.join();
    closeDialog(dialog);
    EXPECT_TRUE(boxes.boxes().empty());
    EXPECT_EQ(NativeOpenAviFileCount(), 0);
    for (const auto& [path, frames] : counted)
        EXPECT_EQ(static_cast<int>(probePackets(path).size()), frames) << path;
}

namespace {

// Holds the write error box open, its loop taking the dialog thread's
// messages, until the user is done with the dialog.
struct BoxThatWaits {
    std::atomic<bool> open {false};
    std::atomic<HWND> owner {nullptr};
    std::atomic<bool> userDone {false};
    std::atomic<bool> answered {false};

    static int answer(void* context, HWND owner, LPCSTR, LPCSTR, UINT)
    {
        auto* self = static_cast<BoxThatWaits*>(context);
        if (!self->open.exchange(true))
            self->owner = owner;
        if (!self->userDone.load())
            return 0;
        self->answered = true;
        return IDOK;
    }
};

template <typename Condition>
bool waitFor(Condition condition)
{
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition() && std::chrono::steady_clock::now() < giveUp)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return condition();
}

} // namespace

// The render thread leaves the box for a failed write to the dialog's
// thread, which shows it owned by the dialog, and whose box loop still
// takes the user's typing and clicks.
TEST_F(TwoThreads, TheDialogWorksWhileItShowsTheRenderThreadsErrorBox)
{
    HostFrame frame(24, 16);
    render(frame);
    HWND dialog = openDialogOnWindowThread();
    typeInto(dialog, IDC_FILENAME, dir.file("box.avi"));
    click(dialog, IDC_SAVE);
    renderAfter(40, frame);

    BoxThatWaits box;
    NativeSetMessageBoxSink(BoxThatWaits::answer, &box);
    NativeFailNextAviCall("AVIStreamWrite", NativeErrorFromErrno(EIO));
    renderAfter(40, frame);
    ASSERT_TRUE(waitFor([&] { return box.open.load(); }));
    EXPECT_EQ(box.owner.load(), dialog);
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
    box.userDone = true;
    ASSERT_TRUE(waitFor([&] { return box.answered.load(); }));
    windowThread.run([] {});
    NativeSetMessageBoxSink(nullptr, nullptr);
    EXPECT_EQ(effect->recording.load(), 0);
    EXPECT_EQ(controlText(dialog, IDC_SAVE), "Save") << "the box's return changes nothing";
    EXPECT_EQ(NativeOpenAviFileCount(), 0);
    closeDialog(dialog);
}

namespace {

// The frames counted so far, read from the status label as the user reads it.
int framesShown(HWND dialog) { return std::atoi(controlText(dialog, IDC_STATUS).c_str()); }

} // namespace

// The render thread writes a frame on every call, back to back, each write
// slowed as a large frame on a real disk is, until the disk stops answering
// for 2 s in the middle of a write. STOP pressed then ends the recording at
// once, and the render thread finishes the file when its write returns,
// holding exactly the frames the label counts. Windows-like timing makes
// any Sleep(1) cost what it costs on Windows.
TEST_F(TwoThreads, StopEndsTheRecordingPromptlyWhileTheRenderThreadWritesBackToBack)
{
    HostFrame frame(64, 48);
    render(frame);
    HWND dialog = openDialogOnWindowThread();
    typeInto(dialog, IDC_FILENAME, dir.file("busy.avi"));
    setChecked(dialog, IDC_RAWMODE, true);
    NativeUseWindowsTiming(TRUE);
    NativeSlowAviWrites(2000);
    click(dialog, IDC_SAVE);

    std::atomic<bool> done {false};
    std::thread renderer([&] {
        while (!done.load())
            renderAfter(40, frame);
    });
    const auto waitUntil = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (framesShown(dialog) < 5 && std::chrono::steady_clock::now() < waitUntil)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_GE(framesShown(dialog), 5);
    NativeSlowAviWrites(2000 * 1000);
    std::this_thread::sleep_for(std::chrono::milliseconds(50)); // the next write has begun

    const auto pressed = std::chrono::steady_clock::now();
    click(dialog, IDC_SAVE); // STOP
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - pressed);
    const std::string caption = controlText(dialog, IDC_SAVE);
    done = true;
    renderer.join();
    NativeSlowAviWrites(0);
    NativeUseWindowsTiming(FALSE);
    effect->waitForReleases();
    windowThread.settle();

    EXPECT_LT(took.count(), 100) << "STOP waited for the write (ms)";
    EXPECT_EQ(caption, "Save");
    EXPECT_EQ(effect->recording.load(), 0);
    EXPECT_EQ(static_cast<int>(probePackets(dir.file("busy.avi")).size()), framesShown(dialog));
    closeDialog(dialog);
}

namespace {

// A render thread calling renderFrame back to back, 7 ms of the virtual
// clock apart (or as the test says), at the size the test sets, counting
// its calls.
class BackToBackRenderer {
public:
    BackToBackRenderer(AviOutputEffect& effect, int width, int height, DWORD stepMs = 7)
        : effect_(effect)
        , frame_(32, 16)
        , width_(width)
        , height_(height)
        , stepMs_(stepMs)
        , thread_([this] { run(); })
    {
        while (calls_.load() == 0)
            std::this_thread::yield();
    }
    ~BackToBackRenderer()
    {
        done_ = true;
        thread_.join();
    }
    void resize(int width, int height)
    {
        width_ = width;
        height_ = height;
    }
    long calls() const { return calls_.load(); }

private:
    void run()
    {
        while (!done_.load()) {
            NativeAdvanceClock(stepMs_);
            effect_.renderFrame(0, 0, frame_.pixels.data(), 0, width_.load(), height_.load());
            ++calls_;
        }
    }

    AviOutputEffect& effect_;
    HostFrame frame_;
    std::atomic<int> width_;
    std::atomic<int> height_;
    DWORD stepMs_;
    std::atomic<long> calls_ {0};
    std::atomic<bool> done_ {false};
    std::thread thread_;
};

// Replacing or finishing a large file takes the file system this long.
constexpr DWORD kSlowFileWorkMs = 300;
// Calls a render thread that never waits for that work makes meanwhile, at the least.
constexpr long kCallsWhileFileWork = 10;

} // namespace

TEST_F(TwoThreads, SaveReplacesTheOldFileWhileTheRenderThreadRenders)
{
    render(nullptr, 16, 8);
    BackToBackRenderer renderer(*effect, 16, 8);
    NativeSlowAviOpensAndReleases(kSlowFileWorkMs);
    const long before = renderer.calls();
    ASSERT_EQ(start(dir.file("replaced.avi")), 1);
    const long during = renderer.calls() - before;
    NativeSlowAviOpensAndReleases(0);
    EXPECT_GE(during, kCallsWhileFileWork) << "renderFrame waited for the file to be opened";
}

// With no frame in flight (the clock stands still, so nothing is written
// after the first call's header patch), STOP finishes the file itself.
TEST_F(TwoThreads, StopFinishesTheFileWhileTheRenderThreadRenders)
{
    render(nullptr, 16, 8);
    BackToBackRenderer renderer(*effect, 16, 8, 0);
    ASSERT_EQ(start(dir.file("finished.avi")), 1);
    for (const long started = renderer.calls(); renderer.calls() < started + 2;)
        std::this_thread::yield();
    NativeSlowAviOpensAndReleases(kSlowFileWorkMs);
    const long before = renderer.calls();
    effect->stopRecording();
    const long during = renderer.calls() - before;
    NativeSlowAviOpensAndReleases(0);
    EXPECT_GE(during, kCallsWhileFileWork) << "renderFrame waited for the file to be finished";
}

// The frame path ends a recording on a new frame size and finishes its
// file after it lets go of the lock: the dialog gets the lock meanwhile.
TEST_F(TwoThreads, ARecordingTheFramePathEndsIsFinishedOutsideTheLock)
{
    HostFrame frame(16, 8);
    render(frame);
    ASSERT_EQ(start(dir.file("ended.avi")), 1);
    renderAfter(40, frame);
    NativeSlowAviOpensAndReleases(kSlowFileWorkMs);
    std::thread renderer([&] { render(nullptr, 24, 8); });
    while (effect->recording.load())
        std::this_thread::yield();
    bool fileStillOpen = false;
    {
        platform::LockGuard guard(effect->recordingLock);
        fileStillOpen = NativeOpenAviFileCount() == 1;
    }
    renderer.join();
    NativeSlowAviOpensAndReleases(0);
    EXPECT_TRUE(fileStillOpen) << "the lock was held while the file was finished";
    EXPECT_EQ(probePackets(dir.file("ended.avi")).size(), 1u);
}

// A Save made for frames of the old size is made again for the new one.
TEST_F(TwoThreads, SaveRecordsTheSizeTheFramesHaveWhenItsFileIsReady)
{
    render(nullptr, 16, 8);
    BackToBackRenderer renderer(*effect, 16, 8);
    NativeSlowAviOpensAndReleases(kSlowFileWorkMs);
    std::thread resizer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(kSlowFileWorkMs / 3));
        renderer.resize(32, 16);
    });
    const int started = start(dir.file("resized.avi"));
    resizer.join();
    NativeSlowAviOpensAndReleases(0);
    ASSERT_EQ(started, 1);
    const long before = renderer.calls();
    while (renderer.calls() < before + 20)
        std::this_thread::yield();
    effect->stopRecording();
    ProbedStream stream;
    ASSERT_TRUE(probeStream(dir.file("resized.avi"), stream));
    EXPECT_EQ(stream.width, 32);
    EXPECT_GT(probePackets(dir.file("resized.avi")).size(), 0u);
}
