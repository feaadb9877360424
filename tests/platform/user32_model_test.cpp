// The native layer's USER32 behaves as Windows does where a host or the
// plug-in can tell: message boxes run a modal loop, a window's messages go
// to the thread that made it, and destroying a window takes its children
// with it and leaves no handle working.
#include "platform/native/native_host.h"
#include "resources/resource.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace {

constexpr char kHostClass[] = "StandInHost";

struct Received {
    HWND window;
    UINT message;
    WPARAM wParam;
    DWORD thread;
    bool dialogStillThere; // for WM_DESTROY: the child dialog, if any, was still a window
};

std::mutex logLock;
std::vector<Received> received;
HWND childDialog = nullptr;

void logMessage(HWND window, UINT message, WPARAM wParam)
{
    std::lock_guard<std::mutex> guard(logLock);
    received.push_back({window, message, wParam, GetCurrentThreadId(), childDialog && IsWindow(childDialog)});
}

std::vector<Received> log()
{
    std::lock_guard<std::mutex> guard(logLock);
    return received;
}

size_t countOf(UINT message)
{
    size_t count = 0;
    for (const Received& each : log())
        count += each.message == message;
    return count;
}

// Logs what it receives; WM_APP + 1 asks it to destroy itself, WM_APP + 2 to end the thread's loop.
LRESULT CALLBACK hostProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != WM_CREATE)
        logMessage(window, message, wParam);
    if (message == WM_APP + 1 || (message == WM_TIMER && wParam == 99))
        DestroyWindow(window);
    if (message == WM_APP + 2)
        PostQuitMessage(3);
    if (message == WM_APP + 3) // answer with a send back to the sender's window
        return SendMessageA(reinterpret_cast<HWND>(wParam), WM_APP + 4, 0, 0) + 1;
    if (message == WM_APP + 4)
        return 41;
    return DefWindowProcA(window, message, wParam, lParam);
}

// A dialog that, told WM_DESTROY, destroys its parent too: the model must survive it.
INT_PTR CALLBACK dialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_DESTROY) {
        logMessage(window, message, wParam);
        EXPECT_TRUE(DestroyWindow(GetParent(window)));
    }
    return message == WM_INITDIALOG;
}

HINSTANCE thisModule() { return NativeModuleContaining(reinterpret_cast<const void*>(&hostProcedure)); }

// Answers a box once the host has had `wanted` messages, counting how often it was asked.
struct LateUser {
    size_t wanted;
    int asked = 0;
    size_t dispatchedAtFirstAsk = 0;

    static int answer(void* context, HWND, LPCSTR, LPCSTR, UINT)
    {
        auto* self = static_cast<LateUser*>(context);
        const size_t dispatched = log().size();
        if (self->asked++ == 0)
            self->dispatchedAtFirstAsk = dispatched;
        return dispatched >= self->wanted ? IDOK : 0;
    }
};

} // namespace

class NativeUser32 : public ::testing::Test {
protected:
    void SetUp() override
    {
        WNDCLASSA hostClass {};
        hostClass.lpfnWndProc = hostProcedure;
        hostClass.lpszClassName = kHostClass;
        ASSERT_NE(RegisterClassA(&hostClass), 0);
        std::lock_guard<std::mutex> guard(logLock);
        received.clear();
        childDialog = nullptr;
    }
    void TearDown() override
    {
        NativeSetMessageBoxSink(nullptr, nullptr);
        UnregisterClassA(kHostClass, nullptr);
    }

    static HWND makeHost()
    {
        return CreateWindowExA(0, kHostClass, "host", 0, 0, 0, 640, 480, nullptr, nullptr, nullptr, nullptr);
    }
};

