// A randomised host, reproducible from its seed, in one of two shapes.
// With two threads, a render thread renders frames of random sizes at
// random intervals into two effect slots while the window thread works
// the dialogs as a restless user would (Save, STOP, rates, names, RAW,
// help, dialogs opened and destroyed, a new one before or after the old,
// presets, effects deleted and made anew), and now and then ends with its
// dialogs open. The host holds a lock of its own around every renderFrame
// and takes it on the window thread now and then; its render thread
// deletes effects too, as when it loads a preset, whatever the dialog is
// doing. With one thread, the host renders from a timer of its own window
// and the user answers error boxes late and works the dialogs from inside
// them, as a box's modal loop lets them, up to deleting the effect whose
// box is open. In both, writes fail now and then. At the end every file a
// recording closed must decode and hold exactly the frames its status text
// counted, save one that two effects recorded into at once, and every
// failed write must have had exactly one box.
#include "host/animation.h"
#include "host/dialog_driver.h"
#include "platform/native/native_host.h"
#include "plugin/avi_output_effect.h"
#include "plugin/registration.h"
#include "resources/resource.h"
#include "tests/support/media_probe.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kSlots = 2;
const std::pair<int, int> kSizes[] = {{1, 1}, {2, 3}, {7, 5}, {16, 9}, {33, 17}, {64, 48}};
const char* const kRates[] = {"25", "30", "abc", "-5", "0", "1000", "2147483647", "7fps", " 60", "1"};

enum class HostShape { TwoThreads, OneThread };

struct Slot {
    std::unique_ptr<AviOutputEffect> effect;
    int generation = 0; // counts the effects made for the slot
    HWND dialog = nullptr;
    int dialogGeneration = 0; // the effect that made the dialog; an older one is gone
    bool pressing = false;    // a click on Save is under way
    int size = 3;
};

std::atomic<long> boxesShown {0};
std::atomic<long> writeErrorBoxes {0};

// What a Save that fails says; every other error box is a failed write's.
const char* const kStartFailures[] = {"cannot create file", "cannot create stream", "cannot set stream format",
                                      "no frame rendered yet", "cannot record frames of this size",
                                      "the frame size changed while the file was made", "not enough memory to record",
                                      "the last recording is still being finished; press Save again in a moment"};

// The user pressed OK on this box.
void answered(LPCSTR text, LPCSTR caption)
{
    boxesShown.fetch_add(1);
    if (std::strcmp(caption, "error") != 0)
        return;
    for (const char* failure : kStartFailures) {
        if (std::strcmp(text, failure) == 0)
            return;
    }
    writeErrorBoxes.fetch_add(1);
}

int answerAtOnce(void*, HWND, LPCSTR text, LPCSTR caption, UINT)
{
    answered(text, caption);
    return IDOK;
}

constexpr UINT_PTR kRenderTimer = 1;

std::string withoutLinesContaining(const std::string& text, const std::string& part)
{
    std::string kept;
    for (size_t from = 0; from < text.size();) {
        const size_t end = std::min(text.find('\n', from), text.size() - 1) + 1;
        const std::string line = text.substr(from, end - from);
        if (line.find(part) == std::string::npos)
            kept += line;
        from = end;
    }
    return kept;
}

class Soak {
public:
    Soak(unsigned seed, std::string directory, HostShape shape)
        : random_(seed)
        , renderRandom_(seed * 2654435761u + 1)
        , directory_(std::move(directory))
        , shape_(shape)
    {
    }

    int run(double seconds)
    {
        NativeSetMessageBoxSink(shape_ == HostShape::OneThread ? answerLate : answerAtOnce, this);
        NativeUseVirtualClock(0);
        moduleInstance = NativeModuleContaining(reinterpret_cast<const void*>(&renderAnimationFrame));
        for (Slot& slot : slots_)
            slot.effect = std::make_unique<AviOutputEffect>();

        const auto end = std::chrono::steady_clock::now() +
                         std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(seconds));
        if (shape_ == HostShape::TwoThreads)
            runOnTwoThreads(end);
        else
            runOnOneThread(end);

