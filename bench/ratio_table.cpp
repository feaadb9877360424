// The figures as ratios: each of ours over its limit and over its peers.
// A ratio below 1 means ours took less time.
#include "bench/bench.h"
#include "bench/duration_text.h"
#include "recording/frame_conversion.h"

#include <cstdio>

namespace {

std::string ratio(double ours, double other)
{
    char text[32];
    if (ours <= 0 || other <= 0)
        return "-";
    std::snprintf(text, sizeof text, "%.2f", ours / other);
    return text;
}

void line(const std::vector<std::string>& cells, const std::vector<int>& widths)
{
    for (size_t i = 0; i < cells.size(); ++i)
        std::printf(i == 0 ? "%-*s" : "%*s", widths[i], cells[i].c_str());
    std::printf("\n");
}

} // namespace

void printRatioTables()
{
    std::printf("\nRatios (median time of ours / time of the other; below 1 means ours is faster)%s\n",
                benchSettings().smoke ? "\nSMOKE RUN: one iteration each, these figures are not measurements" : "");

    std::printf("\nConversion to 24-bit bottom-up, per frame (kernel %s)\n",
                conversionKernelName(fastestConversionKernel()));
    const std::vector<int> conversionWidths = {11, 11, 11, 10, 11, 10, 11, 10};
    line({"size", "ours", "memcpy", "x memcpy", "libyuv", "x libyuv", "scalar", "x scalar"}, conversionWidths);
    for (const FrameSize& size : frameSizes()) {
        const double ours = medianNanoseconds("convert/ours/" + size.name());
        const double limit = medianNanoseconds("convert/memcpy/" + size.name());
        const double yuv = medianNanoseconds("convert/libyuv/" + size.name());
        const double scalar = medianNanoseconds("convert/scalar/" + size.name());
        line({size.name(), duration(ours), duration(limit), ratio(ours, limit), duration(yuv), ratio(ours, yuv),
              duration(scalar), ratio(ours, scalar)},
             conversionWidths);
    }

    for (const char* form : {"24bit", "raw"}) {
        for (const char* kind : {"write", "file"}) {
            const bool perFrame = std::string(kind) == "write";
            if (perFrame)
                std::printf("\nWriting %s frames into an open file, per frame\n", form);
            else
                std::printf("\nWriting a file of %d %s frames, opening and closing included, per file\n",
                            benchSettings().framesPerWholeFile, form);
            const std::vector<int> widths = {11, 11, 11, 9, 18, 11, 11, 10};
            line({"size", "ours", "write()", "x write", "write() prealloc", "x prealloc", "ffmpeg", "x ffmpeg"},
                 widths);
            for (const FrameSize& size : frameSizes()) {
                const std::string suffix = std::string("/") + form + "/" + size.name();
                const double ours = medianNanoseconds(kind + std::string("/ours") + suffix);
                const double limit = medianNanoseconds(kind + std::string("/write") + suffix);
                const double preallocated = medianNanoseconds(kind + std::string("/write-prealloc") + suffix);
                const double ffmpeg = medianNanoseconds(kind + std::string("/ffmpeg") + suffix);
                line({size.name(), duration(ours), duration(limit), ratio(ours, limit), duration(preallocated),
                      ratio(ours, preallocated), duration(ffmpeg), ratio(ours, ffmpeg)},
                     widths);
            }
        }
    }

    std::printf("\nStreams of frames into a new file, per frame: one pwritev per frame against pieces that end on\n"
                "multiples of their size in the file (x whole below 1 means the pieces were faster)\n");
    std::vector<std::string> header = {"size", "form"};
    std::vector<int> pieceWidths = {11, 7};
    for (const WritePiece& piece : writePieces()) {
        header.push_back(piece.name);
        pieceWidths.push_back(10);
        if (piece.bytes) {
            header.push_back("x whole");
            pieceWidths.push_back(9);
        }
    }
    line(header, pieceWidths);
    const std::vector<int> streamWidths = {11, 7, 11, 11, 9, 11, 10};
    for (const char* form : {"24bit", "raw"}) {
        for (const FrameSize& size : frameSizes()) {
            const std::string suffix = std::string("/") + form + "/" + size.name();
            const double whole = medianNanoseconds("stream/pwritev-whole" + suffix);
            if (whole < 0)
                continue;
            std::vector<std::string> cells = {size.name(), form};
            for (const WritePiece& piece : writePieces()) {
                const double time = medianNanoseconds(std::string("stream/pwritev-") + piece.name + suffix);
                cells.push_back(duration(time));
                if (piece.bytes)
                    cells.push_back(ratio(time, whole));
            }
            line(cells, pieceWidths);
        }
    }
    std::printf("\nThe same streams through our writer and ffmpeg's muxer, per frame\n");
    line({"size", "form", "ours", "pwritev", "x whole", "ffmpeg", "x ffmpeg"}, streamWidths);
    for (const char* form : {"24bit", "raw"}) {
        for (const FrameSize& size : frameSizes()) {
            const std::string suffix = std::string("/") + form + "/" + size.name();
            const double ours = medianNanoseconds("stream/ours" + suffix);
            if (ours < 0)
                continue;
            const double whole = medianNanoseconds("stream/pwritev-whole" + suffix);
            const double ffmpeg = medianNanoseconds("stream/ffmpeg" + suffix);
            line({size.name(), form, duration(ours), duration(whole), ratio(ours, whole), duration(ffmpeg),
                  ratio(ours, ffmpeg)},
                 streamWidths);
        }
    }

    std::printf("\nrenderFrame when the position has not moved, per call\n");
    const std::vector<int> skipWidths = {15, 12, 14, 12};
    line({"clock", "tick read", "renderFrame", "difference"}, skipWidths);
    for (const char* clock : {"real", "virtual"}) {
        const double tick = medianNanoseconds(std::string("tick/") + clock);
        const double skip = medianNanoseconds(std::string("render/skip/") + clock);
        line({clock, duration(tick), duration(skip), tick > 0 && skip > 0 ? duration(skip - tick) : "-"}, skipWidths);
    }

    std::printf("\nrenderFrame per written frame, against the limit: memcpy of the output bytes (24-bit only)\n"
                "plus plain write() of one frame\n");
    const std::vector<int> frameWidths = {11, 13, 11, 9, 13, 11, 9};
    line({"size", "24-bit", "limit", "x limit", "RAW", "limit", "x limit"}, frameWidths);
    for (const FrameSize& size : frameSizes()) {
        const double standard = medianNanoseconds("render/written/24bit/" + size.name());
        const double raw = medianNanoseconds("render/written/raw/" + size.name());
        const double write24 = medianNanoseconds("write/write/24bit/" + size.name());
        const double writeRaw = medianNanoseconds("write/write/raw/" + size.name());
        const double copy = medianNanoseconds("convert/memcpy/" + size.name());
        const double limit24 = write24 > 0 && copy > 0 ? copy + write24 : -1;
        const double limitRaw = writeRaw;
        line({size.name(), duration(standard), duration(limit24), ratio(standard, limit24), duration(raw),
              duration(limitRaw), ratio(raw, limitRaw)},
             frameWidths);
    }

    std::printf("\nrenderFrame per written frame, against the page-cache limit: the frame's output bytes written\n"
                "from one cache-resident buffer in the writer's pieces\n");
    line({"size", "24-bit", "limit", "x limit", "RAW", "limit", "x limit"}, frameWidths);
    for (const FrameSize& size : frameSizes()) {
        const double standard = medianNanoseconds("render/written/24bit/" + size.name());
        const double raw = medianNanoseconds("render/written/raw/" + size.name());
        const double limit24 = medianNanoseconds("render/limit/24bit/" + size.name());
        const double limitRaw = medianNanoseconds("render/limit/raw/" + size.name());
        line({size.name(), duration(standard), duration(limit24), ratio(standard, limit24), duration(raw),
              duration(limitRaw), ratio(raw, limitRaw)},
             frameWidths);
    }
}
