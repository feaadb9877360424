#include "host/windows/message_boxes.h"

#include <string.h>

#define MAX_BOXES 16
/* The id of a message box's text, on Windows and in Wine. */
#define MESSAGE_TEXT_ID 0xFFFF

static CapturedBox boxes[MAX_BOXES];
static HWND answered[MAX_BOXES];
static int boxCount;
static UINT_PTR timer;

static void append(char* to, size_t capacity, const char* text)
{
    size_t used = strlen(to);
    size_t length = strlen(text);
    if (used + length + 1 > capacity)
        length = capacity - used - 1;
    memcpy(to + used, text, length);
    to[used + length] = '\0';
}

static BOOL CALLBACK readControl(HWND control, LPARAM context)
{
    CapturedBox* box = (CapturedBox*)context;
    char className[32] = "";
    char text[64] = "";
    if (!IsWindowVisible(control))
        return TRUE;
    GetClassNameA(control, className, sizeof className);
    if (lstrcmpiA(className, "Static") == 0 && (GetWindowLongA(control, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
        SendMessageA(control, STM_GETICON, 0, 0))
        box->hasIcon = 1;
    if (lstrcmpiA(className, "Button") == 0) {
        GetWindowTextA(control, text, sizeof text);
        if (box->buttons[0])
            append(box->buttons, sizeof box->buttons, "|");
        append(box->buttons, sizeof box->buttons, text);
    }
    return TRUE;
}

static int alreadyAnswered(HWND window)
{
    int i;
    for (i = 0; i < boxCount; ++i) {
        if (answered[i] == window)
            return 1;
    }
    return 0;
}

static BOOL CALLBACK answerBox(HWND window, LPARAM unused)
{
    char className[16] = "";
    CapturedBox* box;
    (void)unused;
    GetClassNameA(window, className, sizeof className);
    if (strcmp(className, "#32770") != 0 || !IsWindowVisible(window) || alreadyAnswered(window) ||
        boxCount == MAX_BOXES)
        return TRUE;
    box = &boxes[boxCount];
    memset(box, 0, sizeof *box);
    box->owner = GetWindow(window, GW_OWNER);
    GetWindowTextA(window, box->caption, sizeof box->caption);
    GetDlgItemTextA(window, MESSAGE_TEXT_ID, box->text, sizeof box->text);
    EnumChildWindows(window, readControl, (LPARAM)box);
    answered[boxCount++] = window;
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    return TRUE;
}

static void CALLBACK lookForBoxes(HWND window, UINT message, UINT_PTR id, DWORD time)
{
    (void)window;
    (void)message;
    (void)id;
    (void)time;
    EnumThreadWindows(GetCurrentThreadId(), answerBox, 0);
}

void startAnsweringBoxes(void)
{
    if (!timer)
        timer = SetTimer(NULL, 0, 20, lookForBoxes);
}

void stopAnsweringBoxes(void)
{
    if (timer)
        KillTimer(NULL, timer);
    timer = 0;
}

int capturedBoxCount(void) { return boxCount; }

const CapturedBox* capturedBoxAt(int index) { return index >= 0 && index < boxCount ? &boxes[index] : NULL; }
