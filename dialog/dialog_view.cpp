#include "dialog/dialog_view.h"

#include "recording/recording_view.h"
#include "resources/resource.h"

#include <cstring>

void setSaveCaption(HWND dialog, const char* caption) { SetWindowTextA(GetDlgItem(dialog, IDC_SAVE), caption); }

bool saveButtonSaysStop(HWND dialog)
{
    char caption[sizeof kCaptionStop + 1] = {};
    GetWindowTextA(GetDlgItem(dialog, IDC_SAVE), caption, sizeof caption);
    return std::strcmp(caption, kCaptionStop) == 0;
}

void setStatusText(HWND dialog, const char* text) { SetDlgItemTextA(dialog, IDC_STATUS, text); }

void showRecordingEnded(HWND dialog) { setSaveCaption(dialog, kCaptionSaveAfterEnd); }

void showStatusText(HWND dialog, const char* text) { setStatusText(dialog, text); }

bool postRecordingEnded(HWND dialog) { return PostMessageA(dialog, kRecordingEndedMessage, 0, 0) != FALSE; }

bool postStatusChanged(HWND dialog) { return PostMessageA(dialog, kStatusChangedMessage, 0, 0) != FALSE; }

bool postErrorWaiting(HWND dialog) { return PostMessageA(dialog, kErrorWaitingMessage, 0, 0) != FALSE; }
