#include "recording/frame_conversion.h"

#include <cstring>
#include <initializer_list>

#if defined(__i386__) || defined(__x86_64__)
#define FRAME_CONVERSION_X86 1
#include <immintrin.h>
#endif

namespace {

const uint8_t* sourceRow(const uint32_t* source, int width, int height, int row)
{
    return reinterpret_cast<const uint8_t*>(source + static_cast<size_t>(height - 1 - row) * static_cast<size_t>(width));
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

// Pixels to skip with cached stores until `out` sits on an `alignment`
// boundary (16 or 32). Each pixel moves `out` by 3, and 11 × 3 is 1 modulo both.
int pixelsUntilAligned(const uint8_t* out, uintptr_t alignment)
{
    const uintptr_t missing = (alignment - (reinterpret_cast<uintptr_t>(out) & (alignment - 1))) & (alignment - 1);
    return static_cast<int>((missing * 11) & (alignment - 1));
}

// pshufb controls. A group of 4 pixels (16 bytes) packs to 12 bytes c[0..11],
// c[k] being byte k % 3 of pixel k / 3. Sixteen pixels give three 16-byte
// stores: c0 + c1[0..3], c1[4..11] + c2[0..7], c2[8..11] + c3. Each
// control puts `length` packed bytes from c[from] at byte `at` and zeroes
// the rest, so two shuffles combine with an OR.
struct ShuffleControl {
    int8_t bytes[16];
};

constexpr ShuffleControl shuffleControl(int at, int from, int length)
{
    ShuffleControl control {};
    for (int j = 0; j < 16; ++j) {
        const int k = from + j - at;
        control.bytes[j] = j >= at && j < at + length ? static_cast<int8_t>(4 * (k / 3) + k % 3) : int8_t(-128);
    }
    return control;
}

struct alignas(32) LaneControls {
    ShuffleControl low;
    ShuffleControl high;
};

constexpr ShuffleControl kPack0 = shuffleControl(0, 0, 12);   // c0 to bytes 0..11
constexpr ShuffleControl kPack1a = shuffleControl(12, 0, 4);  // c1[0..3] to 12..15
constexpr ShuffleControl kPack1b = shuffleControl(0, 4, 8);   // c1[4..11] to 0..7
constexpr ShuffleControl kPack2a = shuffleControl(8, 0, 8);   // c2[0..7] to 8..15
constexpr ShuffleControl kPack2b = shuffleControl(0, 8, 4);   // c2[8..11] to 0..3
constexpr ShuffleControl kPack3 = shuffleControl(4, 0, 12);   // c3 to 4..15

// ---- SSE2: no byte shuffle, so masks and shifts pack each group.

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

TARGET_SSE2 inline void storeGroup12(uint8_t* out, __m128i packed)
{
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), packed);
    const int last = _mm_cvtsi128_si32(_mm_srli_si128(packed, 8));
    std::memcpy(out + 8, &last, 4);
}

template <bool Streaming>
TARGET_SSE2 inline void store16(uint8_t* out, __m128i value)
{
    if (Streaming)
        _mm_stream_si128(reinterpret_cast<__m128i*>(out), value);
    else
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), value);
}

TARGET_SSE2 void convertGroupsSse2(const uint8_t*& in, uint8_t*& out, int& left, int groups)
{
    for (; groups > 0; --groups, left -= 4, in += 16, out += 12)
        storeGroup12(out, packGroupSse2(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in))));
}

template <bool Streaming>
TARGET_SSE2 void convertRowSse2(const uint8_t* in, uint8_t* out, int width)
{
    int left = width;
    if (Streaming && left >= 16) {
        const int head = pixelsUntilAligned(out, 16);
        convertGroupsSse2(in, out, left, head / 4);
        convertPixels(in, out, head % 4);
        in += 4 * (head % 4);
        out += 3 * (head % 4);
        left -= head % 4;
    }
    for (; left >= 16; left -= 16, in += 64, out += 48) {
        const __m128i c0 = packGroupSse2(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in)));
        const __m128i c1 = packGroupSse2(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 16)));
        const __m128i c2 = packGroupSse2(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 32)));
        const __m128i c3 = packGroupSse2(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 48)));
        store16<Streaming>(out, _mm_or_si128(c0, _mm_slli_si128(c1, 12)));
        store16<Streaming>(out + 16, _mm_or_si128(_mm_srli_si128(c1, 4), _mm_slli_si128(c2, 8)));
        store16<Streaming>(out + 32, _mm_or_si128(_mm_srli_si128(c2, 8), _mm_slli_si128(c3, 4)));
    }
    convertGroupsSse2(in, out, left, left / 4);
    convertPixels(in, out, left);
}

