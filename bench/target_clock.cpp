#include "bench/target_clock.h"

#ifdef _WIN32
#include <windows.h>

#include <atomic>

namespace {

using TickFunction = DWORD(WINAPI*)();

TickFunction systemTick()
{
    static const auto function = reinterpret_cast<TickFunction>(
        reinterpret_cast<void*>(GetProcAddress(LoadLibraryA("winmm.dll"), "timeGetTime")));
    return function;
}

std::atomic<bool> virtualTick {false};
std::atomic<DWORD> virtualNow {0};
// Looked up before main, so the frame path's reads take no lock for it.
const TickFunction theSystemTick = systemTick();

DWORD WINAPI benchTick()
{
    return virtualTick.load(std::memory_order_relaxed) ? virtualNow.load(std::memory_order_relaxed) : theSystemTick();
}

} // namespace

// The plug-in's code reads timeGetTime through its import slot. This
// program, which does not link WINMM, fills that slot itself; the
// plug-in's objects stay the ones the DLL is linked from.
extern "C" {
extern TickFunction benchTickImport __asm__("__imp__timeGetTime@0");
TickFunction benchTickImport = benchTick;
}

namespace target_clock {

uint64_t nanoseconds()
{
    static const uint64_t frequency = [] {
        LARGE_INTEGER value {};
        QueryPerformanceFrequency(&value);
        return static_cast<uint64_t>(value.QuadPart);
    }();
    LARGE_INTEGER now {};
    QueryPerformanceCounter(&now);
    const auto ticks = static_cast<uint64_t>(now.QuadPart);
    return ticks / frequency * 1000000000u + ticks % frequency * 1000000000u / frequency;
}

uint32_t tick() { return timeGetTime(); }

void useVirtualTick(uint32_t start)
{
    virtualNow = start;
    virtualTick = true;
}

void advance(uint32_t milliseconds) { virtualNow.fetch_add(milliseconds, std::memory_order_relaxed); }

void useSystemTick() { virtualTick = false; }

} // namespace target_clock

#else
#include "platform/native/native_host.h"

#include <time.h>

namespace target_clock {

uint64_t nanoseconds()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
}

uint32_t tick() { return timeGetTime(); }
void useVirtualTick(uint32_t start) { NativeUseVirtualClock(start); }
void advance(uint32_t milliseconds) { NativeAdvanceClock(milliseconds); }
void useSystemTick() { NativeUseRealClock(); }

} // namespace target_clock

#endif
