#include "recording/frame_conversion.h"

#include <algorithm>
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

// A 32-bit Windows caller only keeps the stack 4-byte aligned, and spilled
// vectors need 16 or 32; each kernel realigns it on entry.
#if defined(__i386__)
#define KERNEL_ENTRY __attribute__((force_align_arg_pointer))
#else
#define KERNEL_ENTRY
#endif

// Pixels to skip with cached stores until `out` sits on an `alignment`
// boundary (16 or 32). Each pixel moves `out` by 3, and 11 * 3 is 1 modulo both.
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

// Source rows run bottom-up through memory while the output runs top-down,
// so each row starts a new stream the hardware prefetcher must discover.
// Fetching the next source row while converting this one hides that.
inline const uint8_t* nextSourceRow(const uint8_t* row, size_t rowBytes, int rowsLeft)
{
    return rowsLeft > 1 ? row - rowBytes : row;
}

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

TARGET_SSE2 inline __m128i load128(const uint8_t* in) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(in)); }

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

TARGET_SSE2 inline void prefetchRow(const uint8_t* row) { _mm_prefetch(reinterpret_cast<const char*>(row), _MM_HINT_T0); }

// The pixels before `out` reaches a 16-byte boundary, then 16 at a time
// into three aligned stores, then the rest.
template <bool Streaming>
TARGET_SSE2 void convertRowSse2(const uint8_t* in, uint8_t* out, int width, const uint8_t* next)
{
    int left = width;
    int head = Streaming ? std::min(pixelsUntilAligned(out, 16), left) : 0;
    for (; head >= 4; head -= 4, left -= 4, in += 16, out += 12)
        storeGroup12(out, packGroupSse2(load128(in)));
    convertPixels(in, out, head);
    in += 4 * head;
    out += 3 * head;
    left -= head;
    next += 4 * (width - left);
    for (; left >= 16; left -= 16, in += 64, out += 48, next += 64) {
        prefetchRow(next);
        const __m128i c0 = packGroupSse2(load128(in));
        const __m128i c1 = packGroupSse2(load128(in + 16));
        const __m128i c2 = packGroupSse2(load128(in + 32));
        const __m128i c3 = packGroupSse2(load128(in + 48));
        store16<Streaming>(out, _mm_or_si128(c0, _mm_slli_si128(c1, 12)));
        store16<Streaming>(out + 16, _mm_or_si128(_mm_srli_si128(c1, 4), _mm_slli_si128(c2, 8)));
        store16<Streaming>(out + 32, _mm_or_si128(_mm_srli_si128(c2, 8), _mm_slli_si128(c3, 4)));
    }
    for (; left >= 4; left -= 4, in += 16, out += 12)
        storeGroup12(out, packGroupSse2(load128(in)));
    convertPixels(in, out, left);
}

template <bool Streaming>
TARGET_SSE2 KERNEL_ENTRY void convertFrameSse2(const uint32_t* source, int width, int height, uint8_t* destination, size_t stride)
{
    const size_t rowBytes = static_cast<size_t>(width) * 4;
    for (int row = 0; row < height; ++row) {
        uint8_t* out = destination + static_cast<size_t>(row) * stride;
        const uint8_t* in = sourceRow(source, width, height, row);
        zeroPad(out, stride);
        convertRowSse2<Streaming>(in, out, width, nextSourceRow(in, rowBytes, height - row));
    }
    if (Streaming)
        _mm_sfence();
}

// ---- SSSE3. Cached: one shuffle per four pixels, each 16-byte store
// overlapping the next by 4 (never past the row's last pixel byte).
// Streaming: sixteen pixels, six shuffles, three aligned stores.

TARGET_SSSE3 inline __m128i control128(const ShuffleControl& control)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(control.bytes));
}

template <bool Streaming>
TARGET_SSSE3 inline __attribute__((always_inline)) void convertRowSsse3(const uint8_t* in, uint8_t* out, int width, const uint8_t* next,
                                  const __m128i (&pack)[6])
{
    int left = width;
    if (!Streaming) {
        // A 16-byte store at group g needs 3 * left >= 16 bytes left: left >= 6.
        for (; left >= 18; left -= 16, in += 64, out += 48, next += 64) {
            prefetchRow(next);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(load128(in), pack[0]));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 12), _mm_shuffle_epi8(load128(in + 16), pack[0]));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 24), _mm_shuffle_epi8(load128(in + 32), pack[0]));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 36), _mm_shuffle_epi8(load128(in + 48), pack[0]));
        }
        for (; left >= 6; left -= 4, in += 16, out += 12)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(load128(in), pack[0]));
    } else {
        int head = std::min(pixelsUntilAligned(out, 16), left);
        for (; head >= 4; head -= 4, left -= 4, in += 16, out += 12)
            storeGroup12(out, _mm_shuffle_epi8(load128(in), pack[0]));
        convertPixels(in, out, head);
        in += 4 * head;
        out += 3 * head;
        left -= head;
        next += 4 * (width - left);
        for (; left >= 16; left -= 16, in += 64, out += 48, next += 64) {
            prefetchRow(next);
            const __m128i p0 = load128(in), p1 = load128(in + 16), p2 = load128(in + 32), p3 = load128(in + 48);
            store16<true>(out, _mm_or_si128(_mm_shuffle_epi8(p0, pack[0]), _mm_shuffle_epi8(p1, pack[1])));
            store16<true>(out + 16, _mm_or_si128(_mm_shuffle_epi8(p1, pack[2]), _mm_shuffle_epi8(p2, pack[3])));
            store16<true>(out + 32, _mm_or_si128(_mm_shuffle_epi8(p2, pack[4]), _mm_shuffle_epi8(p3, pack[5])));
        }
    }
    for (; left >= 4; left -= 4, in += 16, out += 12)
        storeGroup12(out, _mm_shuffle_epi8(load128(in), pack[0]));
    convertPixels(in, out, left);
}