// ---- SSSE3: sixteen pixels, six shuffles, three stores.

TARGET_SSSE3 inline __m128i control128(const ShuffleControl& control)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(control.bytes));
}

TARGET_SSSE3 inline __m128i load128(const uint8_t* in) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(in)); }

TARGET_SSSE3 void convertGroupsSsse3(const uint8_t*& in, uint8_t*& out, int& left, int groups)
{
    const __m128i pack0 = control128(kPack0);
    for (; groups > 0; --groups, left -= 4, in += 16, out += 12)
        storeGroup12(out, _mm_shuffle_epi8(load128(in), pack0));
}

template <bool Streaming>
TARGET_SSSE3 void convertRowSsse3(const uint8_t* in, uint8_t* out, int width)
{
    int left = width;
    if (Streaming && left >= 16) {
        const int head = pixelsUntilAligned(out, 16);
        convertGroupsSsse3(in, out, left, head / 4);
        convertPixels(in, out, head % 4);
        in += 4 * (head % 4);
        out += 3 * (head % 4);
        left -= head % 4;
    }
    const __m128i pack0 = control128(kPack0), pack1a = control128(kPack1a), pack1b = control128(kPack1b);
    const __m128i pack2a = control128(kPack2a), pack2b = control128(kPack2b), pack3 = control128(kPack3);
    for (; left >= 16; left -= 16, in += 64, out += 48) {
        const __m128i p0 = load128(in), p1 = load128(in + 16), p2 = load128(in + 32), p3 = load128(in + 48);
        store16<Streaming>(out, _mm_or_si128(_mm_shuffle_epi8(p0, pack0), _mm_shuffle_epi8(p1, pack1a)));
        store16<Streaming>(out + 16, _mm_or_si128(_mm_shuffle_epi8(p1, pack1b), _mm_shuffle_epi8(p2, pack2a)));
        store16<Streaming>(out + 32, _mm_or_si128(_mm_shuffle_epi8(p2, pack2b), _mm_shuffle_epi8(p3, pack3)));
    }
    convertGroupsSsse3(in, out, left, left / 4);
    convertPixels(in, out, left);
}

// ---- AVX2: thirty-two pixels (input blocks P0..P7 of four) per round.
// pshufb works within 128-bit lanes, so each 32-byte store is built from
// loads whose lanes already hold the blocks that lane needs:
//   store 0: lanes (P0 + P1, P1 + P2) from loads at P0 and P1;
//   store 1: lanes (P2 + P3, P4 + P5) from a load at P3 and P2 | P5;
//   store 2: lanes (P5 + P6, P6 + P7) from loads at P5 and P6.

constexpr LaneControls kLanesAt0 {kPack0, kPack1b};  // (P0, P1)
constexpr LaneControls kLanesAt1 {kPack1a, kPack2a}; // (P1, P2)
constexpr LaneControls kLanesAt3 {kPack3, kPack0};   // (P3, P4)
constexpr LaneControls kLanes2And5 {kPack2b, kPack1a};
constexpr LaneControls kLanesAt5 {kPack1b, kPack2b}; // (P5, P6)
constexpr LaneControls kLanesAt6 {kPack2a, kPack3};  // (P6, P7)

TARGET_AVX2 inline __m256i control256(const LaneControls& controls)
{
    return _mm256_load_si256(reinterpret_cast<const __m256i*>(&controls));
}

TARGET_AVX2 inline __m256i load256(const uint8_t* in)
{
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
}

template <bool Streaming>
TARGET_AVX2 inline void store32(uint8_t* out, __m256i value)
{
    if (Streaming)
        _mm256_stream_si256(reinterpret_cast<__m256i*>(out), value);
    else
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), value);
}

