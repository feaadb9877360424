// A host's window thread: it runs its message loop until it is stopped and
// does what it is handed between its messages, as a host's window thread
// does what the user asks. Windows made there are its own, so another
// thread's sends to them wait until this loop takes them, as on Windows.
#pragma once

#include "platform/win32.h"

#include <functional>
#include <thread>

class WindowThread {
public:
    WindowThread();
    ~WindowThread(); // ends the loop and waits for the thread
    WindowThread(const WindowThread&) = delete;
    WindowThread& operator=(const WindowThread&) = delete;

    // Runs `work` on the window thread and waits until it is done.
    void run(const std::function<void()>& work);

private:
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static void loop();

    std::thread thread_;
    HWND window_ = nullptr;
};
