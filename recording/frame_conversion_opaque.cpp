// The RAW frame form: the host's own 32-bit pixels with the fourth byte set
// to 0xFF. BI_RGB calls that byte unused, but ffmpeg, and everything built
// on it, reads 32-bit BI_RGB as BGRA: a byte the host left at 0 would make
// every exported picture transparent. One pass, as fast as a copy.
#include "recording/frame_conversion.h"

#include <cstring>

#if defined(__i386__) || defined(__x86_64__)
#define OPAQUE_COPY_X86 1
#include <immintrin.h>
#endif

namespace {

constexpr uint32_t kOpaque = 0xFF000000u;

void copyOpaqueScalar(const uint32_t* source, size_t pixels, uint32_t* destination)
{
    for (size_t i = 0; i < pixels; ++i)
        destination[i] = source[i] | kOpaque;
}

#ifdef OPAQUE_COPY_X86

#if defined(__i386__)
#define KERNEL_ENTRY __attribute__((force_align_arg_pointer))
#else
#define KERNEL_ENTRY
#endif

__attribute__((target("sse2"))) KERNEL_ENTRY void copyOpaqueSse2(const uint32_t* source, size_t pixels,
                                                                 uint32_t* destination)
{
    const __m128i opaque = _mm_set1_epi32(static_cast<int>(kOpaque));
    size_t i = 0;
    for (; i + 16 <= pixels; i += 16) {
        const auto* in = reinterpret_cast<const __m128i*>(source + i);
        auto* out = reinterpret_cast<__m128i*>(destination + i);
        const __m128i a = _mm_loadu_si128(in);
        const __m128i b = _mm_loadu_si128(in + 1);
        const __m128i c = _mm_loadu_si128(in + 2);
        const __m128i d = _mm_loadu_si128(in + 3);
        _mm_storeu_si128(out, _mm_or_si128(a, opaque));
        _mm_storeu_si128(out + 1, _mm_or_si128(b, opaque));
        _mm_storeu_si128(out + 2, _mm_or_si128(c, opaque));
        _mm_storeu_si128(out + 3, _mm_or_si128(d, opaque));
    }
    copyOpaqueScalar(source + i, pixels - i, destination + i);
}

__attribute__((target("avx2"))) KERNEL_ENTRY void copyOpaqueAvx2(const uint32_t* source, size_t pixels,
                                                                 uint32_t* destination)
{
    const __m256i opaque = _mm256_set1_epi32(static_cast<int>(kOpaque));
    size_t i = 0;
    for (; i + 32 <= pixels; i += 32) {
        const auto* in = reinterpret_cast<const __m256i*>(source + i);
        auto* out = reinterpret_cast<__m256i*>(destination + i);
        const __m256i a = _mm256_loadu_si256(in);
        const __m256i b = _mm256_loadu_si256(in + 1);
        const __m256i c = _mm256_loadu_si256(in + 2);
        const __m256i d = _mm256_loadu_si256(in + 3);
        _mm256_storeu_si256(out, _mm256_or_si256(a, opaque));
        _mm256_storeu_si256(out + 1, _mm256_or_si256(b, opaque));
        _mm256_storeu_si256(out + 2, _mm256_or_si256(c, opaque));
        _mm256_storeu_si256(out + 3, _mm256_or_si256(d, opaque));
    }
    for (; i + 8 <= pixels; i += 8) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(source + i));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(destination + i), _mm256_or_si256(a, opaque));
    }
    copyOpaqueScalar(source + i, pixels - i, destination + i);
}

// Masked loads and stores take the last pixels, so nothing reaches past them.
__attribute__((target("avx512f"))) KERNEL_ENTRY void copyOpaqueAvx512(const uint32_t* source, size_t pixels,
                                                                      uint32_t* destination)
{
    const __m512i opaque = _mm512_set1_epi32(static_cast<int>(kOpaque));
    size_t i = 0;
    for (; i + 64 <= pixels; i += 64) {
        const uint32_t* in = source + i;
        uint32_t* out = destination + i;
        const __m512i a = _mm512_loadu_si512(in);
        const __m512i b = _mm512_loadu_si512(in + 16);
        const __m512i c = _mm512_loadu_si512(in + 32);
        const __m512i d = _mm512_loadu_si512(in + 48);
        _mm512_storeu_si512(out, _mm512_or_si512(a, opaque));
        _mm512_storeu_si512(out + 16, _mm512_or_si512(b, opaque));
        _mm512_storeu_si512(out + 32, _mm512_or_si512(c, opaque));
        _mm512_storeu_si512(out + 48, _mm512_or_si512(d, opaque));
    }
    for (; i < pixels; i += 16) {
        const size_t left = pixels - i < 16 ? pixels - i : 16;
        const auto mask = static_cast<__mmask16>((1u << left) - 1);
        const __m512i a = _mm512_maskz_loadu_epi32(mask, source + i);
        _mm512_mask_storeu_epi32(destination + i, mask, _mm512_or_si512(a, opaque));
    }
}

#endif

using CopyFunction = void (*)(const uint32_t*, size_t, uint32_t*);

CopyFunction copyFunction(ConversionKernel kernel)
{
#ifdef OPAQUE_COPY_X86
    switch (kernel) {
    case ConversionKernel::Scalar:
        return copyOpaqueScalar;
    case ConversionKernel::Sse2:
    case ConversionKernel::Ssse3:
        return copyOpaqueSse2;
    case ConversionKernel::Avx2:
        return copyOpaqueAvx2;
    case ConversionKernel::Avx512Vbmi:
        return copyOpaqueAvx512;
    }
#else
    (void)kernel;
#endif
    return copyOpaqueScalar;
}

// Chosen once, when the module loads, as the conversion's kernel is.
const CopyFunction fastestCopy = copyFunction(fastestConversionKernel());

} // namespace

void copyOpaque32(const uint32_t* source, size_t pixels, uint32_t* destination)
{
    fastestCopy(source, pixels, destination);
}

void copyOpaque32With(ConversionKernel kernel, const uint32_t* source, size_t pixels, uint32_t* destination)
{
    copyFunction(kernel)(source, pixels, destination);
}
