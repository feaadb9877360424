// Save and STOP as the dialog presses them (the effect's runStartSequence
// and stopRecording) while a render thread calls renderFrame back to back
// at 1920 x 1080: how long each press takes, as p50, p99 and max over many
// presses, with Windows-like timing off and on. Between the two, the bare
// wait for the recording lock during the recording, which is the part of
// a press that the render thread decides. The renderFrame skip benchmarks
// of the same run show what the lock costs a call. Then the same presses
// through a real dialog, closed and opened again meanwhile, on a disk
// whose every frame write takes 300 ms.
#include "bench/bench.h"
#include "platform/native/native_host.h"
#include "plugin/avi_output_effect.h"
#include "plugin/registration.h"
#include "resources/resource.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <random>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

const FrameSize kSize {1920, 1080};

// Files get RIFF segments of this size and room for the fewest the writer
// allows, two, so a press that is kept waiting (a lock that does not hand
// over) cannot fill the disk: past 512 MB the recording ends with a write
// error box instead.
constexpr uint64_t kSegmentLimit = uint64_t(256) << 20;

struct Pressing {
    bool raw;
    bool writeEveryCall; // the clock moves a frame period per call; else a real clock at 60 fps
    bool windowsTiming;

    std::string name() const
    {
        return std::string("press/") + (raw ? "raw" : "24bit") + (writeEveryCall ? "/every-call" : "/rate-60") +
               (windowsTiming ? "/windows-timing" : "/native-timing");
    }
};

struct Latencies {
    std::vector<double> saveMs;
    std::vector<double> lockMs; // or, through the dialog, closing it
    std::vector<double> stopMs;
    std::vector<double> openMs; // through the dialog: opening it
    long errorBoxes = 0; // recordings that reached the largest file
};

std::atomic<long> boxesShown {0};

int countBox(void*, HWND, LPCSTR, LPCSTR, UINT)
{
    boxesShown.fetch_add(1);
    return IDOK;
}

std::map<std::string, Latencies>& measured()
{
    static std::map<std::string, Latencies> all;
    return all;
}

double millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The value below which `fraction` of the sorted samples fall.
double percentile(const std::vector<double>& sorted, double fraction)
{
    if (sorted.empty())
        return -1;
    const size_t rank = static_cast<size_t>(fraction * static_cast<double>(sorted.size()) + 0.999999);
    return sorted[std::min(sorted.size(), std::max<size_t>(rank, 1)) - 1];
}

// A host's render thread: renderFrame again as soon as the last call returns.
class BackToBackRenderer {
public:
    BackToBackRenderer(EffectBase& effect, bool advanceClock)
        : effect_(effect)
        , frame_(static_cast<size_t>(kSize.width) * kSize.height * 4, 9)
        , advanceClock_(advanceClock)
    {
        render(); // the size, before any recording
        thread_ = std::thread([this] {
            while (!done_.load(std::memory_order_relaxed)) {
                if (advanceClock_)
                    NativeAdvanceClock(17); // more than 1000 / 60 ms: every call writes
                render();
            }
        });
    }
    ~BackToBackRenderer()
    {
        done_ = true;
        thread_.join();
    }
    BackToBackRenderer(const BackToBackRenderer&) = delete;
    BackToBackRenderer& operator=(const BackToBackRenderer&) = delete;

private:
    void render()
    {
        effect_.renderFrame(0, 0, reinterpret_cast<const uint32_t*>(frame_.data()), 0, kSize.width, kSize.height);
    }

    EffectBase& effect_;
    FrameBuffer frame_;
    bool advanceClock_;
    std::atomic<bool> done_ {false};
    std::thread thread_;
};

// Presses Save, lets the recording run 5 to 25 ms, takes and releases the
// recording lock, presses STOP, waits 1 to 5 ms, and again. Each file is
// finished and removed before the next Save, so Save does not pay for
// truncating the last one.
bool pressAgainAndAgain(AviOutputEffect& effect, const std::string& path, int rounds, Latencies& latencies)
{
    std::mt19937 random(7);
    std::uniform_int_distribution<int> recordingMs(5, 25);
    std::uniform_int_distribution<int> pauseMs(1, 5);
    for (int round = 0; round < rounds; ++round) {
        // A STOP during a write leaves the file to the render thread; Save
        // under its name waits until it is finished, outside the timing.
        effect.waitForReleases();
        ::unlink(path.c_str());
        Clock::time_point pressed = Clock::now();
        if (effect.runStartSequence())
            return false;
        latencies.saveMs.push_back(millisecondsSince(pressed));
        std::this_thread::sleep_for(std::chrono::milliseconds(recordingMs(random)));
        pressed = Clock::now();
        effect.recordingLock.lock();
        effect.recordingLock.unlock();
        latencies.lockMs.push_back(millisecondsSince(pressed));
        pressed = Clock::now();
        effect.stopRecording();
        latencies.stopMs.push_back(millisecondsSince(pressed));
        std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs(random)));
    }
    return true;
}

