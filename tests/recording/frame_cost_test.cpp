// What one frame costs the host beyond its bytes: no allocation once the
// recording runs, one pass over a frame's pixels, and one system call per written
// frame (none for a skipped one). Counts, not times.
//
// A frame of at most 512 KiB with its chunk header is one pwritev; a
// larger one goes out in pieces that end on 512 KiB boundaries of the
// file, since one call over a whole 2 MiB-aligned stretch was measured
// ten times slower (see the writer's file).
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

// --frame-probe PATH RAW WIDTH HEIGHT: records with markers around the measured frames.
int runProbe(const char* path, bool raw, int width, int height)
{
    NativeUseVirtualClock(100000);
    holdBackFlushes();
    HostFrame frame(width, height, 1);
    auto effect = std::make_unique<AviOutputEffect>();
    effect->renderFrame(0, 0, frame.pixels.data(), 0, width, height);
    std::strncpy(effect->fileName, path, sizeof effect->fileName - 1);
    effect->rawMode = raw;
    if (effect->runStartSequence())
        return 2;
    recordFrames(*effect, frame, kWarmUpFrames);
    access(kBeginMarker, F_OK);
    recordFrames(*effect, frame, kMeasuredFrames);
    access(kEndMarker, F_OK);
    const bool wroteAll = effect->totalFrames == kWarmUpFrames + kMeasuredFrames;
    effect.reset();
    return wroteAll ? 0 : 3;
}

// The lines strace wrote between the markers.
std::vector<std::string> linesBetweenMarkers(const std::string& trace)
{
    std::vector<std::string> between;
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
        if (inside && line.find('(') != std::string::npos)
            between.push_back(line);
    }
    return between;
}

// "PID name(args) = result"
std::string callName(const std::string& line)
{
    const size_t paren = line.find('(');
    const size_t nameStart = line.rfind(' ', paren);
    return line.substr(nameStart == std::string::npos ? 0 : nameStart + 1, paren - nameStart - 1);
}

// System call names with their counts.
std::map<std::string, int> callCounts(const std::vector<std::string>& lines)
{
    std::map<std::string, int> calls;
    for (const std::string& line : lines)
        calls[callName(line)]++;
    return calls;
}

struct FileWrite {
    uint64_t offset;
    uint64_t size;
};

// "pwritev(fd, [...], count, OFFSET) = SIZE"; the buffers' text comes first.
std::vector<FileWrite> pwritevCalls(const std::vector<std::string>& lines)
{
    std::vector<FileWrite> writes;
    for (const std::string& line : lines) {
        if (callName(line) != "pwritev")
            continue;
        const size_t result = line.rfind(") = ");
        const size_t offset = line.rfind(", ", result);
        writes.push_back({std::stoull(line.substr(offset + 2, result - offset - 2)), std::stoull(line.substr(result + 4))});
    }
    return writes;
}

// Runs the probe under strace; strace counts every call the process makes, the C library's own included.
std::vector<std::string> tracedFrames(const TempDir& dir, bool raw, int width, int height)
{
    const std::string trace = dir.file(raw ? "raw.trace" : "standard.trace");
    const std::string command = "strace -f -qq -o " + shellQuote(trace) + " " + shellQuote(selfPath) +
                                " --frame-probe " + shellQuote(dir.file("probe.avi")) + (raw ? " 1 " : " 0 ") +
                                std::to_string(width) + " " + std::to_string(height);
    std::string output;
    EXPECT_EQ(runCommand(command + " 2>&1", &output), 0) << output;
    std::ifstream file(trace);
    std::stringstream text;
    text << file.rdbuf();
    return linesBetweenMarkers(text.str());
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

// A RAW frame is copied there once, made opaque; a standard one converted.
TEST_F(FrameCost, EitherFormReachesTheSystemCallFromTheConversionBuffer)
{
    HostFrame frame(kWidth, kHeight, 1);
    render(frame);
    for (int raw : {0, 1}) {
        SCOPED_TRACE(raw ? "raw" : "standard");
        effect->rawMode = raw;
        ASSERT_EQ(start(dir.file(raw ? "raw.avi" : "standard.avi")), 1);
        lastPwritevBuffers.clear();
        renderAfter(40, frame);
        ASSERT_EQ(effect->totalFrames, 1);
        EXPECT_EQ(lastStreamWriteBuffer, effect->scratch.data);
        // Any empty chunks for skipped positions, the chunk header, then the frame itself.
        ASSERT_GE(lastPwritevBuffers.size(), 2u);
        EXPECT_EQ(lastPwritevBuffers.back(), effect->scratch.data);
        effect->stopRecording();
    }
}

TEST_F(FrameCost, EachWrittenFrameIsOneSystemCallAndASkippedCallNone)
{
    for (bool raw : {false, true}) {
        SCOPED_TRACE(raw ? "raw" : "standard");
        std::map<std::string, int> calls = callCounts(tracedFrames(dir, raw, kWidth, kHeight));

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

TEST_F(FrameCost, AFrameOverHalfAMebibyteIsWrittenInPiecesEndingOnHalfMebibyteBoundaries)
{
    constexpr uint64_t kPiece = uint64_t(512) << 10;
    constexpr int kLargeWidth = 640;
    constexpr int kLargeHeight = 480;
    const uint64_t chunkBytes = 8 + uint64_t(kLargeWidth) * kLargeHeight * 4;
    const std::vector<FileWrite> writes = pwritevCalls(tracedFrames(dir, true, kLargeWidth, kLargeHeight));
    ASSERT_FALSE(writes.empty());

    const uint64_t firstFrame = writes.front().offset;
    uint64_t end = firstFrame;
    for (const FileWrite& write : writes) {
        SCOPED_TRACE("write of " + std::to_string(write.size) + " at " + std::to_string(write.offset));
        EXPECT_EQ(write.offset, end) << "not where the last one ended";
        end = write.offset + write.size;
        EXPECT_EQ(write.offset / kPiece, (end - 1) / kPiece) << "crosses a boundary";
        const bool endsFrame = (end - firstFrame) % chunkBytes == 0;
        EXPECT_TRUE(end % kPiece == 0 || endsFrame) << "ends short of a boundary inside a frame";
    }
    EXPECT_EQ(end - firstFrame, chunkBytes * kMeasuredFrames);
}

} // namespace

int main(int argc, char** argv)
{
    char self[4096] = {};
    selfPath = readlink("/proc/self/exe", self, sizeof self - 1) > 0 ? self : argv[0];
    if (argc == 6 && std::string(argv[1]) == "--frame-probe")
        return runProbe(argv[2], std::string(argv[3]) == "1", std::atoi(argv[4]), std::atoi(argv[5]));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
