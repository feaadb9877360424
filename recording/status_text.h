// The status label's text: frames written, frames dropped (only when there
// are any) and whole megabytes, on lines ended by a bare line feed.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t kStatusTextCapacity = 80;

// Writes e.g. "250 frames\n3 dropped\n17 MB" and returns its length.
size_t formatStatusText(char (&out)[kStatusTextCapacity], int totalFrames, int64_t expectedFrames, int64_t totalBytes);
