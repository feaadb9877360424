// The native USER32's promises that the real one cannot check:
// tests/platform/user32_claims.cpp checks the rest against both.
#include "platform/native/native_host.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

TEST(NativeUser32, WithWindowsTimingSleepOneLastsAWholeTick)
{
    NativeUseWindowsTiming(TRUE);
    const auto before = std::chrono::steady_clock::now();
    Sleep(1);
    const auto slept = std::chrono::steady_clock::now() - before;
    NativeUseWindowsTiming(FALSE);
    EXPECT_GE(slept, std::chrono::microseconds(15625));
}

namespace {

LRESULT CALLBACK destroysItsParent(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY && GetParent(window)) {
        EXPECT_TRUE(DestroyWindow(GetParent(window)));
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

} // namespace

// Wine tells the parent WM_DESTROY again, recursively; the model need only
// come through it, each window told once.
TEST(NativeUser32, AChildDestroyingItsParentFromWmDestroyLeavesBothGone)
{
    WNDCLASSA windowClass {};
    windowClass.lpfnWndProc = destroysItsParent;
    windowClass.lpszClassName = "DestroysItsParent";
    ASSERT_NE(RegisterClassA(&windowClass), 0);
    HWND parent = CreateWindowExA(0, "DestroysItsParent", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    HWND child = CreateWindowExA(0, "DestroysItsParent", "", WS_CHILD, 0, 0, 1, 1, parent, nullptr, nullptr, nullptr);
    EXPECT_TRUE(DestroyWindow(parent));
    EXPECT_FALSE(IsWindow(parent));
    EXPECT_FALSE(IsWindow(child));
    UnregisterClassA("DestroysItsParent", nullptr);
}

// Windows frees a thread's message queue when the thread ends, whether it
// made a window or only used the queue.
TEST(NativeUser32, AThreadThatMadeNoWindowTakesItsMessageQueueWithIt)
{
    const int before = NativeMessageQueueCount();
    std::thread([before] {
        EXPECT_TRUE(PostMessageA(nullptr, WM_APP, 0, 0));
        MSG message;
        EXPECT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
        EXPECT_NE(SetTimer(nullptr, 0, 10, nullptr), 0u);
        EXPECT_EQ(NativeMessageQueueCount(), before + 1);
    }).join();
    EXPECT_EQ(NativeMessageQueueCount(), before);
}
