#include "platform/win32.h"

namespace platform {

// Spin for a few rounds, then give the processor away, then sleep.
void yieldThread(unsigned attempt)
{
    if (attempt < 64)
        return;
    Sleep(attempt < 256 ? 0 : 1);
}

} // namespace platform
