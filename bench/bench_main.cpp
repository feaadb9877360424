// The benchmark program: runs every benchmark (or those --benchmark_filter
// picks), then prints each figure as a ratio to its physical limit and to
// its peers, and the latency of Save and STOP.
//
//   bench [--smoke] [--dir=PATH] [--frames=N] [Google Benchmark flags]
//
// --smoke runs each benchmark once, for CI; --dir is where files are
// written (default: the current directory); --frames is the number of
// frames in each whole file the file/ benchmarks write (default 16).
#include "bench/bench.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>

namespace {

std::map<std::string, std::vector<double>> runTimes;
std::map<std::string, double> reportedMedians; // when only aggregates are reported

double nanosecondsPer(benchmark::TimeUnit unit)
{
    switch (unit) {
    case benchmark::kNanosecond:
        return 1;
    case benchmark::kMicrosecond:
        return 1e3;
    case benchmark::kMillisecond:
        return 1e6;
    case benchmark::kSecond:
        return 1e9;
    }
    return 1;
}

class CollectingReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.error_occurred)
                continue;
            const double ns = run.GetAdjustedRealTime() * nanosecondsPer(run.time_unit);
            if (run.run_type == Run::RT_Iteration)
                runTimes[run.run_name.function_name].push_back(ns);
            else if (run.aggregate_name == "median")
                reportedMedians[run.run_name.function_name] = ns;
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

bool takeFlag(const char* argument, const char* flag, const char** value)
{
    const size_t length = std::strlen(flag);
    if (std::strncmp(argument, flag, length) != 0)
        return false;
    if (argument[length] == '\0') {
        *value = nullptr;
        return true;
    }
    if (argument[length] != '=')
        return false;
    *value = argument + length + 1;
    return true;
}

} // namespace

BenchSettings& benchSettings()
{
    static BenchSettings settings;
    return settings;
}

int framesPerFile(size_t frameBytes) { return framesPerFile(frameBytes, benchSettings().smoke); }

benchmark::internal::Benchmark* registered(const std::string& name, std::function<void(benchmark::State&)> body)
{
    auto* bench = benchmark::RegisterBenchmark(name.c_str(), [body](benchmark::State& state) { body(state); });
    bench->UseRealTime();
    if (benchSettings().smoke)
        bench->Iterations(1);
    return bench;
}

benchmark::internal::Benchmark* registeredWarm(const std::string& name, std::function<void(benchmark::State&)> body)
{
    auto* bench = registered(name, std::move(body));
    if (!benchSettings().smoke)
        bench->MinWarmUpTime(0.3);
    return bench;
}

double medianNanoseconds(const std::string& name)
{
    auto found = runTimes.find(name);
    if (found == runTimes.end() || found->second.empty()) {
        auto median = reportedMedians.find(name);
        return median == reportedMedians.end() ? -1 : median->second;
    }
    std::vector<double> times = found->second;
    std::sort(times.begin(), times.end());
    const size_t middle = times.size() / 2;
    return times.size() % 2 ? times[middle] : (times[middle - 1] + times[middle]) / 2;
}

int main(int argc, char** argv)
{
    BenchSettings& settings = benchSettings();
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        const char* value = nullptr;
        if (i > 0 && takeFlag(argv[i], "--smoke", &value)) {
            settings.smoke = true;
            settings.framesPerWholeFile = 2;
        } else if (i > 0 && takeFlag(argv[i], "--dir", &value) && value) {
            settings.directory = value;
        } else if (i > 0 && takeFlag(argv[i], "--frames", &value) && value) {
            settings.framesPerWholeFile = std::max(1, std::atoi(value));
        } else {
            rest.push_back(argv[i]);
        }
    }
    int restCount = static_cast<int>(rest.size());
    rest.push_back(nullptr);
    benchmark::Initialize(&restCount, rest.data());
    if (benchmark::ReportUnrecognizedArguments(restCount, rest.data()))
        return 1;

    registerConversionBenchmarks();
    registerWriterBenchmarks();
    registerFramePathBenchmarks();
    registerPressLatencyBenchmarks();
    registerFileWorkBenchmarks();
    registerLockBenchmarks();
    registerIndexUpkeepBenchmarks();

    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    printRatioTables();
    printPressLatencyTable();
    printFileWorkTable();
    printLockTable();
    return 0;
}