void measurePresses(benchmark::State& state, const Pressing& pressing)
{
    const std::string path = benchSettings().directory + "/bench-presses.avi";
    const int rounds = benchSettings().smoke ? 2 : 150;
    if (pressing.writeEveryCall)
        NativeUseVirtualClock(1000);
    NativeUseWindowsTiming(pressing.windowsTiming ? TRUE : FALSE);
    const NativeAviWriterOptions capped {kSegmentLimit, 0, 2};
    NativeSetAviWriterOptions(&capped);
    NativeSetMessageBoxSink(countBox, nullptr);
    boxesShown = 0;
    Latencies latencies;
    {
        AviOutputEffect effect;
        std::snprintf(effect.fileName, sizeof effect.fileName, "%s", path.c_str());
        effect.rawMode = pressing.raw ? 1 : 0;
        effect.frameRate = 60;
        BackToBackRenderer renderer(effect, pressing.writeEveryCall);
        for (auto _ : state) {
            if (!pressAgainAndAgain(effect, path, rounds, latencies))
                state.SkipWithError(("cannot start recording " + path).c_str());
        }
    }
    ::unlink(path.c_str());
    latencies.errorBoxes = boxesShown.load();
    NativeSetMessageBoxSink(nullptr, nullptr);
    NativeSetAviWriterOptions(nullptr);
    NativeUseWindowsTiming(FALSE);
    NativeUseRealClock();

    for (auto* samples : {&latencies.saveMs, &latencies.lockMs, &latencies.stopMs})
        std::sort(samples->begin(), samples->end());
    state.counters["save_p99_ms"] = percentile(latencies.saveMs, 0.99);
    state.counters["lock_p99_ms"] = percentile(latencies.lockMs, 0.99);
    state.counters["stop_p99_ms"] = percentile(latencies.stopMs, 0.99);
    measured()[pressing.name()] = std::move(latencies);
}

// A window thread's day on a slow disk: every frame write takes this long.
constexpr DWORD kSlowWriteMs = 300;

// The host's loop, taking what the render thread posts to the dialog.
void takeMessagesFor(std::chrono::milliseconds span)
{
    const Clock::time_point until = Clock::now() + span;
    MSG message;
    while (Clock::now() < until) {
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
        Sleep(1);
    }
}

