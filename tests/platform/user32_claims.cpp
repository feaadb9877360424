// Where the native layer's USER32 claims to act as Windows, checked once
// for both: built over the native layer as one of its tests, and with
// mingw as a Windows program that runs under Wine against the real USER32,
// so the model cannot drift from Windows unseen. The claims: a message
// box's modal loop, cross-thread sends, the order DestroyWindow tells a
// window tree, what a thread's end does to its windows, timers and posted
// messages, and that a procedure runs only on its window's thread: what a
// child dialog of another thread's window (the plug-in's own template, as
// a host makes it) and its parent tell each other, and how destroying the
// parent reaches it. Where the two are known to differ, the check says so
// with both::nativeOrWindows.
#include "resources/resource.h"
#include "tests/support/both_targets.h"

#include <atomic>
#include <cstdio>

namespace {

using both::Thread;

constexpr char kBoxCaption[] = "user32 claims";
std::atomic<bool> boxAnswered {false};

// A box is answered as a user would: natively by the native layer's sink,
// on Windows by posting IDOK to the box, found by its caption. Until it is
// there to be found, a thread timer, which the box's own loop dispatches,
// looks again.
#ifdef _WIN32
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
HWND destroyAgain = nullptr;  // the window that calls DestroyWindow on itself when told WM_DESTROY
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

// The entry whenHeard found, or an empty one when it found none.
Heard heardAt(int index) { return index >= 0 && index < kMostHeard ? heard[index] : Heard {}; }

constexpr UINT kDestroyYourself = WM_APP + 1;
constexpr UINT kQuit = WM_APP + 2;
constexpr UINT kSendBack = WM_APP + 3; // wParam: the window to send kAnswer to
constexpr UINT kAnswer = WM_APP + 4;
constexpr UINT kAnswerTheBox = WM_APP + 5;
constexpr UINT kPending = WM_APP + 6;  // what a dialog takes while told WM_DESTROY, as the plug-in's takes a box
constexpr UINT kNeverPosted = WM_APP + 50;
constexpr UINT_PTR kDestroyingTimer = 99;
constexpr UINT_PTR kDestroyingAndAnsweringTimer = 98; // for a box that may outlive its owner
constexpr UINT_PTR kBoxTimer = 7;

// The native model sends only these (no WM_NCDESTROY, WM_SETTEXT, EN_UPDATE
// or activation messages), so the checks hear nothing else.
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
        if (window == destroyAgain) {
            destroyAgain = nullptr;
            DestroyWindow(window);
        }
        break;
    case WM_TIMER:
        if (wParam == kDestroyingTimer || wParam == kDestroyingAndAnsweringTimer)
            DestroyWindow(window);
        if (wParam == kBoxTimer || wParam == kDestroyingAndAnsweringTimer) {
            KillTimer(window, wParam);
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
    destroyAgain = nullptr;
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
    CHECK_EQ(IDOK, MessageBoxA(host, "text", kBoxCaption, MB_OK));
    CHECK_MSG(heardCount >= 2, "heard %d messages", heardCount.load());
    CHECK_EQ(WM_APP, heard[0].message);
    CHECK_EQ(WM_TIMER, heard[1].message);
    CHECK_EQ(kBoxTimer, heard[1].wParam);
    DestroyWindow(host);
}

void aBoxAnswersSendsFromAnotherThread()
{
    reset();
    HWND host = makeWindow();
    LRESULT answer = 0;
    auto sender = [&] { answer = SendMessageA(host, kAnswerTheBox, 0, 0); };
    Thread thread(sender);
    CHECK_EQ(IDOK, MessageBoxA(host, "text", kBoxCaption, MB_OK));
    thread.join();
    CHECK_EQ(7, answer);
    CHECK_EQ(1, heardCount);
    CHECK_EQ(GetCurrentThreadId(), heard[0].thread);
    DestroyWindow(host);
}

// A box whose owner is destroyed ends with it, answering 0. One owned by
// a child window, as the plug-in's dialog in a host's window is, may not.
enum class Owner { TopLevel, Child };
void aBoxEndsWithItsOwner(Owner kind)
{
    reset();
    HWND host = makeWindow();
    HWND owner = kind == Owner::Child ? makeWindow(host) : host;
    SetTimer(owner, kind == Owner::Child ? kDestroyingAndAnsweringTimer : kDestroyingTimer, 10, nullptr);
    const int answer = MessageBoxA(owner, "text", kBoxCaption, MB_OK);
    if (kind == Owner::TopLevel)
        CHECK_EQ(0, answer);
    else
        CHECK_EQ(both::nativeOrWindows(0, IDOK,
                                       "Wine makes the child's top-level window the box's owner, so the box outlives "
                                       "the child; the model keeps the child as owner. The plug-in shows such a box "
                                       "again without owner"),
                 answer);
    CHECK(!IsWindow(owner));
    CHECK_EQ(1, countOf(WM_DESTROY));
    DestroyWindow(host);
}

void destroyingAWindowTellsItThenItsChildrenWhileAllStillExist()
{
    reset();
    HWND host = makeWindow();
    HWND first = makeWindow(host);
    HWND second = makeWindow(host);
    otherWindow = second;
    CHECK_EQ(first, GetWindow(host, GW_CHILD));
    CHECK_EQ(2, countOf(WM_PARENTNOTIFY));
    CHECK_EQ(MAKEWPARAM(WM_CREATE, 0), heard[0].wParam);
    CHECK_EQ(reinterpret_cast<LPARAM>(first), heard[0].lParam);
    heardCount = 0;
    CHECK(DestroyWindow(host));
    CHECK_EQ(3, heardCount);
    const HWND toldInOrder[] = {host, first, second};
    for (int i = 0; i < 3; ++i) {
        CHECK_EQ(toldInOrder[i], heard[i].window);
        CHECK_EQ(WM_DESTROY, heard[i].message);
    }
    CHECK(otherWasThere);
    CHECK(!IsWindow(host) && !IsWindow(first) && !IsWindow(second));
}

void aDestroyedWindowTakesItsQueuedMessagesAndTimersWithIt()
{
    reset();
    HWND host = makeWindow();
    destroyAgain = host;
    PostMessageA(host, WM_APP, 0, 0);
    SetTimer(host, 5, 10, nullptr);
    PostMessageA(host, kDestroyYourself, 0, 0);
    MSG message;
    for (int i = 0; i < 2 && PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE); ++i)
        DispatchMessageA(&message);
    CHECK(!IsWindow(host));
    CHECK_EQ(both::nativeOrWindows(1, 2,
                                   "a window being destroyed that is destroyed again (from its WM_DESTROY, or as the "
                                   "child of a window another thread destroys) is told WM_DESTROY again by Wine, "
                                   "nothing more by the model; the plug-in relies on neither"),
             countOf(WM_DESTROY));
    Sleep(30);
    CHECK(!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
    char text[8];
    SetLastError(0);
    CHECK_EQ(0, GetWindowTextA(host, text, sizeof text));
    CHECK_EQ(ERROR_INVALID_WINDOW_HANDLE, GetLastError());
    CHECK(!PostMessageA(host, WM_APP, 0, 0));
    CHECK_EQ(0, SetTimer(host, 5, 10, nullptr));
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
    CHECK_EQ(ERROR_ACCESS_DENIED, GetLastError());
    MSG foreign {};
    foreign.hwnd = host;
    foreign.message = WM_APP;
    SetLastError(0);
    CHECK_EQ(0, DispatchMessageA(&foreign));
    CHECK_EQ(ERROR_MESSAGE_SYNC_ONLY, GetLastError());
    CHECK(PostMessageA(host, kQuit, 0, 0));
    thread.join();
    MSG message;
    CHECK(!PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE));
    CHECK_EQ(3, heardCount);
    for (int i = 0; i < heardSoFar(); ++i)
        CHECK_EQ(ownerThread, heard[i].thread);
    CHECK_EQ(WM_APP, heard[0].message);
    CHECK_EQ(WM_DESTROY, heard[2].message);
    CHECK_EQ(3, exitCode);
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
    CHECK_EQ(ownerThread, GetWindowThreadProcessId(host, nullptr));
    // The owner's procedure sends back to this thread's window while this one waits.
    CHECK_EQ(42, SendMessageA(host, kSendBack, reinterpret_cast<WPARAM>(mine), 0));
    CHECK(pumping);
    CHECK(SetWindowTextA(host, "sent"));
    char text[8] = "";
    CHECK_EQ(4, GetWindowTextA(host, text, sizeof text));
    CHECK_EQ('s', text[0]);
    PostMessageA(host, kQuit, 0, 0);
    thread.join();
    CHECK_MSG(heardCount >= 2, "heard %d messages", heardCount.load());
    CHECK_EQ(kSendBack, heard[0].message);
    CHECK_EQ(ownerThread, heard[0].thread);
    CHECK_EQ(kAnswer, heard[1].message);
    CHECK_EQ(GetCurrentThreadId(), heard[1].thread);
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
    CHECK_EQ(0, SendMessageA(host, kAnswer, 0, 0));
    thread.join();
    CHECK(!IsWindow(host));
    CHECK_EQ(0, countOf(kAnswer));
    CHECK_EQ(before == Before::DestroyingTheWindow ? 1 : 0, countOf(WM_DESTROY));
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
    CHECK_MSG(made >= 0 && made < initialised, "the parent heard of it at %d, WM_INITDIALOG came at %d", made,
              initialised);
    CHECK_EQ(self, heardAt(made).thread);
    CHECK_EQ(child, heardAt(made).lParam);
    CHECK_EQ(dialogThread, heardAt(initialised).thread);
    const int changed = whenHeard(dialog, WM_COMMAND, MAKEWPARAM(IDC_FILENAME, EN_CHANGE));
    CHECK_EQ(dialogThread, heardAt(changed).thread);
    CHECK_EQ(-1, whenHeard(dialog, WM_PARENTNOTIFY));
    const int going = whenHeard(host, WM_PARENTNOTIFY, MAKEWPARAM(WM_DESTROY, 0));
    const int destroyed = whenHeard(dialog, WM_DESTROY);
    CHECK_MSG(going >= 0 && going < destroyed, "the parent heard of its end at %d, WM_DESTROY came at %d", going,
              destroyed);
    CHECK_EQ(self, heardAt(going).thread);
    CHECK_EQ(child, heardAt(going).lParam);
    CHECK_EQ(dialogThread, heardAt(destroyed).thread);
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
    CHECK_EQ(2, countOf(WM_DESTROY)); // the dialog's came before DestroyWindow returned
    hostDestroyed = true;
    thread.join();
    const int hostTold = whenHeard(host, WM_DESTROY);
    const int dialogTold = whenHeard(dialog, WM_DESTROY);
    CHECK_MSG(hostTold >= 0 && hostTold < dialogTold, "the window was told at %d, the dialog at %d", hostTold,
              dialogTold);
    CHECK_EQ(GetCurrentThreadId(), heardAt(hostTold).thread);
    CHECK_EQ(dialogThread, heardAt(dialogTold).thread);
    CHECK(otherWasThere && tookPending);
    CHECK(goneOnItsThread && !IsWindow(dialog));
    CHECK_EQ(-1, whenHeard(dialog, WM_APP));
    CHECK_EQ(-1, whenHeard(dialog, WM_TIMER));
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
    CHECK_EQ(1, countOf(WM_PARENTNOTIFY));
    CHECK_EQ(1, countOf(WM_DESTROY));
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
    MSG message {};
    CHECK(PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE));
    CHECK_EQ(WM_APP, message.message);
    const UINT inOrder[] = {WM_APP, WM_QUIT, WM_TIMER};
    const WPARAM withWParam[] = {0, 4, 5};
    for (int i = 0; i < 3; ++i) {
        message = MSG {};
        CHECK(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
        CHECK_EQ(inOrder[i], message.message);
        CHECK_EQ(withWParam[i], message.wParam);
    }
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
    CHECK_MSG(id != 0, "SetTimer failed: %lu", static_cast<unsigned long>(GetLastError()));
    MSG message;
    do {
        CHECK(GetMessageA(&message, nullptr, 0, 0) > 0);
        DispatchMessageA(&message);
    } while (message.message != WM_TIMER);
    CHECK_EQ(nullptr, message.hwnd);
    CHECK_EQ(id, timerProcedureId);
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
    both::run("aBoxDispatchesPostedMessagesThenDueTimersUntilItIsAnswered",
              aBoxDispatchesPostedMessagesThenDueTimersUntilItIsAnswered);
    both::run("aBoxAnswersSendsFromAnotherThread", aBoxAnswersSendsFromAnotherThread);
    both::run("aBoxEndsWithItsOwner(TopLevel)", [] { aBoxEndsWithItsOwner(Owner::TopLevel); });
    both::run("aBoxEndsWithItsOwner(Child)", [] { aBoxEndsWithItsOwner(Owner::Child); });
    both::run("destroyingAWindowTellsItThenItsChildrenWhileAllStillExist",
              destroyingAWindowTellsItThenItsChildrenWhileAllStillExist);
    both::run("aDestroyedWindowTakesItsQueuedMessagesAndTimersWithIt",
              aDestroyedWindowTakesItsQueuedMessagesAndTimersWithIt);
    both::run("aWindowsMessagesGoToItsThreadWhichAloneMayDestroyIt", aWindowsMessagesGoToItsThreadWhichAloneMayDestroyIt);
    both::run("aSendToAnotherThreadsWindowWaitsForThatThreadAndRunsThere",
              aSendToAnotherThreadsWindowWaitsForThatThreadAndRunsThere);
    both::run("aSendItsWindowsThreadNeverTakesGetsZero(DestroyingTheWindow)",
              [] { aSendItsWindowsThreadNeverTakesGetsZero(Before::DestroyingTheWindow); });
    both::run("aSendItsWindowsThreadNeverTakesGetsZero(TheThreadEnds)",
              [] { aSendItsWindowsThreadNeverTakesGetsZero(Before::TheThreadEnds); });
    both::run("aChildDialogAndItsParentHearEachOtherOnTheirOwnThreads",
              aChildDialogAndItsParentHearEachOtherOnTheirOwnThreads);
    both::run("destroyingAWindowDestroysAnotherThreadsChildDialogOnThatThread",
              destroyingAWindowDestroysAnotherThreadsChildDialogOnThatThread);
    both::run("aChildDialogGoesWithItsThreadTellingItsParentNothing", aChildDialogGoesWithItsThreadTellingItsParentNothing);
    both::run("aLateTimerGivesOneMessageAfterPostedMessagesAndQuit", aLateTimerGivesOneMessageAfterPostedMessagesAndQuit);
    both::run("aThreadTimerReachesItsProcedureThroughDispatch", aThreadTimerReachesItsProcedureThroughDispatch);
    std::printf("user32 claims: %d failed\n", both::failures);
    return both::failures == 0 ? 0 : 1;
}
