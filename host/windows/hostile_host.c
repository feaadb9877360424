#include "host/windows/hostile_host.h"

#include "host/windows/heap_blocks.h"
#include "host/windows/message_boxes.h"
#include "host/windows/stand_in_host.h"
#include "resources/resource.h"

#include <stdio.h>
#include <string.h>

#define FRAME_PERIOD_MS 40
/* A plug-in that hangs in a case would hold the test until ctest gives up. */
#define RUN_LIMIT_MS 60000
/* A user who reads the box before pressing OK, while the host's timer goes on. */
#define LATE_ANSWER_MS 300
/* How long the host's timer goes on rendering once writes fail. */
#define RENDER_AFTER_FAILURE_MS 1000
#define MAX_EFFECT_BLOCKS 16

/* What one case works with. */
typedef struct Session {
    Plugin plugin;
    HWND host;
    Effect* effect;
    HWND dialog;
    Renderer renderer;
} Session;

/* The box hook and the timer have no context of their own. */
static Session* session;

static DWORD WINAPI endRunThatHangs(LPVOID unused)
{
    (void)unused;
    Sleep(RUN_LIMIT_MS);
    printf("error: still running after %d ms\n", RUN_LIMIT_MS);
    fflush(stdout);
    ExitProcess(3);
    return 0;
}

static void makeEffect(void* context)
{
    Session* made = (Session*)context;
    made->effect = newEffect(&made->plugin);
}

static void openSession(Session* opened, const char* path)
{
    memset(opened, 0, sizeof *opened);
    session = opened;
    loadPlugin(path, &opened->plugin);
    opened->host = createHostWindow();
    makeRenderer(&opened->renderer, 160, 120);
}

static void openEffectDialog(Session* opened)
{
    if (!opened->effect)
        makeEffect(opened);
    opened->dialog = openDialog(&opened->plugin, opened->effect, opened->host);
}

static void closeSession(Session* closing)
{
    closeDialog(closing->dialog);
    if (closing->effect)
        deleteEffect(closing->effect);
    stopAnsweringBoxes();
    freeRenderer(&closing->renderer);
    DestroyWindow(closing->host);
    FreeLibrary(closing->plugin.module);
}

/* Types the file name and rate and clicks Save, as a user would. */
static void startRecording(Session* recording, const char* out)
{
    char caption[32] = "";
    SetDlgItemTextA(recording->dialog, IDC_FILENAME, out);
    SetDlgItemTextA(recording->dialog, IDC_FRAMERATE, "25");
    clickButton(recording->dialog, IDC_SAVE);
    idle(20);
    GetDlgItemTextA(recording->dialog, IDC_SAVE, caption, sizeof caption);
    printQuoted("caption after save", caption);
    if (strcmp(caption, "STOP") != 0)
        fail("the recording did not start");
}

/* A rate that puts every next frame position further than our writer
   accepts: from the next frame on, every write fails. */
static void makeWritesFail(HWND dialog) { SetDlgItemTextA(dialog, IDC_FRAMERATE, "99999999"); }

/* Renders from the host's own loop for `ms`, or until the effect is gone. */
static void renderFor(Session* rendering, DWORD ms)
{
    DWORD start = GetTickCount();
    while (rendering->effect && GetTickCount() - start < ms) {
        renderNext(&rendering->renderer, rendering->effect, 0);
        pumpMessages();
        Sleep(FRAME_PERIOD_MS);
    }
}

static void printOutcome(const Session* ended)
{
    printControlText("status", ended->dialog, IDC_STATUS);
    printControlText("caption at end", ended->dialog, IDC_SAVE);
    printf("frames rendered: %u\n", ended->renderer.number);
    printf("boxes shown: %d\n", capturedBoxCount());
    printf("most boxes open at once: %d\n", mostBoxesOpenAtOnce());
    printBoxes(0);
}

/* ---- delete-in-box ---- */

static HeapBlock effectBlocks[MAX_EFFECT_BLOCKS];
static int effectBlockCount;

/* Freed memory keeps what it held until something else takes it, so a
   plug-in that touched its effect after the box would mostly read the old
   values and get away with it. The host takes the effect's blocks back at
   once and fills them: such a use then finds a lock that looks held and
   handles and pointers that lead nowhere, and hangs or crashes. */
#define FREED_MEMORY_PATTERN 0xA5

