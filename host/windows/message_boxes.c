#include "host/windows/message_boxes.h"

#include <string.h>

/* Past this many, boxes are answered at first sight and not kept. */
#define MAX_BOXES 64
/* The id of a message box's text, on Windows and in Wine. */
#define MESSAGE_TEXT_ID 0xFFFF

typedef struct SeenBox {
    HWND window;
    DWORD seenAt;
    int answered;
} SeenBox;

static CapturedBox boxes[MAX_BOXES];
static SeenBox seen[MAX_BOXES];
static int boxCount;
static int mostOpen;
static DWORD answerDelay;
static BoxSeenHook seenHook;
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

static int isOpenBox(HWND window)
{
    char className[16] = "";
    GetClassNameA(window, className, sizeof className);
    return strcmp(className, "#32770") == 0 && IsWindowVisible(window);
}

static int seenIndex(HWND window)
{
    int i;
    for (i = 0; i < boxCount; ++i) {
        if (seen[i].window == window)
            return i;
    }
    return -1;
}

static void capture(HWND window, CapturedBox* box)
{
    memset(box, 0, sizeof *box);
    box->owner = GetWindow(window, GW_OWNER);
    GetWindowTextA(window, box->caption, sizeof box->caption);
    GetDlgItemTextA(window, MESSAGE_TEXT_ID, box->text, sizeof box->text);
    EnumChildWindows(window, readControl, (LPARAM)box);
}

static void pressOk(HWND window) { PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0); }

/* Keeps a new box and runs the hook; -1 when there is no room left. */
static int firstSight(HWND window)
{
    int index = boxCount;
    if (index == MAX_BOXES)
        return -1;
    capture(window, &boxes[index]);
    seen[index].window = window;
    seen[index].seenAt = GetTickCount();
    seen[index].answered = 0;
    ++boxCount;
    if (seenHook)
        seenHook(window);
    return index;
}

static BOOL CALLBACK visitWindow(HWND window, LPARAM openBoxes)
{
    int index;
    if (!isOpenBox(window))
        return TRUE;
    ++*(int*)openBoxes;
    index = seenIndex(window);
    if (index < 0)
        index = firstSight(window);
    if (index < 0) {
        pressOk(window);
    } else if (!seen[index].answered && GetTickCount() - seen[index].seenAt >= answerDelay) {
        seen[index].answered = 1;
        pressOk(window);
    }
    return TRUE;
}

static void CALLBACK lookForBoxes(HWND window, UINT message, UINT_PTR id, DWORD time)
{
    int open = 0;
    (void)window;
    (void)message;
    (void)id;
    (void)time;
    EnumThreadWindows(GetCurrentThreadId(), visitWindow, (LPARAM)&open);
    if (open > mostOpen)
        mostOpen = open;
}

void startAnsweringBoxes(void) { startAnsweringBoxesAfter(0, NULL); }

void startAnsweringBoxesAfter(DWORD delay, BoxSeenHook hook)
{
    answerDelay = delay;
    seenHook = hook;
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

int mostBoxesOpenAtOnce(void) { return mostOpen; }
