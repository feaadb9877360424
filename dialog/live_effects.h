// Every effect that has shown a dialog, so that a destroyed dialog's handle
// can be dropped by whichever effect still holds it.
#pragma once

#include "platform/win32.h"

class AviOutputEffect;

// Adds the effect unless it is listed already.
void addLiveEffect(AviOutputEffect* effect);
void removeLiveEffect(AviOutputEffect* effect);
// Clears dialogWindow in every effect that holds `window`.
void forgetDialogWindow(HWND window);
