// The recording lock under more threads than it has sleeping slots, with
// and without a process-wide barrier (Windows XP has none): each holds it
// alone, and no thread sleeps through its turn. And a lock destroyed by
// the thread it was handed to is not touched again by the thread that
// handed it on.
#include "platform/native/native_host.h"
#include "platform/ticket_lock.h"

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

namespace {

class TicketLockBarrier : public testing::TestWithParam<bool> {
protected:
    void SetUp() override { NativeHideProcessBarrier(GetParam() ? FALSE : TRUE); }
    void TearDown() override { NativeHideProcessBarrier(FALSE); }
};

INSTANTIATE_TEST_SUITE_P(ProcessBarrier, TicketLockBarrier, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "Present" : "Missing");
                         });

} // namespace

TEST_P(TicketLockBarrier, ManyThreadsEachHoldItAloneAndNoneSleepsThroughItsTurn)
{
    constexpr int kThreads = 7;
    constexpr int kRounds = 1500;
    platform::TicketLock lock;
    std::atomic<bool> inside {false};
    std::atomic<int> overlaps {0};
    long long total = 0; // guarded by the lock alone
    std::mutex doneLock;
    std::condition_variable allDone;
    int finished = 0;

    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < kRounds; ++round) {
                platform::LockGuard guard(lock);
                if (inside.exchange(true))
                    ++overlaps;
                ++total;
                // Now and then hold it as long as a frame write, so the others go to sleep.
                if ((round + t) % 50 == 0)
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
                inside = false;
            }
            std::lock_guard<std::mutex> done(doneLock);
            ++finished;
            allDone.notify_all();
        });
    }
    std::unique_lock<std::mutex> done(doneLock);
    if (!allDone.wait_for(done, std::chrono::seconds(120), [&] { return finished == kThreads; })) {
        std::fprintf(stderr, "a thread slept through its turn: %d of %d threads finished\n", finished, kThreads);
        std::abort(); // the rest can never be joined
    }
    done.unlock();
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(overlaps.load(), 0);
    EXPECT_EQ(total, static_cast<long long>(kThreads) * kRounds);
}

namespace {

// unlock() on this thread, held right after it passed the lock on, lets
// the next holder go and waits until it has destroyed the lock.
std::thread::id heldThread;
std::atomic<bool> nextHolderMayGo {false};
std::atomic<bool> lockDestroyed {false};

void letTheNextHolderDestroyTheLock()
{
    if (std::this_thread::get_id() != heldThread)
        return;
    nextHolderMayGo = true;
    for (int waited = 0; waited < 10000 && !lockDestroyed.load(); ++waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

} // namespace

// As a host that deletes an effect as soon as the render thread lets go
// of it: the lock lives on a page of its own that is made inaccessible
// once it is destroyed, so any later touch faults.
TEST(TicketLock, UnlockTouchesNothingOfTheLockOnceTheNextHolderDestroysIt)
{
    const auto pageSize = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    void* page = mmap(nullptr, pageSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(page, MAP_FAILED);
    auto* lock = new (page) platform::TicketLock;
    heldThread = std::this_thread::get_id();
    platform::TicketLock::afterHandOverForTests = letTheNextHolderDestroyTheLock;

    std::thread nextHolder([&] {
        while (!nextHolderMayGo)
            std::this_thread::yield();
        lock->lock();
        lock->unlock();
        lock->~TicketLock();
        mprotect(page, pageSize, PROT_NONE);
        lockDestroyed = true;
    });
    lock->lock();
    lock->unlock();
    nextHolder.join();

    platform::TicketLock::afterHandOverForTests = nullptr;
    EXPECT_TRUE(lockDestroyed.load());
    munmap(page, pageSize);
}
