// The recording lock alone: taking and releasing it with nobody else
// there, and how long a thread asleep in lock() takes to run once the
// holder lets go, with and without a process-wide barrier (Windows XP has
// none), with native and Windows-like timing.
#include "bench/bench.h"
#include "platform/native/native_host.h"
#include "platform/ticket_lock.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Long enough for a waiter to spin out and fall asleep.
constexpr auto kHolding = std::chrono::milliseconds(2);

double percentileOf(std::vector<double>& samples, double fraction)
{
    std::sort(samples.begin(), samples.end());
    const size_t rank = static_cast<size_t>(fraction * static_cast<double>(samples.size()) + 0.999999);
    return samples[std::min(samples.size(), std::max<size_t>(rank, 1)) - 1];
}

// Each round: this thread holds the lock while the waiter asks for it and
// falls asleep, then lets go; the waiter notes when it runs.
void measureHandOff(benchmark::State& state, bool barrier, bool windowsTiming)
{
    const int rounds = benchSettings().smoke ? 2 : 200;
    NativeHideProcessBarrier(barrier ? FALSE : TRUE);
    NativeUseWindowsTiming(windowsTiming ? TRUE : FALSE);
    std::vector<double> microseconds;
    for (auto _ : state) {
        platform::TicketLock lock;
        std::atomic<int> asked {0};
        std::atomic<int> ran {0};
        std::atomic<Clock::rep> released {0};
        std::thread waiter([&] {
            for (int round = 0; round < rounds; ++round) {
                while (asked.load() == round)
                    std::this_thread::yield();
                lock.lock();
                const auto now = Clock::now().time_since_epoch().count();
                microseconds.push_back(static_cast<double>(now - released.load()) / 1000.0);
                lock.unlock();
                ran.store(round + 1);
            }
        });
        for (int round = 0; round < rounds; ++round) {
            lock.lock();
            asked.store(round + 1);
            std::this_thread::sleep_for(kHolding);
            released.store(Clock::now().time_since_epoch().count());
            lock.unlock();
            while (ran.load() == round)
                std::this_thread::yield();
        }
        waiter.join();
    }
    NativeUseWindowsTiming(FALSE);
    NativeHideProcessBarrier(FALSE);
    state.counters["handoff_p50_us"] = percentileOf(microseconds, 0.5);
    state.counters["handoff_p99_us"] = percentileOf(microseconds, 0.99);
    state.counters["handoff_max_us"] = microseconds.back();
}

} // namespace

void registerLockBenchmarks()
{
    registered("lock/uncontended", [](benchmark::State& state) {
        platform::TicketLock lock;
        for (auto _ : state) {
            lock.lock();
            lock.unlock();
        }
    });
    for (bool windowsTiming : {false, true}) {
        for (bool barrier : {true, false}) {
            const std::string name = std::string("lock/handoff/") + (barrier ? "barrier" : "no-barrier") +
                                     (windowsTiming ? "/windows-timing" : "/native-timing");
            benchmark::RegisterBenchmark(name.c_str(), [barrier, windowsTiming](benchmark::State& state) {
                measureHandOff(state, barrier, windowsTiming);
            })->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
        }
    }
}