void click(HWND dialog, int id)
{
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

// Save, then at random moments of the slow writes: close the dialog, open
// it again, and press STOP, each timed; a new file every round.
void pressThroughTheDialog(AviOutputEffect& effect, int rounds, Latencies& latencies)
{
    std::mt19937 random(11);
    std::uniform_int_distribution<int> pauseMs(0, 2 * kSlowWriteMs);
    const auto pause = [&] { takeMessagesFor(std::chrono::milliseconds(pauseMs(random))); };
    HWND dialog = effect.createConfigDialog(moduleInstance, nullptr);
    for (int round = 0; round < rounds; ++round) {
        const std::string path = benchSettings().directory + "/bench-slow-" + std::to_string(round % 4) + ".avi";
        ::unlink(path.c_str());
        SetDlgItemTextA(dialog, IDC_FILENAME, path.c_str());
        Clock::time_point pressed = Clock::now();
        click(dialog, IDC_SAVE);
        latencies.saveMs.push_back(millisecondsSince(pressed));
        pause();
        pressed = Clock::now();
        DestroyWindow(dialog);
        latencies.lockMs.push_back(millisecondsSince(pressed));
        pause();
        pressed = Clock::now();
        dialog = effect.createConfigDialog(moduleInstance, nullptr);
        latencies.openMs.push_back(millisecondsSince(pressed));
        pause();
        pressed = Clock::now();
        click(dialog, IDC_SAVE); // STOP
        latencies.stopMs.push_back(millisecondsSince(pressed));
        pause();
    }
    DestroyWindow(dialog);
}

void measureSlowDiskPresses(benchmark::State& state)
{
    const int rounds = benchSettings().smoke ? 2 : 60;
    moduleInstance = NativeModuleContaining(reinterpret_cast<const void*>(&measureSlowDiskPresses));
    NativeSlowAviWrites(kSlowWriteMs * 1000);
    NativeSetMessageBoxSink(countBox, nullptr);
    boxesShown = 0;
    Latencies latencies;
    {
        AviOutputEffect effect;
        effect.frameRate = 60;
        BackToBackRenderer renderer(effect, false);
        for (auto _ : state)
            pressThroughTheDialog(effect, rounds, latencies);
    }
    latencies.errorBoxes = boxesShown.load();
    NativeSetMessageBoxSink(nullptr, nullptr);
    NativeSlowAviWrites(0);
    for (auto* samples : {&latencies.saveMs, &latencies.lockMs, &latencies.stopMs, &latencies.openMs})
        std::sort(samples->begin(), samples->end());
    state.counters["stop_p99_ms"] = percentile(latencies.stopMs, 0.99);
    measured()["press/dialog/24bit/writes-300ms"] = std::move(latencies);
}

std::string milliseconds(double ms)
{
    char text[32];
    std::snprintf(text, sizeof text, ms < 0 ? "-" : "%.2f", ms);
    return text;
}

// p50, p99 and max.
std::string spread(const std::vector<double>& sorted)
{
    char text[64];
    std::snprintf(text, sizeof text, "%7s %7s %7s", milliseconds(percentile(sorted, 0.5)).c_str(),
                  milliseconds(percentile(sorted, 0.99)).c_str(),
                  milliseconds(sorted.empty() ? -1 : sorted.back()).c_str());
    return text;
}

} // namespace

void registerPressLatencyBenchmarks()
{
    for (bool windowsTiming : {false, true}) {
        for (bool raw : {false, true}) {
            for (bool writeEveryCall : {false, true}) {
                const Pressing pressing {raw, writeEveryCall, windowsTiming};
                benchmark::RegisterBenchmark(pressing.name().c_str(),
                                             [pressing](benchmark::State& state) { measurePresses(state, pressing); })
                    ->Iterations(1)
                    ->Repetitions(1)
                    ->UseRealTime()
                    ->Unit(benchmark::kMillisecond);
            }
        }
    }
    benchmark::RegisterBenchmark("press/dialog/24bit/writes-300ms", measureSlowDiskPresses)
        ->Iterations(1)
        ->Repetitions(1)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
}

void printPressLatencyTable()
{
    if (measured().empty())
        return;
    std::printf("\nSave, the bare lock and STOP against a back-to-back render thread at %s, ms per press\n",
                kSize.name().c_str());
    std::printf("%-32s %-23s %-23s %-23s %s\n", "frames / writes / timing", "Save p50 p99 max",
                "lock p50 p99 max", "STOP p50 p99 max", "presses (files that hit the cap)");
    for (const auto& [name, latencies] : measured()) {
        if (!latencies.openMs.empty())
            continue;
        std::printf("%-32s %-23s %-23s %-23s %zu (%ld)\n", name.c_str() + 6, spread(latencies.saveMs).c_str(),
                    spread(latencies.lockMs).c_str(), spread(latencies.stopMs).c_str(), latencies.stopMs.size(),
                    latencies.errorBoxes);
    }
    const auto slow = measured().find("press/dialog/24bit/writes-300ms");
    if (slow == measured().end())
        return;
    const Latencies& dialog = slow->second;
    std::printf("\nThrough the dialog, every frame write taking %lu ms, ms per press\n",
                static_cast<unsigned long>(kSlowWriteMs));
    std::printf("%-23s %-23s %-23s %-23s %s\n", "Save p50 p99 max", "close p50 p99 max", "open p50 p99 max",
                "STOP p50 p99 max", "rounds (error boxes)");
    std::printf("%-23s %-23s %-23s %-23s %zu (%ld)\n", spread(dialog.saveMs).c_str(), spread(dialog.lockMs).c_str(),
                spread(dialog.openMs).c_str(), spread(dialog.stopMs).c_str(), dialog.stopMs.size(),
                dialog.errorBoxes);
}
