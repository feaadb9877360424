#include "recording/frame_conversion.h"

#include <cstring>

void convertToBottomUp24(const uint32_t* source, int width, int height, uint8_t* destination, size_t stride)
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