static void deleteEffectFromTheBox(HWND box)
{
    int i, takenBack = 0;
    (void)box;
    if (!session->effect)
        return;
    deleteEffect(session->effect);
    session->effect = NULL;
    for (i = 0; i < effectBlockCount && i < MAX_EFFECT_BLOCKS; ++i)
        takenBack += takeBackBlock(&effectBlocks[i], FREED_MEMORY_PATTERN);
    printf("deleted in box\n");
    printf("effect blocks: %d\n", effectBlockCount);
    printf("effect blocks taken back: %d\n", takenBack);
}

static int deleteInBox(Session* hostile, const char* out)
{
    startAnsweringBoxesAfter(0, deleteEffectFromTheBox);
    effectBlockCount = blocksMadeBy(makeEffect, hostile, effectBlocks, MAX_EFFECT_BLOCKS);
    openEffectDialog(hostile);
    renderNext(&hostile->renderer, hostile->effect, 0);
    startRecording(hostile, out);
    renderFor(hostile, 400);
    makeWritesFail(hostile->dialog);
    renderFor(hostile, 2000);
    if (hostile->effect)
        fail("no error box came");
    /* The host goes on with its messages, and whatever the box left behind. */
    idle(500);
    printOutcome(hostile);
    return 0;
}

/* ---- timer-host ---- */

static int timerRenders;
static int writesFail;
static DWORD writesFailSince;
/* A frame that starts while another is still in renderFrame comes from
   the loop of a box that frame raised. */
static int framesUnderway;
static int framesFromInsideABox;

/* The host's window gets WM_TIMER from whichever loop runs on its thread:
   the host's own, or an error box's. */
static void CALLBACK renderOnTimer(HWND window, UINT message, UINT_PTR id, DWORD time)
{
    (void)message;
    (void)time;
    if (writesFail && GetTickCount() - writesFailSince >= RENDER_AFTER_FAILURE_MS) {
        KillTimer(window, id);
        timerRenders = 0;
        return;
    }
    if (framesUnderway > 0)
        ++framesFromInsideABox;
    ++framesUnderway;
    renderNext(&session->renderer, session->effect, 0);
    --framesUnderway;
}

static int timerHost(Session* hostile, const char* out)
{
    startAnsweringBoxesAfter(LATE_ANSWER_MS, NULL);
    openEffectDialog(hostile);
    timerRenders = 1;
    SetTimer(hostile->host, 1, FRAME_PERIOD_MS, renderOnTimer);
    idle(100);
    startRecording(hostile, out);
    idle(400);
    writesFailSince = GetTickCount();
    writesFail = 1;
    makeWritesFail(hostile->dialog);
    while (timerRenders)
        idle(10);
    idle(LATE_ANSWER_MS + 200);
    printf("frames rendered from inside a box: %d\n", framesFromInsideABox);
    printOutcome(hostile);
    return 0;
}

/* ---- stop-after-end ---- */

static HANDLE resizing;
static HANDLE pumpingStopped;
static HANDLE resized;

/* The host's render thread: a few frames, then a smaller frame size, which
   ends the recording. Its caption for the dialog is a message to the
   dialog's thread, which waits there until that thread takes it. */
static DWORD WINAPI renderThenResize(LPVOID unused)
{
    Renderer smaller;
    int i;
    (void)unused;
    for (i = 0; i < 8; ++i) {
        Sleep(FRAME_PERIOD_MS);
        renderNext(&session->renderer, session->effect, 0);
    }
    makeRenderer(&smaller, session->renderer.width / 2, session->renderer.height / 2);
    smaller.number = session->renderer.number;
    SetEvent(resizing);
    /* The caption's post must not reach a loop still pumping. */
    WaitForSingleObject(pumpingStopped, INFINITE);
    for (i = 0; i < 4; ++i) {
        renderNext(&smaller, session->effect, 0);
        if (i == 0)
            SetEvent(resized);
        Sleep(FRAME_PERIOD_MS);
    }
    session->renderer.number = smaller.number;
    freeRenderer(&smaller);
    return 0;
}

