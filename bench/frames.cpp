#include "bench/frames.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>

#ifdef _WIN32
#include <malloc.h>
#endif

namespace {

constexpr size_t kPage = 4096;

uint8_t* pageAligned(size_t bytes)
{
    const size_t rounded = (bytes + kPage - 1) / kPage * kPage;
#ifdef _WIN32
    return static_cast<uint8_t*>(_aligned_malloc(rounded, kPage));
#else
    return static_cast<uint8_t*>(std::aligned_alloc(kPage, rounded));
#endif
}

} // namespace

const std::vector<FrameSize>& frameSizes()
{
    static const std::vector<FrameSize> sizes = {{320, 240}, {640, 480}, {1280, 720}, {1920, 1080}, {3840, 2160}};
    return sizes;
}

FrameBuffer::FrameBuffer(size_t bytes, uint32_t seed)
    : data_(pageAligned(bytes))
    , size_(bytes)
{
    if (!data_)
        std::abort();
    std::mt19937 random(seed);
    for (size_t i = 0; i < bytes; i += 4) {
        const uint32_t word = random();
        std::memcpy(data_ + i, &word, std::min<size_t>(4, bytes - i));
    }
}

FrameBuffer::~FrameBuffer()
{
#ifdef _WIN32
    _aligned_free(data_);
#else
    std::free(data_);
#endif
}

size_t standardStride(int width) { return (static_cast<size_t>(width) * 3 + 3) & ~size_t(3); }

size_t writtenBytes(const FrameSize& size, bool raw)
{
    return raw ? static_cast<size_t>(size.width) * size.height * 4 : standardStride(size.width) * size.height;
}

int framesPerFile(size_t frameBytes, bool smoke)
{
    if (smoke)
        return 2;
    const size_t budget = size_t(256) << 20;
    return static_cast<int>(std::min<size_t>(1024, std::max<size_t>(8, budget / frameBytes)));
}
