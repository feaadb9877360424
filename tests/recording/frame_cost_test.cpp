// What one frame costs the host beyond its bytes: no allocation once the
// recording runs, no copy of a RAW frame, and one system call per written
// frame (none for a skipped one). Counts, not times.
//
// This program replaces malloc to count allocations, and wraps
// AVIStreamWrite and pwritev to see which buffer reaches them. It also
// runs itself under strace (--frame-probe) to count every system call.
#include "tests/support/effect_fixture.h"
#include "tests/support/media_probe.h"

#include <atomic>
#include <dlfcn.h>
#include <fstream>
#include <map>
#include <sstream>
#include <sys/uio.h>
#include <unistd.h>

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* pointer, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* pointer);
}

namespace {

std::atomic<bool> countingAllocations {false};
std::atomic<long> allocations {0};

void countAllocation()
{
    if (countingAllocations.load(std::memory_order_relaxed))
        allocations.fetch_add(1, std::memory_order_relaxed);
}

// The buffers the last frame passed through.
const void* lastStreamWriteBuffer = nullptr;
std::vector<const void*> lastPwritevBuffers;

} // namespace

extern "C" {

void* malloc(size_t size)
{
    countAllocation();
    return __libc_malloc(size);
}

void* calloc(size_t count, size_t size)
{
    countAllocation();
    return __libc_calloc(count, size);
}

void* realloc(void* pointer, size_t size)
{
    countAllocation();
    return __libc_realloc(pointer, size);
}

void* aligned_alloc(size_t alignment, size_t size)
{
    countAllocation();
    return __libc_memalign(alignment, size);
}

int posix_memalign(void** pointer, size_t alignment, size_t size)
{
    countAllocation();
    *pointer = __libc_memalign(alignment, size);
    return *pointer ? 0 : ENOMEM;
}

void free(void* pointer) { __libc_free(pointer); }

HRESULT AVIStreamWrite(PAVISTREAM stream, LONG start, LONG samples, LPVOID buffer, LONG bufferSize, DWORD flags,
                       LONG* samplesWritten, LONG* bytesWritten)
{
    using Function = HRESULT (*)(PAVISTREAM, LONG, LONG, LPVOID, LONG, DWORD, LONG*, LONG*);
    static const auto next = reinterpret_cast<Function>(dlsym(RTLD_NEXT, "AVIStreamWrite"));
    lastStreamWriteBuffer = buffer;
    return next(stream, start, samples, buffer, bufferSize, flags, samplesWritten, bytesWritten);
}

ssize_t pwritev(int fd, const struct iovec* vectors, int count, off_t offset)
{
    using Function = ssize_t (*)(int, const struct iovec*, int, off_t);
    static const auto next = reinterpret_cast<Function>(dlsym(RTLD_NEXT, "pwritev"));
    lastPwritevBuffers.assign(count, nullptr);
    for (int i = 0; i < count; ++i)
        lastPwritevBuffers[i] = vectors[i].iov_base;
    return next(fd, vectors, count, offset);
}

} // extern "C"

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr int kWarmUpFrames = 5;
constexpr int kMeasuredFrames = 60;
constexpr int kSkipsPerFrame = 3;
constexpr char kBeginMarker[] = "/frame-cost-probe/begin";
constexpr char kEndMarker[] = "/frame-cost-probe/end";

std::string selfPath;

// Frames the effect writes, each followed by calls that fall in the same
// frame period.
void recordFrames(AviOutputEffect& effect, const HostFrame& frame, int frames)
{
    for (int i = 0; i < frames; ++i) {
        NativeAdvanceClock(40);
        effect.renderFrame(0, 0, frame.pixels.data(), 0, frame.width, frame.height);
        for (int skip = 0; skip < kSkipsPerFrame; ++skip)
            effect.renderFrame(0, 0, frame.pixels.data(), 0, frame.width, frame.height);
    }
}

// No header patch in the middle of the count: that is the writer's
// once-a-second flush, not a frame's cost.
void holdBackFlushes()
{
    NativeAviWriterOptions options {};
    options.flushIntervalMs = UINT32_MAX;
    NativeSetAviWriterOptions(&options);
}

// --frame-probe PATH RAW: records with markers around the measured frames.
int runProbe(const char* path, bool raw)
{
    NativeUseVirtualClock(100000);
    holdBackFlushes();
    HostFrame frame(kWidth, kHeight, 1);
    auto effect = std::make_unique<AviOutputEffect>();
    effect->renderFrame(0, 0, frame.pixels.data(), 0, kWidth, kHeight);
    std::strncpy(effect->fileName, path, sizeof effect->fileName - 1);
    effect->rawMode = raw;
    if (!effect->runStartSequence())
        return 2;
    recordFrames(*effect, frame, kWarmUpFrames);
    access(kBeginMarker, F_OK);
    recordFrames(*effect, frame, kMeasuredFrames);
    access(kEndMarker, F_OK);
    const bool wroteAll = effect->totalFrames == kWarmUpFrames + kMeasuredFrames;
    effect.reset();
    return wroteAll ? 0 : 3;
}

