// Where the native layer's USER32 claims to act as Windows, checked once
// for both: built over the native layer as one of its tests, and with
// mingw as a Windows program that runs under Wine against the real USER32,
// so the model cannot drift from Windows unseen. The claims: a message
// box's modal loop, cross-thread sends, the order DestroyWindow tells a
// window tree, what a thread's end does to its windows, timers and posted
// messages, and that a procedure runs only on its window's thread: what a
// child dialog of another thread's window (the plug-in's own template, as
// a host makes it) and its parent tell each other, and how destroying the
// parent reaches it. Plain C++ and a small check macro, so the cross build
// needs nothing more.
//
// Where the two differ, and so what this file does each its own way (the
// one place it does):
// - A message box is answered by the native layer's sink; on Windows by
//   posting IDOK to the box, found by its caption.
// - Threads, as tests/support/both_targets.h makes them.
// - The module whose dialog template is made: found by an address in it
//   natively, GetModuleHandleA on Windows.
// - The native model sends only the messages these checks look at (no
//   WM_NCDESTROY, WM_SETTEXT, EN_UPDATE or activation messages), so the
//   checks look at nothing else.
// - DestroyWindow of a window already being destroyed (from its
//   WM_DESTROY, or as the child of a window another thread is destroying):
//   the model does nothing more, while Wine tells that window WM_DESTROY
//   again, and again from there. Neither the plug-in nor these checks rely
//   on either.
// - A message box whose owner is a child window (the plug-in's dialog in a
//   host's window): Wine makes the child's top-level window its owner, so
//   destroying the child leaves the box open; the model keeps the child as
//   owner, so the box ends with it, answering 0. The plug-in shows such a
//   box again without owner; no check here looks at it.
#include "resources/resource.h"
#include "tests/support/both_targets.h"

#include <atomic>
#include <cstdio>

