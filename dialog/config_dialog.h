// The configuration dialog: file name, frame rate, RAW, help and Save/STOP.
#pragma once

#include "platform/win32.h"

// Each dialog serves the effect whose createConfigDialog made it
// (dialog/dialog_bindings.h).
INT_PTR CALLBACK configDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The frame rate box's text as a number: leading white space, a sign, then
// digits up to the first non-digit; 0 without digits.
int parseFrameRate(const char* text);
