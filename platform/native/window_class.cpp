// Windows of a host's own: registered classes, windows made from them, and
// the default procedure, in the least form a stand-in host needs to own a
// window that receives timers and posted messages.
#include "platform/native/native_host.h"
#include "platform/native/window_model.h"

#include <map>
#include <strings.h>

namespace {

struct ClassNameLess {
    bool operator()(const std::string& a, const std::string& b) const { return strcasecmp(a.c_str(), b.c_str()) < 0; }
};

struct WindowClass {
    ATOM atom;
    WNDPROC procedure;
};

// Class names are case-insensitive, as on Windows. Guarded by the window lock.
std::map<std::string, WindowClass, ClassNameLess>& classes()
{
    static std::map<std::string, WindowClass, ClassNameLess> all;
    return all;
}
ATOM lastAtom = 0xC000;

bool validName(LPCSTR name) { return name && !IS_INTRESOURCE(name) && *name; }

} // namespace

WIN32_NATIVE_API ATOM RegisterClassA(const WNDCLASSA* windowClass)
{
    if (!windowClass || !windowClass->lpfnWndProc || !validName(windowClass->lpszClassName)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::lock_guard<std::recursive_mutex> guard(native::windowLock());
    if (classes().count(windowClass->lpszClassName)) {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    ++lastAtom;
    classes().emplace(windowClass->lpszClassName, WindowClass {lastAtom, windowClass->lpfnWndProc});
    return lastAtom;
}

WIN32_NATIVE_API BOOL UnregisterClassA(LPCSTR className, HINSTANCE)
{
    std::lock_guard<std::recursive_mutex> guard(native::windowLock());
    if (!validName(className) || classes().erase(className) == 0) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    return TRUE;
}

// WM_CREATE is the only creation message sent, and then WM_PARENTNOTIFY
// to a child's parent; a procedure that answers WM_CREATE with -1 gets no
// window.
WIN32_NATIVE_API HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                                      int width, int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param)
{
    HWND window = nullptr;
    {
        std::lock_guard<std::recursive_mutex> guard(native::windowLock());
        auto found = validName(className) ? classes().find(className) : classes().end();
        if (found == classes().end()) {
            SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
            return nullptr;
        }
        if (parent ? !native::findWindow(parent) : (style & WS_CHILD) != 0) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return nullptr;
        }
        native::Window record;
        record.parent = parent;
        record.child = (style & WS_CHILD) != 0;
        record.className = found->first;
        record.style = style;
        record.exStyle = exStyle;
        record.id = record.child ? static_cast<int>(reinterpret_cast<intptr_t>(menu)) : 0;
        record.text = windowName ? windowName : "";
        record.windowProc = found->second.procedure;
        window = native::addWindow(record);
    }
    CREATESTRUCTA create {param, instance, menu, parent, height, width, y, x, static_cast<LONG>(style),
                          windowName, className, exStyle};
    if (native::callWindowProcedure(window, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create)) == -1) {
        if (IsWindow(window))
            DestroyWindow(window);
        return nullptr;
    }
    native::tellParent(window, WM_CREATE);
    return window;
}

// WM_CLOSE destroys the window; everything else is ignored.
WIN32_NATIVE_API LRESULT DefWindowProcA(HWND window, UINT message, WPARAM, LPARAM)
{
    if (message == WM_CLOSE)
        DestroyWindow(window);
    return 0;
}
