// The largest file the platform's AVIFile can write. A recording ends, its
// file closed, before a frame would take the file past it: past that size
// the system's library keeps writing but loses the frames it reports.
#pragma once

#include "platform/win32.h"

#include <cstdint>

// Whether `frameBytes` written at `position` keep the file within
// `largest` bytes. Counted as an AVI 1.0 writer lays the file out: the
// header, then for every position up to this one, skipped ones too (they
// get empty chunks), a chunk header and the index entry written at close,
// and the frames, each padded to an even length.
bool frameFitsInFile(int64_t largest, int position, int64_t frameBytes, int64_t bytesWritten,
                     int64_t framesWritten);

// What the error box says when a recording ends there.
extern const char kLargestFileReachedText[];
