// renderFrame as the host calls it: a call whose position has not moved
// (against the bare tick read it starts with), and a call that writes.
#include "bench/bench.h"
#include "platform/native/native_host.h"
#include "plugin/avi_output_effect.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <unistd.h>

namespace {

// An effect recording frames of `size` to a file in the bench directory.
class Recording {
public:
    Recording(const FrameSize& size, bool raw, int frameRate, const std::string& name)
        : effect_(new AviOutputEffect)
        , frame_(static_cast<size_t>(size.width) * size.height * 4, 5)
        , size_(size)
        , path_(benchSettings().directory + "/" + name)
    {
        std::snprintf(effect_->fileName, sizeof effect_->fileName, "%s", path_.c_str());
        effect_->rawMode = raw ? 1 : 0;
        effect_->frameRate = frameRate;
        render(); // the size, before any recording
        start();
    }
    ~Recording()
    {
        effect_.reset();
        ::unlink(path_.c_str());
    }

    void start()
    {
        if (effect_->runStartSequence())
            throw std::runtime_error("cannot start recording " + path_);
    }
    void restart()
    {
        effect_->stopRecording();
        ::unlink(path_.c_str());
        start();
    }
    void render() { host_->renderFrame(0, 0, reinterpret_cast<const uint32_t*>(frame_.data()), 0, size_.width, size_.height); }
    int framesWritten() const { return effect_->totalFrames; }

private:
    std::unique_ptr<AviOutputEffect> effect_;
    EffectBase* host_ = effect_.get();
    FrameBuffer frame_;
    FrameSize size_;
    std::string path_;
};

} // namespace

void registerFramePathBenchmarks()
{
    registered("tick/real", [](benchmark::State& state) {
        NativeUseRealClock();
        for (auto _ : state)
            benchmark::DoNotOptimize(timeGetTime());
    });
    registered("tick/virtual", [](benchmark::State& state) {
        NativeUseVirtualClock(1000);
        for (auto _ : state)
            benchmark::DoNotOptimize(timeGetTime());
        NativeUseRealClock();
    });
    // At 1 frame per second a real clock moves the position once a second:
    // one write in millions of calls.
    registered("render/skip/real", [](benchmark::State& state) {
        NativeUseRealClock();
        Recording recording({320, 240}, false, 1, "bench-skip-real.avi");
        for (auto _ : state)
            recording.render();
    });
    registered("render/skip/virtual", [](benchmark::State& state) {
        NativeUseVirtualClock(1000);
        {
            Recording recording({320, 240}, false, 25, "bench-skip-virtual.avi");
            for (auto _ : state)
                recording.render();
        }
        NativeUseRealClock();
    });

    for (bool raw : {false, true}) {
        for (const FrameSize& size : frameSizes()) {
            const std::string name = std::string("render/written/") + (raw ? "raw" : "24bit") + "/" + size.name();
            registeredWarm(name, [size, raw](benchmark::State& state) {
                NativeUseVirtualClock(1000);
                {
                    Recording recording(size, raw, 25, "bench-render.avi");
                    const size_t bytes = raw ? static_cast<size_t>(size.width) * size.height * 4
                                             : standardStride(size.width) * size.height;
                    const int perFile = framesPerFile(bytes);
                    int inFile = 0;
                    for (auto _ : state) {
                        if (inFile == perFile) {
                            state.PauseTiming();
                            recording.restart();
                            inFile = 0;
                            state.ResumeTiming();
                        }
                        NativeAdvanceClock(40);
                        recording.render();
                        ++inFile;
                    }
                    if (recording.framesWritten() != inFile)
                        state.SkipWithError("a call did not write its frame");
                }
                NativeUseRealClock();
            });
        }
    }
}
