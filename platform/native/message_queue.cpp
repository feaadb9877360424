// Each thread's message queue: sent and posted messages, timers and the
// quit flag. A message posted or sent to a window goes to the queue of the
// thread that made the window. Sent messages are answered whenever the
// thread takes or waits for messages, before anything is returned; the rest
// come out in Windows' order: posted messages first, then WM_QUIT, then
// WM_TIMER, which is made when a timer is due and never queued, so a timer
// that fell behind gives one WM_TIMER, not several.
#include "platform/native/native_host.h"
#include "platform/native/timing.h"
#include "platform/native/window_model.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <unordered_map>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Timer {
    HWND window; // null for a thread timer
    UINT_PTR id;
    TIMERPROC procedure;
    Clock::duration period;
    Clock::time_point due;
};

// Lives on the sender's stack until it is answered.
struct SentMessage {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    native::Delivery deliver;
    DWORD sender;
    LRESULT result = 0;
    bool answered = false;
};

struct ThreadQueue {
    std::deque<SentMessage*> sent;
    std::deque<HWND> destroyedElsewhere; // windows of this thread that another destroyed, freed here
    std::deque<MSG> posted;
    std::vector<Timer> timers;
    bool quit = false;
    int exitCode = 0;
    std::condition_variable changed;
};

struct Filter {
    HWND window;
    UINT first;
    UINT last;

    bool takes(HWND target, UINT message) const
    {
        if (window && target != window)
            return false;
        return (first == 0 && last == 0) || (message >= first && message <= last);
    }
};

std::mutex queueLock;
std::unordered_map<DWORD, ThreadQueue>& queues()
{
    static std::unordered_map<DWORD, ThreadQueue> all;
    return all;
}
UINT_PTR lastThreadTimerId = 0x7F00;

// With the queue lock held; references stay valid as queues are added.
ThreadQueue& queueOf(DWORD thread) { return queues()[thread]; }

// The calling thread's queue, which goes when the thread ends, as on
// Windows, whether it ever made a window or not. With the queue lock held.
ThreadQueue& ownQueue()
{
    native::endWithThread();
    return queueOf(GetCurrentThreadId());
}

DWORD tickNow()
{
    return static_cast<DWORD>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count());
}

MSG makeMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return MSG {window, message, wParam, lParam, tickNow(), {0, 0}};
}

Timer* dueTimer(ThreadQueue& queue, const Filter& filter, Clock::time_point now)
{
    Timer* earliest = nullptr;
    for (Timer& timer : queue.timers) {
        if (timer.due <= now && filter.takes(timer.window, WM_TIMER) && (!earliest || timer.due < earliest->due))
            earliest = &timer;
    }
    return earliest;
}

// The next message the filter lets through, removed if asked.
bool nextMessage(ThreadQueue& queue, const Filter& filter, bool remove, MSG& out)
{
    for (auto posted = queue.posted.begin(); posted != queue.posted.end(); ++posted) {
        if (filter.takes(posted->hwnd, posted->message)) {
            out = *posted;
            if (remove)
                queue.posted.erase(posted);
            return true;
        }
    }
    if (queue.quit) { // whatever the filter
        out = makeMessage(nullptr, WM_QUIT, static_cast<WPARAM>(queue.exitCode), 0);
        if (remove)
            queue.quit = false;
        return true;
    }
    const Clock::time_point now = Clock::now();
    if (Timer* timer = dueTimer(queue, filter, now)) {
        out = makeMessage(timer->window, WM_TIMER, timer->id, reinterpret_cast<LPARAM>(timer->procedure));
        // Every period missed meanwhile is folded into this one message.
        if (remove)
            timer->due += ((now - timer->due) / timer->period + 1) * timer->period;
        return true;
    }
    return false;
}

void answer(SentMessage& sent, LRESULT result)
{
    sent.result = result;
    sent.answered = true;
    queueOf(sent.sender).changed.notify_all();
}

// Runs the messages other threads sent to this one, then frees the windows
// they destroyed, with the queue lock released around each, since a
// procedure may send or post in turn, and freeing takes the window lock.
void answerSentMessages(std::unique_lock<std::mutex>& lock, ThreadQueue& queue)
{
    while (!queue.sent.empty() || !queue.destroyedElsewhere.empty()) {
        if (queue.sent.empty()) {
            const HWND window = queue.destroyedElsewhere.front();
            queue.destroyedElsewhere.pop_front();
            lock.unlock();
            native::freeWindow(window);
            lock.lock();
            continue;
        }
        SentMessage& sent = *queue.sent.front();
        queue.sent.pop_front();
        lock.unlock();
        const LRESULT result = sent.deliver(sent.window, sent.message, sent.wParam, sent.lParam);
        lock.lock();
        answer(sent, result);
    }
}

