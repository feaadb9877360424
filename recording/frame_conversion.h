// The standard frame form: the host's 32-bit top-down frame as 24-bit
// rows, bottom row first, each row padded with zero bytes to its stride.
#pragma once

#include <cstddef>
#include <cstdint>

void convertToBottomUp24(const uint32_t* source, int width, int height, uint8_t* destination, size_t stride);

// The ways the conversion can run. Every kernel gives the same bytes; the
// frame path uses the fastest one the processor has.
enum class ConversionKernel {
    Scalar,
    Sse2,
    Ssse3,
    Avx2,
};

// Whether to store past the cache. Worth it only for frames far larger than
// the cache, which would otherwise evict everything and read each
// destination line before overwriting it.
enum class ConversionStores {
    Cached,
    Streaming,
};

bool conversionKernelAvailable(ConversionKernel kernel);
ConversionKernel fastestConversionKernel();
const char* conversionKernelName(ConversionKernel kernel);
// Output bytes from which convertToBottomUp24 streams its stores.
size_t conversionStreamingThreshold();

// One kernel and store mode, chosen by the caller. The kernel must be available.
void convertToBottomUp24With(ConversionKernel kernel, ConversionStores stores, const uint32_t* source, int width,
                             int height, uint8_t* destination, size_t stride);
