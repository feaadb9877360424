// The two frame forms. Standard: the host's 32-bit top-down frame as 24-bit
// rows, bottom row first, each row padded with zero bytes to its stride.
// RAW: the host's own pixels with their unused fourth byte set to 0xFF.
#pragma once

#include <cstddef>
#include <cstdint>

void convertToBottomUp24(const uint32_t* source, int width, int height, uint8_t* destination, size_t stride);
void copyOpaque32(const uint32_t* source, size_t pixels, uint32_t* destination);

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
void copyOpaque32With(ConversionKernel kernel, const uint32_t* source, size_t pixels, uint32_t* destination);
