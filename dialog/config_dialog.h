// The configuration dialog: file name, frame rate, RAW, help and Save/STOP.
#pragma once

#include "platform/win32.h"

#include <atomic>

class AviOutputEffect;

// The effect whose createConfigDialog ran last, null once it is deleted.
// Each dialog serves the effect that made it (dialog/dialog_bindings.h).
extern std::atomic<AviOutputEffect*> dialogEffect;

INT_PTR CALLBACK configDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The frame rate box's text as a number: leading white space, a sign, then
// digits up to the first non-digit; 0 without digits.
int parseFrameRate(const char* text);
