// Every effect that exists, so that a destroyed dialog's handle can be
// dropped by whichever effect still holds it.
#pragma once

#include "platform/win32.h"

class AviOutputEffect;

void addLiveEffect(AviOutputEffect* effect);
void removeLiveEffect(AviOutputEffect* effect);
// Clears dialogWindow in every effect that holds `window`.
void forgetDialogWindow(HWND window);
