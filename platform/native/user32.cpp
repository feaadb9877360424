// The least window manager the configuration dialog needs: dialogs built
// from their templates, edit, button and static controls, the messages
// they exchange, and message boxes handed to a sink.
//
// Handles are never reused, so a destroyed window's handle stays invalid.
// Dialog procedures are called on the calling thread with no lock held, so
// they may call back into this layer.
#include "platform/native/dialog_template.h"
#include "platform/native/native_host.h"
#include "platform/native/resources.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

constexpr int kGwlId = -12;

struct Window {
    HWND parent = nullptr;
    std::string className;
    DWORD style = 0;
    int id = 0;
    RECT dialogUnits {};
    std::string text;
    UINT checkState = BST_UNCHECKED;
    DLGPROC dialogProc = nullptr;
    std::vector<HWND> children;
};

std::recursive_mutex modelLock;
std::unordered_map<uintptr_t, Window>& windows()
{
    static std::unordered_map<uintptr_t, Window> all;
    return all;
}
uintptr_t nextHandle = 0x10000;

Window* find(HWND window)
{
    auto found = windows().find(reinterpret_cast<uintptr_t>(window));
    return found == windows().end() ? nullptr : &found->second;
}

HWND addWindow(Window window)
{
    nextHandle += 4;
    windows().emplace(nextHandle, std::move(window));
    return reinterpret_cast<HWND>(nextHandle);
}

HWND childWithId(HWND dialog, int id)
{
    Window* parent = find(dialog);
    if (!parent)
        return nullptr;
    for (HWND child : parent->children) {
        const Window* control = find(child);
        if (control && static_cast<uint16_t>(control->id) == static_cast<uint16_t>(id))
            return child;
    }
    return nullptr;
}

bool isEdit(const Window& window) { return window.className == "Edit"; }
bool isAutoCheckBox(const Window& window)
{
    return window.className == "Button" && (window.style & BS_TYPEMASK) == BS_AUTOCHECKBOX;
}

// Sends a message to a dialog's procedure without holding the model lock.
INT_PTR callDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    DLGPROC proc = nullptr;
    {
        std::lock_guard<std::recursive_mutex> guard(modelLock);
        const Window* window = find(dialog);
        if (window)
            proc = window->dialogProc;
    }
    return proc ? proc(dialog, message, wParam, lParam) : 0;
}

void notifyParent(HWND control, WORD code)
{
    HWND parent = nullptr;
    int id = 0;
    {
        std::lock_guard<std::recursive_mutex> guard(modelLock);
        const Window* window = find(control);
        if (!window)
            return;
        parent = window->parent;
        id = window->id;
    }
    if (parent)
        callDialogProc(parent, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(control));
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

int defaultSink(void*, HWND, LPCSTR text, LPCSTR caption, UINT)
{
    std::fprintf(stderr, "[message box \"%s\"] %s\n", caption ? caption : "", text ? text : "");
    return IDOK;
}

std::mutex sinkLock;
NativeMessageBoxSink messageBoxSink = defaultSink;
void* messageBoxContext = nullptr;

} // namespace

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
        std::lock_guard<std::recursive_mutex> guard(modelLock);
        Window window;
        window.parent = parent;
        window.className = "#32770";
        window.style = dialogTemplate.style;
        window.dialogUnits = dialogTemplate.rect;
        window.text = dialogTemplate.title;
        window.dialogProc = dialogProc;
        dialog = addWindow(window);
        for (const native::ControlTemplate& control : dialogTemplate.controls) {
            Window child;
            child.parent = dialog;
            child.className = control.className;
            child.style = control.style;
            child.id = control.id;
            child.dialogUnits = control.rect;
            child.text = control.text;
            HWND handle = addWindow(child);
            find(dialog)->children.push_back(handle);
        }
    }
    callDialogProc(dialog, WM_INITDIALOG, 0, initParam);
    return dialog;
}

WIN32_NATIVE_API BOOL DestroyWindow(HWND window)
{
    if (!IsWindow(window)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    callDialogProc(window, WM_DESTROY, 0, 0);
    std::lock_guard<std::recursive_mutex> guard(modelLock);
    Window* target = find(window);
    if (!target)
        return TRUE; // the procedure destroyed it already
    for (HWND child : target->children)
        windows().erase(reinterpret_cast<uintptr_t>(child));
    if (Window* parent = find(target->parent)) {
        auto& siblings = parent->children;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), window), siblings.end());
    }
    windows().erase(reinterpret_cast<uintptr_t>(window));
    return TRUE;
}

WIN32_NATIVE_API BOOL IsWindow(HWND window)
{
    std::lock_guard<std::recursive_mutex> guard(modelLock);
    return find(window) != nullptr;
}

WIN32_NATIVE_API HWND GetParent(HWND window)
{
    std::lock_guard<std::recursive_mutex> guard(modelLock);
    const Window* found = find(window);
    return found ? found->parent : nullptr;
}

