// The configuration dialog: file name, frame rate, RAW, help and Save/STOP.
#pragma once

#include "platform/win32.h"

#include <atomic>

class AviOutputEffect;

// The effect whose createConfigDialog ran last. The dialog procedure
// reaches its effect only through it.
extern std::atomic<AviOutputEffect*> dialogEffect;

INT_PTR CALLBACK configDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The frame rate box's text as a number: leading white space, a sign, then
// digits up to the first non-digit; 0 without digits.
int parseFrameRate(const char* text);
