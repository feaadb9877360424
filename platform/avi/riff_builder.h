// Lays out RIFF chunks in a byte buffer. Each begin call returns where its
// chunk starts and end() sets the chunk's size once its contents are in,
// so the nesting of the code follows the nesting of the file. Growing the
// buffer may throw std::bad_alloc.
#pragma once

#include "platform/avi/avi_format.h"

#include <cstring>
#include <vector>

namespace avi {

class RiffBuilder {
public:
    explicit RiffBuilder(std::vector<uint8_t>& bytes)
        : bytes_(bytes)
    {
    }

    size_t beginChunk(uint32_t id)
    {
        const size_t start = bytes_.size();
        bytes_.resize(start + kChunkHeaderSize);
        putU32(&bytes_[start], id);
        return start;
    }

    size_t beginList(uint32_t list, uint32_t type)
    {
        const size_t start = beginChunk(list);
        putU32(&bytes_[putZeros(4)], type);
        return start;
    }

    // Sets the chunk's size to what follows its header, and pads it to an even length.
    void end(size_t chunk)
    {
        putU32(&bytes_[chunk + 4], static_cast<uint32_t>(bytes_.size() - chunk - kChunkHeaderSize));
        if (bytes_.size() & 1)
            bytes_.push_back(0);
    }

    size_t putBytes(const void* data, size_t size)
    {
        const size_t at = putZeros(size);
        if (size > 0)
            std::memcpy(&bytes_[at], data, size);
        return at;
    }

    template<typename Record>
    size_t put(const Record& record)
    {
        return putBytes(&record, sizeof record);
    }

    size_t putZeros(size_t size)
    {
        const size_t at = bytes_.size();
        bytes_.resize(at + size);
        return at;
    }

private:
    std::vector<uint8_t>& bytes_;
};

} // namespace avi
