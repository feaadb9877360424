// What a recording shows the user, all in the configuration dialog: the
// Save/STOP button's caption, the status label and error boxes. The frame
// path, the start sequence and the dialog all show it through here.
//
// The frame path never waits for another thread's message loop: to a
// dialog of another thread it posts what happened, and the dialog shows it
// on its own thread.
#pragma once

#include "platform/win32.h"

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
// A write failed with the HRESULT in wParam: the dialog shows the box.
constexpr UINT kWriteFailedMessage = WM_APP + 3;
// The file reached the largest size the format allows: the dialog shows the box.
constexpr UINT kLargestFileReachedMessage = WM_APP + 4;

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
// The box a frame-path post asks for; nothing for a message that is none.
void showPostedError(HWND owner, UINT message, WPARAM wParam);
