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
    Avx512Vbmi,
};

bool conversionKernelAvailable(ConversionKernel kernel);
ConversionKernel fastestConversionKernel();
const char* conversionKernelName(ConversionKernel kernel);

// One kernel, chosen by the caller. It must be available.
void convertToBottomUp24With(ConversionKernel kernel, const uint32_t* source, int width, int height,
                             uint8_t* destination, size_t stride);
