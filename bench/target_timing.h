// Times the cases of the program built for both targets the way
// ./scripts/bench has Google Benchmark time the native ones: each
// repetition runs a case until it has taken the least time asked for, the
// repetitions of all cases run in random order, and a case's figure is the
// median of its repetitions' times per iteration.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// What a case times: it starts the watch once it has made what the work
// needs, and may pause it for what is not the work (a new file, say).
class Stopwatch {
public:
    void pause();
    void resume();
    uint64_t elapsedNanoseconds() const { return elapsed_; }

private:
    uint64_t started_ = 0;
    uint64_t elapsed_ = 0;
};

struct TimedCase {
    std::string name;
    // Runs `iterations` of the work, timing them with the watch.
    std::function<void(int64_t iterations, Stopwatch& watch)> run;
    // Run for a while before it is timed: writers whose first frames pay
    // for what the repetition before left in the page cache.
    bool warm = false;
};

struct TimingSettings {
    int repetitions = 9;
    double minSeconds = 0.2;
    double warmSeconds = 0.3;
    bool smoke = false; // each case once, nothing timed
};

struct CaseFigure {
    std::string name;
    double median = 0; // nanoseconds per iteration
    double least = 0;
    double most = 0;
};

double median(std::vector<double> values);

// Runs every case, printing each repetition as it ends.
std::vector<CaseFigure> timeCases(const std::vector<TimedCase>& cases, const TimingSettings& settings);

// Keeps the compiler from dropping work whose result nothing reads.
template <typename T>
inline void keep(const T& value)
{
    asm volatile("" : : "r,m"(value) : "memory");
}