namespace {

using both::Thread;

constexpr char kBoxCaption[] = "user32 claims";
std::atomic<bool> boxAnswered {false};

#ifdef _WIN32
// Until the box is there to be found, a thread timer, which the box's own
// loop dispatches, looks again.
void CALLBACK answerBoxOnceThere(HWND, UINT, UINT_PTR timer, DWORD)
{
    if (HWND box = FindWindowA("#32770", kBoxCaption)) {
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        KillTimer(nullptr, timer);
    }
}
void answerBox()
{
    boxAnswered = true;
    SetTimer(nullptr, 0, 10, answerBoxOnceThere);
}
void prepareBoxes() {}
HINSTANCE claimsModule() { return GetModuleHandleA(nullptr); }
#else
void answerBox() { boxAnswered = true; }
void prepareBoxes()
{
    NativeSetMessageBoxSink([](void*, HWND, LPCSTR, LPCSTR, UINT) { return boxAnswered.load() ? IDOK : 0; },
                            nullptr);
}
HINSTANCE claimsModule() { return NativeModuleContaining(reinterpret_cast<const void*>(&prepareBoxes)); }
#endif

// What the windows were told, by whom. Entries are written before the
// send, post or destruction that a reader waits for returns.
struct Heard {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD thread;
};
constexpr int kMostHeard = 64;
Heard heard[kMostHeard];
std::atomic<int> heardCount {0};
HWND otherWindow = nullptr; // the window to look at, with its own, while told WM_DESTROY
std::atomic<bool> otherWasThere {false};
std::atomic<bool> tookPending {false}; // a dialog took its kPending while told WM_DESTROY

int heardSoFar() { return heardCount < kMostHeard ? heardCount.load() : kMostHeard; }

int countOf(UINT message)
{
    int count = 0;
    for (int i = 0; i < heardSoFar(); ++i)
        count += heard[i].message == message;
    return count;
}

constexpr WPARAM kAnyWParam = ~WPARAM {0};

// Where the window first heard the message; -1 when it did not.
int whenHeard(HWND window, UINT message, WPARAM wParam = kAnyWParam)
{
    for (int i = 0; i < heardSoFar(); ++i) {
        const Heard& each = heard[i];
        if (each.window == window && each.message == message && (wParam == kAnyWParam || each.wParam == wParam))
            return i;
    }
    return -1;
}

constexpr UINT kDestroyYourself = WM_APP + 1;
constexpr UINT kQuit = WM_APP + 2;
constexpr UINT kSendBack = WM_APP + 3; // wParam: the window to send kAnswer to
constexpr UINT kAnswer = WM_APP + 4;
constexpr UINT kAnswerTheBox = WM_APP + 5;
constexpr UINT kPending = WM_APP + 6;  // what a dialog takes while told WM_DESTROY, as the plug-in's takes a box
constexpr UINT kNeverPosted = WM_APP + 50;
constexpr UINT_PTR kDestroyingTimer = 99;
constexpr UINT_PTR kBoxTimer = 7;

bool isHeard(UINT message)
{
    return (message >= WM_APP && message < 0xC000) || message == WM_TIMER || message == WM_DESTROY ||
           message == WM_PARENTNOTIFY || message == WM_INITDIALOG || message == WM_COMMAND;
}

// What windows and dialogs alike do with what they hear.
LRESULT respond(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    const int at = heardCount.fetch_add(1);
    if (at < kMostHeard)
        heard[at] = Heard {window, message, wParam, lParam, GetCurrentThreadId()};
    switch (message) {
    case WM_DESTROY:
        if (otherWindow && IsWindow(otherWindow) && IsWindow(window))
            otherWasThere = true;
        break;
    case WM_TIMER:
        if (wParam == kDestroyingTimer)
            DestroyWindow(window);
        if (wParam == kBoxTimer) {
            KillTimer(window, kBoxTimer);
            answerBox();
        }
        break;
    case kDestroyYourself:
        DestroyWindow(window);
        break;
    case kQuit:
        PostQuitMessage(3);
        break;
    case kSendBack:
        return SendMessageA(reinterpret_cast<HWND>(wParam), kAnswer, 0, 0) + 1;
    case kAnswer:
        return 41;
    case kAnswerTheBox:
        answerBox();
        return 7;
    default:
        break;
    }
    return 0;
}

LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (isHeard(message))
        return respond(window, message, wParam, lParam);
    return DefWindowProcA(window, message, wParam, lParam);
}

INT_PTR CALLBACK dialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY) {
        MSG pending;
        tookPending = PeekMessageA(&pending, window, kPending, kPending, PM_REMOVE) != 0;
    }
    if (isHeard(message))
        respond(window, message, wParam, lParam);
    return FALSE;
}

constexpr char kClassName[] = "User32Claims";

HWND makeWindow(HWND parent = nullptr)
{
    return CreateWindowExA(0, kClassName, "claims", parent ? WS_CHILD : 0, 0, 0, 10, 10, parent, nullptr, nullptr,
                           nullptr);
}

// The plug-in's own dialog template: a child dialog whose controls are
// those a host meets.
HWND makeDialog(HWND parent)
{
    return CreateDialogParamA(claimsModule(), MAKEINTRESOURCEA(IDD_CONFIG), parent, dialogProcedure, 0);
}

void reset()
{
    heardCount = 0;
    otherWindow = nullptr;
    otherWasThere = false;
    tookPending = false;
    boxAnswered = false;
    prepareBoxes();
}

// Takes whatever is queued, waiting for nothing.
void pumpWhatIsQueued()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&message);
}

// Answers what other threads sent to this one, and takes nothing posted.
void answerSendsOnly()
{
    MSG message;
    PeekMessageA(&message, nullptr, kNeverPosted, kNeverPosted, PM_REMOVE);
}

void aBoxDispatchesPostedMessagesThenDueTimersUntilItIsAnswered()
{
    reset();
    HWND host = makeWindow();
    PostMessageA(host, WM_APP, 1, 0);
    SetTimer(host, kBoxTimer, 10, nullptr); // answers the box
    CHECK(MessageBoxA(host, "text", kBoxCaption, MB_OK) == IDOK);
    CHECK(heardCount >= 2);
    CHECK(heard[0].message == WM_APP);
    CHECK(heard[1].message == WM_TIMER && heard[1].wParam == kBoxTimer);
    DestroyWindow(host);
}

