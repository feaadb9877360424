// A small lock for state that a render thread and a dialog thread share.
// Taking it when nobody holds it costs one atomic read-modify-write and
// releasing it one store, which keeps the per-frame path cheap. Threads
// are served in the order they asked (tickets), so a thread that lets go
// and asks again at once queues behind a thread already waiting: the lock
// passes straight to the waiter. A waiter spins briefly, then sleeps on a
// semaphore until its turn comes, since the holder may be writing a frame.
//
// The lock must not be destroyed while a thread may still be inside
// unlock(), as with any mutex.
#pragma once

#include "platform/win32.h"

#include <atomic>
#include <cstdint>

namespace platform {

class TicketLock {
public:
    TicketLock() = default;
    ~TicketLock();
    TicketLock(const TicketLock&) = delete;
    TicketLock& operator=(const TicketLock&) = delete;

    void lock()
    {
        const uint32_t ticket = next_.fetch_add(1, std::memory_order_relaxed);
        if (serving_.load(std::memory_order_acquire) != ticket)
            waitForTurn(ticket);
    }

    // Only the holder writes serving_, so a plain store passes the lock on.
    // A sleeper is either seen here or sees the store itself (see
    // waitForTurn).
    void unlock()
    {
        serving_.store(serving_.load(std::memory_order_relaxed) + 1, std::memory_order_release);
        std::atomic_signal_fence(std::memory_order_seq_cst); // the compiler keeps the store first
        if (sleepers_.load(std::memory_order_relaxed) != 0)
            wakeSleepers();
    }

private:
    void waitForTurn(uint32_t ticket);
    void sleepUntilServing(uint32_t ticket, HANDLE wake);
    bool withdrawSleeper();
    void wakeSleepers();
    HANDLE wakeSemaphore();

    std::atomic<uint32_t> next_ {0};     // the next ticket handed out
    std::atomic<uint32_t> serving_ {0};  // the ticket that holds the lock
    std::atomic<uint32_t> sleepers_ {0}; // sleepers not yet given a wake
    std::atomic<HANDLE> wake_ {nullptr}; // a semaphore, made at the first sleep
};

class LockGuard {
public:
    explicit LockGuard(TicketLock& lock)
        : lock_(lock)
    {
        lock_.lock();
    }
    ~LockGuard() { lock_.unlock(); }
    LockGuard(const LockGuard&) = delete;
    LockGuard& operator=(const LockGuard&) = delete;

private:
    TicketLock& lock_;
};

} // namespace platform
