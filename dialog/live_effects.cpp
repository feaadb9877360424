#include "dialog/live_effects.h"

#include "platform/ticket_lock.h"
#include "plugin/avi_output_effect.h"

namespace {

platform::TicketLock liveLock;
AviOutputEffect* firstLive = nullptr;

} // namespace

void addLiveEffect(AviOutputEffect* effect)
{
    platform::LockGuard guard(liveLock);
    if (effect->previousLive || firstLive == effect)
        return;
    effect->previousLive = nullptr;
    effect->nextLive = firstLive;
    if (firstLive)
        firstLive->previousLive = effect;
    firstLive = effect;
}

void removeLiveEffect(AviOutputEffect* effect)
{
    platform::LockGuard guard(liveLock);
    if (effect->previousLive)
        effect->previousLive->nextLive = effect->nextLive;
    else if (firstLive == effect)
        firstLive = effect->nextLive;
    if (effect->nextLive)
        effect->nextLive->previousLive = effect->previousLive;
    effect->previousLive = effect->nextLive = nullptr;
}

void forgetDialogWindow(HWND window)
{
    if (!window)
        return;
    platform::LockGuard guard(liveLock);
    for (AviOutputEffect* effect = firstLive; effect; effect = effect->nextLive) {
        HWND held = window;
        effect->dialogWindow.compare_exchange_strong(held, nullptr);
    }
}