Clock::time_point nextTimerDue(const ThreadQueue& queue, const Filter& filter)
{
    Clock::time_point earliest = Clock::time_point::max();
    for (const Timer& timer : queue.timers) {
        if (filter.takes(timer.window, WM_TIMER))
            earliest = std::min(earliest, timer.due);
    }
    return earliest;
}

// Waits for a message the filter lets through and removes it; false when
// the deadline passed first.
bool takeMessage(const Filter& filter, Clock::time_point deadline, MSG& out)
{
    std::unique_lock<std::mutex> lock(queueLock);
    ThreadQueue& queue = ownQueue();
    for (;;) {
        answerSentMessages(lock, queue);
        if (nextMessage(queue, filter, true, out))
            return true;
        const Clock::time_point now = Clock::now();
        if (deadline <= now)
            return false;
        const Clock::time_point wake = std::min(deadline, nextTimerDue(queue, filter));
        if (wake == Clock::time_point::max())
            queue.changed.wait(lock);
        else if (wake > now)
            queue.changed.wait_until(lock, wake);
    }
}

// The queue of the window's thread, or of the calling thread for no window.
// With the window lock held; 0 when the window is not one.
DWORD targetThread(HWND window)
{
    if (!window)
        return GetCurrentThreadId();
    const native::Window* found = native::findWindow(window);
    if (!found) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    return found->thread;
}

// Runs `change` on the queue of the window's thread with the window and queue
// locks held; `failed` when the window is not one.
template <typename Result, typename Change>
Result changeQueueOf(HWND window, Result failed, Change change)
{
    std::lock_guard<std::recursive_mutex> windows(native::windowLock());
    const DWORD thread = targetThread(window);
    if (!thread)
        return failed;
    std::lock_guard<std::mutex> guard(queueLock);
    return change(window ? queueOf(thread) : ownQueue());
}

} // namespace

void native::forgetWindowMessages(HWND window, DWORD thread)
{
    std::lock_guard<std::mutex> guard(queueLock);
    ThreadQueue& queue = queueOf(thread);
    queue.posted.erase(std::remove_if(queue.posted.begin(), queue.posted.end(),
                                      [window](const MSG& message) { return message.hwnd == window; }),
                       queue.posted.end());
    queue.timers.erase(std::remove_if(queue.timers.begin(), queue.timers.end(),
                                      [window](const Timer& timer) { return timer.window == window; }),
                       queue.timers.end());
    for (auto sent = queue.sent.begin(); sent != queue.sent.end();) {
        if ((*sent)->window != window) {
            ++sent;
            continue;
        }
        answer(**sent, 0);
        sent = queue.sent.erase(sent);
    }
}

void native::freeWhenItsThreadTakesMessages(HWND window, DWORD thread)
{
    std::lock_guard<std::mutex> guard(queueLock);
    ThreadQueue& queue = queueOf(thread);
    queue.destroyedElsewhere.push_back(window);
    queue.changed.notify_all();
}

void native::forgetThreadQueue(DWORD thread)
{
    std::lock_guard<std::mutex> guard(queueLock);
    auto queue = queues().find(thread);
    if (queue == queues().end())
        return;
    for (SentMessage* sent : queue->second.sent)
        answer(*sent, 0);
    queues().erase(queue);
}

LRESULT native::sendToWindowThread(HWND window, UINT message, WPARAM wParam, LPARAM lParam, Delivery deliver)
{
    const DWORD self = GetCurrentThreadId();
    SentMessage sent {window, message, wParam, lParam, deliver, self};
    std::unique_lock<std::recursive_mutex> windows(native::windowLock());
    const native::Window* found = native::findWindow(window);
    if (!found || found->thread == self) {
        windows.unlock();
        return deliver(window, message, wParam, lParam);
    }
    // Queued before the window lock goes, so DestroyWindow finds it.
    std::unique_lock<std::mutex> lock(queueLock);
    ThreadQueue& owner = queueOf(found->thread);
    owner.sent.push_back(&sent);
    owner.changed.notify_all();
    windows.unlock();
    ThreadQueue& own = ownQueue();
    for (;;) {
        answerSentMessages(lock, own);
        if (sent.answered)
            return sent.result;
        own.changed.wait(lock);
    }
}

