// A small lock for state that a render thread and a dialog thread share.
// Taking it when nobody holds it costs one atomic read-modify-write and
// releasing it one store, which keeps the per-frame path cheap. Threads
// are served in the order they asked (tickets), so a thread that lets go
// and asks again at once queues behind a thread already waiting: the lock
// passes straight to the waiter. A waiter spins briefly, then sleeps on an
// event of the lock until its turn comes, since the holder may be writing
// a frame; the releasing thread wakes exactly the thread whose turn it is.
//
// The rule: a lock is destroyed only once every unlock() of it has
// returned (and nobody waits in lock()). unlock() reads the lock after it
// has passed it on, so the next holder must not destroy it while the last
// one is still leaving. Each place that destroys one says why the rule
// holds there. A thread killed while it waits leaves the lock waiting for
// it, as with any fair lock.
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
    // (see sleepInSlot).
    void unlock()
    {
        const uint32_t turn = serving_.load(std::memory_order_relaxed) + 1;
        serving_.store(turn, std::memory_order_release);
        std::atomic_signal_fence(std::memory_order_seq_cst); // the compiler keeps the store before the read
#ifdef TICKET_LOCK_TEST_HOOKS
        if (afterHandOverForTests)
            afterHandOverForTests(*this);
#endif
        Slot& slot = slots_[turn % kSlots];
        if (slot.sleeper.load(std::memory_order_relaxed) == turn)
            wake(slot, turn);
    }

#ifdef TICKET_LOCK_TEST_HOOKS
    // Tests only: runs in unlock() between passing the lock on and looking for a sleeper.
    static void (*afterHandOverForTests)(TicketLock& lock);
#endif

private:
    // A sleeper waits in the slot of its ticket; the next kSlots tickets
    // never share one. Threads further back poll instead.
    static constexpr uint32_t kSlots = 4;

    struct Slot {
        std::atomic<uint32_t> sleeper;       // the ticket asleep here, else one that never sleeps here
        std::atomic<HANDLE> event {nullptr}; // auto-reset, made at the slot's first sleep
    };

    void waitForTurn(uint32_t ticket);
    bool sleepInSlot(uint32_t ticket);
    static void wake(Slot& slot, uint32_t turn);
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
