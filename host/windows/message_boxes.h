/* Answers the message boxes that appear on this thread, as a user would
   press OK, and keeps what each one showed. A thread timer does the
   work, so it runs inside the boxes' own modal loops, as the host's own
   timers and messages do. */
#ifndef WINHOST_MESSAGE_BOXES_H
#define WINHOST_MESSAGE_BOXES_H

#include <windows.h>

typedef struct CapturedBox {
    HWND owner;
    char caption[128];
    char text[4096];
    int hasIcon;
    char buttons[64]; /* the visible buttons' texts, separated by '|' */
} CapturedBox;

/* Runs once for each box, when it is first seen, before it is answered. */
typedef void (*BoxSeenHook)(HWND box);

/* Answers each box as soon as it is seen. */
void startAnsweringBoxes(void);
/* Answers each box once it has been open for `delay` ms, and runs `seen`
   (when not NULL) at its first sight. */
void startAnsweringBoxesAfter(DWORD delay, BoxSeenHook seen);
void stopAnsweringBoxes(void);
int capturedBoxCount(void);
const CapturedBox* capturedBoxAt(int index);
/* The most boxes found open at one time. */
int mostBoxesOpenAtOnce(void);

#endif