        // An effect's last error box, if no dialog took it, comes from its
        // destructor: the user answers it, and does nothing more.
        NativeSetMessageBoxSink(answerAtOnce, nullptr);
        for (Slot& slot : slots_) {
            finishRecording(*slot.effect);
            if (slot.dialog)
                DestroyWindow(slot.dialog);
            slot.effect.reset();
        }
        // Every failed write has had its box once: the effects are gone,
        // and with them any error no dialog took.
        const long failedWrites = NativeFailedAviWriteCount();
        NativeSetMessageBoxSink(nullptr, nullptr);
        NativeUseRealClock();
        int failures = verify();
        if (writeErrorBoxes.load() != failedWrites) {
            std::fprintf(stderr, "soak: %ld writes failed, %ld boxes said so\n", failedWrites, writeErrorBoxes.load());
            ++failures;
        }
        return failures;
    }

private:
    int pick(int count) { return std::uniform_int_distribution<int>(0, count - 1)(random_); }
    int renderPick(int count) { return std::uniform_int_distribution<int>(0, count - 1)(renderRandom_); }

    // The host's window thread works the dialogs; now and then it ends with
    // them open, and whatever was posted to them goes with it, error boxes
    // included. The next window thread opens dialogs anew. Writes take a
    // little while, so that dialogs come and go in the middle of one.
    void runOnTwoThreads(std::chrono::steady_clock::time_point end)
    {
        NativeSlowAviWrites(100);
        std::thread renderer([this] { renderLoop(); });
        while (std::chrono::steady_clock::now() < end) {
            std::thread window([&] {
                while (std::chrono::steady_clock::now() < end && pick(500) != 0) {
                    dialogOperation();
                    ++operations_;
                }
            });
            window.join();
            for (Slot& slot : slots_)
                slot.dialog = nullptr;
            ++windowThreadsEnded_;
        }
        done_ = true;
        renderer.join();
        NativeSlowAviWrites(0);
    }

    // The host's window renders on every tick of its timer; between the
    // ticks the user works the dialogs.
    void runOnOneThread(std::chrono::steady_clock::time_point end)
    {
        WNDCLASSA windowClass {};
        windowClass.lpfnWndProc = hostWindowProcedure;
        windowClass.lpszClassName = "SoakHost";
        RegisterClassA(&windowClass);
        HWND host = CreateWindowExA(0, "SoakHost", "soak", 0, 0, 0, 100, 100, nullptr, nullptr, nullptr, this);
        SetTimer(host, kRenderTimer, 10, nullptr);
        while (std::chrono::steady_clock::now() < end) {
            pumpMessagesFor(std::chrono::milliseconds(pick(40)));
            userOperation();
        }
        DestroyWindow(host);
        UnregisterClassA("SoakHost", nullptr);
    }

    // The host's loop, for as long as a person takes between two clicks.
    static void pumpMessagesFor(std::chrono::microseconds time)
    {
        const auto until = std::chrono::steady_clock::now() + time;
        do {
            MSG message;
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageA(&message);
            Sleep(1);
        } while (std::chrono::steady_clock::now() < until);
    }

    static LRESULT CALLBACK hostWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        static Soak* soak = nullptr;
        if (message == WM_CREATE)
            soak = static_cast<Soak*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        if (message == WM_TIMER && wParam == kRenderTimer && soak)
            soak->renderFromTimer();
        return DefWindowProcA(window, message, wParam, lParam);
    }

    void renderFromTimer()
    {
        // Now and then the disk refuses a write.
        if (renderPick(100) == 0)
            NativeFailNextAviCall("AVIStreamWrite", NativeErrorFromErrno(ENOSPC));
        renderOnce(slots_[renderPick(kSlots)], pixels_);
    }

    void renderOnce(Slot& slot, std::vector<uint32_t>& pixels)
    {
        if (renderPick(200) == 0)
            slot.size = renderPick(6);
        const auto [w, h] = kSizes[slot.size];
        renderAnimationFrame(pixels.data(), w, h, ++rendered_);
        NativeAdvanceClock(static_cast<DWORD>(renderPick(61)));
        if (slot.effect)
            slot.effect->renderFrame(0, 0, pixels.data(), 0, w, h);
        ++frames_;
    }

    void renderLoop()
    {
        std::vector<uint32_t> pixels(64 * 48);
        while (!done_.load()) {
            Slot& slot = slots_[renderPick(kSlots)];
            {
                std::lock_guard<std::mutex> guard(hostLock_);
                if (renderPick(400) == 0)
                    NativeFailNextAviCall("AVIStreamWrite", NativeErrorFromErrno(ENOSPC));
                renderOnce(slot, pixels);
                if (renderPick(2000) == 0)
                    replaceEffect(slot);
            }
            if (renderPick(8) == 0)
                std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }

    // The host deletes the slot's effect, its dialog still open, and makes
    // a new one; with hostLock_ held. A Save clicked meanwhile may start
    // the next recording before the count is read, so it goes unchecked.
    void replaceEffect(Slot& slot)
    {
        auto open = recordingOf_.find(slot.effect.get());
        if (slot.pressing && open != recordingOf_.end())
            unchecked_.insert(open->second);
        finishRecording(*slot.effect);
        slot.effect = std::make_unique<AviOutputEffect>();
        ++slot.generation;
        ++replaced_;
    }

    // The one-thread user answers a box only now and then as its loop asks,
    // so it stays open for a few turns of the loop; meanwhile the user may
    // do anything, the host's timer renders on, and either may raise
    // another box inside this one.
    static int answerLate(void* context, HWND, LPCSTR text, LPCSTR caption, UINT)
    {
        auto* soak = static_cast<Soak*>(context);
        if (soak->pick(8) != 0) {
            if (soak->pick(2) == 0) {
                ++soak->operationsInBoxes_;
                soak->userOperation();
            }
            return 0;
        }
        answered(text, caption);
        return IDOK;
    }

    // Boxes the user's own operations raise (failed starts, help) are
    // answered at once: the user does not reach back into itself.
    void userOperation()
    {
        NativeSetMessageBoxSink(answerAtOnce, nullptr);
        dialogOperation();
        ++operations_;
        NativeSetMessageBoxSink(answerLate, this);
    }

    std::string freshName()
    {
        const std::string good = directory_ + "/rec-" + std::to_string(names_++) + ".avi";
        switch (pick(12)) {
        case 0:
            return directory_ + "/" + std::to_string(names_++) + std::string(300, 'n') + ".avi";
        case 1:
            return directory_ + "/missing/x.avi";
        case 2:
            return directory_;
        case 3:
            return "/dev/full";
        default:
            return good;
        }
    }

    // Stops the effect's recording, if any, and writes down what it counted.
    void finishRecording(AviOutputEffect& effect)
    {
        effect.stopRecording();
        auto open = recordingOf_.find(&effect);
        if (open == recordingOf_.end())
            return;
        counted_[open->second] = effect.totalFrames;
        recordingOf_.erase(open);
    }

    // The books are kept under the host's lock, which keeps the effect
    // alive; the click itself is made without it, so the render thread may
    // delete the effect meanwhile. A dialog whose effect is gone does nothing.
    void pressSave(Slot& slot)
    {
        int generation;
        AviOutputEffect* served;
        bool idle = false;
        std::string name;
        {
            std::lock_guard<std::mutex> guard(hostLock_);
            generation = slot.generation;
            served = slot.dialogGeneration == generation ? slot.effect.get() : nullptr;
            if (served) {
                if (!served->recording.load())
                    finishRecording(*served);
                // A click that may start a recording may replace the file of
                // that name, so what was counted for it no longer holds. A
                // recording that starts and ends again before the click
                // returns (the render thread changed the size) goes unchecked.
                idle = !served->recording.load() && controlText(slot.dialog, IDC_SAVE) != "STOP";
                name = served->fileName;
                if (idle)
                    counted_.erase(name);
                slot.pressing = true;
            }
        }
        click(slot.dialog, IDC_SAVE);
        if (!served)
            return;
        std::lock_guard<std::mutex> guard(hostLock_);
        slot.pressing = false;
        if (slot.generation != generation) {
            unchecked_.insert(name);
            return;
        }
        if (idle && served->recording.load()) {
            claimFile(served, name);
            recordingOf_[served] = name;
        } else if (!served->recording.load())
            finishRecording(*served);
    }

    // Two effects made anew both start with the default file name. Both
    // may record into it at once, and such a file holds neither recording;
    // or one replaces the file of a recording the other ended earlier, whose
    // count then no longer belongs to the file.
    void claimFile(const AviOutputEffect* starting, const std::string& name)
    {
        for (auto other = recordingOf_.begin(); other != recordingOf_.end();) {
            if (other->first == starting || other->second != name) {
                ++other;
            } else if (other->first->recording.load()) {
                unchecked_.insert(name);
                ++other;
            } else {
                other = recordingOf_.erase(other);
            }
        }
    }

    void dialogOperation()
    {
        Slot& slot = slots_[pick(kSlots)];
        bool orphaned;
        {
            std::lock_guard<std::mutex> guard(hostLock_);
            orphaned = slot.dialogGeneration != slot.generation;
        }
        if (!slot.dialog || (orphaned && pick(4) == 0)) {
            if (slot.dialog)
                DestroyWindow(slot.dialog);
            std::lock_guard<std::mutex> guard(hostLock_);
            slot.dialog = slot.effect->createConfigDialog(moduleInstance, nullptr);
            slot.dialogGeneration = slot.generation;
            return;
        }
        switch (pick(18)) {
        case 0:
            DestroyWindow(slot.dialog);
            slot.dialog = nullptr;
            break;
        case 12:
        case 13: {
            // The host opens a new dialog for the effect, before or after it
            // closes the old one.
            const bool newFirst = pick(2) == 0;
            if (!newFirst)
                DestroyWindow(slot.dialog);
            HWND old = slot.dialog;
            {
                std::lock_guard<std::mutex> guard(hostLock_);
                slot.dialog = slot.effect->createConfigDialog(moduleInstance, nullptr);
                slot.dialogGeneration = slot.generation;
            }
            if (newFirst)
                DestroyWindow(old);
            break;
        }
        case 1:
            typeInto(slot.dialog, IDC_FRAMERATE, kRates[pick(10)]);
            break;
        case 2:
        case 3:
            typeInto(slot.dialog, IDC_FILENAME, freshName());
            break;
        case 4:
            click(slot.dialog, IDC_RAWMODE);
            break;
        case 5:
        case 6:
            pressSave(slot);
            break;
        case 7:
            controlText(slot.dialog, IDC_STATUS);
            break;
        case 8:
            click(slot.dialog, IDC_README);
            break;
        case 9: {
            std::lock_guard<std::mutex> guard(hostLock_);
            std::vector<unsigned char> preset(static_cast<size_t>(pick(65)));
            for (auto& byte : preset)
                byte = static_cast<unsigned char>(pick(256));
            slot.effect->loadPresetData(preset.empty() ? nullptr : preset.data(), static_cast<int>(preset.size()));
            unsigned char saved[4];
            slot.effect->savePresetData(saved);
            break;
        }
        case 10: {
            std::lock_guard<std::mutex> guard(hostLock_);
            replaceEffect(slot);
            break;
        }
        case 11: {
            // The host edits its effect list, which its render thread reads.
            std::lock_guard<std::mutex> guard(hostLock_);
            std::this_thread::sleep_for(std::chrono::microseconds(pick(500)));
            break;
        }
        default:
            break;
        }
        // A person is slower than the render loop; meanwhile the dialog
        // thread takes its messages, the render thread's sends among them.
        if (shape_ == HostShape::TwoThreads)
            pumpMessagesFor(std::chrono::microseconds(pick(2000)));
    }

    int verify()
    {
        int failures = 0;
        long frames = 0;
        size_t unchecked = 0;
        for (const auto& [path, counted] : counted_) {
            // The default file lies beside the program, where another soak
            // running at the same time records too.
            if (unchecked_.count(path) || path.rfind(directory_ + "/", 0) != 0) {
                ++unchecked;
                continue;
            }
            // ffprobe decodes every frame to count them, and says what it could not read.
            std::string report;
            const int status = runCommand("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                                          "stream=nb_read_frames -of csv=p=0 " +
                                              shellQuote(path) + " 2>&1",
                                          &report);
            // ffmpeg ignores a declared start more than an hour in (the
            // first frame came that long after Save) and says so; it still
            // reads every frame.
            report = withoutLinesContaining(report, "crazy start time");
            // A file without frames has nothing to count.
            const bool empty = report == "N/A\n";
            const int decoded = empty ? 0 : std::atoi(report.c_str());
            if (status != 0 || decoded != counted || (!empty && report != std::to_string(decoded) + "\n")) {
                std::fprintf(stderr, "soak: %s decodes to %d frames, the status text counted %d: %s\n",
                             path.c_str(), decoded, counted, report.c_str());
                ++failures;
            }
            frames += counted;
        }
        std::printf("soak (%s): %ld dialog operations (%ld inside boxes), %ld window threads ended, "
                    "%ld frames rendered, %ld effects deleted, "
                    "%zu recordings closed holding %ld frames, %ld message boxes (%ld for failed writes), "
                    "%zu files left unchecked (recorded into at once, raced a deletion, or the default file), "
                    "%d mismatches\n",
                    shape_ == HostShape::OneThread ? "one thread, timer" : "two threads", operations_,
                    operationsInBoxes_, windowThreadsEnded_, frames_.load(), replaced_, counted_.size(), frames,
                    boxesShown.load(), writeErrorBoxes.load(), unchecked, failures);
        return failures == 0 ? 0 : 1;
    }

    std::mt19937 random_;
    std::mt19937 renderRandom_;
    std::string directory_;
    HostShape shape_;
    Slot slots_[kSlots];
    std::vector<uint32_t> pixels_ = std::vector<uint32_t>(64 * 48);
    uint32_t rendered_ = 0;
    long operationsInBoxes_ = 0;
    std::mutex hostLock_; // around every renderFrame, and the slots' effects
    std::atomic<bool> done_ {false};
    std::atomic<long> frames_ {0};
    long operations_ = 0;
    int names_ = 0;
    std::map<AviOutputEffect*, std::string> recordingOf_;
    std::map<std::string, int> counted_;
    // Files recorded into by two effects at once, or whose Save raced the
    // deletion of its effect.
    std::set<std::string> unchecked_;
    long replaced_ = 0;
    long windowThreadsEnded_ = 0;
};

} // namespace

