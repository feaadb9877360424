#include "platform/avi/file_faults.h"

#include <algorithm>
#include <atomic>

namespace avi {

namespace {

std::atomic<bool> installed {false};
FaultPlan plan;
// Calls may come from two threads at once: a frame write and a Save.
std::atomic<uint64_t> counted {0};
uint64_t capacity = UINT64_MAX; // the space the file held when the disk filled

// A call that fails on its own gets half its bytes (or blocks) down first,
// as a write cut short by the disk would; a patch in place or a change of
// the file's size gets nothing.
uint64_t reachOfAFailure(FileOperation operation, uint64_t offset, uint64_t end)
{
    if (operation == FileOperation::Append || operation == FileOperation::Reserve)
        return offset + (end - offset) / 2;
    return offset;
}

} // namespace

void FileFaults::install(const FaultPlan& newPlan)
{
    plan = newPlan;
    counted = 0;
    capacity = UINT64_MAX;
    installed.store(true, std::memory_order_release);
}

void FileFaults::remove()
{
    installed.store(false, std::memory_order_release);
    plan = FaultPlan();
}

uint64_t FileFaults::calls() { return counted; }

bool FileFaults::active() { return installed.load(std::memory_order_acquire); }

bool FileFaults::reservationDisabled() { return active() && plan.noReservation; }

FileWatcher* FileFaults::watcher() { return active() ? plan.watcher : nullptr; }

FaultVerdict FileFaults::judge(FileOperation operation, uint64_t offset, uint64_t end, uint64_t held)
{
    const uint64_t call = counted.fetch_add(1) + 1;
    if (plan.beforeCall)
        plan.beforeCall(operation, call, plan.context);
    switch (plan.kind) {
    case FaultPlan::Kind::None:
        return {};
    case FaultPlan::Kind::Once:
        if (call != plan.at)
            return {};
        return {true, reachOfAFailure(operation, offset, end), plan.code};
    case FaultPlan::Kind::AppendsFail:
        if (call < plan.at || operation != FileOperation::Append)
            return {};
        return {true, reachOfAFailure(operation, offset, end), plan.code};
    case FaultPlan::Kind::DiskFull:
        if (call == plan.at)
            capacity = held;
        if (call < plan.at || operation == FileOperation::Truncate || end <= capacity)
            return {};
        return {true, std::max(offset, capacity), plan.code};
    }
    return {};
}

uint64_t FileFaults::freeSpace(uint64_t systemFree, uint64_t held)
{
    if (capacity == UINT64_MAX)
        return systemFree;
    return capacity > held ? capacity - held : 0;
}

} // namespace avi
