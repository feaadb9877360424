// The file an AVI writer fills: appends at a logical end, patches earlier
// bytes in place, and can set blocks aside so that closing never needs
// space the disk no longer has. One implementation per target.
#pragma once

#include "platform/avi/writer_status.h"

#include <cstddef>
#include <cstdint>

namespace avi {

struct Slice {
    const void* data;
    size_t size;
};

class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates the file, or empties an existing one.
    WriterStatus create(const char* path);
    bool isOpen() const { return handle_ != kNoHandle; }

    // Writes the slices back to back at end(). On failure end() stays where
    // it was; bytes that did land beyond it are overwritten or cut later.
    WriterStatus append(const Slice* slices, size_t count);
    WriterStatus writeAt(uint64_t offset, const void* data, size_t size);
    // Cuts (or extends) the file to exactly `size` bytes and moves end() there.
    WriterStatus truncate(uint64_t size);
    // Makes sure disk blocks up to `end` are allocated without changing the
    // file's size. Returns false with the OS's code when the disk is full;
    // a file system without the feature reports success and reserves nothing.
    WriterStatus reserveUpTo(uint64_t end);
    // Where the blocks set aside so far end.
    uint64_t reservedEnd() const { return reservedEnd_; }
    // The largest size this process may give a file (a resource limit), or UINT64_MAX.
    uint64_t sizeLimit() const { return sizeLimit_; }
    // The OS's own error for a write past sizeLimit().
    WriterStatus sizeLimitReached() const;
    uint64_t end() const { return end_; }
    WriterStatus close();

private:
    static constexpr intptr_t kNoHandle = -1;
    intptr_t handle_ = kNoHandle;
    uint64_t end_ = 0;
    uint64_t reservedEnd_ = 0;
    uint64_t sizeLimit_ = UINT64_MAX;
    bool canReserve_ = true;
};

// A millisecond clock that never goes backwards, for the writer's flush schedule.
uint64_t monotonicMilliseconds();

} // namespace avi