void aBoxAnswersSendsFromAnotherThread()
{
    reset();
    HWND host = makeWindow();
    LRESULT answer = 0;
    auto sender = [&] { answer = SendMessageA(host, kAnswerTheBox, 0, 0); };
    Thread thread(sender);
    CHECK(MessageBoxA(host, "text", kBoxCaption, MB_OK) == IDOK);
    thread.join();
    CHECK(answer == 7);
    CHECK(heardCount == 1 && heard[0].thread == GetCurrentThreadId());
    DestroyWindow(host);
}

void aBoxEndsWithItsOwner()
{
    reset();
    HWND host = makeWindow();
    SetTimer(host, kDestroyingTimer, 10, nullptr);
    CHECK(MessageBoxA(host, "text", kBoxCaption, MB_OK) == 0);
    CHECK(!IsWindow(host));
    CHECK(countOf(WM_DESTROY) == 1);
}

void destroyingAWindowTellsItThenItsChildrenWhileAllStillExist()
{
    reset();
    HWND host = makeWindow();
    HWND first = makeWindow(host);
    HWND second = makeWindow(host);
    otherWindow = second;
    CHECK(GetWindow(host, GW_CHILD) == first);
    CHECK(countOf(WM_PARENTNOTIFY) == 2 && heard[0].wParam == MAKEWPARAM(WM_CREATE, 0) &&
          heard[0].lParam == reinterpret_cast<LPARAM>(first));
    heardCount = 0;
    CHECK(DestroyWindow(host));
    CHECK(heardCount == 3);
    CHECK(heard[0].window == host && heard[0].message == WM_DESTROY);
    CHECK(heard[1].window == first && heard[1].message == WM_DESTROY);
    CHECK(heard[2].window == second && heard[2].message == WM_DESTROY);
    CHECK(otherWasThere);
    CHECK(!IsWindow(host) && !IsWindow(first) && !IsWindow(second));
}

void aDestroyedWindowTakesItsQueuedMessagesAndTimersWithIt()
{
    reset();
    HWND host = makeWindow();
    PostMessageA(host, WM_APP, 0, 0);
    SetTimer(host, 5, 10, nullptr);
    PostMessageA(host, kDestroyYourself, 0, 0);
    MSG message;
    for (int i = 0; i < 2 && PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE); ++i)
        DispatchMessageA(&message);
    CHECK(!IsWindow(host));
    Sleep(30);
    CHECK(!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
    char text[8];
    SetLastError(0);
    CHECK(GetWindowTextA(host, text, sizeof text) == 0);
    CHECK(GetLastError() == ERROR_INVALID_WINDOW_HANDLE);
    CHECK(!PostMessageA(host, WM_APP, 0, 0));
    CHECK(SetTimer(host, 5, 10, nullptr) == 0);
}

// Dispatching a message to another thread's window from this one calls
// nothing.
void aWindowsMessagesGoToItsThreadWhichAloneMayDestroyIt()
{
    reset();
    std::atomic<HWND> host {nullptr};
    DWORD ownerThread = 0;
    int exitCode = 0;
    auto owner = [&] {
        ownerThread = GetCurrentThreadId();
        host = makeWindow();
        MSG message;
        while (GetMessageA(&message, nullptr, 0, 0) > 0)
            DispatchMessageA(&message);
        exitCode = static_cast<int>(message.wParam);
        DestroyWindow(host);
    };
    Thread thread(owner);
    while (!host.load())
        Sleep(1);
    CHECK(PostMessageA(host, WM_APP, 0, 0));
    CHECK(!DestroyWindow(host));
    CHECK(GetLastError() == ERROR_ACCESS_DENIED);
    MSG foreign {};
    foreign.hwnd = host;
    foreign.message = WM_APP;
    SetLastError(0);
    CHECK(DispatchMessageA(&foreign) == 0);
    CHECK(GetLastError() == ERROR_MESSAGE_SYNC_ONLY);
    CHECK(PostMessageA(host, kQuit, 0, 0));
    thread.join();
    MSG message;
    CHECK(!PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE));
    CHECK(heardCount == 3);
    for (int i = 0; i < heardSoFar(); ++i)
        CHECK(heard[i].thread == ownerThread);
    CHECK(heard[0].message == WM_APP && heard[2].message == WM_DESTROY);
    CHECK(exitCode == 3);
}

