// Events, waits on them, and the process-wide write barrier, as KERNEL32
// has them. An auto-reset event set while threads wait on it releases the
// longest waiting one there and then and stays unsignalled, so a thread
// that starts waiting afterwards cannot take that release; set while
// nobody waits, it stays signalled until one wait takes it.
#include "platform/native/native_host.h"
#include "platform/native/timing.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <linux/membarrier.h>
#include <memory>
#include <mutex>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <unordered_map>

namespace {

struct Waiter {
    bool released = false;
};

struct Event {
    bool manualReset = false;
    bool signalled = false;
    std::deque<Waiter*> waiters; // longest waiting first
    std::condition_variable changed;
};

// One lock for every object: they are few, and a wait holds it only to
// look at its object.
std::mutex objectLock;
std::unordered_map<uintptr_t, std::shared_ptr<Event>>& objects()
{
    static std::unordered_map<uintptr_t, std::shared_ptr<Event>> all;
    return all;
}
uintptr_t lastHandle = 0x100; // never reused, like window handles

std::shared_ptr<Event> findEvent(HANDLE handle)
{
    auto found = objects().find(reinterpret_cast<uintptr_t>(handle));
    return found == objects().end() ? nullptr : found->second;
}

// A barrier on every running thread of the process: membarrier, or where
// the kernel lacks it, a change of page protection, whose TLB shootdown
// interrupts every processor running one of our threads.
bool expeditedBarrierRegistered()
{
    static const bool registered = syscall(SYS_membarrier, MEMBARRIER_CMD_REGISTER_PRIVATE_EXPEDITED, 0, 0) == 0;
    return registered;
}

void barrierByProtectionChange()
{
    static std::mutex lock;
    static void* page = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    std::lock_guard<std::mutex> guard(lock);
    if (page == MAP_FAILED)
        return;
    mprotect(page, 4096, PROT_READ | PROT_WRITE);
    *static_cast<volatile char*>(page) += 1; // the page must be present for its loss to be felt
    mprotect(page, 4096, PROT_NONE);
}

// Runs `change` on the event with the object lock held; FALSE for a handle
// that is not an event.
template <typename Change>
BOOL changeEvent(HANDLE handle, Change change)
{
    std::lock_guard<std::mutex> guard(objectLock);
    const std::shared_ptr<Event> event = findEvent(handle);
    if (!event) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    change(*event);
    return TRUE;
}

} // namespace

WIN32_NATIVE_API HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCSTR name)
{
    if (name) { // named events are shared between processes; we have none to share with
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto event = std::make_shared<Event>();
    event->manualReset = manualReset != FALSE;
    event->signalled = initialState != FALSE;
    std::lock_guard<std::mutex> guard(objectLock);
    lastHandle += 4;
    objects().emplace(lastHandle, std::move(event));
    return reinterpret_cast<HANDLE>(lastHandle);
}

WIN32_NATIVE_API BOOL SetEvent(HANDLE handle)
{
    return changeEvent(handle, [](Event& event) {
        if (event.manualReset) {
            event.signalled = true;
            for (Waiter* waiter : event.waiters)
                waiter->released = true;
            event.waiters.clear();
        } else if (!event.waiters.empty()) {
            event.waiters.front()->released = true;
            event.waiters.pop_front();
        } else {
            event.signalled = true;
        }
        event.changed.notify_all();
    });
}

WIN32_NATIVE_API BOOL ResetEvent(HANDLE handle)
{
    return changeEvent(handle, [](Event& event) { event.signalled = false; });
}

WIN32_NATIVE_API DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds)
{
    std::unique_lock<std::mutex> lock(objectLock);
    // Held here, the object outlives a CloseHandle during the wait, as on Windows.
    const std::shared_ptr<Event> event = findEvent(handle);
    if (!event) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    if (event->signalled) {
        if (!event->manualReset)
            event->signalled = false;
        return WAIT_OBJECT_0;
    }
    if (milliseconds == 0)
        return WAIT_TIMEOUT;
    Waiter self;
    event->waiters.push_back(&self);
    if (milliseconds == INFINITE) {
        event->changed.wait(lock, [&] { return self.released; });
        return WAIT_OBJECT_0;
    }
    const auto deadline = std::chrono::steady_clock::now() + native::delayOf(milliseconds);
    while (!self.released) {
        if (event->changed.wait_until(lock, deadline) == std::cv_status::timeout && !self.released) {
            auto& waiters = event->waiters;
            waiters.erase(std::find(waiters.begin(), waiters.end(), &self));
            return WAIT_TIMEOUT;
        }
    }
    return WAIT_OBJECT_0;
}

WIN32_NATIVE_API BOOL CloseHandle(HANDLE handle)
{
    std::lock_guard<std::mutex> guard(objectLock);
    if (objects().erase(reinterpret_cast<uintptr_t>(handle)) == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

WIN32_NATIVE_API void FlushProcessWriteBuffers()
{
    if (expeditedBarrierRegistered() && syscall(SYS_membarrier, MEMBARRIER_CMD_PRIVATE_EXPEDITED, 0, 0) == 0)
        return;
    barrierByProtectionChange();
}

namespace {
std::atomic<bool> processBarrierHidden {false};
}

WIN32_NATIVE_API void NativeHideProcessBarrier(BOOL hidden)
{
    processBarrierHidden.store(hidden != FALSE, std::memory_order_relaxed);
}

WIN32_NATIVE_API BOOL NativeFlushProcessWriteBuffersIfAny()
{
    if (processBarrierHidden.load(std::memory_order_relaxed))
        return FALSE;
    FlushProcessWriteBuffers();
    return TRUE;
}
