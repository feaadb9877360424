// The recording lock under more threads than it has sleeping slots, with
// and without a process-wide barrier (Windows XP has none): each holds it
// alone, and no thread sleeps through its turn. What may destroy a lock is
// tested where an effect is destroyed (tests/plugin/effect_locks_test.cpp).
#include "platform/native/native_host.h"
#include "platform/ticket_lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
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
