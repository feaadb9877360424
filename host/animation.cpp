#include "host/animation.h"

namespace {

constexpr int kCounterBits = 32;

// Cells of the counter: one row of 32 squares at the top left.
int cellSize(int width, int height)
{
    const int byWidth = width / (kCounterBits + 2);
    const int size = byWidth < height / 4 ? byWidth : height / 4;
    return size >= 2 ? size : 0;
}

uint32_t pixel(uint8_t blue, uint8_t green, uint8_t red, uint8_t spare)
{
    return blue | (uint32_t(green) << 8) | (uint32_t(red) << 16) | (uint32_t(spare) << 24);
}

} // namespace

void renderAnimationFrame(uint32_t* pixels, int width, int height, uint32_t number)
{
    if (!pixels || width <= 0 || height <= 0)
        return;
    const int bar = static_cast<int>((number * 3u) % static_cast<uint32_t>(width));
    for (int y = 0; y < height; ++y) {
        uint32_t* row = pixels + static_cast<size_t>(y) * width;
        for (int x = 0; x < width; ++x) {
            const auto blue = static_cast<uint8_t>(x * 255 / (width > 1 ? width - 1 : 1));
            const auto green = static_cast<uint8_t>(y * 255 / (height > 1 ? height - 1 : 1));
            const auto red = static_cast<uint8_t>(number * 5u + static_cast<uint32_t>(x ^ y));
            const auto spare = static_cast<uint8_t>(number + static_cast<uint32_t>(x + y));
            row[x] = pixel(blue, green, red, spare);
            if (x >= bar && x < bar + 2)
                row[x] = pixel(255, 255, 255, spare);
        }
    }
    const int cell = cellSize(width, height);
    if (cell == 0)
        return;
    for (int bit = 0; bit < kCounterBits; ++bit) {
        const bool set = (number >> (kCounterBits - 1 - bit)) & 1u;
        const uint32_t colour = set ? pixel(255, 255, 255, 0) : pixel(0, 0, 0, 0);
        for (int y = 0; y < cell; ++y) {
            for (int x = 0; x < cell; ++x)
                pixels[static_cast<size_t>(cell / 2 + y) * width + cell * (bit + 1) + x] = colour;
        }
    }
}

bool readFrameNumber(const uint8_t* pixels, int width, int height, size_t stride, int bytesPerPixel,
                     uint32_t& number)
{
    const int cell = cellSize(width, height);
    if (!pixels || cell == 0)
        return false;
    number = 0;
    for (int bit = 0; bit < kCounterBits; ++bit) {
        const int x = cell * (bit + 1) + cell / 2;
        const int y = cell / 2 + cell / 2;
        const uint8_t* at = pixels + static_cast<size_t>(y) * stride + static_cast<size_t>(x) * bytesPerPixel;
        number = (number << 1) | (at[1] > 127 ? 1u : 0u);
    }
    return true;
}
