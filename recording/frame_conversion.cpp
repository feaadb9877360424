#include "recording/frame_conversion.h"

#include <cstring>
#include <initializer_list>

#if defined(__i386__) || defined(__x86_64__)
#define FRAME_CONVERSION_X86 1
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace {

const uint8_t* sourceRow(const uint32_t* source, int width, int height, int row)
{
    return reinterpret_cast<const uint8_t*>(source + static_cast<size_t>(height - 1 - row) * static_cast<size_t>(width));
}

// Source rows run bottom-up through memory while the output runs top-down,
// so each row starts a stream the hardware prefetcher has not seen. The
// kernels fetch the next source row while converting this one. The
// AVX-512 kernel does so only for frames larger than a core's L2 cache
// holds: below that the prefetches cost more than they save.
constexpr size_t kPrefetchAbove = size_t(2) << 20;
const uint8_t* nextSourceRow(const uint8_t* row, size_t rowBytes, int rowsLeft)
{
    return rowsLeft > 1 ? row - rowBytes : row;
}

// The pad is zeroed before the pixels, with one 4-byte store that the
// row's last pixels overwrite where they reach into it (a stride is at
// least 4). The kernels then never write past a row's pixel bytes.
void zeroPad(uint8_t* row, size_t stride) { std::memset(row + stride - 4, 0, 4); }

void convertPixels(const uint8_t* in, uint8_t* out, int count)
{
    for (int x = 0; x < count; ++x) {
        out[0] = in[0];
        out[1] = in[1];
        out[2] = in[2];
        in += 4;
        out += 3;
    }
}

void convertScalar(const uint32_t* source, int width, int height, uint8_t* destination, size_t stride)
{
    for (int row = 0; row < height; ++row) {
        uint8_t* out = destination + static_cast<size_t>(row) * stride;
        zeroPad(out, stride);
        convertPixels(sourceRow(source, width, height, row), out, width);
    }
}

#ifdef FRAME_CONVERSION_X86

#define TARGET_SSE2 __attribute__((target("sse2")))
#define TARGET_SSSE3 __attribute__((target("ssse3")))
#define TARGET_AVX2 __attribute__((target("avx2")))
#define TARGET_AVX512VBMI __attribute__((target("avx512f,avx512bw,avx512vbmi")))

// A 32-bit Windows caller only keeps the stack 4-byte aligned, and spilled
// vectors need 16 or 32; each kernel realigns it on entry.
#if defined(__i386__)
#define KERNEL_ENTRY __attribute__((force_align_arg_pointer))
#else
#define KERNEL_ENTRY
#endif

// pshufb control that packs four pixels (16 bytes) into their low 12
// bytes: byte k of the result is byte k % 3 of pixel k / 3. The last four
// come out zero.
struct alignas(32) PackControl {
    int8_t bytes[32];
};

constexpr PackControl packControl()
{
    PackControl control {};
    for (int lane = 0; lane < 2; ++lane) {
        for (int k = 0; k < 16; ++k)
            control.bytes[16 * lane + k] = k < 12 ? static_cast<int8_t>(4 * (k / 3) + k % 3) : int8_t(-128);
    }
    return control;
}

constexpr PackControl kPack = packControl();

TARGET_SSE2 inline __m128i load128(const uint8_t* in) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(in)); }

TARGET_SSE2 inline void store128(uint8_t* out, __m128i value)
{
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), value);
}

// The 12 packed bytes of four pixels, exactly.
TARGET_SSE2 inline void storeGroup12(uint8_t* out, __m128i packed)
{
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), packed);
    const int last = _mm_cvtsi128_si32(_mm_srli_si128(packed, 8));
    std::memcpy(out + 8, &last, 4);
}

TARGET_SSE2 inline void prefetchRow(const uint8_t* row) { _mm_prefetch(reinterpret_cast<const char*>(row), _MM_HINT_T0); }

// ---- SSE2: no byte shuffle, so masks and shifts pack each group, and
// sixteen pixels make three whole 16-byte stores.

TARGET_SSE2 inline __m128i packGroupSse2(__m128i pixels)
{
    // Per 64-bit half: pixel a at bits 0..23, pixel b moved down to 24..47.
    const __m128i lowPixel = _mm_set_epi32(0, 0x00FFFFFF, 0, 0x00FFFFFF);
    const __m128i highPixel = _mm_set_epi32(0x00FFFFFF, 0, 0x00FFFFFF, 0);
    const __m128i halves =
        _mm_or_si128(_mm_and_si128(pixels, lowPixel), _mm_srli_epi64(_mm_and_si128(pixels, highPixel), 8));
    // The upper half's 6 bytes move next to the lower half's.
    const __m128i upperHalf = _mm_set_epi32(0, -1, static_cast<int>(0xFFFF0000u), 0);
    return _mm_or_si128(_mm_move_epi64(halves), _mm_and_si128(_mm_srli_si128(halves, 2), upperHalf));
}

