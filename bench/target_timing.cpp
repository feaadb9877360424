#include "bench/target_timing.h"

#include "bench/target_clock.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>

void Stopwatch::pause() { elapsed_ += target_clock::nanoseconds() - started_; }
void Stopwatch::resume() { started_ = target_clock::nanoseconds(); }

namespace {

double runFor(const TimedCase& timed, int64_t iterations)
{
    Stopwatch watch;
    timed.run(iterations, watch);
    return static_cast<double>(watch.elapsedNanoseconds());
}

// As Google Benchmark finds its iteration count: more iterations each
// time, until a run takes the time asked for; that run is the measurement.
// A case's later repetitions start from the count its last one found.
double nanosecondsPerIteration(const TimedCase& timed, const TimingSettings& settings, int64_t& iterations)
{
    if (settings.smoke)
        return runFor(timed, 1);
    const double wanted = settings.minSeconds * 1e9;
    if (timed.warm) {
        for (double warmed = 0; warmed < settings.warmSeconds * 1e9;)
            warmed += runFor(timed, 16);
    }
    for (;;) {
        const double took = runFor(timed, iterations);
        if (took >= wanted || iterations >= (int64_t(1) << 40))
            return took / static_cast<double>(iterations);
        const double grow = took <= 0 ? 10 : std::min(10.0, std::max(1.4 * wanted / took, 1.1));
        iterations = std::max(iterations + 1, static_cast<int64_t>(static_cast<double>(iterations) * grow));
    }
}

} // namespace

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

std::vector<CaseFigure> timeCases(const std::vector<TimedCase>& cases, const TimingSettings& settings)
{
    std::vector<size_t> order;
    for (size_t i = 0; i < cases.size(); ++i)
        order.insert(order.end(), settings.smoke ? 1 : settings.repetitions, i);
    std::shuffle(order.begin(), order.end(), std::mt19937(static_cast<uint32_t>(target_clock::nanoseconds())));

    std::map<size_t, std::vector<double>> times;
    std::vector<int64_t> iterations(cases.size(), 1);
    for (size_t index : order) {
        const double ns = nanosecondsPerIteration(cases[index], settings, iterations[index]);
        times[index].push_back(ns);
        std::printf("%-34s %14.1f ns\n", cases[index].name.c_str(), ns);
        std::fflush(stdout);
    }
    std::vector<CaseFigure> figures;
    for (const auto& [index, values] : times) {
        figures.push_back({cases[index].name, median(values), *std::min_element(values.begin(), values.end()),
                           *std::max_element(values.begin(), values.end())});
    }
    return figures;
}
