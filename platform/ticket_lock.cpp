// The ticket lock's slow path: waiting for a turn, and waking the thread
// whose turn it is.
#include "platform/ticket_lock.h"

#include <new>

namespace platform {

namespace {

// Tens of microseconds: enough for a holder that is only passing through
// (a frame whose position has not moved), short next to a frame write.
constexpr int kSpins = 1000;

// Where the system has no process-wide barrier (Windows before Vista), a
// wake can be missed in a narrow race, so sleepers look again this often.
constexpr DWORD kRecheckMs = 1;

// A value for a slot's sleeper that no ticket waiting in that slot can have.
uint32_t nobodyIn(uint32_t ticket) { return ticket + 1; }

HANDLE slotEvent(std::atomic<HANDLE>& slot)
{
    HANDLE event = slot.load(std::memory_order_acquire);
    if (event)
        return event;
    HANDLE made = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!made)
        return nullptr;
    if (slot.compare_exchange_strong(event, made, std::memory_order_acq_rel))
        return made;
    CloseHandle(made);
    return event;
}

// Making and destroying a lock is rare, so the pool's guard just spins.
std::atomic_flag poolGuard = ATOMIC_FLAG_INIT;
// Set once the module's statics are being destroyed: no unlock() can run
// any more, so a set goes back to the system instead of to the pool.
bool poolClosed = false;

void guardPool()
{
    while (poolGuard.test_and_set(std::memory_order_acquire))
        Sleep(0);
}

void unguardPool() { poolGuard.clear(std::memory_order_release); }

} // namespace

#ifdef TICKET_LOCK_TEST_HOOKS
void (*TicketLock::afterHandOverForTests)() = nullptr;
#endif

// Slot sets of destroyed locks, for the next locks made. They are never
// freed while the module is loaded: an unlock() that passed a lock on just
// before the lock was destroyed may still read one. The first ones are
// the module's own, so that a few effects take nothing from the heap that
// outlives them; more come from the heap.
TicketLock::SlotSet* TicketLock::freeSlotSets = nullptr;
TicketLock::SlotSet TicketLock::ownSlotSets[kOwnSlotSets];
uint32_t TicketLock::ownSlotSetsUsed = 0;
// With no memory for a slot set, waiters poll and nobody sleeps here.
TicketLock::SlotSet TicketLock::noSlots;

TicketLock::SlotSet* TicketLock::takeSlotSet()
{
    guardPool();
    SlotSet* set = freeSlotSets;
    if (set)
        freeSlotSets = set->nextFree;
    else if (ownSlotSetsUsed < kOwnSlotSets)
        set = &ownSlotSets[ownSlotSetsUsed++];
    unguardPool();
    if (!set)
        set = new (std::nothrow) SlotSet;
    if (!set)
        set = &noSlots;
    for (uint32_t slot = 0; slot < kSlots; ++slot)
        set->slot[slot].sleeper.store(nobodyIn(slot), std::memory_order_relaxed);
    return set;
}

TicketLock::TicketLock()
    : slots_(takeSlotSet())
{
}

void TicketLock::freeSlotSet(SlotSet* set)
{
    for (Slot& slot : set->slot) {
        if (HANDLE event = slot.event.exchange(nullptr, std::memory_order_acq_rel))
            CloseHandle(event);
    }
    const auto at = reinterpret_cast<uintptr_t>(set);
    const auto own = reinterpret_cast<uintptr_t>(ownSlotSets);
    if (at - own >= sizeof ownSlotSets)
        delete set;
}

// The events stay with the set, for the next lock that takes it.
TicketLock::~TicketLock()
{
    if (slots_ == &noSlots)
        return;
    guardPool();
    const bool closed = poolClosed;
    if (!closed) {
        slots_->nextFree = freeSlotSets;
        freeSlotSets = slots_;
    }
    unguardPool();
    if (closed)
        freeSlotSet(slots_);
}

// When the module goes (the host unloads the plug-in, or the program
// ends), the pool goes with it.
TicketLock::PoolCloser::~PoolCloser()
{
    guardPool();
    poolClosed = true;
    SlotSet* set = freeSlotSets;
    freeSlotSets = nullptr;
    unguardPool();
    while (set) {
        SlotSet* next = set->nextFree;
        freeSlotSet(set);
        set = next;
    }
}

TicketLock::PoolCloser TicketLock::poolCloser;

void TicketLock::waitForTurn(uint32_t ticket)
{
    for (int spin = 0; spin < kSpins; ++spin) {
        if (isServing(ticket))
            return;
        YieldProcessor();
    }
    for (;;) {
        if (ticket - serving_.load(std::memory_order_acquire) < kSlots && sleepInSlot(ticket))
            return;
        if (isServing(ticket))
            return;
        Sleep(1); // too far back for a slot, or no event to be had
    }
}

// A sleeper puts its ticket in its slot, then runs a barrier on every
// thread of the process before it looks at serving_ a last time. That
// barrier falls either after the releasing thread's store to serving_,
// which the look then sees, or before it, and then the releasing thread's
// read of the slot, which follows its store, finds the ticket and sets the
// slot's event. A set meant for a ticket that found its turn by itself
// only wakes the slot's next sleeper once for nothing. False when there is
// no event to sleep on.
bool TicketLock::sleepInSlot(uint32_t ticket)
{
    if (slots_ == &noSlots)
        return false;
    Slot& slot = slots_->slot[ticket % kSlots];
    const HANDLE event = slotEvent(slot.event);
    if (!event)
        return false;
    for (;;) {
        slot.sleeper.store(ticket, std::memory_order_seq_cst);
        const bool ordered = flushProcessWriteBuffers();
        if (isServing(ticket))
            break;
        WaitForSingleObject(event, ordered ? INFINITE : kRecheckMs);
        if (isServing(ticket))
            break;
    }
    slot.sleeper.store(nobodyIn(ticket), std::memory_order_relaxed);
    return true;
}

void TicketLock::wake(Slot& slot, uint32_t turn)
{
    // Read again with acquire: the sleeper made the event before it took the slot.
    if (slot.sleeper.load(std::memory_order_acquire) == turn)
        SetEvent(slot.event.load(std::memory_order_acquire));
}

} // namespace platform
