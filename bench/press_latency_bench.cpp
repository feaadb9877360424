// Save and STOP as the dialog presses them (the effect's runStartSequence
// and stopRecording) while a render thread calls renderFrame back to back
// at 1920 x 1080: how long each press takes, as p50, p99 and max over many
// presses, with Windows-like timing off and on. Between the two, the bare
// wait for the recording lock during the recording, which is the part of
// a press that the render thread decides. The renderFrame skip benchmarks
// of the same run show what the lock costs a call.
#include "bench/bench.h"
#include "platform/native/native_host.h"
#include "plugin/avi_output_effect.h"

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
    std::vector<double> lockMs;
    std::vector<double> stopMs;
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
// removed before the next Save, so Save does not pay for truncating the
// last one.
bool pressAgainAndAgain(AviOutputEffect& effect, const std::string& path, int rounds, Latencies& latencies)
{
    std::mt19937 random(7);
    std::uniform_int_distribution<int> recordingMs(5, 25);
    std::uniform_int_distribution<int> pauseMs(1, 5);
    for (int round = 0; round < rounds; ++round) {
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
        std::printf("%-32s %-23s %-23s %-23s %zu (%ld)\n", name.c_str() + 6, spread(latencies.saveMs).c_str(),
                    spread(latencies.lockMs).c_str(), spread(latencies.stopMs).c_str(), latencies.stopMs.size(),
                    latencies.errorBoxes);
    }
}
