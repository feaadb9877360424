// What keeping the indexes current costs a long recording: the header
// patch of one second of small frames (25 of 4 x 2 pixels), taken 1
// minute, 1 hour and 10 hours into one RIFF segment, where its standard
// index lists 1500, 90,000 and 900,000 frames. The writer runs on a clock
// the benchmark moves, so the patches fall as they would at 25 frames a
// second.
#include "bench/bench.h"
#include "tests/support/writer_stream.h"

#include <string>
#include <unistd.h>

namespace {

uint64_t clockMs = 0;
uint64_t benchClock() { return clockMs; }

constexpr uint32_t kFrameMs = 40;
constexpr int kWidth = 4;
constexpr int kHeight = 2;
constexpr uint32_t kFrameBytes = kWidth * 3 * kHeight; // rows of 12 bytes, already 4-aligned

struct Depth {
    const char* name;
    int64_t seconds;
};
constexpr Depth kDepths[] = {{"1min", 60}, {"1h", 3600}, {"10h", 36000}};

// One second of frames after the patch at clockMs, none of them late
// enough to patch the header itself.
bool writeSecond(avi::AviWriter& writer, int64_t& position, const uint8_t* frame)
{
    for (int i = 0; i < 24; ++i) {
        clockMs += kFrameMs;
        if (!writer.writeFrame(++position, frame, kFrameBytes, true).ok())
            return false;
    }
    clockMs += kFrameMs;
    return writer.writeFrame(++position, frame, kFrameBytes, true).ok();
}

void benchmarkUpkeep(benchmark::State& state, const Depth& depth)
{
    const std::string path = benchSettings().directory + "/upkeep.avi";
    avi::WriterOptions options;
    options.clock = benchClock;
    clockMs = 0;
    {
        avi::AviWriter writer(options);
        uint8_t frame[kFrameBytes] = {};
        int64_t position = 0;
        bool ok = startWriterStream(writer, path, kWidth, kHeight);
        // The patches up to here come with the frames, once a second.
        for (int64_t second = 0; ok && second < depth.seconds; ++second)
            ok = writeSecond(writer, position, frame);
        for (auto _ : state) {
            if (!ok)
                break;
            state.PauseTiming();
            for (int i = 0; i < 24 && ok; ++i) {
                clockMs += kFrameMs;
                ok = writer.writeFrame(++position, frame, kFrameBytes, true).ok();
            }
            clockMs += kFrameMs;
            state.ResumeTiming();
            ok = ok && writer.keepCurrent().ok();
        }
        if (!ok)
            state.SkipWithError("the writer failed");
    }
    ::unlink(path.c_str());
}

} // namespace

// A thousand patches, about 17 minutes of recording, from each depth on.
void registerIndexUpkeepBenchmarks()
{
    for (const Depth& depth : kDepths) {
        auto* bench = registered(std::string("upkeep/patch-of-a-second/") + depth.name,
                                 [depth](benchmark::State& state) { benchmarkUpkeep(state, depth); });
        if (!benchSettings().smoke)
            bench->Iterations(1000);
    }
}
