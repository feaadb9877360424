// Dialogs that a host makes, destroys or leaves behind while a frame is
// being written, on a window thread of its own: the status, the caption
// and every error box still reach the user, once, and a box opens only
// once its file is finished. Built natively as one of the tests and, with
// mingw, as a Windows program over our writer that runs under Wine, so the
// plug-in meets the real USER32 too. Each case acts in the middle of a
// frame write through the writer's fault plan, which runs a hook before
// every file operation.
#include "plugin/avi_output_effect.h"
#include "plugin/registration.h"
#include "resources/resource.h"
#include "tests/support/both_targets.h"

#ifdef _WIN32
#include "platform/avi/avifile_core.h"
#endif
#include "platform/avi/file_faults.h"
#include "tests/support/riff_walk.h"

#include <cerrno>
#include <cstdlib>
#include <string>

namespace {

using both::Thread;
using both::WindowThread;

#ifdef _WIN32
int openAviFiles() { return avifile::openFileCount(); }
void installFaults(const avi::FaultPlan& plan) { avi::FileFaults::install(plan); }
void removeFaults() { avi::FileFaults::remove(); }
constexpr int kDiskFull = ERROR_DISK_FULL;
#else
int openAviFiles() { return NativeOpenAviFileCount(); }
void installFaults(const avi::FaultPlan& plan) { NativeInstallFileFaults(&plan); }
void removeFaults() { NativeInstallFileFaults(nullptr); }
constexpr int kDiskFull = ENOSPC;
#endif

HINSTANCE thisModule()
{
#ifdef _WIN32
    return GetModuleHandleA(nullptr);
#else
    return NativeModuleContaining(reinterpret_cast<const void*>(&thisModule));
#endif
}

both::Boxes* boxes;
std::string folder;

constexpr int kWidth = 32;
constexpr int kHeight = 24;
uint32_t pixels[kWidth * kHeight];

// At 1000 frames a second, every call on a tick later than the last call
// and the last Save writes a frame.
std::atomic<DWORD> lastRendered {0};
void renderNextFrame(AviOutputEffect& effect, int width = kWidth)
{
    while (timeGetTime() == lastRendered)
        Sleep(1);
    effect.renderFrame(0, 0, pixels, 0, width, kHeight);
    lastRendered = timeGetTime(); // the effect's clock read no later tick
}

// Runs `act` before the next frame write's first file operation, and fails
// that write when asked; the plan stays until the case removes it.
struct InTheNextWrite {
    std::function<void(uint64_t call)> act;
    bool fail = false;

