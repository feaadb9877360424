// What the frame path shows of a recording in the dialog that views it:
// the end of a recording and the status text. The dialog's code defines
// these (dialog/dialog_view.cpp), so the frame path names none of the
// dialog's controls, captions or messages.
//
// The frame path never waits for another thread's message loop: to a
// dialog of another thread it posts what happened, and the dialog shows it
// on its own thread.
#pragma once

#include "platform/win32.h"

// On the dialog's own thread: the recording ended by itself (a new frame
// size, a failed write), and the status figures as text.
void showRecordingEnded(HWND dialog);
void showStatusText(HWND dialog, const char* text);

// To a dialog of another thread; false when the post fails. The dialog
// then shows the end, reads the status figures, or takes the error box the
// effect holds for it.
bool postRecordingEnded(HWND dialog);
bool postStatusChanged(HWND dialog);
bool postErrorWaiting(HWND dialog);
