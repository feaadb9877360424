// A randomised host, reproducible from its seed. A render thread renders
// frames of random sizes at random intervals into two effect slots; the
// dialog thread works the dialogs as a restless user would (Save, STOP,
// rates, names, RAW, help, dialogs opened and destroyed, presets, effects
// deleted and made anew). At the end every file a recording closed must
// decode and hold exactly the frames its status text counted, save one
// that two effects recorded into at once.
#include "dialog/config_dialog.h"
#include "host/animation.h"
#include "host/dialog_driver.h"
#include "platform/native/native_host.h"
#include "plugin/avi_output_effect.h"
#include "plugin/registration.h"
#include "resources/resource.h"
#include "tests/support/media_probe.h"

#include <atomic>
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

struct Slot {
    std::mutex hostLock; // the host never deletes an effect while rendering it
    std::unique_ptr<AviOutputEffect> effect;
    HWND dialog = nullptr;
    int size = 3;
};

std::atomic<long> boxesShown {0};

int answerBox(void*, HWND, LPCSTR, LPCSTR, UINT)
{
    boxesShown.fetch_add(1);
    return IDOK;
}

class Soak {
public:
    Soak(unsigned seed, std::string directory)
        : random_(seed)
        , renderRandom_(seed * 2654435761u + 1)
        , directory_(std::move(directory))
    {
    }

    int run(double seconds)
    {
        NativeSetMessageBoxSink(answerBox, nullptr);
        NativeUseVirtualClock(0);
        moduleInstance = NativeModuleContaining(reinterpret_cast<const void*>(&renderAnimationFrame));
        for (Slot& slot : slots_)
            slot.effect = std::make_unique<AviOutputEffect>();

        std::thread renderer([this] { renderLoop(); });
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (std::chrono::steady_clock::now() < end) {
            dialogOperation();
            ++operations_;
        }
        done_ = true;
        renderer.join();

        for (Slot& slot : slots_) {
            finishRecording(*slot.effect);
            if (slot.dialog)
                DestroyWindow(slot.dialog);
            slot.effect.reset();
        }
        NativeSetMessageBoxSink(nullptr, nullptr);
        NativeUseRealClock();
        return verify();
    }

private:
    int pick(int count) { return std::uniform_int_distribution<int>(0, count - 1)(random_); }

