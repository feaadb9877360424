// The least window manager the configuration dialog and a stand-in host
// need: dialogs built from their templates, edit, button and static
// controls, the messages they exchange, and destroying windows as Windows
// does. Window classes, message queues and message boxes have files of
// their own.
//
// Handles are never reused, so a destroyed window's handle stays invalid.
// Procedures are called only on the window's thread, with no lock held,
// so they may call back into this layer, destroying windows included; a
// call that is a send on Windows waits, from another thread, until the
// window's thread takes its messages.
#include "platform/native/dialog_template.h"
#include "platform/native/native_host.h"
#include "platform/native/resources.h"
#include "platform/native/window_model.h"

#include <algorithm>
#include <unistd.h>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

using native::findWindow;
using native::Window;

namespace {

constexpr int kGwlId = -12;

std::unordered_map<uintptr_t, Window>& windows()
{
    static std::unordered_map<uintptr_t, Window> all;
    return all;
}
uintptr_t nextHandle = 0x10000;

HWND childWithId(HWND dialog, int id)
{
    Window* parent = findWindow(dialog);
    if (!parent)
        return nullptr;
    for (HWND child : parent->children) {
        const Window* control = findWindow(child);
        if (control && control->child && static_cast<uint16_t>(control->id) == static_cast<uint16_t>(id))
            return child;
    }
    return nullptr;
}

bool isEdit(const Window& window) { return window.className == "Edit"; }
bool isAutoCheckBox(const Window& window)
{
    return window.className == "Button" && (window.style & BS_TYPEMASK) == BS_AUTOCHECKBOX;
}

// A control's notification is a send to its parent.
void notifyParent(HWND control, WORD code)
{
    HWND parent = nullptr;
    int id = 0;
    {
        std::lock_guard<std::recursive_mutex> guard(native::windowLock());
        const Window* window = findWindow(control);
        if (!window)
            return;
        parent = window->parent;
        id = window->id;
    }
    if (parent)
        SendMessageA(parent, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(control));
}

int copyText(const std::string& text, LPSTR buffer, int size)
{
    if (!buffer || size <= 0)
        return 0;
    const size_t length = std::min(text.size(), static_cast<size_t>(size - 1));
    std::memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
    return static_cast<int>(length);
}

// With the window lock held: the window's record, or none and the error
// Windows gives for a handle that is not a window.
Window* windowOrError(HWND window)
{
    Window* found = findWindow(window);
    if (!found)
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return found;
}

// The window and everything it parents, and owns on this thread, the
// window first, each marked as being destroyed. Windows of another thread
// that it owns are not destroyed with it; they lose their owner.
void collectForDestruction(HWND window, std::vector<HWND>& tree)
{
    const DWORD self = GetCurrentThreadId();
    Window* record = findWindow(window);
    if (!record || record->destroying)
        return;
    record->destroying = true;
    tree.push_back(window);
    const std::vector<HWND> children = record->children;
    for (HWND child : children) {
        Window* found = findWindow(child);
        if (found && !found->child && found->thread != self) {
            found->parent = nullptr;
            auto& list = record->children;
            list.erase(std::remove(list.begin(), list.end(), child), list.end());
            continue;
        }
        collectForDestruction(child, tree);
    }
}

void unlinkFromParent(HWND window, HWND parent)
{
    if (Window* found = findWindow(parent)) {
        auto& siblings = found->children;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), window), siblings.end());
    }
}

// Ends the windows of its thread when the thread ends.
struct ThreadWindows {
    DWORD thread = 0;
    ~ThreadWindows()
    {
        if (thread)
            native::endThreadWindows(thread);
    }
};
thread_local ThreadWindows threadWindows;

} // namespace

std::recursive_mutex& native::windowLock()
{
    static std::recursive_mutex lock;
    return lock;
}

Window* native::findWindow(HWND window)
{
    auto found = windows().find(reinterpret_cast<uintptr_t>(window));
    return found == windows().end() ? nullptr : &found->second;
}

HWND native::addWindow(Window window)
{
    nextHandle += 4;
    const HWND handle = reinterpret_cast<HWND>(nextHandle);
    window.thread = GetCurrentThreadId();
    endWithThread();
    if (Window* parent = findWindow(window.parent))
        parent->children.push_back(handle);
    windows().emplace(nextHandle, std::move(window));
    return handle;
}

LRESULT native::callWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    WNDPROC windowProc = nullptr;
    DLGPROC dialogProc = nullptr;
    {
        std::lock_guard<std::recursive_mutex> guard(windowLock());
        if (const Window* found = findWindow(window)) {
            windowProc = found->windowProc;
            dialogProc = found->dialogProc;
        }
    }
    if (windowProc)
        return windowProc(window, message, wParam, lParam);
    return dialogProc ? dialogProc(window, message, wParam, lParam) : 0;
}

