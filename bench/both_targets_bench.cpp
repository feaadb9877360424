// The frame path of the plug-in, built natively and as a 32-bit Windows
// program that runs under Wine, from this one source over the plug-in's
// own objects: renderFrame per written frame in both forms (render/written/,
// and render/zeros/ with the writer's reserve held in zeros, as it must be
// under Wine), the skip path and each conversion kernel alone.
// ./scripts/bench --windows runs both builds in turn and prints the one
// against the other.
//
//   both_targets_bench [--dir=PATH] [--out=FILE] [--filter=REGEX]
//                      [--repetitions=N] [--min-time=SECONDS] [--smoke]
//   both_targets_bench --compare=DIR --rounds=N
//
// --dir is where files are written, --out where the figures go (one line
// per case: name, median, least and most nanoseconds per iteration);
// --compare reads DIR/native-K.tsv and DIR/windows-K.tsv for K = 1..N and
// prints the table.
#include "bench/effect_recording.h"
#include "bench/frames.h"
#include "bench/target_clock.h"
#include "bench/target_comparison.h"
#include "bench/target_timing.h"
#include "platform/avi/file_faults.h"
#include "recording/frame_conversion.h"

#ifndef _WIN32
#include "platform/native/native_host.h"
#endif

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <stdexcept>

namespace {

#ifdef _WIN32
constexpr char kTarget[] = "windows-x86";
constexpr char kSeparator = '\\';
#else
constexpr char kTarget[] = "native-x86-64";
constexpr char kSeparator = '/';
#endif

struct Options {
    std::string directory = ".";
    std::string output;
    std::string filter;
    std::string compare;
    int rounds = 0;
    TimingSettings timing;
};

void useTick(bool real)
{
    if (real)
        target_clock::useSystemTick();
    else
        target_clock::useVirtualTick(1000);
}

void tickReads(bool realTick, int64_t n, Stopwatch& watch)
{
    useTick(realTick);
    watch.resume();
    for (int64_t i = 0; i < n; ++i)
        keep(target_clock::tick());
    watch.pause();
    target_clock::useSystemTick();
}

// At 1 frame per second the system's tick moves the position once a
// second; the virtual one never moves here.
void skippedCalls(bool realTick, const std::string& path, int64_t n, Stopwatch& watch)
{
    useTick(realTick);
    Recording recording({320, 240}, false, realTick ? 1 : 25, path);
    watch.resume();
    for (int64_t i = 0; i < n; ++i)
        recording.render();
    watch.pause();
    target_clock::useSystemTick();
}

void addTickCases(std::vector<TimedCase>& cases, const Options& options)
{
    const std::string path = options.directory + kSeparator + "bench-skip.avi";
    for (bool real : {true, false}) {
        const std::string clock = real ? "real" : "virtual";
        cases.push_back({"tick/" + clock, [real](int64_t n, Stopwatch& watch) { tickReads(real, n, watch); }});
        cases.push_back({"render/skip/" + clock,
                         [real, path](int64_t n, Stopwatch& watch) { skippedCalls(real, path, n, watch); }});
    }
}

// Where the file system cannot set blocks aside, as under Wine, the writer
// holds its reserve with zeros written ahead of the frames. The zeros/
// cases make either build do so, so that the two compare like for like.
void holdReserveWithZeros(bool zeros)
{
    static avi::FaultPlan plan;
    plan.noReservation = true;
#ifdef _WIN32
    if (zeros)
        avi::FileFaults::install(plan);
    else
        avi::FileFaults::remove();
#else
    NativeInstallFileFaults(zeros ? &plan : nullptr);
#endif
}

struct WrittenCase {
    FrameSize size;
    bool raw;
    bool zeros;
    std::string path;
    bool smoke;
};

// Every call moves the tick one frame period, so every call writes.
void writtenFrames(const WrittenCase& c, int64_t n, Stopwatch& watch)
{
    target_clock::useVirtualTick(1000);
    holdReserveWithZeros(c.zeros);
    Recording recording(c.size, c.raw, 25, c.path);
    const int perFile = framesPerFile(writtenBytes(c.size, c.raw), c.smoke);
    int inFile = 0;
    watch.resume();
    for (int64_t i = 0; i < n; ++i, ++inFile) {
        if (inFile == perFile) {
            watch.pause();
            recording.restart();
            inFile = 0;
            watch.resume();
        }
        target_clock::advance(40);
        recording.render();
    }
    watch.pause();
    target_clock::useSystemTick();
    holdReserveWithZeros(false);
    if (recording.framesWritten() != inFile)
        throw std::runtime_error("a call did not write its frame");
}

void addWrittenCases(std::vector<TimedCase>& cases, const Options& options)
{
    const std::string path = options.directory + kSeparator + "bench-render.avi";
    for (bool zeros : {false, true}) {
        for (bool raw : {false, true}) {
            for (const FrameSize& size : frameSizes()) {
                const WrittenCase written {size, raw, zeros, path, options.timing.smoke};
                cases.push_back({std::string(zeros ? "render/zeros/" : "render/written/") + (raw ? "raw" : "24bit") +
                                     "/" + size.name(),
                                 [written](int64_t n, Stopwatch& watch) { writtenFrames(written, n, watch); }, true});
            }
        }
    }
}

void addKernelCases(std::vector<TimedCase>& cases)
{
    using K = ConversionKernel;
    for (K kernel : {K::Scalar, K::Sse2, K::Ssse3, K::Avx2, K::Avx512Vbmi}) {
        for (const FrameSize& size : frameSizes()) {
            if (!conversionKernelAvailable(kernel))
                break;
            cases.push_back({std::string("convert/") + conversionKernelName(kernel) + "/" + size.name(),
                             [kernel, size](int64_t n, Stopwatch& watch) {
                                 const size_t stride = standardStride(size.width);
                                 FrameBuffer source(static_cast<size_t>(size.width) * size.height * 4, 1);
                                 FrameBuffer destination(stride * size.height, 2);
                                 const auto* pixels = reinterpret_cast<const uint32_t*>(source.data());
                                 watch.resume();
                                 for (int64_t i = 0; i < n; ++i) {
                                     convertToBottomUp24With(kernel, pixels, size.width, size.height,
                                                             destination.data(), stride);
                                     keep(destination.data());
                                 }
                                 watch.pause();
                             }});
        }
    }
    // RAW's opaque copy; SSSE3 has no copy of its own.
    for (K kernel : {K::Scalar, K::Sse2, K::Avx2, K::Avx512Vbmi}) {
        for (const FrameSize& size : frameSizes()) {
            if (!conversionKernelAvailable(kernel))
                break;
            cases.push_back({std::string("opaque/") + conversionKernelName(kernel) + "/" + size.name(),
                             [kernel, size](int64_t n, Stopwatch& watch) {
                                 const size_t pixels = static_cast<size_t>(size.width) * size.height;
                                 FrameBuffer source(pixels * 4, 1);
                                 FrameBuffer destination(pixels * 4, 2);
                                 watch.resume();
                                 for (int64_t i = 0; i < n; ++i) {
                                     copyOpaque32With(kernel, reinterpret_cast<const uint32_t*>(source.data()),
                                                      pixels, reinterpret_cast<uint32_t*>(destination.data()));
                                     keep(destination.data());
                                 }
                                 watch.pause();
                             }});
        }
    }
}

const char* valueOf(const char* argument, const char* flag)
{
    const size_t length = std::strlen(flag);
    return std::strncmp(argument, flag, length) == 0 && argument[length] == '=' ? argument + length + 1 : nullptr;
}

bool parse(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (const char* value = valueOf(argument, "--dir"))
            options.directory = value;
        else if (const char* value = valueOf(argument, "--out"))
            options.output = value;
        else if (const char* value = valueOf(argument, "--filter"))
            options.filter = value;
        else if (const char* value = valueOf(argument, "--compare"))
            options.compare = value;
        else if (const char* value = valueOf(argument, "--rounds"))
            options.rounds = std::atoi(value);
        else if (const char* value = valueOf(argument, "--repetitions"))
            options.timing.repetitions = std::max(1, std::atoi(value));
        else if (const char* value = valueOf(argument, "--min-time"))
            options.timing.minSeconds = std::atof(value);
        else if (std::strcmp(argument, "--smoke") == 0)
            options.timing.smoke = true;
        else {
            std::fprintf(stderr, "unknown argument: %s\n", argument);
            return false;
        }
    }
    return true;
}

