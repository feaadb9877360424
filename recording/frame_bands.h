// A written frame made and written a band at a time, where the AVIFile in
// use takes bands: each band is converted (or copied opaque) into the
// start of the conversion buffer, which then stays in the cache, instead
// of the whole frame going to memory and being read back by the write.
#pragma once

#include "platform/win32.h"

#include <cstddef>
#include <cstdint>

// Bytes per band; 0 writes whole frames. Frames no larger than a band are
// written whole.
size_t frameBandBytes();
// For measurements: the band size from now on.
void setFrameBandBytes(size_t bytes);

// The bands of one frame, in file order: 24-bit rows bottom row first, or
// RAW pixels top row first.
struct FrameBandSource {
    const uint32_t* source;
    int width;
    int height;
    size_t stride; // 24-bit output row; 0 for RAW
    uint8_t* band; // at least one band's bytes
    size_t bandBytes;
    size_t done = 0; // output rows (24-bit) or pixels (RAW) made so far
};

// AVIFRAMEBANDPROC over a FrameBandSource: makes its next band.
LONG CALLBACK nextFrameBand(void* context, const void** band);
