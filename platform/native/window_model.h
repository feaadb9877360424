// What the USER32 files of the native layer share: the window records,
// the lock that guards them, and the hooks between windows and message
// queues. Lock order: the window lock before the queue lock, never the
// other way; no procedure is called with either held.
#pragma once

#include "platform/native/win32_native.h"

#include <mutex>
#include <string>
#include <vector>

namespace native {

struct Window {
    HWND parent = nullptr; // the parent of a child window, the owner of any other
    bool child = false;    // a child window (a control, a child dialog), not an owned one
    DWORD thread = 0;      // the thread that created it
    std::string className;
    DWORD style = 0;
    DWORD exStyle = 0;
    int id = 0;
    RECT dialogUnits {};
    std::string text;
    UINT checkState = BST_UNCHECKED;
    DLGPROC dialogProc = nullptr;
    WNDPROC windowProc = nullptr;
    bool destroying = false;    // told WM_DESTROY, or about to be
    std::vector<HWND> children; // child and owned windows, in creation order
};

std::recursive_mutex& windowLock();

// With the window lock held. A record stays valid until the lock is
// released; handles are never reused. addWindow gives the window to the
// calling thread and lists it with its parent or owner.
Window* findWindow(HWND window);
HWND addWindow(Window window);

// Calls the window's procedure, or its dialog procedure, with no lock
// held. 0 when the window has neither or is gone.
LRESULT callWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// A child window tells its parent that it was made (WM_CREATE) or is
// being destroyed (WM_DESTROY) with WM_PARENTNOTIFY, unless it carries
// WS_EX_NOPARENTNOTIFY, as the dialog manager's controls do; a window
// already being destroyed tells nothing more. A send: from another thread
// it waits for the parent's. With no lock held.
void tellParent(HWND window, WORD event);

// Drops a destroyed window's posted messages and timers from its thread's
// queue, as DestroyWindow does on Windows, and answers 0 to whoever is
// still waiting in a send to it. With the window lock held.
void forgetWindowMessages(HWND window, DWORD thread);

// A destroyed window goes, with its posted messages and timers. With no
// lock held, or the window lock.
void freeWindow(HWND window);

// A window of `thread` that another thread destroyed goes when `thread`
// next takes or waits for messages, before anything is returned, as with
// Wine's USER32: it is a window until then. With the window lock held.
void freeWhenItsThreadTakesMessages(HWND window, DWORD thread);

// Frees the windows of a thread that ends, as Windows does: none is told,
// since the thread can take no message any more; windows of other threads
// that they owned lose their owner; a send still waiting for one gets 0;
// the thread's queue goes too.
void endThreadWindows(DWORD thread);
void forgetThreadQueue(DWORD thread);

// Has the calling thread's windows and queue freed when it ends; called
// when it first makes either.
void endWithThread();

// What a message sent to a window does, run on the window's thread.
using Delivery = LRESULT (*)(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// A send, as on Windows: on the window's own thread (or to no window) a
// direct call; from another thread the message waits in the window
// thread's queue until that thread takes its messages, and the caller
// waits too, answering messages sent to its own windows meanwhile, so two
// threads sending to each other do not stop. 0 when the window is
// destroyed, or its thread ends, before that thread took the message.
LRESULT sendToWindowThread(HWND window, UINT message, WPARAM wParam, LPARAM lParam, Delivery deliver);

// Takes the calling thread's next message, waiting at most `milliseconds`
// for one. False when none came.
bool waitForMessage(MSG& message, DWORD milliseconds);

// A window with no procedure of ours, owned by `owner`: a message box.
// Destroying its owner on the same thread destroys it, as on Windows.
HWND addOwnedPopup(HWND owner, const char* className, const char* text);

} // namespace native
