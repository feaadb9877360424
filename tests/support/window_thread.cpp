#include "tests/support/window_thread.h"

#include <future>
#include <mutex>

namespace {

constexpr char kClassName[] = "TestWindowThread";
constexpr UINT kRun = WM_APP;
constexpr UINT kStop = WM_APP + 1;

} // namespace

WindowThread::WindowThread()
{
    static std::once_flag registered;
    std::call_once(registered, [] {
        WNDCLASSA windowClass {};
        windowClass.lpfnWndProc = procedure;
        windowClass.lpszClassName = kClassName;
        RegisterClassA(&windowClass);
    });
    std::promise<HWND> made;
    thread_ = std::thread([this, &made] {
        const HWND own = CreateWindowExA(0, kClassName, "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
        made.set_value(own);
        loop();
        DestroyWindow(own);
    });
    window_ = made.get_future().get();
}

WindowThread::~WindowThread()
{
    PostMessageA(window_, kStop, 0, 0);
    thread_.join();
}

// A send: from another thread it waits for the loop, as the user's click does.
void WindowThread::run(const std::function<void()>& work)
{
    SendMessageA(window_, kRun, 0, reinterpret_cast<LPARAM>(&work));
}

void WindowThread::loop()
{
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

LRESULT CALLBACK WindowThread::procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == kRun)
        (*reinterpret_cast<const std::function<void()>*>(lParam))();
    else if (message == kStop)
        PostQuitMessage(0);
    return DefWindowProcA(window, message, wParam, lParam);
}
