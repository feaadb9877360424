// How long the native layer's delays last: as asked, or, with Windows-like
// timing switched on (NativeUseWindowsTiming), in whole ticks of the
// Windows system clock; and the clock they are measured by.
#pragma once

#include "platform/native/win32_native.h"

#include <chrono>

namespace native {

// The default period of the Windows clock interrupt: 1/64 s.
constexpr std::chrono::nanoseconds kWindowsTick {15625000};

// How long a Sleep, a timed wait or a timer period of `milliseconds` (> 0)
// lasts.
std::chrono::nanoseconds delayOf(DWORD milliseconds);

// The clock behind timeGetTime() in 64 bits, which never wrap: virtual
// while NativeUseVirtualClock is in force.
uint64_t milliseconds();

} // namespace native
