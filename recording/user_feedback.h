// What a recording shows the user, all in the configuration dialog: the
// Save/STOP button's caption, the status label and error boxes. The frame
// path, the start sequence and the dialog all show it through here.
#pragma once

#include "platform/win32.h"

// The button's captions. Both spellings of save are the plug-in's own: the
// dialog says "Save" after the user's STOP, the frame path "save" after a
// recording that ended by itself (a new frame size, a failed write).
constexpr char kCaptionSave[] = "Save";
constexpr char kCaptionSaveAfterEnd[] = "save";
constexpr char kCaptionStop[] = "STOP";

void setSaveCaption(HWND dialog, const char* caption);
bool saveButtonSaysStop(HWND dialog);
void setStatusText(HWND dialog, const char* text);
// An error box as the plug-in shows every error: caption "error", the
// information icon and an OK button.
void showError(HWND owner, const char* text);
// A failed write: the system's text for its code, or the code itself where
// the system has no words for it.
void showWriteError(HWND owner, HRESULT code);
