#include "recording/frame_bands.h"

#include "recording/frame_conversion.h"

#include <algorithm>

namespace {

// Small enough to stay in every core's L2 with the writer's copy of it.
size_t bandBytes = size_t(256) << 10;

} // namespace

size_t frameBandBytes() { return bandBytes; }

void setFrameBandBytes(size_t bytes) { bandBytes = bytes; }

LONG CALLBACK nextFrameBand(void* context, const void** band)
{
    FrameBandSource& frame = *static_cast<FrameBandSource*>(context);
    *band = frame.band;
    if (frame.stride == 0) {
        const size_t pixels = static_cast<size_t>(frame.width) * static_cast<size_t>(frame.height);
        const size_t take = std::min(pixels - frame.done, frame.bandBytes / 4);
        copyOpaque32(frame.source + frame.done, take, reinterpret_cast<uint32_t*>(frame.band));
        frame.done += take;
        return static_cast<LONG>(take * 4);
    }
    // Output rows [done, done + rows) come from source rows counted from the
    // bottom: a band is a frame of `rows` rows starting that far up.
    const size_t height = static_cast<size_t>(frame.height);
    const size_t rows = std::min(height - frame.done, std::max<size_t>(1, frame.bandBytes / frame.stride));
    const uint32_t* bottom = frame.source + (height - frame.done - rows) * static_cast<size_t>(frame.width);
    convertToBottomUp24(bottom, frame.width, static_cast<int>(rows), frame.band, frame.stride);
    frame.done += rows;
    return static_cast<LONG>(rows * frame.stride);
}
