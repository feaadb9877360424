// The frames the benchmarks work on: the five sizes and a buffer of random
// pixels. Plain C++, so that the program built for both targets
// (both_targets_bench.cpp) shares them with the native benchmarks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct FrameSize {
    int width;
    int height;
    std::string name() const { return std::to_string(width) + "x" + std::to_string(height); }
};

const std::vector<FrameSize>& frameSizes();

// A buffer of random bytes, page aligned as large allocations are.
class FrameBuffer {
public:
    explicit FrameBuffer(size_t bytes, uint32_t seed = 1);
    ~FrameBuffer();
    FrameBuffer(const FrameBuffer&) = delete;
    FrameBuffer& operator=(const FrameBuffer&) = delete;
    uint8_t* data() const { return data_; }
    size_t size() const { return size_; }

private:
    uint8_t* data_;
    size_t size_;
};

size_t standardStride(int width);
// The bytes a frame of either form writes.
size_t writtenBytes(const FrameSize& size, bool raw);

// Frames per file for benchmarks that write frame after frame: enough that
// opening and closing stay out of the way, few enough (256 MB) that the
// page cache does not start writing back in the middle of a run. Two in
// a smoke run.
int framesPerFile(size_t frameBytes, bool smoke);