TEST_F(NativeUser32, AMessageBoxDispatchesPostedMessagesAndDueTimersUntilItIsAnswered)
{
    HWND host = makeHost();
    ASSERT_NE(host, nullptr);
    ASSERT_TRUE(PostMessageA(host, WM_APP, 1, 0));
    ASSERT_NE(SetTimer(host, 7, USER_TIMER_MINIMUM, nullptr), 0u);
    LateUser user {2};
    NativeSetMessageBoxSink(LateUser::answer, &user);

    EXPECT_EQ(MessageBoxA(host, "text", "caption", MB_OK), IDOK);
    EXPECT_EQ(user.dispatchedAtFirstAsk, 0u) << "the box opens before any message is dispatched";
    const std::vector<Received> got = log();
    ASSERT_GE(got.size(), 2u);
    EXPECT_EQ(got[0].message, static_cast<UINT>(WM_APP));
    EXPECT_EQ(got[1].message, static_cast<UINT>(WM_TIMER));
    EXPECT_EQ(got[1].wParam, 7u);
    EXPECT_TRUE(KillTimer(host, 7));
    EXPECT_TRUE(DestroyWindow(host));
}

TEST_F(NativeUser32, AWindowDestroyedWhileABoxIsOpenIsGoneAfterwardsAndTheBoxEndsWithIt)
{
    HWND host = makeHost();
    ASSERT_NE(SetTimer(host, 99, USER_TIMER_MINIMUM, nullptr), 0u); // its procedure destroys the host
    LateUser never {1000};
    NativeSetMessageBoxSink(LateUser::answer, &never);

    EXPECT_EQ(MessageBoxA(host, "text", "caption", MB_OK), 0) << "a box goes with its owner, unanswered";
    EXPECT_FALSE(IsWindow(host));
    EXPECT_EQ(countOf(WM_DESTROY), 1u);
}

TEST_F(NativeUser32, DestroyingAParentTellsItThenItsChildDialogAndLeavesNeither)
{
    HWND host = makeHost();
    childDialog = CreateDialogParamA(thisModule(), MAKEINTRESOURCEA(IDD_CONFIG), host, dialogProcedure, 0);
    ASSERT_NE(childDialog, nullptr);
    EXPECT_EQ(GetWindow(host, GW_CHILD), childDialog);

    EXPECT_TRUE(DestroyWindow(host));
    const std::vector<Received> got = log();
    ASSERT_EQ(got.size(), 2u) << "each told once, though the dialog destroys its parent again";
    EXPECT_EQ(got[0].window, host);
    EXPECT_EQ(got[0].message, static_cast<UINT>(WM_DESTROY));
    EXPECT_TRUE(got[0].dialogStillThere) << "children still exist while their parent hears WM_DESTROY";
    EXPECT_EQ(got[1].window, childDialog);
    EXPECT_EQ(got[1].message, static_cast<UINT>(WM_DESTROY));
    EXPECT_FALSE(IsWindow(host));
    EXPECT_FALSE(IsWindow(childDialog));
}

TEST_F(NativeUser32, ADestroyedWindowsHandleWorksNoMoreAndItsQueuedMessagesAreGone)
{
    HWND host = makeHost();
    childDialog = CreateDialogParamA(thisModule(), MAKEINTRESOURCEA(IDD_CONFIG), host, dialogProcedure, 0);
    HWND control = GetDlgItem(childDialog, IDC_SAVE);
    ASSERT_NE(control, nullptr);
    PostMessageA(host, WM_APP, 0, 0);
    SetTimer(host, 5, USER_TIMER_MINIMUM, nullptr);
    PostMessageA(host, WM_APP + 1, 0, 0); // the host destroys itself from its own procedure

    MSG message;
    for (int i = 0; i < 2 && PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE); ++i)
        DispatchMessageA(&message);
    EXPECT_FALSE(IsWindow(host));
    EXPECT_FALSE(IsWindow(control));
    std::this_thread::sleep_for(std::chrono::milliseconds(2 * USER_TIMER_MINIMUM));
    EXPECT_FALSE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) << "its timer went with it";

    char text[16];
    EXPECT_EQ(GetWindowTextA(control, text, sizeof text), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_FALSE(PostMessageA(host, WM_APP, 0, 0));
    EXPECT_EQ(SetTimer(host, 5, USER_TIMER_MINIMUM, nullptr), 0u);
    EXPECT_EQ(CreateDialogParamA(thisModule(), MAKEINTRESOURCEA(IDD_CONFIG), host, dialogProcedure, 0), nullptr);
    EXPECT_FALSE(DestroyWindow(childDialog));
}