static void pumpUntilSignalled(HANDLE object)
{
    while (MsgWaitForMultipleObjects(1, &object, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0)
        pumpMessages();
}

static int stopAfterEnd(Session* hostile, const char* out)
{
    HANDLE renderThread;
    startAnsweringBoxes();
    openEffectDialog(hostile);
    renderNext(&hostile->renderer, hostile->effect, 0);
    startRecording(hostile, out);
    resizing = CreateEventA(NULL, TRUE, FALSE, NULL);
    pumpingStopped = CreateEventA(NULL, TRUE, FALSE, NULL);
    resized = CreateEventA(NULL, TRUE, FALSE, NULL);
    renderThread = CreateThread(NULL, 0, renderThenResize, NULL, 0, NULL);
    if (!resizing || !pumpingStopped || !resized || !renderThread)
        fail("cannot start the render thread");
    pumpUntilSignalled(resizing);
    SetEvent(pumpingStopped);
    /* Without taking messages: the recording has ended, and the button
       still says STOP. */
    WaitForSingleObject(resized, INFINITE);
    printControlText("status before click", hostile->dialog, IDC_STATUS);
    printControlText("caption before click", hostile->dialog, IDC_SAVE);
    clickButton(hostile->dialog, IDC_SAVE);
    printControlText("caption after click", hostile->dialog, IDC_SAVE);
    pumpUntilSignalled(renderThread);
    idle(50);
    CloseHandle(renderThread);
    CloseHandle(resizing);
    CloseHandle(pumpingStopped);
    CloseHandle(resized);
    printOutcome(hostile);
    return 0;
}

/* ---- host-lock ---- */

/* Many hosts hold a lock of their own around their effects' renderFrame
   and take it on their window thread to edit the effect list. Waiting for
   it there without taking messages is what such a host does. */
#define HOST_LOCK_RUN_MS 3000
#define HOST_LOCK_GIVE_UP_MS 2000

static CRITICAL_SECTION hostLock;
static volatile LONG renderingStopped;

static DWORD WINAPI renderUnderHostLock(LPVOID unused)
{
    (void)unused;
    while (!renderingStopped) {
        EnterCriticalSection(&hostLock);
        renderNext(&session->renderer, session->effect, 0);
        LeaveCriticalSection(&hostLock);
        Sleep(FRAME_PERIOD_MS / 4);
    }
    return 0;
}

/* How long the window thread waited for the host's lock; a wait that
   reaches HOST_LOCK_GIVE_UP_MS is a deadlock, given up on so that the
   case still ends. */
static DWORD takeHostLockBriefly(void)
{
    DWORD start = GetTickCount();
    while (!TryEnterCriticalSection(&hostLock)) {
        if (GetTickCount() - start >= HOST_LOCK_GIVE_UP_MS)
            return GetTickCount() - start;
        Sleep(1);
    }
    LeaveCriticalSection(&hostLock);
    return GetTickCount() - start;
}

static int hostLockCase(Session* hostile, const char* out)
{
    HANDLE renderThread;
    DWORD start, longestWait = 0, framesBefore;
    startAnsweringBoxes();
    openEffectDialog(hostile);
    renderNext(&hostile->renderer, hostile->effect, 0);
    startRecording(hostile, out);
    InitializeCriticalSection(&hostLock);
    framesBefore = hostile->renderer.number;
    renderThread = CreateThread(NULL, 0, renderUnderHostLock, NULL, 0, NULL);
    if (!renderThread)
        fail("cannot start the render thread");
    start = GetTickCount();
    while (GetTickCount() - start < HOST_LOCK_RUN_MS) {
        DWORD waited = takeHostLockBriefly();
        if (waited > longestWait)
            longestWait = waited;
        idle(15);
    }
    renderingStopped = 1;
    pumpUntilSignalled(renderThread);
    CloseHandle(renderThread);
    DeleteCriticalSection(&hostLock);
    idle(50);
    clickButton(hostile->dialog, IDC_SAVE);
    idle(50);
    printf("longest wait for the host lock: %lu\n", (unsigned long)longestWait);
    printf("frames rendered under the host lock: %lu\n", (unsigned long)(hostile->renderer.number - framesBefore));
    printOutcome(hostile);
    return 0;
}

typedef int (*HostileCase)(Session* hostile, const char* out);

static HostileCase caseNamed(const char* name)
{
    if (strcmp(name, "delete-in-box") == 0)
        return deleteInBox;
    if (strcmp(name, "timer-host") == 0)
        return timerHost;
    if (strcmp(name, "stop-after-end") == 0)
        return stopAfterEnd;
    if (strcmp(name, "host-lock") == 0)
        return hostLockCase;
    return NULL;
}

int hostile(const char* path, int argc, char** argv)
{
    const char* out = NULL;
    HostileCase run = NULL;
    Session hostileSession;
    int result, i;
    for (i = 0; i + 1 < argc; i += 2) {
        if (strcmp(argv[i], "--out") == 0)
            out = argv[i + 1];
        else if (strcmp(argv[i], "--case") == 0)
            run = caseNamed(argv[i + 1]);
    }
    if (!out || !run || i != argc)
        return -1;
    CloseHandle(CreateThread(NULL, 0, endRunThatHangs, NULL, 0, NULL));
    openSession(&hostileSession, path);
    result = run(&hostileSession, out);
    closeSession(&hostileSession);
    return result;
}