void native::tellParent(HWND window, WORD event)
{
    HWND parent = nullptr;
    int id = 0;
    {
        std::lock_guard<std::recursive_mutex> guard(windowLock());
        const Window* found = findWindow(window);
        if (!found || found->destroying || !found->child || (found->exStyle & WS_EX_NOPARENTNOTIFY))
            return;
        parent = found->parent;
        id = found->id;
    }
    if (parent)
        SendMessageA(parent, WM_PARENTNOTIFY, MAKEWPARAM(event, id), reinterpret_cast<LPARAM>(window));
}

void native::endWithThread() { threadWindows.thread = GetCurrentThreadId(); }

HWND native::addOwnedPopup(HWND owner, const char* className, const char* text)
{
    std::lock_guard<std::recursive_mutex> guard(windowLock());
    Window popup;
    popup.parent = findWindow(owner) ? owner : nullptr;
    popup.className = className;
    popup.text = text;
    return addWindow(popup);
}

WIN32_NATIVE_API HWND CreateDialogParamA(HINSTANCE instance, LPCSTR templateName, HWND parent, DLGPROC dialogProc,
                                         LPARAM initParam)
{
    native::ResourceData resource;
    native::DialogTemplate dialogTemplate;
    if (!native::findResource(instance, native::kResourceTypeDialog, templateName, resource) ||
        !native::parseDialogTemplate(resource.bytes, resource.size, dialogTemplate)) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    HWND dialog = nullptr;
    {
        std::lock_guard<std::recursive_mutex> guard(native::windowLock());
        if (parent && !findWindow(parent)) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return nullptr;
        }
        Window window;
        window.parent = parent;
        window.child = parent && (dialogTemplate.style & WS_CHILD);
        window.className = "#32770";
        window.style = dialogTemplate.style;
        window.exStyle = dialogTemplate.extendedStyle;
        window.dialogUnits = dialogTemplate.rect;
        window.text = dialogTemplate.title;
        window.dialogProc = dialogProc;
        dialog = native::addWindow(window);
        for (const native::ControlTemplate& control : dialogTemplate.controls) {
            Window child;
            child.parent = dialog;
            child.child = true;
            child.className = control.className;
            child.style = control.style;
            child.exStyle = control.extendedStyle | WS_EX_NOPARENTNOTIFY;
            child.id = control.id;
            child.dialogUnits = control.rect;
            child.text = control.text;
            native::addWindow(child);
        }
    }
    native::tellParent(dialog, WM_CREATE);
    native::callWindowProcedure(dialog, WM_INITDIALOG, 0, initParam);
    return dialog;
}

