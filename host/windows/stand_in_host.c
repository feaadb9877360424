/* The parts every winhost command is made of (stand_in_host.h). */
#include "host/windows/stand_in_host.h"

#include "host/windows/animation_bridge.h"
#include "host/windows/message_boxes.h"

#include <mmsystem.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

void fail(const char* what)
{
    printf("error: %s\n", what);
    fflush(stdout);
    exit(1);
}

void printQuoted(const char* key, const char* text)
{
    const unsigned char* at;
    printf("%s: \"", key);
    for (at = (const unsigned char*)text; *at; ++at) {
        if (*at == '\n')
            fputs("\\n", stdout);
        else if (*at == '\r')
            fputs("\\r", stdout);
        else if (*at == '"' || *at == '\\')
            printf("\\%c", *at);
        else if (*at < 0x20 || *at >= 0x7F)
            printf("\\x%02X", *at);
        else
            putchar(*at);
    }
    fputs("\"\n", stdout);
}

void loadPlugin(const char* path, Plugin* plugin)
{
    memset(plugin, 0, sizeof *plugin);
    plugin->module = LoadLibraryA(path);
    if (!plugin->module)
        fail("LoadLibrary refused the plug-in");
    plugin->retr = (RetrFunction)(void*)GetProcAddress(plugin->module, "_AVS_APE_RetrFunc");
    if (!plugin->retr)
        fail("no _AVS_APE_RetrFunc export");
    plugin->registered = plugin->retr((HINSTANCE)plugin->module, &plugin->identifier, &plugin->factory);
    if (!plugin->factory || !plugin->identifier)
        fail("registration handed back nothing");
}

Effect* newEffect(const Plugin* plugin)
{
    Effect* effect = plugin->factory(NULL);
    if (!effect)
        fail("the factory made no effect");
    return effect;
}

void deleteEffect(Effect* effect) { effect->table->deletingDestructor(effect, 1); }

/* ---- the host's window and message loop ---- */

static LRESULT CALLBACK hostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND createHostWindow(void)
{
    WNDCLASSA windowClass;
    HWND window;
    memset(&windowClass, 0, sizeof windowClass);
    windowClass.lpfnWndProc = hostWindowProc;
    windowClass.hInstance = GetModuleHandleA(NULL);
    windowClass.hCursor = LoadCursorA(NULL, (LPCSTR)IDC_ARROW);
    windowClass.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = "WinHostWindow";
    RegisterClassA(&windowClass);
    window = CreateWindowExA(0, "WinHostWindow", "AVS", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_VISIBLE, 0, 0,
                             420, 420, NULL, NULL, GetModuleHandleA(NULL), NULL);
    if (!window)
        fail("cannot create the host window");
    return window;
}

static HWND currentDialog;

void pumpMessages(void)
{
    MSG message;
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
        if (currentDialog && IsDialogMessageA(currentDialog, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

void idle(DWORD ms)
{
    DWORD start = timeGetTime();
    do {
        pumpMessages();
        Sleep(1);
    } while (timeGetTime() - start < ms);
}

/* The host shows the child dialog in its own window. */
HWND openDialog(const Plugin* plugin, Effect* effect, HWND host)
{
    HWND dialog = effect->table->createConfigDialog(effect, (HINSTANCE)plugin->module, host);
    if (!dialog)
        fail("the effect gave no dialog");
    SetWindowPos(dialog, NULL, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    ShowWindow(dialog, SW_SHOW);
    currentDialog = dialog;
    pumpMessages();
    return dialog;
}

void closeDialog(HWND dialog)
{
    DestroyWindow(dialog);
    if (currentDialog == dialog)
        currentDialog = NULL;
    pumpMessages();
}

void printControlText(const char* key, HWND dialog, int id)
{
    char text[512] = "";
    GetDlgItemTextA(dialog, id, text, sizeof text);
    printQuoted(key, text);
}

void clickButton(HWND dialog, int id) { SendDlgItemMessageA(dialog, id, BM_CLICK, 0, 0); }

void commandButton(HWND dialog, int id)
{
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(dialog, id));
}

void printBoxes(int from)
{
    int i;
    for (i = from; i < capturedBoxCount(); ++i) {
        const CapturedBox* box = capturedBoxAt(i);
        char key[32];
        sprintf(key, "box %d caption", i);
        printQuoted(key, box->caption);
        sprintf(key, "box %d text", i);
        printQuoted(key, box->text);
        printf("box %d icon: %d\n", i, box->hasIcon);
        sprintf(key, "box %d buttons", i);
        printQuoted(key, box->buttons);
        printf("box %d owner: %s\n", i, box->owner ? "host window" : "none");
    }
}

void makeRenderer(Renderer* renderer, int width, int height)
{
    size_t bytes = (size_t)width * (size_t)height * 4;
    memset(renderer, 0, sizeof *renderer);
    renderer->width = width;
    renderer->height = height;
    renderer->framebuffer = malloc(bytes);
    renderer->rendered = malloc(bytes);
    renderer->output = malloc(bytes);
    if (!renderer->framebuffer || !renderer->rendered || !renderer->output)
        fail("out of memory");
}

void freeRenderer(Renderer* renderer)
{
    free(renderer->framebuffer);
    free(renderer->rendered);
    free(renderer->output);
}

void renderNext(Renderer* renderer, Effect* effect, int log)
{
    size_t bytes = (size_t)renderer->width * (size_t)renderer->height * 4;
    DWORD before, after;
    ++renderer->number;
    renderAnimation(renderer->framebuffer, renderer->width, renderer->height, renderer->number);
    memcpy(renderer->rendered, renderer->framebuffer, bytes);
    before = timeGetTime();
    effect->table->renderFrame(effect, renderer->visdata, renderer->number % 8 == 0, renderer->framebuffer,
                               renderer->output, renderer->width, renderer->height);
    after = timeGetTime();
    if (memcmp(renderer->rendered, renderer->framebuffer, bytes) != 0)
        ++renderer->altered;
    if (log)
        printf("frame: %u %lu %lu\n", renderer->number, (unsigned long)before, (unsigned long)after);
}