TARGET_SSE2 inline void convertRowSse2(const uint8_t* in, uint8_t* out, int width, const uint8_t* next)
{
    int left = width;
    for (; left >= 16; left -= 16, in += 64, out += 48, next += 64) {
        prefetchRow(next);
        const __m128i c0 = packGroupSse2(load128(in));
        const __m128i c1 = packGroupSse2(load128(in + 16));
        const __m128i c2 = packGroupSse2(load128(in + 32));
        const __m128i c3 = packGroupSse2(load128(in + 48));
        store128(out, _mm_or_si128(c0, _mm_slli_si128(c1, 12)));
        store128(out + 16, _mm_or_si128(_mm_srli_si128(c1, 4), _mm_slli_si128(c2, 8)));
        store128(out + 32, _mm_or_si128(_mm_srli_si128(c2, 8), _mm_slli_si128(c3, 4)));
    }
    for (; left >= 4; left -= 4, in += 16, out += 12)
        storeGroup12(out, packGroupSse2(load128(in)));
    convertPixels(in, out, left);
}

TARGET_SSE2 KERNEL_ENTRY void convertFrameSse2(const uint32_t* source, int width, int height, uint8_t* destination,
                                               size_t stride)
{
    const size_t rowBytes = static_cast<size_t>(width) * 4;
    for (int row = 0; row < height; ++row) {
        uint8_t* out = destination + static_cast<size_t>(row) * stride;
        const uint8_t* in = sourceRow(source, width, height, row);
        zeroPad(out, stride);
        convertRowSse2(in, out, width, nextSourceRow(in, rowBytes, height - row));
    }
}

// ---- SSSE3: one shuffle per four pixels; each 16-byte store carries 12
// bytes and overlaps the next by 4.

TARGET_SSSE3 inline void convertRowSsse3(const uint8_t* in, uint8_t* out, int width, const uint8_t* next,
                                         __m128i pack)
{
    int left = width;
    // A 16-byte store needs 3 * left >= 16 bytes left: left >= 6 for one,
    // left >= 18 for the last of four.
    for (; left >= 18; left -= 16, in += 64, out += 48, next += 64) {
        prefetchRow(next);
        store128(out, _mm_shuffle_epi8(load128(in), pack));
        store128(out + 12, _mm_shuffle_epi8(load128(in + 16), pack));
        store128(out + 24, _mm_shuffle_epi8(load128(in + 32), pack));
        store128(out + 36, _mm_shuffle_epi8(load128(in + 48), pack));
    }
    for (; left >= 6; left -= 4, in += 16, out += 12)
        store128(out, _mm_shuffle_epi8(load128(in), pack));
    for (; left >= 4; left -= 4, in += 16, out += 12)
        storeGroup12(out, _mm_shuffle_epi8(load128(in), pack));
    convertPixels(in, out, left);
}

TARGET_SSSE3 KERNEL_ENTRY void convertFrameSsse3(const uint32_t* source, int width, int height, uint8_t* destination,
                                                 size_t stride)
{
    const __m128i pack = _mm_load_si128(reinterpret_cast<const __m128i*>(kPack.bytes));
    const size_t rowBytes = static_cast<size_t>(width) * 4;
    for (int row = 0; row < height; ++row) {
        uint8_t* out = destination + static_cast<size_t>(row) * stride;
        const uint8_t* in = sourceRow(source, width, height, row);
        zeroPad(out, stride);
        convertRowSsse3(in, out, width, nextSourceRow(in, rowBytes, height - row), pack);
    }
}

// ---- AVX2: eight pixels per 32-byte load. The shuffle packs each lane's
// four pixels into its low 12 bytes and a dword permute joins the lanes,
// so each 32-byte store carries 24 bytes and overlaps the next by 8.

TARGET_AVX2 inline __m256i packEight(const uint8_t* in, __m256i pack, __m256i join)
{
    const __m256i pixels = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
    return _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(pixels, pack), join);
}

TARGET_AVX2 inline void store256(uint8_t* out, __m256i value)
{
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), value);
}