void aSendToAnotherThreadsWindowWaitsForThatThreadAndRunsThere()
{
    reset();
    std::atomic<HWND> host {nullptr};
    std::atomic<bool> pumping {false};
    DWORD ownerThread = 0;
    auto owner = [&] {
        ownerThread = GetCurrentThreadId();
        host = makeWindow();
        Sleep(50);
        pumping = true;
        MSG message;
        while (GetMessageA(&message, nullptr, 0, 0) > 0)
            DispatchMessageA(&message);
        DestroyWindow(host);
    };
    Thread thread(owner);
    while (!host.load())
        Sleep(1);
    HWND mine = makeWindow();
    CHECK(GetWindowThreadProcessId(host, nullptr) == ownerThread);
    // The owner's procedure sends back to this thread's window while this one waits.
    CHECK(SendMessageA(host, kSendBack, reinterpret_cast<WPARAM>(mine), 0) == 42);
    CHECK(pumping);
    CHECK(SetWindowTextA(host, "sent"));
    char text[8] = "";
    CHECK(GetWindowTextA(host, text, sizeof text) == 4 && text[0] == 's');
    PostMessageA(host, kQuit, 0, 0);
    thread.join();
    CHECK(heardCount >= 2);
    CHECK(heard[0].message == kSendBack && heard[0].thread == ownerThread);
    CHECK(heard[1].message == kAnswer && heard[1].thread == GetCurrentThreadId());
    DestroyWindow(mine);
}

// A send that the window's thread never takes gets 0: the thread destroys
// the window first, or ends, which takes its windows with it and tells
// them nothing.
enum class Before { DestroyingTheWindow, TheThreadEnds };
void aSendItsWindowsThreadNeverTakesGetsZero(Before before)
{
    reset();
    std::atomic<HWND> host {nullptr};
    std::atomic<bool> sending {false};
    auto owner = [&] {
        host = makeWindow();
        while (!sending.load())
            Sleep(1);
        Sleep(20);
        if (before == Before::DestroyingTheWindow) {
            DestroyWindow(host);
            pumpWhatIsQueued();
        }
    };
    Thread thread(owner);
    while (!host.load())
        Sleep(1);
    sending = true;
    CHECK(SendMessageA(host, kAnswer, 0, 0) == 0);
    thread.join();
    CHECK(!IsWindow(host));
    CHECK(countOf(kAnswer) == 0);
    CHECK(countOf(WM_DESTROY) == (before == Before::DestroyingTheWindow ? 1 : 0));
}

