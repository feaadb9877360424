// renderFrame as the host calls it: a call whose position has not moved
// (against the bare tick read it starts with), and a call that writes
// (against the least a written frame can cost with a buffered file).
#include "bench/bench.h"
#include "bench/effect_recording.h"
#include "platform/native/native_host.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/uio.h>
#include <unistd.h>

namespace {

// What a written frame cannot go below with a buffered file: its chunk
// copied into the page cache from one buffer that stays in L2, in the
// writer's pieces (a call per 512 KiB stretch of the file), into a file
// whose blocks were set aside. The frame's own bytes cross memory once
// less than any frame path's: nothing reads the host's pixels.
class PageCacheLimit {
public:
    static constexpr size_t kSourceBytes = size_t(256) << 10;
    static constexpr uint64_t kPiece = uint64_t(512) << 10;

    PageCacheLimit(size_t frameBytes, int framesPerFile, const std::string& name)
        : chunkBytes_(8 + frameBytes + (frameBytes & 1))
        , framesPerFile_(framesPerFile)
        , source_(kSourceBytes, 7)
        , path_(benchSettings().directory + "/" + name)
    {
        open();
    }
    ~PageCacheLimit()
    {
        ::close(fd_);
        ::unlink(path_.c_str());
    }

    void restart()
    {
        ::close(fd_);
        ::unlink(path_.c_str());
        open();
    }

    void writeFrame()
    {
        for (uint64_t left = chunkBytes_; left > 0;) {
            const uint64_t call = left <= kPiece ? left : kPiece - end_ % kPiece;
            iovec parts[kPiece / kSourceBytes + 1];
            int count = 0;
            for (uint64_t room = call; room > 0; ++count) {
                const size_t take = static_cast<size_t>(std::min<uint64_t>(room, kSourceBytes));
                parts[count] = {source_.data(), take};
                room -= take;
            }
            const ssize_t written = ::pwritev(fd_, parts, count, static_cast<off_t>(end_));
            if (written <= 0)
                throw std::runtime_error("pwritev " + path_);
            end_ += static_cast<uint64_t>(written);
            left -= static_cast<uint64_t>(written);
        }
    }

private:
    void open()
    {
        fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd_ < 0 || ::fallocate(fd_, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(chunkBytes_ * framesPerFile_)) != 0)
            throw std::runtime_error("cannot open " + path_);
        end_ = 0;
    }

    uint64_t chunkBytes_;
    int framesPerFile_;
    FrameBuffer source_;
    std::string path_;
    int fd_ = -1;
    uint64_t end_ = 0;
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
        Recording recording({320, 240}, false, 1, benchSettings().directory + "/bench-skip-real.avi");
        for (auto _ : state)
            recording.render();
    });
    registered("render/skip/virtual", [](benchmark::State& state) {
        NativeUseVirtualClock(1000);
        {
            Recording recording({320, 240}, false, 25, benchSettings().directory + "/bench-skip-virtual.avi");
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
                    Recording recording(size, raw, 25, benchSettings().directory + "/bench-render.avi");
                    const int perFile = framesPerFile(writtenBytes(size, raw));
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
    for (bool raw : {false, true}) {
        for (const FrameSize& size : frameSizes()) {
            const std::string name = std::string("render/limit/") + (raw ? "raw" : "24bit") + "/" + size.name();
            registeredWarm(name, [size, raw](benchmark::State& state) {
                const size_t bytes = writtenBytes(size, raw);
                const int perFile = framesPerFile(bytes);
                try {
                    PageCacheLimit limit(bytes, perFile, "bench-limit.avi");
                    int inFile = 0;
                    for (auto _ : state) {
                        if (inFile == perFile) {
                            state.PauseTiming();
                            limit.restart();
                            inFile = 0;
                            state.ResumeTiming();
                        }
                        limit.writeFrame();
                        ++inFile;
                    }
                } catch (const std::exception& failure) {
                    state.SkipWithError(failure.what());
                }
            });
        }
    }
}
