// timeGetTime: a 32-bit millisecond tick that wraps, real or virtual, and
// the same clock in 64 bits for the AVI writer.
#include "platform/native/native_host.h"
#include "platform/native/timing.h"

#include <atomic>
#include <time.h>

namespace {

std::atomic<bool> useVirtual {false};
std::atomic<uint64_t> virtualMs {0};

uint64_t realMs()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

} // namespace

uint64_t native::milliseconds()
{
    return useVirtual.load(std::memory_order_relaxed) ? virtualMs.load(std::memory_order_relaxed) : realMs();
}

WIN32_NATIVE_API DWORD timeGetTime()
{
    return static_cast<DWORD>(native::milliseconds());
}

WIN32_NATIVE_API void NativeUseVirtualClock(DWORD startTick)
{
    virtualMs.store(startTick, std::memory_order_relaxed);
    useVirtual.store(true, std::memory_order_relaxed);
}

WIN32_NATIVE_API void NativeUseRealClock() { useVirtual.store(false, std::memory_order_relaxed); }

WIN32_NATIVE_API void NativeAdvanceClock(DWORD milliseconds)
{
    virtualMs.fetch_add(milliseconds, std::memory_order_relaxed);
}