// A host's dialog thread makes its dialog as the child of a window of the
// host's other thread. What the dialog tells its parent when it is made
// (before WM_INITDIALOG) and when it is destroyed (before its WM_DESTROY)
// is a send: it runs on the parent's thread, and the dialog's thread waits
// for it. The dialog's controls tell it nothing of theirs, and what one
// notifies when another thread sets its text reaches the dialog on the
// dialog's thread.
void aChildDialogAndItsParentHearEachOtherOnTheirOwnThreads()
{
    reset();
    HWND host = makeWindow();
    std::atomic<HWND> dialog {nullptr};
    DWORD dialogThread = 0;
    auto maker = [&] {
        dialogThread = GetCurrentThreadId();
        const HWND made = makeDialog(host);
        dialog = made;
        MSG message;
        while (IsWindow(made) && GetMessageA(&message, nullptr, 0, 0) > 0)
            DispatchMessageA(&message);
    };
    Thread thread(maker);
    Sleep(30); // a maker that did not wait for this thread would go on meanwhile
    while (!dialog.load()) {
        pumpWhatIsQueued();
        Sleep(1);
    }
    CHECK(SetDlgItemTextA(dialog, IDC_FILENAME, "claims"));
    PostMessageA(dialog, kDestroyYourself, 0, 0);
    Sleep(30);
    while (IsWindow(dialog)) {
        pumpWhatIsQueued();
        Sleep(1);
    }
    thread.join();
    const DWORD self = GetCurrentThreadId();
    const auto child = reinterpret_cast<LPARAM>(dialog.load());
    const int made = whenHeard(host, WM_PARENTNOTIFY, MAKEWPARAM(WM_CREATE, 0));
    const int initialised = whenHeard(dialog, WM_INITDIALOG);
    CHECK(made >= 0 && made < initialised);
    CHECK(made >= 0 && heard[made].thread == self && heard[made].lParam == child);
    CHECK(initialised >= 0 && heard[initialised].thread == dialogThread);
    const int changed = whenHeard(dialog, WM_COMMAND, MAKEWPARAM(IDC_FILENAME, EN_CHANGE));
    CHECK(changed >= 0 && heard[changed].thread == dialogThread);
    CHECK(whenHeard(dialog, WM_PARENTNOTIFY) < 0);
    const int going = whenHeard(host, WM_PARENTNOTIFY, MAKEWPARAM(WM_DESTROY, 0));
    const int destroyed = whenHeard(dialog, WM_DESTROY);
    CHECK(going >= 0 && going < destroyed);
    CHECK(going >= 0 && heard[going].thread == self && heard[going].lParam == child);
    CHECK(destroyed >= 0 && heard[destroyed].thread == dialogThread);
    DestroyWindow(host);
}

// Destroying a window destroys the child dialog another thread made in it
// on that thread, as when a host closes its window with the dialog open:
// the window is told WM_DESTROY first, then the dialog on its own thread
// while the caller waits for it, both still windows and the dialog's
// posted messages its own to take. Once its thread has taken its messages
// afterwards, the dialog is gone on both threads and nothing more comes to
// it; until then it is still a window, for a time Wine leaves to its
// scheduler, so the checks look only after. Its thread here takes only what
// is sent to it, so nothing posted slips in before it goes.
void destroyingAWindowDestroysAnotherThreadsChildDialogOnThatThread()
{
    reset();
    HWND host = makeWindow();
    otherWindow = host;
    std::atomic<HWND> dialog {nullptr};
    std::atomic<bool> hostDestroyed {false};
    DWORD dialogThread = 0;
    bool goneOnItsThread = false;
    auto maker = [&] {
        dialogThread = GetCurrentThreadId();
        const HWND made = makeDialog(host);
        PostMessageA(made, kPending, 0, 0);
        PostMessageA(made, WM_APP, 0, 0);
        SetTimer(made, 5, 10, nullptr);
        dialog = made;
        while (!hostDestroyed.load()) {
            answerSendsOnly();
            Sleep(1);
        }
        answerSendsOnly();
        goneOnItsThread = !IsWindow(made);
        Sleep(30);
        pumpWhatIsQueued();
    };
    Thread thread(maker);
    while (!dialog.load()) {
        pumpWhatIsQueued();
        Sleep(1);
    }
    CHECK(DestroyWindow(host));
    CHECK(countOf(WM_DESTROY) == 2); // the dialog's came before DestroyWindow returned
    hostDestroyed = true;
    thread.join();
    const int hostTold = whenHeard(host, WM_DESTROY);
    const int dialogTold = whenHeard(dialog, WM_DESTROY);
    CHECK(hostTold >= 0 && hostTold < dialogTold);
    CHECK(hostTold >= 0 && heard[hostTold].thread == GetCurrentThreadId());
    CHECK(dialogTold >= 0 && heard[dialogTold].thread == dialogThread);
    CHECK(otherWasThere && tookPending);
    CHECK(goneOnItsThread && !IsWindow(dialog));
    CHECK(whenHeard(dialog, WM_APP) < 0 && whenHeard(dialog, WM_TIMER) < 0);
}

