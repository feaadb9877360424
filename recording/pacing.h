// The pacing clock's arithmetic: whole frame periods of 1000 / frameRate
// milliseconds in the time recorded so far.
#pragma once

#include <cstdint>

// Frame periods in elapsedMs; 0 for a rate of zero or below. Computed in 64
// bits and saturated, so it stays right however long a recording runs.
inline int64_t framePeriods(int64_t elapsedMs, int frameRate)
{
    if (frameRate <= 0 || elapsedMs <= 0)
        return 0;
    int64_t product = 0;
    if (__builtin_mul_overflow(elapsedMs, static_cast<int64_t>(frameRate), &product))
        return INT64_MAX / 1000;
    return product / 1000;
}

// The stream position for the writer, which takes an int.
inline int framePosition(int64_t elapsedMs, int frameRate)
{
    const int64_t periods = framePeriods(elapsedMs, frameRate);
    return periods > INT32_MAX ? INT32_MAX : static_cast<int>(periods);
}
