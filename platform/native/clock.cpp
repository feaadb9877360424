// timeGetTime: a 32-bit millisecond tick that wraps, real or virtual.
#include "platform/native/native_host.h"

#include <atomic>
#include <time.h>

namespace {

std::atomic<bool> useVirtual {false};
std::atomic<DWORD> virtualTick {0};

DWORD realTick()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<DWORD>(ms);
}

} // namespace

WIN32_NATIVE_API DWORD timeGetTime()
{
    if (useVirtual.load(std::memory_order_relaxed))
        return virtualTick.load(std::memory_order_relaxed);
    return realTick();
}

WIN32_NATIVE_API void NativeUseVirtualClock(DWORD startTick)
{
    virtualTick.store(startTick, std::memory_order_relaxed);
    useVirtual.store(true, std::memory_order_relaxed);
}

WIN32_NATIVE_API void NativeUseRealClock() { useVirtual.store(false, std::memory_order_relaxed); }

WIN32_NATIVE_API void NativeAdvanceClock(DWORD milliseconds)
{
    virtualTick.fetch_add(milliseconds, std::memory_order_relaxed);
}