bool writeFigures(const Options& options, const std::vector<CaseFigure>& figures)
{
    FILE* out = options.output.empty() ? stdout : std::fopen(options.output.c_str(), "w");
    if (!out)
        return false;
    std::fprintf(out, "# target %s\n# kernel %s\n", kTarget, conversionKernelName(fastestConversionKernel()));
    for (const CaseFigure& figure : figures)
        std::fprintf(out, "%s\t%.1f\t%.1f\t%.1f\n", figure.name.c_str(), figure.median, figure.least, figure.most);
    return out == stdout || std::fclose(out) == 0;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!parse(argc, argv, options))
        return 2;
    if (!options.compare.empty())
        return printTargetComparison(options.compare, options.rounds) ? 0 : 1;

    std::vector<TimedCase> cases;
    addTickCases(cases, options);
    addWrittenCases(cases, options);
    addKernelCases(cases);
    if (!options.filter.empty()) {
        const std::regex filter(options.filter);
        std::vector<TimedCase> chosen;
        for (TimedCase& timed : cases) {
            if (std::regex_search(timed.name, filter))
                chosen.push_back(std::move(timed));
        }
        cases.swap(chosen);
    }
    std::printf("%s build, frame path kernel %s\n", kTarget, conversionKernelName(fastestConversionKernel()));
    try {
        const std::vector<CaseFigure> figures = timeCases(cases, options.timing);
        if (!writeFigures(options, figures)) {
            std::fprintf(stderr, "cannot write %s\n", options.output.c_str());
            return 1;
        }
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "%s\n", failure.what());
        return 1;
    }
    return 0;
}