// System call names strace saw between the markers, with their counts.
std::map<std::string, int> callsBetweenMarkers(const std::string& trace)
{
    std::map<std::string, int> calls;
    std::istringstream lines(trace);
    std::string line;
    bool inside = false;
    while (std::getline(lines, line)) {
        if (line.find(kBeginMarker) != std::string::npos) {
            inside = true;
            continue;
        }
        if (line.find(kEndMarker) != std::string::npos)
            break;
        const size_t paren = line.find('(');
        if (!inside || paren == std::string::npos)
            continue;
        // "PID name(args) = result"
        const size_t nameStart = line.rfind(' ', paren);
        calls[line.substr(nameStart == std::string::npos ? 0 : nameStart + 1, paren - nameStart - 1)]++;
    }
    return calls;
}

using FrameCost = EffectTest;

TEST_F(FrameCost, WrittenAndSkippedFramesAllocateNothingOnceRecording)
{
    for (bool raw : {false, true}) {
        SCOPED_TRACE(raw ? "raw" : "standard");
        HostFrame frame(kWidth, kHeight, 1);
        render(frame);
        effect->rawMode = raw;
        ASSERT_EQ(start(dir.file(raw ? "raw.avi" : "standard.avi")), 1);
        recordFrames(*effect, frame, kWarmUpFrames);

        allocations = 0;
        countingAllocations = true;
        recordFrames(*effect, frame, kMeasuredFrames);
        countingAllocations = false;

        EXPECT_EQ(effect->totalFrames, kWarmUpFrames + kMeasuredFrames);
        EXPECT_EQ(allocations.load(), 0);
        effect->stopRecording();
    }
}

TEST_F(FrameCost, ARawFrameReachesTheSystemCallAsTheHostsOwnBuffer)
{
    HostFrame frame(kWidth, kHeight, 1);
    render(frame);
    effect->rawMode = 1;
    ASSERT_EQ(start(dir.file("raw.avi")), 1);
    lastPwritevBuffers.clear();
    renderAfter(40, frame);
    ASSERT_EQ(effect->totalFrames, 1);
    EXPECT_EQ(lastStreamWriteBuffer, frame.pixels.data());
    // Any empty chunks for skipped positions, the chunk header, then the frame itself.
    ASSERT_GE(lastPwritevBuffers.size(), 2u);
    EXPECT_EQ(lastPwritevBuffers.back(), frame.pixels.data());
}

TEST_F(FrameCost, AStandardFrameReachesTheSystemCallFromTheConversionBuffer)
{
    HostFrame frame(kWidth, kHeight, 1);
    render(frame);
    ASSERT_EQ(start(dir.file("standard.avi")), 1);
    lastPwritevBuffers.clear();
    renderAfter(40, frame);
    ASSERT_EQ(effect->totalFrames, 1);
    EXPECT_EQ(lastStreamWriteBuffer, effect->scratch.data);
    ASSERT_GE(lastPwritevBuffers.size(), 2u);
    EXPECT_EQ(lastPwritevBuffers.back(), effect->scratch.data);
}

// strace counts every call the process makes, the C library's own included.
TEST_F(FrameCost, EachWrittenFrameIsOneSystemCallAndASkippedCallNone)
{
    for (bool raw : {false, true}) {
        SCOPED_TRACE(raw ? "raw" : "standard");
        const std::string trace = dir.file(raw ? "raw.trace" : "standard.trace");
        const std::string command = "strace -f -qq -o " + shellQuote(trace) + " " + shellQuote(selfPath) +
                                    " --frame-probe " + shellQuote(dir.file("probe.avi")) + (raw ? " 1" : " 0");
        std::string output;
        ASSERT_EQ(runCommand(command + " 2>&1", &output), 0) << output;
        std::ifstream file(trace);
        std::stringstream text;
        text << file.rdbuf();
        std::map<std::string, int> calls = callsBetweenMarkers(text.str());

        EXPECT_EQ(calls["pwritev"], kMeasuredFrames);
        // Disk blocks are set aside for many frames at a time, each time
        // after a look at the space the disk has left.
        EXPECT_LE(calls["fallocate"], 1 + kMeasuredFrames / 8);
        EXPECT_LE(calls["fstatfs"], calls["fallocate"]);
        calls.erase("pwritev");
        calls.erase("fallocate");
        calls.erase("fstatfs");
        EXPECT_TRUE(calls.empty()) << "unexpected: " << calls.begin()->first << " x " << calls.begin()->second;
    }
}

} // namespace

int main(int argc, char** argv)
{
    char self[4096] = {};
    selfPath = readlink("/proc/self/exe", self, sizeof self - 1) > 0 ? self : argv[0];
    if (argc == 4 && std::string(argv[1]) == "--frame-probe")
        return runProbe(argv[2], std::string(argv[3]) == "1");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
