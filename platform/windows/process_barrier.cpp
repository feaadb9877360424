// FlushProcessWriteBuffers came with Vista; the plug-in also runs on XP,
// so it is looked up at run time.
#include "platform/win32.h"

namespace platform {

bool flushProcessWriteBuffers()
{
    using Flush = void(WINAPI*)();
    static const auto flush = reinterpret_cast<Flush>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "FlushProcessWriteBuffers")));
    if (!flush)
        return false;
    flush();
    return true;
}

} // namespace platform
