// The error boxes a recording shows the user, and the error that waits
// with the effect until one thread shows it. The frame path, the start
// sequence and the dialog all show them through here.
#pragma once

#include "platform/win32.h"

#include <cstdint>

// An error box the user has not been shown yet. It stays with the effect
// until one thread takes it, and that thread shows it once its file is
// finished: a message may be lost with its window or its thread, an
// error may not.
struct UnshownError {
    enum class Kind : uint8_t { None, WriteFailed, LargestFileReached };
    Kind kind = Kind::None;
    HRESULT code = 0; // the failed write's

    explicit operator bool() const { return kind != Kind::None; }
};

// An error box as the plug-in shows every error: caption "error", the
// information icon and an OK button. Owned by `owner` when it is still a
// window, else, so that the user still hears of it, by nobody.
void showError(HWND owner, const char* text);
// A failed write: the system's text for its code, or the code itself where
// the system has no words for it.
void showWriteError(HWND owner, HRESULT code);
// The box for an error the frame path left; nothing for none.
void showUnshownError(HWND owner, const UnshownError& error);