    void renderLoop()
    {
        std::vector<uint32_t> pixels(64 * 48);
        uint32_t number = 0;
        while (!done_.load()) {
            Slot& slot = slots_[std::uniform_int_distribution<int>(0, kSlots - 1)(renderRandom_)];
            {
                std::lock_guard<std::mutex> guard(slot.hostLock);
                if (std::uniform_int_distribution<int>(0, 199)(renderRandom_) == 0)
                    slot.size = std::uniform_int_distribution<int>(0, 5)(renderRandom_);
                const auto [w, h] = kSizes[slot.size];
                renderAnimationFrame(pixels.data(), w, h, ++number);
                NativeAdvanceClock(std::uniform_int_distribution<DWORD>(0, 60)(renderRandom_));
                if (slot.effect)
                    slot.effect->renderFrame(0, 0, pixels.data(), 0, w, h);
            }
            ++frames_;
            if (std::uniform_int_distribution<int>(0, 7)(renderRandom_) == 0)
                std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
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

    void pressSave(Slot& slot)
    {
        AviOutputEffect* served = dialogEffect.load();
        if (!served)
            return;
        if (!served->recording.load())
            finishRecording(*served);
        // A recording that starts and ends again before the click returns
        // (the render thread changed the size) goes unchecked; the names
        // typed here are never reused, so it cannot be mistaken for another.
        const bool idle = !served->recording.load() && controlText(slot.dialog, IDC_SAVE) != "STOP";
        const std::string name = served->fileName;
        click(slot.dialog, IDC_SAVE);
        if (idle && served->recording.load()) {
            noteSharedFile(served, name);
            recordingOf_[served] = name;
        } else if (!served->recording.load())
            finishRecording(*served);
    }

    // Two effects made anew both start with the default file name, and
    // both may record into it at once; such a file holds neither recording.
    void noteSharedFile(const AviOutputEffect* starting, const std::string& name)
    {
        for (const auto& [other, otherName] : recordingOf_) {
            if (other != starting && otherName == name && other->recording.load())
                shared_.insert(name);
        }
    }

    void dialogOperation()
    {
        Slot& slot = slots_[pick(kSlots)];
        if (!slot.dialog) {
            slot.dialog = slot.effect->createConfigDialog(moduleInstance, nullptr);
            return;
        }
        switch (pick(16)) {
        case 0:
            DestroyWindow(slot.dialog);
            slot.dialog = nullptr;
            break;
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
            std::vector<unsigned char> preset(static_cast<size_t>(pick(65)));
            for (auto& byte : preset)
                byte = static_cast<unsigned char>(pick(256));
            slot.effect->loadPresetData(preset.empty() ? nullptr : preset.data(), static_cast<int>(preset.size()));
            unsigned char saved[4];
            slot.effect->savePresetData(saved);
            break;
        }
        case 10: {
            // The host deletes the effect, its dialog still open, and makes a new one.
            std::lock_guard<std::mutex> guard(slot.hostLock);
            finishRecording(*slot.effect);
            slot.effect = std::make_unique<AviOutputEffect>();
            break;
        }
        default:
            break;
        }
        // A person is slower than the render loop.
        std::this_thread::sleep_for(std::chrono::microseconds(pick(2000)));
    }

    int verify()
    {
        int failures = 0;
        long frames = 0;
        for (const auto& [path, counted] : counted_) {
            if (shared_.count(path))
                continue;
            // ffprobe decodes every frame to count them, and says what it could not read.
            std::string report;
            const int status = runCommand("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                                          "stream=nb_read_frames -of csv=p=0 " +
                                              shellQuote(path) + " 2>&1",
                                          &report);
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
        std::printf("soak: %ld dialog operations, %ld frames rendered, %zu recordings closed holding %ld frames, "
                    "%ld message boxes, %zu files two effects recorded into at once (not checked), %d mismatches\n",
                    operations_, frames_.load(), counted_.size(), frames, boxesShown.load(), shared_.size(), failures);
        return failures == 0 ? 0 : 1;
    }

    std::mt19937 random_;
    std::mt19937 renderRandom_;
    std::string directory_;
    Slot slots_[kSlots];
    std::atomic<bool> done_ {false};
    std::atomic<long> frames_ {0};
    long operations_ = 0;
    int names_ = 0;
    std::map<AviOutputEffect*, std::string> recordingOf_;
    std::map<std::string, int> counted_;
    std::set<std::string> shared_;
};

} // namespace

int main(int argc, char** argv)
{
    unsigned seed = static_cast<unsigned>(std::chrono::system_clock::now().time_since_epoch().count());
    double seconds = 10;
    std::string directory;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--seed") == 0)
            seed = static_cast<unsigned>(std::strtoul(argv[i + 1], nullptr, 10));
        else if (std::strcmp(argv[i], "--seconds") == 0)
            seconds = std::atof(argv[i + 1]);
        else if (std::strcmp(argv[i], "--dir") == 0)
            directory = argv[i + 1];
    }
    char pattern[] = "/tmp/avi-output-soak-XXXXXX";
    const bool ownDirectory = directory.empty();
    if (ownDirectory)
        directory = mkdtemp(pattern);
    std::printf("soak: seed %u, %.0f seconds, files in %s\n", seed, seconds, directory.c_str());
    std::fflush(stdout);
    const int result = Soak(seed, directory).run(seconds);
    if (ownDirectory && result == 0)
        runCommand("rm -rf " + shellQuote(directory));
    return result;
}
