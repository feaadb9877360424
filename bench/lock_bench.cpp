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
#include <cstdio>
#include <map>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Long enough for a waiter to spin out and fall asleep.
constexpr auto kHolding = std::chrono::milliseconds(2);

// Every hand-off of every repetition, by benchmark.
std::map<std::string, std::vector<double>>& handOffs()
{
    static std::map<std::string, std::vector<double>> all;
    return all;
}

double percentileOf(std::vector<double>& samples, double fraction)
{
    std::sort(samples.begin(), samples.end());
    const size_t rank = static_cast<size_t>(fraction * static_cast<double>(samples.size()) + 0.999999);
    return samples[std::min(samples.size(), std::max<size_t>(rank, 1)) - 1];
}

// Each round: this thread holds the lock while the waiter asks for it and
// falls asleep, then lets go; the waiter notes when it runs.
void measureHandOff(benchmark::State& state, const std::string& name, bool barrier, bool windowsTiming)
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
        // Round 0 also waits for the waiter's thread to start, and is not counted.
        std::thread waiter([&] {
            for (int round = 0; round <= rounds; ++round) {
                while (asked.load() == round)
                    std::this_thread::yield();
                lock.lock();
                const auto now = Clock::now().time_since_epoch().count();
                if (round > 0)
                    microseconds.push_back(static_cast<double>(now - released.load()) / 1000.0);
                lock.unlock();
                ran.store(round + 1);
            }
        });
        for (int round = 0; round <= rounds; ++round) {
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
    std::vector<double>& all = handOffs()[name];
    all.insert(all.end(), microseconds.begin(), microseconds.end());
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
            const std::string name = std::string(barrier ? "barrier" : "no-barrier") +
                                     (windowsTiming ? "/windows-timing" : "/native-timing");
            benchmark::RegisterBenchmark(("lock/handoff/" + name).c_str(),
                                         [name, barrier, windowsTiming](benchmark::State& state) {
                                             measureHandOff(state, name, barrier, windowsTiming);
                                         })
                ->Iterations(1)
                ->UseRealTime()
                ->Unit(benchmark::kMillisecond);
        }
    }
}

void printLockTable()
{
    if (handOffs().empty())
        return;
    std::printf("\nThe lock handed to a thread asleep in lock(), microseconds, every round of every repetition\n");
    std::printf("%-44s %9s %9s %9s %7s\n", "barrier / timing", "p50", "p99", "max", "rounds");
    for (auto& [name, samples] : handOffs()) {
        const double p50 = percentileOf(samples, 0.5);
        const double p99 = percentileOf(samples, 0.99);
        std::printf("%-44s %9.1f %9.1f %9.1f %7zu\n", name.c_str(), p50, p99, samples.back(), samples.size());
    }
}