// A child dialog whose thread ends goes with it without a word to its
// parent, and destroying the parent afterwards tells the parent alone.
void aChildDialogGoesWithItsThreadTellingItsParentNothing()
{
    reset();
    HWND host = makeWindow();
    HWND dialog = nullptr;
    std::atomic<bool> made {false};
    auto maker = [&] {
        dialog = makeDialog(host);
        made = true;
    };
    Thread thread(maker);
    while (!made.load()) {
        pumpWhatIsQueued();
        Sleep(1);
    }
    thread.join();
    pumpWhatIsQueued();
    CHECK(!IsWindow(dialog));
    CHECK(DestroyWindow(host));
    CHECK(countOf(WM_PARENTNOTIFY) == 1 && countOf(WM_DESTROY) == 1);
}

// A timer that fell behind gives one WM_TIMER; posted messages come first,
// then WM_QUIT, then timers.
void aLateTimerGivesOneMessageAfterPostedMessagesAndQuit()
{
    reset();
    HWND host = makeWindow();
    SetTimer(host, 5, 10, nullptr);
    Sleep(60);
    PostQuitMessage(4);
    PostMessageA(host, WM_APP, 0, 0);
    MSG message;
    CHECK(PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE) && message.message == WM_APP);
    CHECK(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE) && message.message == WM_APP);
    CHECK(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE) && message.message == WM_QUIT && message.wParam == 4);
    CHECK(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE) && message.message == WM_TIMER && message.wParam == 5);
    CHECK(!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
    CHECK(KillTimer(host, 5));
    CHECK(!KillTimer(host, 5));
    DestroyWindow(host);
}

std::atomic<UINT_PTR> timerProcedureId {0};
void CALLBACK timerProcedure(HWND window, UINT message, UINT_PTR id, DWORD)
{
    if (!window && message == WM_TIMER)
        timerProcedureId = id;
}

void aThreadTimerReachesItsProcedureThroughDispatch()
{
    reset();
    const UINT_PTR id = SetTimer(nullptr, 0, 10, timerProcedure);
    CHECK(id != 0);
    MSG message;
    do {
        CHECK(GetMessageA(&message, nullptr, 0, 0) > 0);
        DispatchMessageA(&message);
    } while (message.message != WM_TIMER);
    CHECK(!message.hwnd);
    CHECK(timerProcedureId == id);
    CHECK(KillTimer(nullptr, id));
}

} // namespace

int main()
{
    WNDCLASSA windowClass {};
    windowClass.lpfnWndProc = procedure;
    windowClass.lpszClassName = kClassName;
    if (!RegisterClassA(&windowClass)) {
        std::fprintf(stderr, "cannot register the window class\n");
        return 2;
    }
    aBoxDispatchesPostedMessagesThenDueTimersUntilItIsAnswered();
    aBoxAnswersSendsFromAnotherThread();
    aBoxEndsWithItsOwner();
    destroyingAWindowTellsItThenItsChildrenWhileAllStillExist();
    aDestroyedWindowTakesItsQueuedMessagesAndTimersWithIt();
    aWindowsMessagesGoToItsThreadWhichAloneMayDestroyIt();
    aSendToAnotherThreadsWindowWaitsForThatThreadAndRunsThere();
    aSendItsWindowsThreadNeverTakesGetsZero(Before::DestroyingTheWindow);
    aSendItsWindowsThreadNeverTakesGetsZero(Before::TheThreadEnds);
    aChildDialogAndItsParentHearEachOtherOnTheirOwnThreads();
    destroyingAWindowDestroysAnotherThreadsChildDialogOnThatThread();
    aChildDialogGoesWithItsThreadTellingItsParentNothing();
    aLateTimerGivesOneMessageAfterPostedMessagesAndQuit();
    aThreadTimerReachesItsProcedureThroughDispatch();
    std::printf("user32 claims: %d failed\n", both::failures);
    return both::failures == 0 ? 0 : 1;
}