TARGET_AVX2 inline void convertRowAvx2(const uint8_t* in, uint8_t* out, int width, const uint8_t* next, __m256i pack,
                                       __m256i join)
{
    int left = width;
    // A 32-byte store needs 3 * left >= 32 bytes left: left >= 11 for one,
    // left >= 35 for the last of four.
    for (; left >= 35; left -= 32, in += 128, out += 96, next += 128) {
        prefetchRow(next);
        prefetchRow(next + 64);
        store256(out, packEight(in, pack, join));
        store256(out + 24, packEight(in + 32, pack, join));
        store256(out + 48, packEight(in + 64, pack, join));
        store256(out + 72, packEight(in + 96, pack, join));
    }
    for (; left >= 11; left -= 8, in += 32, out += 24)
        store256(out, packEight(in, pack, join));
    if (left >= 8) {
        const __m256i packed = packEight(in, pack, join);
        store128(out, _mm256_castsi256_si128(packed));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 16), _mm256_extracti128_si256(packed, 1));
        left -= 8;
        in += 32;
        out += 24;
    }
    for (; left >= 4; left -= 4, in += 16, out += 12)
        storeGroup12(out, _mm_shuffle_epi8(load128(in), _mm256_castsi256_si128(pack)));
    convertPixels(in, out, left);
}

TARGET_AVX2 KERNEL_ENTRY void convertFrameAvx2(const uint32_t* source, int width, int height, uint8_t* destination,
                                               size_t stride)
{
    const __m256i pack = _mm256_load_si256(reinterpret_cast<const __m256i*>(kPack.bytes));
    const __m256i join = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7);
    const size_t rowBytes = static_cast<size_t>(width) * 4;
    for (int row = 0; row < height; ++row) {
        uint8_t* out = destination + static_cast<size_t>(row) * stride;
        const uint8_t* in = sourceRow(source, width, height, row);
        zeroPad(out, stride);
        convertRowAvx2(in, out, width, nextSourceRow(in, rowBytes, height - row), pack, join);
    }
}

// ---- AVX-512 VBMI: sixty-four pixels (four 64-byte loads) make exactly
// three 64-byte stores, each one two-source byte permute (vpermt2b) of
// two neighbouring loads. Masked loads and stores take the row's last
// pixels, so no store overlaps another or reaches past the row.

// vpermt2b controls: byte j of output block k (k = 0..2) is byte
// (64k + j) % 3 of pixel (64k + j) / 3, counted from the first byte of
// load k; bit 6 picks load k + 1.
struct alignas(64) BlockControls {
    uint8_t bytes[3][64];
};

constexpr BlockControls blockControls()
{
    BlockControls controls {};
    for (int block = 0; block < 3; ++block) {
        for (int j = 0; j < 64; ++j) {
            const int out = 64 * block + j;
            controls.bytes[block][j] = static_cast<uint8_t>(4 * (out / 3) + out % 3 - 64 * block);
        }
    }
    return controls;
}

constexpr BlockControls kBlocks = blockControls();

struct Avx512Controls {
    __m512i block[3];
};

TARGET_AVX512VBMI inline __m512i load512(const uint8_t* in) { return _mm512_loadu_si512(in); }

// The first `count` bits set, for count in 0..64.
inline uint64_t lowBits(int count) { return count >= 64 ? ~uint64_t(0) : (uint64_t(1) << count) - 1; }

// The row's last pixels and its pad. Loads stop at the row's last pixel
// and leave zero lanes behind it, which the permutes turn into the pad's
// zero bytes (a pad is at most 3 bytes).
TARGET_AVX512VBMI inline void convertTailAvx512(const uint8_t* in, uint8_t* out, int left, int pad,
                                                const Avx512Controls& c)
{
    const uint64_t pixels = lowBits(left);
    const int bytes = 3 * left + pad;
    const int blocks = (bytes + 63) / 64;
    __m512i loads[4];
    for (int i = 0; i <= blocks; ++i)
        loads[i] = _mm512_maskz_loadu_epi32(static_cast<__mmask16>(pixels >> (16 * i)), in + 64 * i);
    for (int block = 0; block < blocks; ++block) {
        _mm512_mask_storeu_epi8(out + 64 * block, lowBits(bytes - 64 * block),
                                _mm512_permutex2var_epi8(loads[block], c.block[block], loads[block + 1]));
    }
}

template <bool Prefetch>
TARGET_AVX512VBMI inline void convertRowAvx512(const uint8_t* in, uint8_t* out, int width, int pad,
                                               const uint8_t* next, const Avx512Controls& c)
{
    int left = width;
    for (; left >= 64; left -= 64, in += 256, out += 192, next += 256) {
        if (Prefetch) {
            for (int line = 0; line < 256; line += 64)
                prefetchRow(next + line);
        }
        const __m512i in0 = load512(in);
        const __m512i in1 = load512(in + 64);
        const __m512i in2 = load512(in + 128);
        const __m512i in3 = load512(in + 192);
        _mm512_storeu_si512(out, _mm512_permutex2var_epi8(in0, c.block[0], in1));
        _mm512_storeu_si512(out + 64, _mm512_permutex2var_epi8(in1, c.block[1], in2));
        _mm512_storeu_si512(out + 128, _mm512_permutex2var_epi8(in2, c.block[2], in3));
    }
    if (left > 0 || pad > 0)
        convertTailAvx512(in, out, left, pad, c);
}