    void install()
    {
        avi::FaultPlan plan;
        plan.kind = fail ? avi::FaultPlan::Kind::Once : avi::FaultPlan::Kind::None;
        plan.at = 1;
        plan.code = kDiskFull;
        plan.beforeCall = [](avi::FileOperation, uint64_t call, void* self) {
            static_cast<InTheNextWrite*>(self)->act(call);
        };
        plan.context = this;
        installFaults(plan);
    }
};

// The next frame, rendered on a thread of its own, whose write hangs for
// 2 s as a disk that stops answering does; made once it hangs.
class HungWrite {
public:
    explicit HungWrite(AviOutputEffect& effect)
        : during_ {[this](uint64_t call) {
            if (call != 1)
                return;
            hanging_ = true;
            Sleep(2000);
        }}
    {
        during_.install();
        renderer_ = new Thread([&effect] { renderNextFrame(effect); });
        both::waitUntil([this] { return hanging_.load(); }, INFINITE);
    }
    ~HungWrite()
    {
        renderer_->join();
        delete renderer_;
        removeFaults();
    }

private:
    InTheNextWrite during_;
    std::atomic<bool> hanging_ {false};
    Thread* renderer_ = nullptr;
};

unsigned millisecondsTaken(const std::function<void()>& act)
{
    const DWORD start = timeGetTime();
    act();
    return static_cast<unsigned>(timeGetTime() - start);
}

size_t framesIn(const char* name)
{
    const AviCheck file = checkAvi(folder + name, AviState::Closed);
    CHECK(file.consistent());
    return file.framePositions().size();
}

HWND openDialog(WindowThread& window, AviOutputEffect& effect)
{
    HWND dialog = nullptr;
    window.run([&] { dialog = effect.createConfigDialog(thisModule(), window.host()); });
    return dialog;
}

void press(HWND dialog, int id)
{
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

std::string textOf(HWND dialog, int id)
{
    char text[128] = "";
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

// Save, with a frame size known and 1000 frames a second.
void startRecording(AviOutputEffect& effect, HWND dialog, const char* name)
{
    renderNextFrame(effect);
    SetDlgItemTextA(dialog, IDC_FILENAME, (folder + name).c_str());
    SetDlgItemTextA(dialog, IDC_FRAMERATE, "1000");
    press(dialog, IDC_SAVE);
    lastRendered = timeGetTime();
    CHECK_EQ("STOP", textOf(dialog, IDC_SAVE));
    renderNextFrame(effect);
    renderNextFrame(effect);
}

// In the middle of a frame write, the host opens a new dialog for the
// effect and then closes the old one. The new dialog waits for the write
// if it must; the write waits for it a little, so that a dialog that does
// not wait is made during the write.
HWND changeDialogsDuringTheNextWrite(WindowThread& window, AviOutputEffect& effect, HWND old, bool failTheWrite)
{
    std::atomic<HWND> opened {nullptr};
    std::atomic<bool> writing {false};
    Thread host([&] {
        both::waitUntil([&] { return writing.load(); }, INFINITE);
        window.run([&] {
            opened = effect.createConfigDialog(thisModule(), window.host());
            DestroyWindow(old);
        });
    });
    InTheNextWrite during {[&](uint64_t call) {
        if (call != 1)
            return;
        writing = true;
        both::waitUntil([&] { return opened.load() != nullptr; }, 200);
    }};
    during.fail = failTheWrite;
    during.install();
    renderNextFrame(effect);
    removeFaults();
    host.join();
    return opened;
}

void aDialogOpenedDuringAFrameWriteShowsTheNextFramesStatus()
{
    WindowThread window;
    boxes->clear();
    {
        AviOutputEffect effect;
        HWND old = openDialog(window, effect);
        startRecording(effect, old, "status.avi");
        HWND opened = changeDialogsDuringTheNextWrite(window, effect, old, false);
        renderNextFrame(effect);
        window.settle();
        const std::string status = textOf(opened, IDC_STATUS);
        CHECK_EQ(effect.totalFrames, std::atoi(status.c_str()));
        CHECK_MSG(effect.totalFrames >= 4, "%d frames", effect.totalFrames);
        press(opened, IDC_SAVE);
        window.run([&] { DestroyWindow(opened); });
    }
    CHECK_EQ(0, boxes->count());
}

// The write fails, so the recording ends in the very frame during which
// the new dialog opens: it must not say STOP, and the box comes once.
void aDialogOpenedDuringAFailingWriteShowsTheEndAndTheBoxOnce()
{
    WindowThread window;
    boxes->clear();
    AviOutputEffect effect;
    HWND old = openDialog(window, effect);
    startRecording(effect, old, "ended.avi");
    HWND opened = changeDialogsDuringTheNextWrite(window, effect, old, true);
    window.settle();
    CHECK_EQ(0, effect.recording);
    CHECK_MSG(textOf(opened, IDC_SAVE) != "STOP", "the caption says STOP");
    boxes->waitFor(1);
    CHECK_EQ(1, boxes->count());
    renderNextFrame(effect);
    window.settle();
    CHECK_EQ(1, boxes->count());
    window.run([&] { DestroyWindow(opened); });
}

// A write fails while the dialog's thread is busy; the host closes the
// dialog before that thread took the box, while the file is still being
// finished. Whoever shows the box shows it once the file is.
void aWriteErrorBoxOpensOnlyOnceItsFileIsFinished()
{
    WindowThread window;
    boxes->clear();
    AviOutputEffect effect;
    HWND dialog = openDialog(window, effect);
    startRecording(effect, dialog, "finished.avi");
    std::atomic<bool> busy {false};
    std::atomic<bool> finishing {false};
    std::atomic<bool> closed {false};
    Thread host([&] {
        window.run([&] {
            busy = true;
            both::waitUntil([&] { return finishing.load(); }, INFINITE);
            DestroyWindow(dialog);
            closed = true;
        });
    });
    both::waitUntil([&] { return busy.load(); }, INFINITE);
    InTheNextWrite during {[&](uint64_t) {
        // Past the failed write the recording is over, and its file being finished.
        if (effect.recording.load() != 0)
            return;
        finishing = true;
        both::waitUntil([&] { return closed.load(); }, 2000);
        Sleep(20);
    }};
    during.fail = true;
    during.install();
    renderNextFrame(effect);
    removeFaults();
    host.join();
    renderNextFrame(effect);
    window.settle();
    boxes->waitFor(1);
    CHECK_EQ(1, boxes->count());
    CHECK_EQ(0, boxes->at(0).openFiles);
}

// A dialog on a window thread of its own, which ends once a write has
// failed and before it took the box: its windows and its queue go with it.
HWND recordOnAThreadThatEndsAfterAFailedWrite(AviOutputEffect& effect, const char* name)
{
    std::atomic<HWND> dialog {nullptr};
    std::atomic<bool> failed {false};
    Thread owner([&] {
        HWND made = effect.createConfigDialog(thisModule(), both::makeHostWindow());
        SetDlgItemTextA(made, IDC_FILENAME, (folder + name).c_str());
        SetDlgItemTextA(made, IDC_FRAMERATE, "1000");
        press(made, IDC_SAVE);
        lastRendered = timeGetTime();
        dialog = made;
        both::waitUntil([&] { return failed.load(); }, INFINITE);
    });
    both::waitUntil([&] { return dialog.load() != nullptr; }, INFINITE);
    renderNextFrame(effect);
    renderNextFrame(effect);
    InTheNextWrite during {[](uint64_t) {}};
    during.fail = true;
    during.install();
    renderNextFrame(effect);
    removeFaults();
    failed = true;
    owner.join();
    CHECK_EQ(0, effect.recording);
    CHECK_EQ(FALSE, IsWindow(dialog));
    return dialog;
}

void aWriteErrorWhoseDialogsThreadEndedIsShownByTheRenderThreadOnce()
{
    boxes->clear();
    AviOutputEffect effect;
    renderNextFrame(effect);
    recordOnAThreadThatEndsAfterAFailedWrite(effect, "orphan.avi");
    renderNextFrame(effect);
    renderNextFrame(effect);
    boxes->waitFor(1);
    CHECK_EQ(1, boxes->count());
    CHECK_EQ(false, boxes->at(0).owned);
    CHECK_EQ(0, boxes->at(0).openFiles);
}

void aWriteErrorWhoseDialogsThreadEndedIsShownByTheNextDialogOnce()
{
    boxes->clear();
    WindowThread window;
    AviOutputEffect effect;
    renderNextFrame(effect);
    recordOnAThreadThatEndsAfterAFailedWrite(effect, "adopted.avi");
    HWND next = openDialog(window, effect);
    window.settle();
    boxes->waitFor(1);
    CHECK_EQ(1, boxes->count());
    CHECK_EQ(true, boxes->at(0).owned);
    renderNextFrame(effect);
    window.settle();
    CHECK_EQ(1, boxes->count());
    CHECK_MSG(textOf(next, IDC_SAVE) != "STOP", "the caption says STOP");
    window.run([&] { DestroyWindow(next); });
}

// The host deletes the effect before the dialog's thread took the box of a
// failed write: the effect shows it as it goes, and the dialog shows none.
void anErrorNoDialogTookIsShownWhenItsEffectIsDeleted()
{
    WindowThread window;
    boxes->clear();
    auto* effect = new AviOutputEffect;
    HWND dialog = openDialog(window, *effect);
    startRecording(*effect, dialog, "deleted.avi");
    std::atomic<bool> busy {false};
    std::atomic<bool> deleted {false};
    Thread host([&] {
        window.run([&] {
            busy = true;
            both::waitUntil([&] { return deleted.load(); }, INFINITE);
        });
    });
    both::waitUntil([&] { return busy.load(); }, INFINITE);
    InTheNextWrite during {[](uint64_t) {}};
    during.fail = true;
    during.install();
    renderNextFrame(*effect);
    removeFaults();
    delete effect;
    CHECK_EQ(1, boxes->count());
    CHECK_EQ(false, boxes->at(0).owned);
    CHECK_EQ(0, boxes->at(0).openFiles);
    deleted = true;
    host.join();
    window.settle();
    CHECK_EQ(1, boxes->count());
    window.run([&] { DestroyWindow(dialog); });
}

// While a write hangs, closing the dialog, opening a new one and STOP each
// answer at once; the file then holds exactly the frames the label counts.
void theDialogAnswersAtOnceWhileAWriteHangs()
{
    WindowThread window;
    boxes->clear();
    AviOutputEffect effect;
    HWND old = openDialog(window, effect);
    startRecording(effect, old, "hung.avi");
    HWND opened = nullptr;
    {
        HungWrite hung(effect);
        const unsigned closing = millisecondsTaken([&] { window.run([&] { DestroyWindow(old); }); });
        const unsigned opening = millisecondsTaken([&] { opened = openDialog(window, effect); });
        const unsigned stopping = millisecondsTaken([&] { press(opened, IDC_SAVE); });
        CHECK_MSG(closing < 100 && opening < 100 && stopping < 100, "closing %u ms, opening %u ms, STOP %u ms",
                  closing, opening, stopping);
        CHECK_EQ("Save", textOf(opened, IDC_SAVE));
    }
    window.settle();
    CHECK_EQ(size_t(std::atoi(textOf(opened, IDC_STATUS).c_str())), framesIn("hung.avi"));
    CHECK_EQ(0, boxes->count());
    window.run([&] { DestroyWindow(opened); });
}

// Save pressed while the last file is still being finished answers at
// once: under the same name it says so, under another it starts.
void saveWhileTheLastFileIsBeingFinishedAnswersAtOnce()
{
    WindowThread window;
    boxes->clear();
    AviOutputEffect effect;
    HWND dialog = openDialog(window, effect);
    startRecording(effect, dialog, "finishing.avi");
    {
        HungWrite hung(effect);
        press(dialog, IDC_SAVE); // STOP
        press(dialog, IDC_SAVE);
        boxes->waitFor(1);
        CHECK_EQ(1, boxes->count());
        CHECK_EQ("Save", textOf(dialog, IDC_SAVE));
        SetDlgItemTextA(dialog, IDC_FILENAME, (folder + "next.avi").c_str());
        const unsigned saving = millisecondsTaken([&] { press(dialog, IDC_SAVE); });
        CHECK_MSG(saving < 100, "Save took %u ms", saving);
        CHECK_EQ("STOP", textOf(dialog, IDC_SAVE));
    }
    renderNextFrame(effect);
    renderNextFrame(effect);
    press(dialog, IDC_SAVE); // STOP
    window.settle();
    CHECK_EQ(size_t(std::atoi(textOf(dialog, IDC_STATUS).c_str())), framesIn("next.avi"));
    CHECK_MSG(framesIn("finishing.avi") >= 3, "the last frame is missing");
    CHECK_EQ(1, boxes->count());
    window.run([&] { DestroyWindow(dialog); });
}

} // namespace

int main(int argc, char** argv)
{
    moduleInstance = thisModule();
    folder = argc > 1 ? std::string(argv[1]) + "/" : std::string();
    both::Boxes answered(openAviFiles);
    boxes = &answered;
    both::run("aDialogOpenedDuringAFrameWriteShowsTheNextFramesStatus", aDialogOpenedDuringAFrameWriteShowsTheNextFramesStatus);
    both::run("aDialogOpenedDuringAFailingWriteShowsTheEndAndTheBoxOnce", aDialogOpenedDuringAFailingWriteShowsTheEndAndTheBoxOnce);
    both::run("aWriteErrorBoxOpensOnlyOnceItsFileIsFinished", aWriteErrorBoxOpensOnlyOnceItsFileIsFinished);
    both::run("aWriteErrorWhoseDialogsThreadEndedIsShownByTheRenderThreadOnce", aWriteErrorWhoseDialogsThreadEndedIsShownByTheRenderThreadOnce);
    both::run("aWriteErrorWhoseDialogsThreadEndedIsShownByTheNextDialogOnce", aWriteErrorWhoseDialogsThreadEndedIsShownByTheNextDialogOnce);
    both::run("anErrorNoDialogTookIsShownWhenItsEffectIsDeleted", anErrorNoDialogTookIsShownWhenItsEffectIsDeleted);
    both::run("theDialogAnswersAtOnceWhileAWriteHangs", theDialogAnswersAtOnceWhileAWriteHangs);
    both::run("saveWhileTheLastFileIsBeingFinishedAnswersAtOnce", saveWhileTheLastFileIsBeingFinishedAnswersAtOnce);
    std::printf("dialogs while writing: %d failed\n", both::failures);
    return both::failures == 0 ? 0 : 1;
}
