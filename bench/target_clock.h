// The clocks of the program built for both targets: a steady clock to
// time with, and the tick the frame path paces by (timeGetTime), either
// the system's or one the program moves, so that every call writes a
// frame, as the native benchmarks' virtual clock does.
#pragma once

#include <cstdint>

namespace target_clock {

uint64_t nanoseconds();

// The tick the frame path reads.
uint32_t tick();
// From now on the tick stands at `start` and moves only with advance().
void useVirtualTick(uint32_t start);
void advance(uint32_t milliseconds);
// From now on the tick is the system's.
void useSystemTick();

} // namespace target_clock
