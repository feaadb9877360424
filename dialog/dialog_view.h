// The dialog's side of what a recording shows: the Save/STOP button's
// captions, the status label, and the messages the frame path posts from
// another thread (recording/recording_view.h).
#pragma once

#include "platform/win32.h"

// Both spellings of save are the plug-in's own: the dialog says "Save"
// after the user's STOP, the frame path "save" after a recording that
// ended by itself (a new frame size, a failed write).
constexpr char kCaptionSave[] = "Save";
constexpr char kCaptionSaveAfterEnd[] = "save";
constexpr char kCaptionStop[] = "STOP";

// The status figures changed; posted once until the dialog takes it.
constexpr UINT kStatusChangedMessage = WM_APP + 1;
// The recording ended by itself: the button says "save" unless a new one runs.
constexpr UINT kRecordingEndedMessage = WM_APP + 2;
// An error waits in the effect for the dialog to take it and show it.
constexpr UINT kErrorWaitingMessage = WM_APP + 3;

void setSaveCaption(HWND dialog, const char* caption);
bool saveButtonSaysStop(HWND dialog);
void setStatusText(HWND dialog, const char* text);
