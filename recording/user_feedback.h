// What a recording shows the user, all in the configuration dialog: the
// Save/STOP button's caption, the status label and error boxes. The frame
// path, the start sequence and the dialog all show it through here.
//
// The frame path never waits for another thread's message loop: to a
// dialog of another thread it posts what happened, and the dialog shows it
// on its own thread.
#pragma once

#include "platform/win32.h"

#include <cstdint>

// The button's captions. Both spellings of save are the plug-in's own: the
// dialog says "Save" after the user's STOP, the frame path "save" after a
// recording that ended by itself (a new frame size, a failed write).
constexpr char kCaptionSave[] = "Save";
constexpr char kCaptionSaveAfterEnd[] = "save";
constexpr char kCaptionStop[] = "STOP";

// The status figures changed; posted once until the dialog takes it.
constexpr UINT kStatusChangedMessage = WM_APP + 1;
// The recording ended by itself: the button says "save" unless a new one runs.
constexpr UINT kRecordingEndedMessage = WM_APP + 2;
// An error waits in the effect for the dialog to take it and show it.
constexpr UINT kErrorWaitingMessage = WM_APP + 3;

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

void setSaveCaption(HWND dialog, const char* caption);
bool saveButtonSaysStop(HWND dialog);
void setStatusText(HWND dialog, const char* text);
// An error box as the plug-in shows every error: caption "error", the
// information icon and an OK button. Owned by `owner` when it is still a
// window, else, so that the user still hears of it, by nobody.
void showError(HWND owner, const char* text);
// A failed write: the system's text for its code, or the code itself where
// the system has no words for it.
void showWriteError(HWND owner, HRESULT code);
// The box for an error the frame path left; nothing for none.
void showUnshownError(HWND owner, const UnshownError& error);
