/* Answers the message boxes that appear on this thread, as a user would
   press OK, and keeps what each one showed. A thread timer does the
   work, so it runs inside the boxes' own modal loops. */
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

void startAnsweringBoxes(void);
void stopAnsweringBoxes(void);
int capturedBoxCount(void);
const CapturedBox* capturedBoxAt(int index);

#endif