TEST_F(NativeUser32, AWindowsMessagesGoToTheThreadThatMadeItAndOnlyThatThreadMayDestroyIt)
{
    std::atomic<HWND> host {nullptr};
    std::atomic<DWORD> ownerThread {0};
    int exitCode = 0;
    std::thread owner([&] {
        ownerThread = GetCurrentThreadId();
        host = makeHost();
        MSG message;
        while (GetMessageA(&message, nullptr, 0, 0))
            DispatchMessageA(&message);
        exitCode = static_cast<int>(message.wParam);
        DestroyWindow(host);
    });
    while (!host.load())
        std::this_thread::yield();

    EXPECT_TRUE(PostMessageA(host, WM_APP, 0, 0));
    EXPECT_FALSE(DestroyWindow(host));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(PostMessageA(host, WM_APP + 2, 0, 0));
    owner.join();

    MSG message;
    EXPECT_FALSE(PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE)) << "nothing came to the posting thread";
    const std::vector<Received> got = log();
    ASSERT_EQ(got.size(), 3u);
    for (const Received& each : got)
        EXPECT_EQ(each.thread, ownerThread.load());
    EXPECT_EQ(got[0].message, static_cast<UINT>(WM_APP));
    EXPECT_EQ(got[2].message, static_cast<UINT>(WM_DESTROY));
    EXPECT_EQ(exitCode, 3);
}

TEST_F(NativeUser32, ASendToAnotherThreadsWindowWaitsUntilThatThreadTakesItsMessagesAndRunsThere)
{
    std::atomic<HWND> host {nullptr};
    std::atomic<bool> pumping {false};
    std::atomic<DWORD> ownerThread {0};
    std::thread owner([&] {
        ownerThread = GetCurrentThreadId();
        host = makeHost();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        pumping = true;
        MSG message;
        while (GetMessageA(&message, nullptr, 0, 0))
            DispatchMessageA(&message);
        DestroyWindow(host);
    });
    while (!host.load())
        std::this_thread::yield();
    HWND mine = makeHost();

    EXPECT_EQ(GetWindowThreadProcessId(host, nullptr), ownerThread.load());
    EXPECT_EQ(SendMessageA(host, WM_APP + 3, reinterpret_cast<WPARAM>(mine), 0), 42)
        << "the sender answers the owner's send back while it waits";
    EXPECT_TRUE(pumping.load()) << "answered before its thread took its messages";
    EXPECT_TRUE(SetWindowTextA(host, "sent"));
    char text[16] = {};
    EXPECT_EQ(GetWindowTextA(host, text, sizeof text), 4);
    EXPECT_STREQ(text, "sent");
    PostMessageA(host, WM_APP + 2, 0, 0);
    owner.join();

    const std::vector<Received> got = log();
    ASSERT_GE(got.size(), 2u);
    EXPECT_EQ(got[0].message, static_cast<UINT>(WM_APP + 3));
    EXPECT_EQ(got[0].thread, ownerThread.load());
    EXPECT_EQ(got[1].message, static_cast<UINT>(WM_APP + 4));
    EXPECT_EQ(got[1].thread, GetCurrentThreadId());
    DestroyWindow(mine);
}

TEST_F(NativeUser32, ASendWaitingForAWindowThatIsDestroyedGetsZero)
{
    std::atomic<HWND> host {nullptr};
    std::atomic<bool> sent {false};
    std::thread owner([&] {
        host = makeHost();
        while (!sent.load())
            std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        DestroyWindow(host); // without taking its messages
    });
    while (!host.load())
        std::this_thread::yield();
    sent = true;
    EXPECT_EQ(SendMessageA(host, WM_APP + 4, 0, 0), 0);
    owner.join();
    EXPECT_EQ(countOf(WM_APP + 4), 0u);
}

TEST_F(NativeUser32, WithWindowsTimingSleepOneLastsAWholeTick)
{
    NativeUseWindowsTiming(TRUE);
    const auto before = std::chrono::steady_clock::now();
    Sleep(1);
    const auto slept = std::chrono::steady_clock::now() - before;
    NativeUseWindowsTiming(FALSE);
    EXPECT_GE(slept, std::chrono::microseconds(15625));
}
