#include "platform/avi/file_faults.h"

#include <algorithm>
#include <atomic>

namespace avi {

namespace {

// A call that fails on its own gets half its bytes (or blocks) down first,
// as a write cut short by the disk would; a patch in place or a change of
// the file's size gets nothing.
uint64_t reachOfAFailure(FileOperation operation, uint64_t offset, uint64_t end)
{
    if (operation == FileOperation::Append || operation == FileOperation::Reserve)
        return offset + (end - offset) / 2;
    return offset;
}

// The installed plan, as the tap every file asks.
class PlanTap final : public FileTap {
public:
    void install(const FaultPlan& plan)
    {
        plan_ = plan;
        counted_.store(0);
        capacity_ = UINT64_MAX;
    }
    void remove() { plan_ = FaultPlan(); }
    uint64_t calls() const { return counted_.load(); }

    bool noReservation() override { return plan_.noReservation; }
    FaultVerdict judge(FileOperation operation, uint64_t offset, uint64_t end, uint64_t held) override;
    uint64_t freeSpace(uint64_t systemFree, uint64_t held) override
    {
        if (capacity_ == UINT64_MAX)
            return systemFree;
        return capacity_ > held ? capacity_ - held : 0;
    }
    void wrote(uint64_t offset, const Slice* slices, size_t count) override
    {
        if (plan_.watcher)
            plan_.watcher->wrote(offset, slices, count);
    }
    void resized(uint64_t size) override
    {
        if (plan_.watcher)
            plan_.watcher->resized(size);
    }

private:
    FaultPlan plan_;
    // Calls may come from two threads at once: a frame write and a Save.
    std::atomic<uint64_t> counted_ {0};
    uint64_t capacity_ = UINT64_MAX; // the space the file held when the disk filled
};

FaultVerdict PlanTap::judge(FileOperation operation, uint64_t offset, uint64_t end, uint64_t held)
{
    const uint64_t call = counted_.fetch_add(1) + 1;
    if (plan_.beforeCall)
        plan_.beforeCall(operation, call, plan_.context);
    switch (plan_.kind) {
    case FaultPlan::Kind::None:
        return {};
    case FaultPlan::Kind::Once:
        if (call != plan_.at)
            return {};
        return {true, reachOfAFailure(operation, offset, end), plan_.code};
    case FaultPlan::Kind::AppendsFail:
        if (call < plan_.at || operation != FileOperation::Append)
            return {};
        return {true, reachOfAFailure(operation, offset, end), plan_.code};
    case FaultPlan::Kind::DiskFull:
        if (call == plan_.at)
            capacity_ = held;
        if (call < plan_.at || operation == FileOperation::Truncate || end <= capacity_)
            return {};
        return {true, std::max(offset, capacity_), plan_.code};
    }
    return {};
}

std::atomic<bool> installed {false};
PlanTap tap;

} // namespace

void FileFaults::install(const FaultPlan& plan)
{
    tap.install(plan);
    installed.store(true, std::memory_order_release);
}

void FileFaults::remove()
{
    installed.store(false, std::memory_order_release);
    tap.remove();
}

uint64_t FileFaults::calls() { return tap.calls(); }

FileTap* installedFileTap() { return installed.load(std::memory_order_acquire) ? &tap : nullptr; }

} // namespace avi
