// Where the native layer's USER32 claims to act as Windows, checked once
// for both: built over the native layer as one of its tests, and with
// mingw as a Windows program that runs under Wine against the real USER32,
// so the model cannot drift from Windows unseen. The claims: a message
// box's modal loop, cross-thread sends, the order DestroyWindow tells a
// window tree, what a thread's end does to its windows, timers and posted
// messages. Plain C++ and a small check macro, so the cross build needs
// nothing more.
//
// Where the two differ, and so what this file does each its own way (the
// one place it does):
// - A message box is answered by the native layer's sink; on Windows by
//   posting IDOK to the box, found by its caption.
// - Threads: std::thread; CreateThread on Windows (mingw's win32 thread
//   model has no std::thread).
// - The native model sends only the messages these checks look at (no
//   WM_NCDESTROY, WM_SETTEXT or activation messages), so the checks look at
//   nothing else.
// - DestroyWindow, from a WM_DESTROY, of a window already being destroyed:
//   the model does nothing more, while Wine tells that window WM_DESTROY
//   again, and again from there. Neither the plug-in nor these checks rely
//   on either.
#ifdef _WIN32
#include <windows.h>
#else
#include "platform/native/native_host.h"

#include <thread>
#endif

#include <atomic>
#include <cstdio>

namespace {

int failures = 0;

void check(bool holds, const char* what, int line)
{
    if (!holds) {
        std::fprintf(stderr, "user32_claims.cpp:%d: does not hold: %s\n", line, what);
        ++failures;
    }
}
#define CHECK(condition) check((condition), #condition, __LINE__)

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

class Thread {
public:
    template <typename Body>
    explicit Thread(Body& body)
        : handle_(CreateThread(nullptr, 0, run<Body>, &body, 0, nullptr))
    {
    }
    void join()
    {
        WaitForSingleObject(handle_, INFINITE);
        CloseHandle(handle_);
    }

private:
    template <typename Body>
    static DWORD WINAPI run(LPVOID body)
    {
        (*static_cast<Body*>(body))();
        return 0;
    }
    HANDLE handle_;
};
#else
void answerBox() { boxAnswered = true; }
void prepareBoxes()
{
    NativeSetMessageBoxSink([](void*, HWND, LPCSTR, LPCSTR, UINT) { return boxAnswered.load() ? IDOK : 0; },
                            nullptr);
}

class Thread {
public:
    template <typename Body>
    explicit Thread(Body& body)
        : thread_(body)
    {
    }
    void join() { thread_.join(); }

private:
    std::thread thread_;
};
#endif

// What the windows were told, by whom. Entries are written before the
// send, post or destruction that a reader waits for returns.
struct Heard {
    HWND window;
    UINT message;
    WPARAM wParam;
    DWORD thread;
};
constexpr int kMostHeard = 64;
Heard heard[kMostHeard];
std::atomic<int> heardCount {0};
HWND otherWindow = nullptr; // the window to look at while told WM_DESTROY
std::atomic<bool> otherWasThere {false};

int heardSoFar() { return heardCount < kMostHeard ? heardCount.load() : kMostHeard; }

int countOf(UINT message)
{
    int count = 0;
    for (int i = 0; i < heardSoFar(); ++i)
        count += heard[i].message == message;
    return count;
}

constexpr UINT kDestroyYourself = WM_APP + 1;
constexpr UINT kQuit = WM_APP + 2;
constexpr UINT kSendBack = WM_APP + 3; // wParam: the window to send kAnswer to
constexpr UINT kAnswer = WM_APP + 4;
constexpr UINT kAnswerTheBox = WM_APP + 5;
constexpr UINT_PTR kDestroyingTimer = 99;
constexpr UINT_PTR kBoxTimer = 7;

LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if ((message >= WM_APP && message < 0xC000) || message == WM_TIMER || message == WM_DESTROY) {
        const int at = heardCount.fetch_add(1);
        if (at < kMostHeard)
            heard[at] = Heard {window, message, wParam, GetCurrentThreadId()};
    }
    switch (message) {
    case WM_DESTROY:
        if (otherWindow && IsWindow(otherWindow))
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
    return DefWindowProcA(window, message, wParam, lParam);
}

constexpr char kClassName[] = "User32Claims";

HWND makeWindow(HWND parent = nullptr)
{
    return CreateWindowExA(0, kClassName, "claims", parent ? WS_CHILD : 0, 0, 0, 10, 10, parent, nullptr, nullptr,
                           nullptr);
}

void reset()
{
    heardCount = 0;
    otherWindow = nullptr;
    otherWasThere = false;
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
    aLateTimerGivesOneMessageAfterPostedMessagesAndQuit();
    aThreadTimerReachesItsProcedureThroughDispatch();
    std::printf("user32 claims: %d failed\n", failures);
    return failures == 0 ? 0 : 1;
}