TARGET_AVX512VBMI KERNEL_ENTRY void convertFrameAvx512(const uint32_t* source, int width, int height,
                                                       uint8_t* destination, size_t stride)
{
    Avx512Controls controls;
    for (int block = 0; block < 3; ++block)
        controls.block[block] = _mm512_load_si512(kBlocks.bytes[block]);
    const size_t rowBytes = static_cast<size_t>(width) * 4;
    const int pad = static_cast<int>(stride - static_cast<size_t>(width) * 3);
    const bool prefetch = rowBytes * static_cast<size_t>(height) > kPrefetchAbove;
    for (int row = 0; row < height; ++row) {
        uint8_t* out = destination + static_cast<size_t>(row) * stride;
        const uint8_t* in = sourceRow(source, width, height, row);
        const uint8_t* next = nextSourceRow(in, rowBytes, height - row);
        if (prefetch)
            convertRowAvx512<true>(in, out, width, pad, next, controls);
        else
            convertRowAvx512<false>(in, out, width, pad, next, controls);
    }
}

using FrameFunction = void (*)(const uint32_t*, int, int, uint8_t*, size_t);

FrameFunction frameFunction(ConversionKernel kernel)
{
    switch (kernel) {
    case ConversionKernel::Scalar:
        return convertScalar;
    case ConversionKernel::Sse2:
        return convertFrameSse2;
    case ConversionKernel::Ssse3:
        return convertFrameSsse3;
    case ConversionKernel::Avx2:
        return convertFrameAvx2;
    case ConversionKernel::Avx512Vbmi:
        return convertFrameAvx512;
    }
    return convertScalar;
}

// The instructions, and an OS that saves the mask and ZMM registers on a
// context switch (XCR0 bits 1, 2 and 5 to 7).
bool hasAvx512Vbmi()
{
    unsigned eax, ebx, ecx, edx;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx) || !(ecx & bit_OSXSAVE))
        return false;
    if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx))
        return false;
    if (!(ebx & bit_AVX512F) || !(ebx & bit_AVX512BW) || !(ecx & bit_AVX512VBMI))
        return false;
    unsigned low, high;
    __asm__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    const unsigned zmmState = 0xE6;
    return (low & zmmState) == zmmState;
}

bool processorHas(ConversionKernel kernel)
{
    __builtin_cpu_init();
    switch (kernel) {
    case ConversionKernel::Scalar:
        return true;
    case ConversionKernel::Sse2:
        return __builtin_cpu_supports("sse2");
    case ConversionKernel::Ssse3:
        return __builtin_cpu_supports("ssse3");
    case ConversionKernel::Avx2:
        return __builtin_cpu_supports("avx2");
    case ConversionKernel::Avx512Vbmi:
        return hasAvx512Vbmi();
    }
    return false;
}

#else

using FrameFunction = void (*)(const uint32_t*, int, int, uint8_t*, size_t);
FrameFunction frameFunction(ConversionKernel) { return convertScalar; }
bool processorHas(ConversionKernel kernel) { return kernel == ConversionKernel::Scalar; }

#endif

ConversionKernel pickFastest()
{
    for (ConversionKernel kernel :
         {ConversionKernel::Avx512Vbmi, ConversionKernel::Avx2, ConversionKernel::Ssse3, ConversionKernel::Sse2}) {
        if (processorHas(kernel))
            return kernel;
    }
    return ConversionKernel::Scalar;
}

} // namespace

// Chosen once, on first use: the RAW copy asks for it while the module loads.
ConversionKernel fastestConversionKernel()
{
    static const ConversionKernel kernel = pickFastest();
    return kernel;
}

namespace {

const FrameFunction fastestFrame = frameFunction(fastestConversionKernel());

} // namespace

void convertToBottomUp24(const uint32_t* source, int width, int height, uint8_t* destination, size_t stride)
{
    if (width > 0 && height > 0)
        fastestFrame(source, width, height, destination, stride);
}

bool conversionKernelAvailable(ConversionKernel kernel) { return processorHas(kernel); }

const char* conversionKernelName(ConversionKernel kernel)
{
    switch (kernel) {
    case ConversionKernel::Scalar:
        return "scalar";
    case ConversionKernel::Sse2:
        return "sse2";
    case ConversionKernel::Ssse3:
        return "ssse3";
    case ConversionKernel::Avx2:
        return "avx2";
    case ConversionKernel::Avx512Vbmi:
        return "avx512vbmi";
    }
    return "?";
}

void convertToBottomUp24With(ConversionKernel kernel, const uint32_t* source, int width, int height,
                             uint8_t* destination, size_t stride)
{
    if (width > 0 && height > 0)
        frameFunction(kernel)(source, width, height, destination, stride);
}