namespace {

// Only the thread that made a window may destroy it; false, with the error
// set, for any other and for a handle that is not a window.
bool mayDestroy(HWND window)
{
    std::lock_guard<std::recursive_mutex> guard(native::windowLock());
    const Window* target = windowOrError(window);
    if (target && target->thread != GetCurrentThreadId()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    return target != nullptr;
}

} // namespace

// As on Windows: a child window tells its parent first. Then WM_DESTROY
// goes to the window, then to its children, while every handle among them
// still works, each on its own thread: to a child another thread made it
// is a send, which waits for that thread. Then they go, with their posted
// messages and timers: this thread's at once, another thread's when that
// thread next takes its messages. A DestroyWindow of a window already on
// its way (from a procedure answering WM_DESTROY) does nothing more.
WIN32_NATIVE_API BOOL DestroyWindow(HWND window)
{
    if (!mayDestroy(window))
        return FALSE;
    native::tellParent(window, WM_DESTROY);
    std::vector<HWND> tree;
    {
        std::lock_guard<std::recursive_mutex> guard(native::windowLock());
        Window* target = findWindow(window);
        if (!target || target->destroying)
            return TRUE;
        unlinkFromParent(window, target->parent);
        collectForDestruction(window, tree);
    }
    for (HWND each : tree)
        native::sendToWindowThread(each, WM_DESTROY, 0, 0, native::callWindowProcedure);
    std::lock_guard<std::recursive_mutex> guard(native::windowLock());
    for (HWND each : tree) {
        const Window* gone = findWindow(each);
        if (gone && gone->thread != GetCurrentThreadId())
            native::freeWhenItsThreadTakesMessages(each, gone->thread);
        else
            native::freeWindow(each);
    }
    return TRUE;
}

void native::freeWindow(HWND window)
{
    std::lock_guard<std::recursive_mutex> guard(windowLock());
    if (const Window* gone = findWindow(window)) {
        forgetWindowMessages(window, gone->thread);
        windows().erase(reinterpret_cast<uintptr_t>(window));
    }
}

void native::endThreadWindows(DWORD thread)
{
    {
        std::lock_guard<std::recursive_mutex> guard(windowLock());
        std::vector<uintptr_t> ending;
        for (auto& [handle, window] : windows()) {
            if (window.thread == thread)
                ending.push_back(handle);
        }
        for (uintptr_t handle : ending) {
            const HWND window = reinterpret_cast<HWND>(handle);
            Window& record = windows().at(handle);
            unlinkFromParent(window, record.parent);
            for (HWND child : record.children) {
                if (Window* found = findWindow(child))
                    found->parent = nullptr;
            }
            forgetWindowMessages(window, thread);
            windows().erase(handle);
        }
    }
    forgetThreadQueue(thread);
}

WIN32_NATIVE_API DWORD GetWindowThreadProcessId(HWND window, LPDWORD process)
{
    std::lock_guard<std::recursive_mutex> guard(native::windowLock());
    const Window* found = windowOrError(window);
    if (!found)
        return 0;
    if (process)
        *process = static_cast<DWORD>(getpid());
    return found->thread;
}

WIN32_NATIVE_API BOOL IsWindow(HWND window)
{
    std::lock_guard<std::recursive_mutex> guard(native::windowLock());
    return findWindow(window) != nullptr;
}

WIN32_NATIVE_API HWND GetParent(HWND window)
{
    std::lock_guard<std::recursive_mutex> guard(native::windowLock());
    const Window* found = findWindow(window);
    return found ? found->parent : nullptr;
}

// Owned windows are listed with the children but are none of them.
WIN32_NATIVE_API HWND GetWindow(HWND window, UINT relation)
{
    std::lock_guard<std::recursive_mutex> guard(native::windowLock());
    const Window* found = findWindow(window);
    if (!found)
        return nullptr;
    const std::vector<HWND>* list = nullptr;
    size_t from = 0;
    if (relation == GW_CHILD) {
        list = &found->children;
    } else if (const Window* parent = findWindow(found->parent); relation == GW_HWNDNEXT && parent && found->child) {
        list = &parent->children;
        from = static_cast<size_t>(std::find(list->begin(), list->end(), window) - list->begin()) + 1;
    } else {
        return nullptr;
    }
    for (size_t at = from; at < list->size(); ++at) {
        const Window* sibling = findWindow((*list)[at]);
        if (sibling && sibling->child)
            return (*list)[at];
    }
    return nullptr;
}

WIN32_NATIVE_API HWND GetDlgItem(HWND dialog, int id)
{
    std::lock_guard<std::recursive_mutex> guard(native::windowLock());
    HWND control = childWithId(dialog, id);
    if (!control)
        SetLastError(findWindow(dialog) ? ERROR_CONTROL_ID_NOT_FOUND : ERROR_INVALID_WINDOW_HANDLE);
    return control;
}

WIN32_NATIVE_API int GetDlgCtrlID(HWND control)
{
    std::lock_guard<std::recursive_mutex> guard(native::windowLock());
    const Window* found = findWindow(control);
    return found ? found->id : 0;
}

WIN32_NATIVE_API int GetClassNameA(HWND window, LPSTR buffer, int size)
{
    std::lock_guard<std::recursive_mutex> guard(native::windowLock());
    const Window* found = findWindow(window);
    return found ? copyText(found->className, buffer, size) : 0;
}

WIN32_NATIVE_API LONG GetWindowLongA(HWND window, int index)
{
    std::lock_guard<std::recursive_mutex> guard(native::windowLock());
    const Window* found = windowOrError(window);
    if (!found)
        return 0;
    if (index == GWL_STYLE)
        return static_cast<LONG>(found->style);
    if (index == kGwlId)
        return found->id;
    return 0;
}

WIN32_NATIVE_API BOOL NativeGetDialogUnitRect(HWND window, RECT* rect)
{
    std::lock_guard<std::recursive_mutex> guard(native::windowLock());
    const Window* found = findWindow(window);
    if (!found || !rect)
        return FALSE;
    *rect = found->dialogUnits;
    return TRUE;
}

namespace {

// Setting an edit control's text notifies its dialog with EN_CHANGE, as
// WM_SETTEXT does for single-line edits on Windows.
LRESULT setTextHere(HWND window, UINT, WPARAM, LPARAM lParam)
{
    const auto text = reinterpret_cast<LPCSTR>(lParam);
    bool notify = false;
    {
        std::lock_guard<std::recursive_mutex> guard(native::windowLock());
        Window* found = windowOrError(window);
        if (!found)
            return FALSE;
        found->text = text ? text : "";
        notify = isEdit(*found);
    }
    if (notify)
        notifyParent(window, EN_CHANGE);
    return TRUE;
}

LRESULT getTextHere(HWND window, UINT, WPARAM size, LPARAM buffer)
{
    std::lock_guard<std::recursive_mutex> guard(native::windowLock());
    const Window* found = windowOrError(window);
    if (!found)
        return 0;
    return copyText(found->text, reinterpret_cast<LPSTR>(buffer), static_cast<int>(size));
}

} // namespace

// Reading or setting a window's text is a send on Windows, so from another
// thread it waits for the window's thread.
WIN32_NATIVE_API BOOL SetWindowTextA(HWND window, LPCSTR text)
{
    return static_cast<BOOL>(
        native::sendToWindowThread(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text), setTextHere));
}

