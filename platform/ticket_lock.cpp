// The ticket lock's slow path: waiting for a turn, and waking sleepers.
#include "platform/ticket_lock.h"

namespace platform {

namespace {

// Tens of microseconds: enough for a holder that is only passing through
// (a frame whose position has not moved), short next to a frame write.
constexpr int kSpins = 1000;

// Where the system has no process-wide barrier (Windows before Vista), a
// wake can be missed in a narrow race, so sleepers look again this often.
constexpr DWORD kRecheckMs = 1;

} // namespace

TicketLock::~TicketLock()
{
    if (HANDLE wake = wake_.load(std::memory_order_acquire))
        CloseHandle(wake);
}

HANDLE TicketLock::wakeSemaphore()
{
    HANDLE wake = wake_.load(std::memory_order_acquire);
    if (wake)
        return wake;
    HANDLE made = CreateSemaphoreA(nullptr, 0, 0x7FFFFFFF, nullptr);
    if (!made)
        return nullptr;
    if (wake_.compare_exchange_strong(wake, made, std::memory_order_acq_rel))
        return made;
    CloseHandle(made);
    return wake;
}

void TicketLock::waitForTurn(uint32_t ticket)
{
    for (int spin = 0; spin < kSpins; ++spin) {
        if (serving_.load(std::memory_order_acquire) == ticket)
            return;
        YieldProcessor();
    }
    if (HANDLE wake = wakeSemaphore()) {
        sleepUntilServing(ticket, wake);
        return;
    }
    while (serving_.load(std::memory_order_acquire) != ticket) // no semaphore to be had
        Sleep(1);
}

// Every sleeper counts itself in sleepers_ before it sleeps; a releasing
// thread that sees a count moves it into the semaphore, one wake per
// sleeper, and each woken sleeper looks at serving_ again. A sleeper runs a
// barrier on every thread of the process between counting itself and its
// last look: that barrier falls either after the releasing thread's store
// to serving_, which the look then sees, or before it, and then the
// releasing thread's read of sleepers_, which follows its store, sees the
// count. So no sleeper misses the turn it waits for.
void TicketLock::sleepUntilServing(uint32_t ticket, HANDLE wake)
{
    for (;;) {
        sleepers_.fetch_add(1, std::memory_order_seq_cst);
        const bool ordered = flushProcessWriteBuffers();
        if (serving_.load(std::memory_order_acquire) == ticket) {
            // A releasing thread may have counted us meanwhile; then its wake is ours to take.
            if (!withdrawSleeper())
                WaitForSingleObject(wake, INFINITE);
            return;
        }
        if (WaitForSingleObject(wake, ordered ? INFINITE : kRecheckMs) != WAIT_OBJECT_0 && !withdrawSleeper())
            WaitForSingleObject(wake, INFINITE);
        if (serving_.load(std::memory_order_acquire) == ticket)
            return;
    }
}

// Takes one sleeper back out of the count; false when a releasing thread
// has moved them all into the semaphore, so a wake waits there.
bool TicketLock::withdrawSleeper()
{
    uint32_t count = sleepers_.load(std::memory_order_relaxed);
    while (count != 0) {
        if (sleepers_.compare_exchange_weak(count, count - 1, std::memory_order_relaxed))
            return true;
    }
    return false;
}

void TicketLock::wakeSleepers()
{
    const uint32_t count = sleepers_.exchange(0, std::memory_order_acq_rel);
    if (count != 0)
        ReleaseSemaphore(wake_.load(std::memory_order_acquire), static_cast<LONG>(count), nullptr);
}

} // namespace platform