template <bool Streaming>
TARGET_SSSE3 KERNEL_ENTRY void convertFrameSsse3(const uint32_t* source, int width, int height, uint8_t* destination,
                                    size_t stride)
{
    const __m128i pack[6] = {control128(kPack0),  control128(kPack1a), control128(kPack1b),
                             control128(kPack2a), control128(kPack2b), control128(kPack3)};
    const size_t rowBytes = static_cast<size_t>(width) * 4;
    for (int row = 0; row < height; ++row) {
        uint8_t* out = destination + static_cast<size_t>(row) * stride;
        const uint8_t* in = sourceRow(source, width, height, row);
        zeroPad(out, stride);
        convertRowSsse3<Streaming>(in, out, width, nextSourceRow(in, rowBytes, height - row), pack);
    }
    if (Streaming)
        _mm_sfence();
}

// ---- AVX2: eight pixels per 32-byte load; a shuffle packs each lane's
// four pixels into its low 12 bytes and a dword permute joins the lanes,
// so each 32-byte store carries 24 bytes and overlaps the next. Streaming
// stores must be whole and aligned, so they use the SSSE3 row, which
// compiles to VEX code here.

constexpr LaneControls kLanesPacked {kPack0, kPack0};

TARGET_AVX2 inline __m256i control256(const LaneControls& controls)
{
    return _mm256_load_si256(reinterpret_cast<const __m256i*>(&controls));
}

TARGET_AVX2 inline __m256i load256(const uint8_t* in)
{
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
}

TARGET_AVX2 inline __m256i packEight(const uint8_t* in, __m256i pack, __m256i join)
{
    return _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(load256(in), pack), join);
}

TARGET_AVX2 inline void store256(uint8_t* out, __m256i value)
{
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), value);
}

TARGET_AVX2 inline void convertRowAvx2(const uint8_t* in, uint8_t* out, int width, const uint8_t* next, __m256i pack,
                                      __m256i join, __m128i pack4)
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
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(packed));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 16), _mm256_extracti128_si256(packed, 1));
        left -= 8;
        in += 32;
        out += 24;
    }
    for (; left >= 4; left -= 4, in += 16, out += 12)
        storeGroup12(out, _mm_shuffle_epi8(load128(in), pack4));
    convertPixels(in, out, left);
}

template <bool Streaming>
TARGET_AVX2 KERNEL_ENTRY void convertFrameAvx2(const uint32_t* source, int width, int height, uint8_t* destination, size_t stride)
{
    const __m256i pack = control256(kLanesPacked);
    const __m256i join = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7);
    const __m128i pack4 = _mm256_castsi256_si128(pack);
    const __m128i packs[6] = {control128(kPack0),  control128(kPack1a), control128(kPack1b),
                              control128(kPack2a), control128(kPack2b), control128(kPack3)};
    const size_t rowBytes = static_cast<size_t>(width) * 4;
    for (int row = 0; row < height; ++row) {
        uint8_t* out = destination + static_cast<size_t>(row) * stride;
        const uint8_t* in = sourceRow(source, width, height, row);
        const uint8_t* next = nextSourceRow(in, rowBytes, height - row);
        zeroPad(out, stride);
        if (Streaming)
            convertRowSsse3<true>(in, out, width, next, packs);
        else
            convertRowAvx2(in, out, width, next, pack, join, pack4);
    }
    if (Streaming)
        _mm_sfence();
}

using FrameFunction = void (*)(const uint32_t*, int, int, uint8_t*, size_t);

FrameFunction frameFunction(ConversionKernel kernel, ConversionStores stores)
{
    const bool streaming = stores == ConversionStores::Streaming;
    switch (kernel) {
    case ConversionKernel::Scalar:
        return convertScalar;
    case ConversionKernel::Sse2:
        return streaming ? convertFrameSse2<true> : convertFrameSse2<false>;
    case ConversionKernel::Ssse3:
        return streaming ? convertFrameSsse3<true> : convertFrameSsse3<false>;
    case ConversionKernel::Avx2:
        return streaming ? convertFrameAvx2<true> : convertFrameAvx2<false>;
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