template <bool Streaming>
TARGET_AVX2 void convertRowAvx2(const uint8_t* in, uint8_t* out, int width)
{
    int left = width;
    if (Streaming && left >= 32) {
        const int head = pixelsUntilAligned(out, 32);
        convertGroupsSsse3(in, out, left, head / 4);
        convertPixels(in, out, head % 4);
        in += 4 * (head % 4);
        out += 3 * (head % 4);
        left -= head % 4;
    }
    const __m256i at0 = control256(kLanesAt0), at1 = control256(kLanesAt1), at3 = control256(kLanesAt3);
    const __m256i twoAndFive = control256(kLanes2And5), at5 = control256(kLanesAt5), at6 = control256(kLanesAt6);
    for (; left >= 32; left -= 32, in += 128, out += 96) {
        const __m256i blocks2And5 = _mm256_inserti128_si256(_mm256_castsi128_si256(load128(in + 32)), load128(in + 80), 1);
        store32<Streaming>(out, _mm256_or_si256(_mm256_shuffle_epi8(load256(in), at0),
                                                _mm256_shuffle_epi8(load256(in + 16), at1)));
        store32<Streaming>(out + 32, _mm256_or_si256(_mm256_shuffle_epi8(blocks2And5, twoAndFive),
                                                     _mm256_shuffle_epi8(load256(in + 48), at3)));
        store32<Streaming>(out + 64, _mm256_or_si256(_mm256_shuffle_epi8(load256(in + 80), at5),
                                                     _mm256_shuffle_epi8(load256(in + 96), at6)));
    }
    convertRowSsse3<false>(in, out, left);
}

TARGET_SSE2 void fenceStreamingStores() { _mm_sfence(); }

template <void (*Row)(const uint8_t*, uint8_t*, int), bool Streaming>
void convertFrame(const uint32_t* source, int width, int height, uint8_t* destination, size_t stride)
{
    for (int row = 0; row < height; ++row) {
        uint8_t* out = destination + static_cast<size_t>(row) * stride;
        zeroPad(out, stride);
        Row(sourceRow(source, width, height, row), out, width);
    }
    if (Streaming)
        fenceStreamingStores();
}

using FrameFunction = void (*)(const uint32_t*, int, int, uint8_t*, size_t);

FrameFunction frameFunction(ConversionKernel kernel, ConversionStores stores)
{
    const bool streaming = stores == ConversionStores::Streaming;
    switch (kernel) {
    case ConversionKernel::Scalar:
        return convertScalar;
    case ConversionKernel::Sse2:
        return streaming ? convertFrame<convertRowSse2<true>, true> : convertFrame<convertRowSse2<false>, false>;
    case ConversionKernel::Ssse3:
        return streaming ? convertFrame<convertRowSsse3<true>, true> : convertFrame<convertRowSsse3<false>, false>;
    case ConversionKernel::Avx2:
        return streaming ? convertFrame<convertRowAvx2<true>, true> : convertFrame<convertRowAvx2<false>, false>;
    }
    return convertScalar;
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
    }
    return false;
}

#else

FrameFunction frameFunction(ConversionKernel, ConversionStores) { return convertScalar; }
bool processorHas(ConversionKernel kernel) { return kernel == ConversionKernel::Scalar; }

#endif

ConversionKernel pickFastest()
{
    for (ConversionKernel kernel : {ConversionKernel::Avx2, ConversionKernel::Ssse3, ConversionKernel::Sse2}) {
        if (processorHas(kernel))
            return kernel;
    }
    return ConversionKernel::Scalar;
}

// Chosen once, when the module loads.
const ConversionKernel fastestKernel = pickFastest();
const FrameFunction cachedFrame = frameFunction(fastestKernel, ConversionStores::Cached);
const FrameFunction streamingFrame = frameFunction(fastestKernel, ConversionStores::Streaming);

constexpr size_t kStreamingThreshold = size_t(16) << 20;

} // namespace

void convertToBottomUp24(const uint32_t* source, int width, int height, uint8_t* destination, size_t stride)
{
    if (width <= 0 || height <= 0)
        return;
    const size_t bytes = stride * static_cast<size_t>(height);
    (bytes >= kStreamingThreshold ? streamingFrame : cachedFrame)(source, width, height, destination, stride);
}

bool conversionKernelAvailable(ConversionKernel kernel) { return processorHas(kernel); }

ConversionKernel fastestConversionKernel() { return fastestKernel; }

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
    }
    return "?";
}

size_t conversionStreamingThreshold() { return kStreamingThreshold; }

void convertToBottomUp24With(ConversionKernel kernel, ConversionStores stores, const uint32_t* source, int width,
                             int height, uint8_t* destination, size_t stride)
{
    if (width <= 0 || height <= 0)
        return;
    frameFunction(kernel, stores)(source, width, height, destination, stride);
}
