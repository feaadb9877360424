// The ticket lock's slow path: waiting for a turn, and waking the thread
// whose turn it is.
#include "platform/ticket_lock.h"

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

} // namespace

#ifdef TICKET_LOCK_TEST_HOOKS
void (*TicketLock::afterHandOverForTests)(TicketLock&) = nullptr;
#endif

TicketLock::TicketLock()
{
    for (uint32_t slot = 0; slot < kSlots; ++slot)
        slots_[slot].sleeper.store(nobodyIn(slot), std::memory_order_relaxed);
}

// By the rule in the header nobody is inside lock() or unlock() now.
TicketLock::~TicketLock()
{
    for (Slot& slot : slots_) {
        if (HANDLE event = slot.event.load(std::memory_order_acquire))
            CloseHandle(event);
    }
}

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
// only wakes the slot's next sleeper once for nothing. Without the barrier
// both may miss each other, and the timed wait finds the turn instead.
// False when there is no event to sleep on.
bool TicketLock::sleepInSlot(uint32_t ticket)
{
    Slot& slot = slots_[ticket % kSlots];
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
