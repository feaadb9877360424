/* What every winhost command is made of: the plug-in loaded through its
   one export, the host's window and its message loop, the effect's dialog,
   the built-in animation handed to the effect frame by frame, and the
   "key: value" lines the tests read. */
#ifndef WINHOST_STAND_IN_HOST_H
#define WINHOST_STAND_IN_HOST_H

#include "host/windows/effect_abi.h"

#include <windows.h>

typedef struct Plugin {
    HMODULE module;
    RetrFunction retr;
    CreateEffectFunction factory;
    char* identifier;
    int registered;
} Plugin;

/* Prints "error: what" and ends the program. */
void fail(const char* what);
/* Prints "key: "text"" with C escapes, so that line feeds and trailing blanks survive. */
void printQuoted(const char* key, const char* text);

void loadPlugin(const char* path, Plugin* plugin);
Effect* newEffect(const Plugin* plugin);
void deleteEffect(Effect* effect);

/* A visible top-level window, as the host's main window. */
HWND createHostWindow(void);
/* Dispatches what is queued, the dialog's keys through IsDialogMessage. */
void pumpMessages(void);
/* Pumps messages for `ms` milliseconds. */
void idle(DWORD ms);
/* The effect's dialog, shown in the host's window. */
HWND openDialog(const Plugin* plugin, Effect* effect, HWND host);
void closeDialog(HWND dialog);

void printControlText(const char* key, HWND dialog, int id);
/* A click as the user makes it: the button sends its own notification. */
void clickButton(HWND dialog, int id);
/* The notification alone, as if the button had been clicked. */
void commandButton(HWND dialog, int id);
/* Every box captured from `from` on, as "box N caption|text|icon|buttons|owner". */
void printBoxes(int from);

typedef struct Renderer {
    int width, height;
    unsigned* framebuffer;
    unsigned* rendered;
    unsigned* output;
    unsigned char visdata[2 * 2 * 576];
    unsigned number;
    int altered;
} Renderer;

void makeRenderer(Renderer* renderer, int width, int height);
void freeRenderer(Renderer* renderer);
/* Renders the next frame and hands it to the effect; `log` prints when the
   call began and ended on the multimedia clock the effect reads too. */
void renderNext(Renderer* renderer, Effect* effect, int log);

#endif
