// Byte counts of the two frame forms, computed where they cannot overflow.
#pragma once

#include <cstddef>
#include <cstdint>

// The largest frame, in host bytes (width x height x 4), that a recording takes.
constexpr int64_t kLargestRecordableFrame = int64_t(512) << 20;

struct FrameGeometry {
    int64_t standardStride = 0; // width x 3, rounded up to a multiple of 4
    int64_t standardBytes = 0;  // stride x height
    int64_t rawBytes = 0;       // width x height x 4, also the conversion buffer's size

    // A positive size whose frames fit in memory and in an AVI chunk.
    bool recordable = false;
};

inline FrameGeometry frameGeometry(int width, int height)
{
    FrameGeometry geometry;
    if (width <= 0 || height <= 0)
        return geometry;
    // Both sides are below 2^31, so their product fits; the byte counts
    // are only formed once the size is known to be small enough.
    const int64_t w = width;
    const int64_t h = height;
    if (w * h > kLargestRecordableFrame / 4)
        return geometry;
    geometry.standardStride = (w * 3 + 3) & ~int64_t(3);
    geometry.standardBytes = geometry.standardStride * h;
    geometry.rawBytes = w * h * 4;
    geometry.recordable = true;
    return geometry;
}
