// The 24-bit conversion against memcpy of the output bytes (the physical
// limit), libyuv's ARGB-to-RGB24 with a vertical flip, and a plain loop;
// the RAW frame's opaque copy against memcpy.
#include "bench/bench.h"
#include "recording/frame_conversion.h"

#include <libyuv/convert_from_argb.h>

#include <cstring>

namespace {

// The straightforward loop, as anyone would first write it.
void plainLoop(const uint32_t* source, int width, int height, uint8_t* destination, size_t stride)
{
    const size_t rowBytes = static_cast<size_t>(width) * 3;
    for (int row = 0; row < height; ++row) {
        const auto* in = reinterpret_cast<const uint8_t*>(source + static_cast<size_t>(height - 1 - row) * width);
        uint8_t* out = destination + static_cast<size_t>(row) * stride;
        for (int x = 0; x < width; ++x) {
            out[0] = in[0];
            out[1] = in[1];
            out[2] = in[2];
            in += 4;
            out += 3;
        }
        std::memset(out, 0, stride - rowBytes);
    }
}

using Conversion = std::function<void(const uint32_t*, int, int, uint8_t*, size_t)>;

void registerConversion(const std::string& who, const FrameSize& size, Conversion convert)
{
    registered("convert/" + who + "/" + size.name(), [size, convert](benchmark::State& state) {
        const size_t stride = standardStride(size.width);
        const size_t outputBytes = stride * size.height;
        FrameBuffer source(static_cast<size_t>(size.width) * size.height * 4, 1);
        FrameBuffer destination(outputBytes, 2);
        const auto* pixels = reinterpret_cast<const uint32_t*>(source.data());
        for (auto _ : state) {
            convert(pixels, size.width, size.height, destination.data(), stride);
            benchmark::DoNotOptimize(destination.data());
            benchmark::ClobberMemory();
        }
        state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * outputBytes));
    });
}

using RawCopy = std::function<void(const uint32_t*, size_t, uint32_t*)>;

void registerRawCopy(const std::string& who, const FrameSize& size, RawCopy copy)
{
    registered("rawcopy/" + who + "/" + size.name(), [size, copy](benchmark::State& state) {
        const size_t pixels = static_cast<size_t>(size.width) * size.height;
        FrameBuffer source(pixels * 4, 1);
        FrameBuffer destination(pixels * 4, 2);
        for (auto _ : state) {
            copy(reinterpret_cast<const uint32_t*>(source.data()), pixels,
                 reinterpret_cast<uint32_t*>(destination.data()));
            benchmark::DoNotOptimize(destination.data());
            benchmark::ClobberMemory();
        }
        state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * pixels * 4));
    });
}

} // namespace

void registerConversionBenchmarks()
{
    for (const FrameSize& size : frameSizes()) {
        registerConversion("ours", size, convertToBottomUp24);
        registerConversion("memcpy", size, [](const uint32_t* source, int, int height, uint8_t* out, size_t stride) {
            std::memcpy(out, source, stride * height);
        });
        registerConversion("libyuv", size, [](const uint32_t* source, int width, int height, uint8_t* out, size_t stride) {
            libyuv::ARGBToRGB24(reinterpret_cast<const uint8_t*>(source), width * 4, out, static_cast<int>(stride), width,
                                -height);
        });
        registerConversion("scalar", size, plainLoop);
    }
    // The RAW frame's one pass, against memcpy of the same bytes.
    for (const FrameSize& size : frameSizes()) {
        registerRawCopy("opaque", size, copyOpaque32);
        registerRawCopy("memcpy", size, [](const uint32_t* source, size_t pixels, uint32_t* out) {
            std::memcpy(out, source, pixels * 4);
        });
    }
    // Each kernel on its own, for the record.
    for (ConversionKernel kernel : {ConversionKernel::Sse2, ConversionKernel::Ssse3, ConversionKernel::Avx2, ConversionKernel::Avx512Vbmi}) {
        if (!conversionKernelAvailable(kernel))
            continue;
        for (const FrameSize& size : frameSizes()) {
            registerConversion(std::string("kernel-") + conversionKernelName(kernel), size,
                               [kernel](const uint32_t* source, int width, int height, uint8_t* out, size_t stride) {
                                   convertToBottomUp24With(kernel, source, width, height, out, stride);
                               });
        }
    }
}
