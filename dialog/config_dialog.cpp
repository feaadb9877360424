#include "dialog/config_dialog.h"

#include "dialog/dialog_bindings.h"
#include "dialog/dialog_view.h"
#include "plugin/avi_output_effect.h"
#include "recording/status_text.h"
#include "recording/user_feedback.h"
#include "resources/help_text.h"
#include "resources/resource.h"

#include <cstdint>
#include <cstdio>

namespace {

void initDialog(AviOutputEffect& effect, HWND window)
{
    CheckDlgButton(window, IDC_RAWMODE, effect.rawMode ? BST_CHECKED : BST_UNCHECKED);
    bindDialog(window, &effect);
    SetDlgItemTextA(window, IDC_FILENAME, effect.fileName);
    char rate[16];
    std::snprintf(rate, sizeof rate, "%d", effect.frameRate.load(std::memory_order_relaxed));
    SetDlgItemTextA(window, IDC_FRAMERATE, rate);
    setSaveCaption(window, effect.recording.load() ? kCaptionStop : kCaptionSave);
}

// Every notification of a control copies its value into the effect, so
// the fields follow the boxes keystroke by keystroke.
void readControl(AviOutputEffect& effect, HWND window, int id)
{
    switch (id) {
    case IDC_RAWMODE:
        effect.rawMode = IsDlgButtonChecked(window, IDC_RAWMODE) ? 1 : 0;
        break;
    case IDC_FILENAME:
        GetDlgItemTextA(window, IDC_FILENAME, effect.fileName, sizeof effect.fileName);
        break;
    case IDC_FRAMERATE: {
        char text[10];
        GetDlgItemTextA(window, IDC_FRAMERATE, text, sizeof text);
        effect.frameRate.store(parseFrameRate(text), std::memory_order_relaxed);
        break;
    }
    default:
        break;
    }
}

// A click on a button that says STOP never starts a recording: when the
// recording has ended by itself just before, the button only says Save again.
// Returns the start's failure, for a box shown once the effect is let go.
const char* pressSave(AviOutputEffect& effect, HWND window)
{
    if (effect.recording.load()) {
        effect.stopRecording();
        setSaveCaption(window, kCaptionSave);
        return nullptr;
    }
    if (saveButtonSaysStop(window)) {
        setSaveCaption(window, kCaptionSave);
        return nullptr;
    }
    const char* failure = effect.runStartSequence();
    if (!failure)
        setSaveCaption(window, kCaptionStop);
    return failure;
}

// The effect is touched only while pinned; a box runs the host's messages,
// which may delete it, so every box comes after the pin is gone.
INT_PTR onCommand(HWND window, int id, int code)
{
    PinnedEffect effect(window);
    if (!effect.get())
        return FALSE;
    readControl(*effect.get(), window, id);
    if (code != BN_CLICKED)
        return TRUE;
    switch (id) {
    case IDC_README:
        effect.release();
        MessageBoxA(window, helpText, helpCaption, MB_OK);
        return TRUE;
    case IDC_SAVE:
        if (const char* failure = pressSave(*effect.get(), window)) {
            effect.release();
            showError(window, failure);
        }
        return TRUE;
    default:
        return TRUE;
    }
}

// The status figures as the recording has them now: a short read under
// the recording lock, which no file operation holds.
void showStatus(AviOutputEffect& effect, HWND window)
{
    effect.statusPosted.store(false);
    int frames;
    int64_t expected;
    int64_t bytes;
    {
        platform::LockGuard guard(effect.recordingLock);
        frames = effect.totalFrames;
        expected = effect.expectedFrames;
        bytes = effect.totalBytes;
    }
    char text[kStatusTextCapacity];
    formatStatusText(text, frames, expected, bytes);
    setStatusText(window, text);
}

// An error the frame path left once its file was finished: taken under
// the lock, so that it is shown once whoever else looks for it. An effect
// already gone has shown its error in its destructor.
void showWaitingError(HWND window)
{
    UnshownError error;
    {
        PinnedEffect effect(window);
        if (!effect.get())
            return;
        error = effect.get()->takeUnshownError();
    }
    showUnshownError(window, error);
}

// What the frame path posted from another thread. A recording that ended
// says "save" unless the user has started the next one meanwhile.
INT_PTR onFrameReport(HWND window, UINT message)
{
    if (message == kErrorWaitingMessage) {
        showWaitingError(window);
        return TRUE;
    }
    PinnedEffect effect(window);
    if (message == kStatusChangedMessage && effect.get())
        showStatus(*effect.get(), window);
    if (message == kRecordingEndedMessage && effect.get() && !effect.get()->recording.load())
        setSaveCaption(window, kCaptionSaveAfterEnd);
    return TRUE;
}

} // namespace

INT_PTR CALLBACK configDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        if (!lParam)
            return FALSE;
        initDialog(*reinterpret_cast<AviOutputEffect*>(lParam), window);
        return TRUE;
    case WM_DESTROY:
        // An error still waiting for this dialog stays with the effect, for
        // its next dialog or the render thread.
        unbindDialog(window);
        return TRUE;
    case WM_COMMAND:
        return onCommand(window, LOWORD(wParam), HIWORD(wParam));
    case kStatusChangedMessage:
    case kRecordingEndedMessage:
    case kErrorWaitingMessage:
        return onFrameReport(window, message);
    default:
        return FALSE;
    }
}

HWND AviOutputEffect::createConfigDialog(HINSTANCE instance, HWND parent)
{
    return CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_CONFIG), parent, configDialogProc,
                              reinterpret_cast<LPARAM>(this));
}

void AviOutputEffect::leaveDialog()
{
    unbindEffect(this);
}

int parseFrameRate(const char* text)
{
    while (*text == ' ' || (*text >= '\t' && *text <= '\r'))
        ++text;
    bool negative = false;
    if (*text == '+' || *text == '-')
        negative = *text++ == '-';
    int64_t value = 0;
    while (*text >= '0' && *text <= '9' && value <= INT32_MAX)
        value = value * 10 + (*text++ - '0');
    if (value > INT32_MAX)
        value = negative ? int64_t(INT32_MAX) + 1 : INT32_MAX;
    return static_cast<int>(negative ? -value : value);
}
