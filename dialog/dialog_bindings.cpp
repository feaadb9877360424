#include "dialog/dialog_bindings.h"

#include "dialog/dialog_view.h"
#include "platform/ticket_lock.h"
#include "plugin/avi_output_effect.h"

#include <algorithm>
#include <vector>

namespace {

struct Binding {
    HWND window;
    AviOutputEffect* effect;
};

// Guards the table and every effect's dialogPins. Destroyed with the
// module's statics, when the plug-in is unloaded or the process ends: no
// thread runs this code then, so every unlock() of it has returned.
platform::TicketLock bindingLock;
std::vector<Binding>& bindings()
{
    static std::vector<Binding> table;
    return table;
}

// With bindingLock held.
std::vector<Binding>::iterator bindingOf(HWND window)
{
    return std::find_if(bindings().begin(), bindings().end(),
                        [window](const Binding& binding) { return binding.window == window; });
}

bool pinned(AviOutputEffect* effect)
{
    platform::LockGuard guard(bindingLock);
    return effect->dialogPins > 0;
}

} // namespace

void bindDialog(HWND window, AviOutputEffect* effect)
{
    {
        platform::LockGuard guard(bindingLock);
        auto found = bindingOf(window);
        if (found != bindings().end())
            found->effect = effect;
        else
            bindings().push_back(Binding {window, effect});
    }
    // Under the recording lock, a frame reports either all to the earlier
    // dialog or all to this one. A status post meant for the earlier one
    // may never be taken, and nor may an error box: this one takes it.
    platform::LockGuard guard(effect->recordingLock);
    effect->statusPosted.store(false);
    effect->dialogWindow.store(window);
    if (effect->unshownError)
        PostMessageA(window, kErrorWaitingMessage, 0, 0);
}

void unbindDialog(HWND window)
{
    PinnedEffect served(window);
    {
        platform::LockGuard guard(bindingLock);
        auto found = bindingOf(window);
        if (found != bindings().end())
            bindings().erase(found);
    }
    if (AviOutputEffect* effect = served.get()) {
        platform::LockGuard guard(effect->recordingLock);
        HWND held = window;
        effect->dialogWindow.compare_exchange_strong(held, nullptr);
    }
}

void unbindEffect(AviOutputEffect* effect)
{
    {
        platform::LockGuard guard(bindingLock);
        auto& table = bindings();
        table.erase(std::remove_if(table.begin(), table.end(),
                                   [effect](const Binding& binding) { return binding.effect == effect; }),
                    table.end());
    }
    // Pinned sections are short and run no messages: a keystroke's copy,
    // a Save's file opening at most.
    while (pinned(effect))
        Sleep(1);
}

PinnedEffect::PinnedEffect(HWND window)
    : effect_(nullptr)
{
    platform::LockGuard guard(bindingLock);
    auto found = bindingOf(window);
    if (found == bindings().end())
        return;
    effect_ = found->effect;
    ++effect_->dialogPins;
}

PinnedEffect::~PinnedEffect() { release(); }

// Every section that takes the effect's locks holds its pin until after
// its last unlock() has returned, so an effect whose destructor sees no pin
// may destroy its locks (platform/ticket_lock.h).
void PinnedEffect::release()
{
    if (!effect_)
        return;
    platform::LockGuard guard(bindingLock);
    --effect_->dialogPins;
    effect_ = nullptr;
}