int main(int argc, char** argv)
{
    unsigned seed = static_cast<unsigned>(std::chrono::system_clock::now().time_since_epoch().count());
    double seconds = 10;
    std::string directory;
    HostShape shape = HostShape::TwoThreads;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--seed") == 0)
            seed = static_cast<unsigned>(std::strtoul(argv[i + 1], nullptr, 10));
        else if (std::strcmp(argv[i], "--seconds") == 0)
            seconds = std::atof(argv[i + 1]);
        else if (std::strcmp(argv[i], "--dir") == 0)
            directory = argv[i + 1];
        else if (std::strcmp(argv[i], "--host") == 0)
            shape = std::strcmp(argv[i + 1], "one-thread") == 0 ? HostShape::OneThread : HostShape::TwoThreads;
    }
    char pattern[] = "/tmp/avi-output-soak-XXXXXX";
    const bool ownDirectory = directory.empty();
    if (ownDirectory)
        directory = mkdtemp(pattern);
    std::printf("soak: seed %u, %.0f seconds, files in %s\n", seed, seconds, directory.c_str());
    std::fflush(stdout);
    const int result = Soak(seed, directory, shape).run(seconds);
    if (ownDirectory && result == 0)
        runCommand("rm -rf " + shellQuote(directory));
    return result;
}
