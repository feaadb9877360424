// Message boxes, answered by a sink in place of the user, with the modal
// loop Windows runs while a box is open: messages sent from other threads
// are answered, and the calling thread's posted messages and timers keep
// being dispatched, to all its windows, until the box is answered.
#include "platform/native/native_host.h"
#include "platform/native/window_model.h"

#include <cstdio>
#include <mutex>

namespace {

// How often the loop asks the sink again while no message comes, so a sink
// may wait for something other than a message.
constexpr DWORD kAskAgainMs = 2;

int defaultSink(void*, HWND, LPCSTR text, LPCSTR caption, UINT)
{
    std::fprintf(stderr, "[message box \"%s\"] %s\n", caption, text);
    return IDOK;
}

std::mutex sinkLock;
NativeMessageBoxSink messageBoxSink = defaultSink;
void* messageBoxContext = nullptr;

// The user's answer, or 0 when the box went unanswered: its window was
// destroyed with its owner, or WM_QUIT came, which is posted again for the
// loop that runs after the box, as Windows does.
int runModalLoop(HWND box, HWND owner, LPCSTR text, LPCSTR caption, UINT type)
{
    NativeMessageBoxSink sink;
    void* context;
    {
        std::lock_guard<std::mutex> guard(sinkLock);
        sink = messageBoxSink;
        context = messageBoxContext;
    }
    for (;;) {
        if (const int answer = sink(context, owner, text, caption, type))
            return answer;
        MSG message;
        if (!native::waitForMessage(message, kAskAgainMs))
            continue;
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));
            return 0;
        }
        DispatchMessageA(&message);
        if (!IsWindow(box))
            return 0;
    }
}

} // namespace

WIN32_NATIVE_API void NativeSetMessageBoxSink(NativeMessageBoxSink sink, void* context)
{
    std::lock_guard<std::mutex> guard(sinkLock);
    messageBoxSink = sink ? sink : defaultSink;
    messageBoxContext = sink ? context : nullptr;
}

// Like Windows, a box whose owner is not a window is not shown.
WIN32_NATIVE_API int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type)
{
    if (owner && !IsWindow(owner)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    caption = caption ? caption : "Error";
    const HWND box = native::addOwnedPopup(owner, "#32770", caption);
    const int answer = runModalLoop(box, owner, text ? text : "", caption, type);
    if (IsWindow(box))
        DestroyWindow(box);
    return answer;
}