WIN32_NATIVE_API int GetWindowTextA(HWND window, LPSTR buffer, int size)
{
    if (buffer && size > 0)
        buffer[0] = '\0';
    return static_cast<int>(native::sendToWindowThread(window, WM_GETTEXT, static_cast<WPARAM>(size),
                                                       reinterpret_cast<LPARAM>(buffer), getTextHere));
}

WIN32_NATIVE_API BOOL SetDlgItemTextA(HWND dialog, int id, LPCSTR text)
{
    HWND control = GetDlgItem(dialog, id);
    return control ? SetWindowTextA(control, text) : FALSE;
}

WIN32_NATIVE_API UINT GetDlgItemTextA(HWND dialog, int id, LPSTR buffer, int size)
{
    HWND control = GetDlgItem(dialog, id);
    if (!control) {
        if (buffer && size > 0)
            buffer[0] = '\0';
        return 0;
    }
    return static_cast<UINT>(GetWindowTextA(control, buffer, size));
}

WIN32_NATIVE_API BOOL CheckDlgButton(HWND dialog, int id, UINT check)
{
    HWND control = GetDlgItem(dialog, id);
    if (!control)
        return FALSE;
    SendMessageA(control, BM_SETCHECK, check, 0);
    return TRUE;
}

WIN32_NATIVE_API UINT IsDlgButtonChecked(HWND dialog, int id)
{
    HWND control = GetDlgItem(dialog, id);
    return control ? static_cast<UINT>(SendMessageA(control, BM_GETCHECK, 0, 0)) : BST_UNCHECKED;
}

namespace {

// What a control does itself, answered with the window lock held; false
// for what goes on to a procedure or to the control's own handling below.
bool answerFromRecord(Window& found, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    switch (message) {
    case WM_GETTEXT:
        result = copyText(found.text, reinterpret_cast<LPSTR>(lParam), static_cast<int>(wParam));
        return true;
    case WM_GETTEXTLENGTH:
        result = static_cast<LRESULT>(found.text.size());
        return true;
    case BM_GETCHECK:
        result = found.checkState;
        return true;
    case BM_SETCHECK:
        found.checkState = static_cast<UINT>(wParam);
        result = 0;
        return true;
    default:
        return false;
    }
}

LRESULT sendHere(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    bool hasProcedure = false;
    bool autoCheck = false;
    {
        std::lock_guard<std::recursive_mutex> guard(native::windowLock());
        Window* found = windowOrError(window);
        if (!found)
            return 0;
        LRESULT result = 0;
        // A window of a registered class answers everything itself.
        if (!found->windowProc && answerFromRecord(*found, message, wParam, lParam, result))
            return result;
        hasProcedure = found->dialogProc || found->windowProc;
        autoCheck = isAutoCheckBox(*found);
    }
    if (hasProcedure)
        return native::callWindowProcedure(window, message, wParam, lParam);
    switch (message) {
    case WM_SETTEXT:
        return setTextHere(window, message, wParam, lParam);
    case BM_CLICK:
        if (autoCheck) {
            std::lock_guard<std::recursive_mutex> guard(native::windowLock());
            if (Window* found = findWindow(window))
                found->checkState = found->checkState == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
        }
        notifyParent(window, BN_CLICKED);
        return 0;
    default:
        return 0;
    }
}

} // namespace

WIN32_NATIVE_API LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return native::sendToWindowThread(window, message, wParam, lParam, sendHere);
}

WIN32_NATIVE_API LRESULT SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam)
{
    HWND control = GetDlgItem(dialog, id);
    return control ? SendMessageA(control, message, wParam, lParam) : 0;
}
