// Which effect each open dialog serves: the one whose createConfigDialog
// made it. The dialog's thread works on its effect only while it holds a
// pin on it, in short sections that never run the host's messages; an
// effect's destructor unbinds it and waits for its pins to go, so a host
// may delete an effect on any thread while its dialog is busy.
#pragma once

#include "platform/win32.h"

class AviOutputEffect;

// The window serves the effect from now on, and the effect reports to it,
// starting with an error box the user has not been shown. Takes the
// effect's recording lock, so a frame being written reports all it did to
// the earlier dialog or all to this one.
void bindDialog(HWND window, AviOutputEffect* effect);
// The window serves nothing more; its effect, if still there, stops
// reporting to it. Takes the effect's recording lock, so no frame report
// is posted to the window after this returns.
void unbindDialog(HWND window);
// Every window of the effect serves nothing more; returns once no pin on
// the effect is held. For the effect's destructor.
void unbindEffect(AviOutputEffect* effect);

// The effect a window serves, held so that it cannot be freed meanwhile;
// null when the window serves none (never bound, or its effect is gone).
class PinnedEffect {
public:
    explicit PinnedEffect(HWND window);
    ~PinnedEffect();
    PinnedEffect(const PinnedEffect&) = delete;
    PinnedEffect& operator=(const PinnedEffect&) = delete;

    AviOutputEffect* get() const { return effect_; }
    // Lets the effect go before the end of the scope, e.g. before a box.
    void release();

private:
    AviOutputEffect* effect_;
};