WIN32_NATIVE_API HWND GetWindow(HWND window, UINT relation)
{
    std::lock_guard<std::recursive_mutex> guard(modelLock);
    const Window* found = find(window);
    if (!found)
        return nullptr;
    if (relation == GW_CHILD)
        return found->children.empty() ? nullptr : found->children.front();
    if (relation == GW_HWNDNEXT) {
        const Window* parent = find(found->parent);
        if (!parent)
            return nullptr;
        auto self = std::find(parent->children.begin(), parent->children.end(), window);
        if (self == parent->children.end() || ++self == parent->children.end())
            return nullptr;
        return *self;
    }
    return nullptr;
}

WIN32_NATIVE_API HWND GetDlgItem(HWND dialog, int id)
{
    std::lock_guard<std::recursive_mutex> guard(modelLock);
    HWND control = childWithId(dialog, id);
    if (!control)
        SetLastError(find(dialog) ? ERROR_CONTROL_ID_NOT_FOUND : ERROR_INVALID_WINDOW_HANDLE);
    return control;
}

WIN32_NATIVE_API int GetDlgCtrlID(HWND control)
{
    std::lock_guard<std::recursive_mutex> guard(modelLock);
    const Window* found = find(control);
    return found ? found->id : 0;
}

WIN32_NATIVE_API int GetClassNameA(HWND window, LPSTR buffer, int size)
{
    std::lock_guard<std::recursive_mutex> guard(modelLock);
    const Window* found = find(window);
    return found ? copyText(found->className, buffer, size) : 0;
}

WIN32_NATIVE_API LONG GetWindowLongA(HWND window, int index)
{
    std::lock_guard<std::recursive_mutex> guard(modelLock);
    const Window* found = find(window);
    if (!found) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (index == GWL_STYLE)
        return static_cast<LONG>(found->style);
    if (index == kGwlId)
        return found->id;
    return 0;
}

WIN32_NATIVE_API BOOL NativeGetDialogUnitRect(HWND window, RECT* rect)
{
    std::lock_guard<std::recursive_mutex> guard(modelLock);
    const Window* found = find(window);
    if (!found || !rect)
        return FALSE;
    *rect = found->dialogUnits;
    return TRUE;
}

// Setting an edit control's text notifies its dialog with EN_CHANGE, as
// WM_SETTEXT does for single-line edits on Windows.
WIN32_NATIVE_API BOOL SetWindowTextA(HWND window, LPCSTR text)
{
    bool notify = false;
    {
        std::lock_guard<std::recursive_mutex> guard(modelLock);
        Window* found = find(window);
        if (!found) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        found->text = text ? text : "";
        notify = isEdit(*found);
    }
    if (notify)
        notifyParent(window, EN_CHANGE);
    return TRUE;
}

WIN32_NATIVE_API int GetWindowTextA(HWND window, LPSTR buffer, int size)
{
    std::lock_guard<std::recursive_mutex> guard(modelLock);
    const Window* found = find(window);
    if (!found) {
        if (buffer && size > 0)
            buffer[0] = '\0';
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    return copyText(found->text, buffer, size);
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
    std::lock_guard<std::recursive_mutex> guard(modelLock);
    Window* control = find(childWithId(dialog, id));
    if (!control)
        return FALSE;
    control->checkState = check;
    return TRUE;
}

WIN32_NATIVE_API UINT IsDlgButtonChecked(HWND dialog, int id)
{
    std::lock_guard<std::recursive_mutex> guard(modelLock);
    const Window* control = find(childWithId(dialog, id));
    return control ? control->checkState : BST_UNCHECKED;
}

WIN32_NATIVE_API LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    bool isDialog = false;
    bool autoCheck = false;
    {
        std::lock_guard<std::recursive_mutex> guard(modelLock);
        Window* found = find(window);
        if (!found) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        isDialog = found->dialogProc != nullptr;
        autoCheck = isAutoCheckBox(*found);
        switch (message) {
        case WM_GETTEXT:
            return copyText(found->text, reinterpret_cast<LPSTR>(lParam), static_cast<int>(wParam));
        case WM_GETTEXTLENGTH:
            return static_cast<LRESULT>(found->text.size());
        case BM_GETCHECK:
            return found->checkState;
        case BM_SETCHECK:
            found->checkState = static_cast<UINT>(wParam);
            return 0;
        default:
            break;
        }
    }
    if (isDialog)
        return callDialogProc(window, message, wParam, lParam);
    switch (message) {
    case WM_SETTEXT:
        return SetWindowTextA(window, reinterpret_cast<LPCSTR>(lParam));
    case BM_CLICK:
        if (autoCheck) {
            std::lock_guard<std::recursive_mutex> guard(modelLock);
            if (Window* found = find(window))
                found->checkState = found->checkState == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
        }
        notifyParent(window, BN_CLICKED);
        return 0;
    default:
        return 0;
    }
}

WIN32_NATIVE_API LRESULT SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam)
{
    HWND control = GetDlgItem(dialog, id);
    return control ? SendMessageA(control, message, wParam, lParam) : 0;
}

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
    NativeMessageBoxSink sink;
    void* context;
    {
        std::lock_guard<std::mutex> guard(sinkLock);
        sink = messageBoxSink;
        context = messageBoxContext;
    }
    return sink(context, owner, text ? text : "", caption ? caption : "Error", type);
}
