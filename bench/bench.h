// What the benchmarks share: the frame sizes, the run settings and the
// figures they leave for the ratio table printed at the end.
#pragma once

#include "bench/frames.h"

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct BenchSettings {
    bool smoke = false;          // every benchmark once, nothing timed
    std::string directory = "."; // where written files go
    int framesPerWholeFile = 16;     // frames in each whole file of the file/ benchmarks
};

BenchSettings& benchSettings();

// framesPerFile(frameBytes, smoke) with this run's settings.
int framesPerFile(size_t frameBytes);

// Registers a benchmark with the run's settings: real time, and a single
// iteration in a smoke run.
benchmark::internal::Benchmark* registered(const std::string& name, std::function<void(benchmark::State&)> body);
// The same, run for a while before it is timed (outside a smoke run):
// for benchmarks whose first frames pay for what the one before left in
// the page cache.
benchmark::internal::Benchmark* registeredWarm(const std::string& name, std::function<void(benchmark::State&)> body);

// How large each write call of a frame is in the pieces/ benchmarks; 0 is the whole frame in one call.
struct WritePiece {
    const char* name;
    size_t bytes;
};
const std::vector<WritePiece>& writePieces();

void registerConversionBenchmarks();
void registerWriterBenchmarks();
void registerFramePathBenchmarks();
void registerPressLatencyBenchmarks();
void registerFileWorkBenchmarks();
void registerLockBenchmarks();
void registerIndexUpkeepBenchmarks();

// Median real time per iteration, in nanoseconds, of a benchmark that ran; -1 if none did.
double medianNanoseconds(const std::string& name);
void printRatioTables();
void printPressLatencyTable();
void printFileWorkTable();
void printLockTable();