bool native::waitForMessage(MSG& message, DWORD milliseconds)
{
    return takeMessage(Filter {nullptr, 0, 0}, Clock::now() + std::chrono::milliseconds(milliseconds), message);
}

WIN32_NATIVE_API BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return changeQueueOf(window, FALSE, [&](ThreadQueue& queue) {
        queue.posted.push_back(makeMessage(window, message, wParam, lParam));
        queue.changed.notify_all();
        return TRUE;
    });
}

WIN32_NATIVE_API void PostQuitMessage(int exitCode)
{
    std::lock_guard<std::mutex> guard(queueLock);
    ThreadQueue& queue = ownQueue();
    queue.quit = true;
    queue.exitCode = exitCode;
    queue.changed.notify_all();
}

WIN32_NATIVE_API BOOL GetMessageA(MSG* message, HWND window, UINT first, UINT last)
{
    if (!message || (window && !IsWindow(window))) {
        SetLastError(message ? ERROR_INVALID_WINDOW_HANDLE : ERROR_INVALID_PARAMETER);
        return -1;
    }
    takeMessage(Filter {window, first, last}, Clock::time_point::max(), *message);
    return message->message != WM_QUIT;
}

WIN32_NATIVE_API BOOL PeekMessageA(MSG* message, HWND window, UINT first, UINT last, UINT remove)
{
    if (!message)
        return FALSE;
    std::unique_lock<std::mutex> lock(queueLock);
    ThreadQueue& queue = ownQueue();
    answerSentMessages(lock, queue);
    return nextMessage(queue, Filter {window, first, last}, (remove & PM_REMOVE) != 0, *message);
}

WIN32_NATIVE_API BOOL TranslateMessage(const MSG*) { return FALSE; }

WIN32_NATIVE_API int NativeMessageQueueCount()
{
    std::lock_guard<std::mutex> guard(queueLock);
    return static_cast<int>(queues().size());
}

// A WM_TIMER that names a procedure goes to it, with the window or not.
WIN32_NATIVE_API LRESULT DispatchMessageA(const MSG* message)
{
    if (!message)
        return 0;
    if (message->message == WM_TIMER && message->lParam) {
        reinterpret_cast<TIMERPROC>(message->lParam)(message->hwnd, WM_TIMER, message->wParam, message->time);
        return 0;
    }
    if (!message->hwnd)
        return 0;
    // Another thread's window is not this thread's to call.
    const DWORD thread = GetWindowThreadProcessId(message->hwnd, nullptr);
    if (thread != GetCurrentThreadId()) {
        if (thread)
            SetLastError(ERROR_MESSAGE_SYNC_ONLY);
        return 0;
    }
    return native::callWindowProcedure(message->hwnd, message->message, message->wParam, message->lParam);
}

// A window timer is the window's thread's; a thread timer (no window) is
// the caller's and gets an id of its own unless it names one it has. The
// period is held between USER_TIMER_MINIMUM and USER_TIMER_MAXIMUM.
WIN32_NATIVE_API UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC procedure)
{
    const Clock::duration period = native::delayOf(std::clamp<UINT>(elapse, USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM));
    return changeQueueOf(window, UINT_PTR {0}, [&](ThreadQueue& queue) {
        auto same = std::find_if(queue.timers.begin(), queue.timers.end(),
                                 [&](const Timer& timer) { return timer.window == window && timer.id == id; });
        if (same == queue.timers.end()) {
            if (!window)
                id = ++lastThreadTimerId;
            queue.timers.push_back(Timer {window, id, procedure, period, {}});
            same = queue.timers.end() - 1;
        }
        same->procedure = procedure;
        same->period = period;
        same->due = Clock::now() + period;
        queue.changed.notify_all();
        return window ? (id ? id : 1) : id;
    });
}

WIN32_NATIVE_API BOOL KillTimer(HWND window, UINT_PTR id)
{
    return changeQueueOf(window, FALSE, [&](ThreadQueue& queue) {
        const auto before = queue.timers.size();
        queue.timers.erase(std::remove_if(queue.timers.begin(), queue.timers.end(),
                                          [&](const Timer& timer) { return timer.window == window && timer.id == id; }),
                           queue.timers.end());
        if (queue.timers.size() == before) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        return TRUE;
    });
}
