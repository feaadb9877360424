// The conversion buffer for both frame forms. It only grows, and lives from
// one recording to the next until the effect is deleted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

struct ScratchBuffer {
    uint8_t* data = nullptr;
    size_t capacity = 0;
    int width = 0;
    int height = 0;

    ScratchBuffer() = default;
    ScratchBuffer(const ScratchBuffer&) = delete;
    ScratchBuffer& operator=(const ScratchBuffer&) = delete;
    ~ScratchBuffer() { release(); }

    void release()
    {
        std::free(data);
        data = nullptr;
        capacity = 0;
        width = 0;
        height = 0;
    }
};
