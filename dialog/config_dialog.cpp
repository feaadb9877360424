#include "dialog/config_dialog.h"

#include "dialog/live_effects.h"
#include "plugin/avi_output_effect.h"
#include "recording/user_feedback.h"
#include "resources/help_text.h"
#include "resources/resource.h"

#include <cstdint>
#include <cstdio>

std::atomic<AviOutputEffect*> dialogEffect {nullptr};

namespace {

void initDialog(AviOutputEffect& effect, HWND window)
{
    CheckDlgButton(window, IDC_RAWMODE, effect.rawMode ? BST_CHECKED : BST_UNCHECKED);
    addLiveEffect(&effect);
    effect.dialogWindow.store(window);
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
void pressSave(AviOutputEffect& effect, HWND window)
{
    if (effect.recording.load()) {
        effect.stopRecording();
        setSaveCaption(window, kCaptionSave);
        return;
    }
    if (saveButtonSaysStop(window)) {
        setSaveCaption(window, kCaptionSave);
        return;
    }
    if (const char* failure = effect.runStartSequence()) {
        showError(window, failure);
        return;
    }
    setSaveCaption(window, kCaptionStop);
}

INT_PTR onCommand(AviOutputEffect& effect, HWND window, int id, int code)
{
    readControl(effect, window, id);
    if (code != BN_CLICKED)
        return TRUE;
    switch (id) {
    case IDC_README:
        MessageBoxA(window, helpText, helpCaption, MB_OK);
        return TRUE;
    case IDC_SAVE:
        pressSave(effect, window);
        return TRUE;
    default:
        return TRUE;
    }
}

} // namespace

INT_PTR CALLBACK configDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM)
{
    // No effect may keep a destroyed dialog's handle, whether or not one is served.
    if (message == WM_DESTROY)
        forgetDialogWindow(window);
    AviOutputEffect* effect = dialogEffect.load();
    if (!effect)
        return FALSE;
    switch (message) {
    case WM_INITDIALOG:
        initDialog(*effect, window);
        return TRUE;
    case WM_DESTROY:
        return TRUE;
    case WM_COMMAND:
        return onCommand(*effect, window, LOWORD(wParam), HIWORD(wParam));
    default:
        return FALSE;
    }
}

HWND AviOutputEffect::createConfigDialog(HINSTANCE instance, HWND parent)
{
    dialogEffect.store(this);
    return CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_CONFIG), parent, configDialogProc, 0);
}

void AviOutputEffect::leaveDialog()
{
    removeLiveEffect(this);
    AviOutputEffect* expected = this;
    dialogEffect.compare_exchange_strong(expected, nullptr);
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
