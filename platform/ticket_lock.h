// A small lock for state that a render thread and a dialog thread share.
// Taking it when nobody holds it costs one atomic read-modify-write and
// releasing it one store, which keeps the per-frame path cheap. Threads
// are served in the order they asked (tickets), so a thread that lets go
// and asks again at once queues behind a thread already waiting: the lock
// passes straight to the waiter. A waiter spins briefly, then sleeps until
// its turn comes, since the holder may be writing a frame; the releasing
// thread wakes exactly the thread whose turn it is.
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
    TicketLock();
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
    // A sleeper is either seen in its slot here or sees the store itself
    // (see waitForTurn).
    void unlock()
    {
        const uint32_t turn = serving_.load(std::memory_order_relaxed) + 1;
        serving_.store(turn, std::memory_order_release);
        std::atomic_signal_fence(std::memory_order_seq_cst); // the compiler keeps the store first
        if (slots_[turn % kSlots].sleeper.load(std::memory_order_relaxed) == turn)
            wake(turn);
    }

private:
    // A sleeper waits in the slot of its ticket; the next kSlots tickets
    // never share one. Threads further back poll instead.
    static constexpr uint32_t kSlots = 4;

    struct Slot {
        std::atomic<uint32_t> sleeper {0};   // the ticket asleep here, else one that is none of this slot's
        std::atomic<HANDLE> event {nullptr}; // auto-reset, made at the slot's first sleep
    };

    void waitForTurn(uint32_t ticket);
    bool sleepInSlot(uint32_t ticket);
    void wake(uint32_t turn);
    bool isServing(uint32_t ticket) const { return serving_.load(std::memory_order_acquire) == ticket; }

    std::atomic<uint32_t> next_ {0};    // the next ticket handed out
    std::atomic<uint32_t> serving_ {0}; // the ticket that holds the lock
    Slot slots_[kSlots];
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
