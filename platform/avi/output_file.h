// The file an AVI writer fills: appends at a logical end, patches earlier
// bytes in place, and sets space aside so that closing never needs space
// the disk no longer has. output_file.cpp keeps the books and lets a tap
// that tests install fail any operation (file_tap.h); each target supplies
// the system calls (posix_output_file.cpp, win32_output_file.cpp).
#pragma once

#include "platform/avi/writer_status.h"

#include <cstddef>
#include <cstdint>
#include <string>

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
    // Makes the file at least `size` bytes long, zeros past what was
    // written; end() stays. A chunk appended after the file reaches its end
    // never claims bytes past the end of the file when a kill cuts its write
    // short (Linux may end a write at any page boundary): zeros follow what
    // landed, where readers that scan would otherwise look for chunks
    // inside its data.
    WriterStatus extendTo(uint64_t size);
    // Moves end() over zeros that extendTo left past it, up to `end`.
    void skipTo(uint64_t end)
    {
        if (end > end_ && end <= diskSize_)
            end_ = end;
    }
    WriterStatus writeAt(uint64_t offset, const void* data, size_t size);
    // Cuts the file to `size` (at most end()), with the space set aside past
    // it, and moves end() there. end() moves even when the system refuses
    // the cut, so later appends overwrite what is left.
    WriterStatus cutTo(uint64_t size);
    // Makes sure that writes below `end` need no new space: blocks set aside
    // past the end of the file where the file system can (the file's size
    // stays), zeros written there where it cannot (cutTo trims them). A
    // reservation that fails gives back whatever it took.
    WriterStatus reserveUpTo(uint64_t end);
    // Where the space set aside so far ends.
    uint64_t reservedEnd() const { return reservedEnd_; }
    // Whether zeros written past end() hold that space, where the file
    // system cannot set blocks aside.
    bool holdsSpaceWithZeros() const { return !allocates_; }
    // Bytes the disk has left for this file.
    uint64_t freeSpace() const;
    // The largest size this process may give a file (a resource limit), or UINT64_MAX.
    uint64_t sizeLimit() const { return sizeLimit_; }
    // The OS's own error for a write past sizeLimit().
    WriterStatus sizeLimitReached() const;
    uint64_t end() const { return end_; }
    WriterStatus close();

private:
    static constexpr intptr_t kNoHandle = -1;

    // The target's system calls.
    WriterStatus systemCreate(const char* path);
    WriterStatus systemWrite(uint64_t offset, const Slice* slices, size_t count);
    WriterStatus systemSetSize(uint64_t size);
    // Sets blocks aside up to `end` without changing the size; `unsupported`
    // when the file system has no way to.
    WriterStatus systemAllocate(uint64_t from, uint64_t end, bool& unsupported);
    uint64_t systemFreeSpace() const;
    WriterStatus systemClose();

    uint64_t held() const { return end_ > reservedEnd_ ? end_ : reservedEnd_; }
    // Every change to the file's bytes goes through these two, which keep
    // diskSize_ and tell a test's tap (file_tap.h).
    WriterStatus write(uint64_t offset, const Slice* slices, size_t count);
    WriterStatus setSize(uint64_t size);
    WriterStatus writePrefix(uint64_t offset, const Slice* slices, size_t count, uint64_t bytes);
    WriterStatus setAside(uint64_t from, uint64_t end);
    WriterStatus allocate(uint64_t from, uint64_t end);
    WriterStatus writeZeros(uint64_t from, uint64_t end);
    void giveBack(uint64_t keep);

    intptr_t handle_ = kNoHandle;
    std::string folder_; // where the file lies, on targets that ask a folder for its free space
    uint64_t end_ = 0;
    uint64_t reservedEnd_ = 0;
    uint64_t diskSize_ = 0; // the file's size as the system has it: end_, or more with zeros past it
    uint64_t sizeLimit_ = UINT64_MAX;
    bool allocates_ = true; // false: space is set aside by writing zeros
};

// A millisecond clock that never goes backwards, for the writer's flush schedule.
uint64_t monotonicMilliseconds();

} // namespace avi
