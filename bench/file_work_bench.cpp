// What Save and STOP cost the render thread while the file system works:
// a render thread writes a 1920 x 1080 frame on every call, back to back,
// until the file holds about 480 MB; then STOP finishes that file, and
// Save replaces it with a new one. For each, the longest renderFrame call
// that overlapped the press, against the median call that wrote a frame
// and the longest call in as long a time with no press (the new
// recording's first frames), which is what a busy machine adds.
#include "bench/bench.h"
#include "platform/native/native_host.h"
#include "plugin/avi_output_effect.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

const FrameSize kSize {1920, 1080};
// Files get room for two RIFF segments of this size, so nothing here can
// write more than 512 MB.
constexpr uint64_t kSegmentLimit = uint64_t(256) << 20;

// One round's figures, in milliseconds.
struct FileWork {
    double frameWriteMs = 0; // median renderFrame that wrote a frame
    double stopMs = 0;
    double longestDuringStopMs = 0;
    double saveMs = 0;
    double longestDuringSaveMs = 0;
    double longestUnpressedMs = 0; // as long as Save took, no press
    int64_t replacedBytes = 0; // the file Save replaced
};

std::vector<FileWork>& rounds()
{
    static std::vector<FileWork> all;
    return all;
}

double milliseconds(Clock::duration duration) { return std::chrono::duration<double, std::milli>(duration).count(); }

// The render thread. Presses are windows the pressing thread opens and
// closes by moving `epoch` (odd: a press is on); a call that saw epochs e0
// at its start and e1 at its end overlapped every press in between.
class MeasuredRenderer {
public:
    static constexpr int kPresses = 3; // STOP, Save, then no press for as long

    explicit MeasuredRenderer(AviOutputEffect& effect)
        : effect_(effect)
        , frame_(static_cast<size_t>(kSize.width) * kSize.height * 4, 5)
    {
        writesMs_.reserve(4096);
        render();
        thread_ = std::thread([this] { run(); });
    }
    ~MeasuredRenderer() { stop(); }
    MeasuredRenderer(const MeasuredRenderer&) = delete;
    MeasuredRenderer& operator=(const MeasuredRenderer&) = delete;

    void beginPress() { epoch_.fetch_add(1); }
    void endPress() { epoch_.fetch_add(1); }
    void stop()
    {
        done_ = true;
        if (thread_.joinable())
            thread_.join();
    }
    // After stop().
    double longestDuringPress(int press) const { return longestMs_[press]; }
    double medianWriteMs()
    {
        if (writesMs_.empty())
            return -1;
        std::sort(writesMs_.begin(), writesMs_.end());
        return writesMs_[writesMs_.size() / 2];
    }

private:
    void render()
    {
        effect_.renderFrame(0, 0, reinterpret_cast<const uint32_t*>(frame_.data()), 0, kSize.width, kSize.height);
    }

    void run()
    {
        while (!done_.load(std::memory_order_relaxed)) {
            NativeAdvanceClock(17); // more than 1000 / 60 ms: a recording writes on every call
            const bool wasRecording = effect_.recording.load(std::memory_order_relaxed) != 0;
            const int startEpoch = epoch_.load();
            const Clock::time_point started = Clock::now();
            render();
            const double tookMs = milliseconds(Clock::now() - started);
            const int endEpoch = epoch_.load();
            for (int press = 0; press < kPresses; ++press) {
                const int on = 2 * press + 1;
                if (startEpoch <= on && endEpoch >= on)
                    longestMs_[press] = std::max(longestMs_[press], tookMs);
            }
            if (wasRecording && startEpoch == endEpoch && startEpoch % 2 == 0 && writesMs_.size() < writesMs_.capacity())
                writesMs_.push_back(tookMs);
        }
    }

    AviOutputEffect& effect_;
    FrameBuffer frame_;
    std::atomic<int> epoch_ {0};
    std::atomic<bool> done_ {false};
    double longestMs_[kPresses] = {};
    std::vector<double> writesMs_;
    std::thread thread_;
};

int64_t fileBytes(const std::string& path)
{
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return -1;
    std::fseek(file, 0, SEEK_END);
    const long size = std::ftell(file);
    std::fclose(file);
    return size;
}

bool measureRound(AviOutputEffect& effect, const std::string& path, int64_t targetBytes, FileWork& work)
{
    MeasuredRenderer renderer(effect);
    if (effect.runStartSequence())
        return false;
    while (fileBytes(path) < targetBytes)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));

    renderer.beginPress();
    Clock::time_point pressed = Clock::now();
    effect.stopRecording();
    work.stopMs = milliseconds(Clock::now() - pressed);
    renderer.endPress();
    work.replacedBytes = fileBytes(path);

    renderer.beginPress();
    pressed = Clock::now();
    const bool started = effect.runStartSequence() == nullptr;
    work.saveMs = milliseconds(Clock::now() - pressed);
    renderer.endPress();

    renderer.beginPress();
    std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(work.saveMs));
    renderer.endPress();

    renderer.stop();
    effect.stopRecording();
    work.frameWriteMs = renderer.medianWriteMs();
    work.longestDuringStopMs = renderer.longestDuringPress(0);
    work.longestDuringSaveMs = renderer.longestDuringPress(1);
    work.longestUnpressedMs = renderer.longestDuringPress(2);
    return started;
}

void measureFileWork(benchmark::State& state)
{
    const std::string path = benchSettings().directory + "/bench-file-work.avi";
    const int64_t targetBytes = benchSettings().smoke ? (int64_t(20) << 20) : (int64_t(480) << 20);
    NativeUseVirtualClock(1000);
    const NativeAviWriterOptions capped {kSegmentLimit, 0, 2};
    NativeSetAviWriterOptions(&capped);
    {
        AviOutputEffect effect;
        std::snprintf(effect.fileName, sizeof effect.fileName, "%s", path.c_str());
        effect.frameRate = 60;
        for (auto _ : state) {
            FileWork work;
            if (!measureRound(effect, path, targetBytes, work))
                state.SkipWithError(("cannot start recording " + path).c_str());
            rounds().push_back(work);
        }
    }
    ::unlink(path.c_str());
    NativeSetAviWriterOptions(nullptr);
    NativeUseRealClock();
}

} // namespace

void registerFileWorkBenchmarks()
{
    benchmark::RegisterBenchmark("filework/stop-then-save", measureFileWork)
        ->Iterations(benchSettings().smoke ? 1 : 5)
        ->Repetitions(1)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
}

void printFileWorkTable()
{
    if (rounds().empty())
        return;
    std::printf("\nThe render thread during STOP of a large recording and Save over it, %s 24-bit, a write per call, "
                "ms\n",
                kSize.name().c_str());
    std::printf("%-5s %-12s %-10s %-22s %-10s %-22s %-20s %s\n", "round", "frame write", "STOP",
                "longest call in STOP", "Save", "longest call in Save", "longest, no press", "file replaced (MB)");
    int round = 0;
    for (const FileWork& work : rounds()) {
        std::printf("%-5d %-12.2f %-10.2f %-22.2f %-10.2f %-22.2f %-20.2f %lld\n", ++round, work.frameWriteMs,
                    work.stopMs, work.longestDuringStopMs, work.saveMs, work.longestDuringSaveMs,
                    work.longestUnpressedMs, static_cast<long long>(work.replacedBytes >> 20));
    }
}
