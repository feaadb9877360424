#include "platform/avi/output_file.h"

#include "platform/avi/file_tap.h"
#include "platform/avi/write_pieces.h"

#include <algorithm>
#include <new>

namespace avi {

namespace {

// Zeros for setting space aside where the file system cannot allocate: a
// whole write piece per slice, since Windows writes each slice with its own
// call, and under Wine 64 KiB calls made a frame's zeros cost 0.75 ms more
// at 1280 x 720 (BENCHMARKS.md, "AMD EPYC (Zen 3): the Windows build under
// Wine"). Untouched, they take no memory.
constexpr size_t kZeroBlock = kWritePiece;
constexpr size_t kZeroSlices = 8;
uint8_t zeros[kZeroBlock];

uint64_t totalSize(const Slice* slices, size_t count)
{
    uint64_t total = 0;
    for (size_t i = 0; i < count; ++i)
        total += slices[i].size;
    return total;
}

} // namespace

OutputFile::~OutputFile() { close(); }

WriterStatus OutputFile::create(const char* path)
{
    close();
    end_ = 0;
    reservedEnd_ = 0;
    diskSize_ = 0;
    FileTap* tap = installedFileTap();
    allocates_ = !(tap && tap->noReservation());
    try {
        return systemCreate(path);
    } catch (const std::bad_alloc&) {
        return WriterStatus::refused(Failure::OutOfMemory);
    }
}

WriterStatus OutputFile::append(const Slice* slices, size_t count)
{
    if (!isOpen())
        return WriterStatus::refused(Failure::Closed);
    const uint64_t total = totalSize(slices, count);
    if (FileTap* tap = installedFileTap()) {
        const FaultVerdict verdict = tap->judge(FileOperation::Append, end_, end_ + total, held());
        if (verdict.fails) {
            writePrefix(end_, slices, count, verdict.reach - end_);
            return WriterStatus::system(verdict.code);
        }
    }
    const WriterStatus status = write(end_, slices, count);
    if (status.ok())
        end_ += total;
    return status;
}

WriterStatus OutputFile::extendTo(uint64_t size)
{
    if (!isOpen())
        return WriterStatus::refused(Failure::Closed);
    if (size <= diskSize_)
        return WriterStatus::success();
    if (FileTap* tap = installedFileTap()) {
        const FaultVerdict verdict = tap->judge(FileOperation::Extend, diskSize_, size, held());
        if (verdict.fails)
            return WriterStatus::system(verdict.code);
    }
    return setSize(size);
}

WriterStatus OutputFile::writeAt(uint64_t offset, const void* data, size_t size)
{
    if (!isOpen())
        return WriterStatus::refused(Failure::Closed);
    const Slice slice {data, size};
    if (FileTap* tap = installedFileTap()) {
        const FaultVerdict verdict = tap->judge(FileOperation::WriteAt, offset, offset + size, held());
        if (verdict.fails) {
            writePrefix(offset, &slice, 1, verdict.reach - offset);
            return WriterStatus::system(verdict.code);
        }
    }
    return write(offset, &slice, 1);
}

WriterStatus OutputFile::cutTo(uint64_t size)
{
    if (!isOpen())
        return WriterStatus::refused(Failure::Closed);
    if (size > end_)
        return WriterStatus::refused(Failure::BadArgument);
    end_ = size;
    if (FileTap* tap = installedFileTap()) {
        const FaultVerdict verdict = tap->judge(FileOperation::Truncate, size, size, held());
        if (verdict.fails)
            return WriterStatus::system(verdict.code);
    }
    const WriterStatus status = setSize(size);
    if (status.ok())
        reservedEnd_ = size;
    return status;
}

WriterStatus OutputFile::reserveUpTo(uint64_t end)
{
    if (!isOpen())
        return WriterStatus::refused(Failure::Closed);
    const uint64_t from = held();
    if (end <= from)
        return WriterStatus::success();
    const WriterStatus status = setAside(from, end);
    if (!status.ok()) {
        giveBack(from);
        return status;
    }
    reservedEnd_ = end;
    return status;
}

uint64_t OutputFile::freeSpace() const
{
    const uint64_t systemFree = systemFreeSpace();
    FileTap* tap = installedFileTap();
    return tap ? tap->freeSpace(systemFree, held()) : systemFree;
}

WriterStatus OutputFile::close()
{
    if (!isOpen())
        return WriterStatus::success();
    const WriterStatus status = systemClose();
    handle_ = kNoHandle;
    return status;
}

WriterStatus OutputFile::write(uint64_t offset, const Slice* slices, size_t count)
{
    const WriterStatus status = systemWrite(offset, slices, count);
    if (!status.ok())
        return status;
    diskSize_ = std::max(diskSize_, offset + totalSize(slices, count));
    if (FileTap* tap = installedFileTap())
        tap->wrote(offset, slices, count);
    return status;
}

WriterStatus OutputFile::setSize(uint64_t size)
{
    const WriterStatus status = systemSetSize(size);
    if (!status.ok())
        return status;
    diskSize_ = size;
    if (FileTap* tap = installedFileTap())
        tap->resized(size);
    return status;
}

// What a failed write got down before it failed: the first `bytes` bytes.
WriterStatus OutputFile::writePrefix(uint64_t offset, const Slice* slices, size_t count, uint64_t bytes)
{
    for (size_t i = 0; i < count && bytes > 0; ++i) {
        const Slice part {slices[i].data, static_cast<size_t>(std::min<uint64_t>(slices[i].size, bytes))};
        const WriterStatus status = write(offset, &part, 1);
        if (!status.ok())
            return status;
        offset += part.size;
        bytes -= part.size;
    }
    return WriterStatus::success();
}

WriterStatus OutputFile::setAside(uint64_t from, uint64_t end)
{
    FaultVerdict verdict;
    if (FileTap* tap = installedFileTap())
        verdict = tap->judge(FileOperation::Reserve, from, end, held());
    const uint64_t reach = verdict.fails ? verdict.reach : end;
    WriterStatus status;
    if (reach > from)
        status = allocates_ ? allocate(from, reach) : writeZeros(from, reach);
    if (status.ok() && verdict.fails)
        status = WriterStatus::system(verdict.code);
    return status;
}

WriterStatus OutputFile::allocate(uint64_t from, uint64_t end)
{
    bool unsupported = false;
    const WriterStatus status = systemAllocate(from, end, unsupported);
    if (!unsupported)
        return status;
    allocates_ = false;
    return writeZeros(from, end);
}

// Zeros past the end of the file hold their blocks as well as an
// allocation would; appends overwrite them and cutTo trims the rest.
WriterStatus OutputFile::writeZeros(uint64_t from, uint64_t end)
{
    Slice slices[kZeroSlices];
    while (from < end) {
        size_t count = 0;
        uint64_t bytes = 0;
        for (; count < kZeroSlices && from + bytes < end; ++count) {
            slices[count] = {zeros, static_cast<size_t>(std::min<uint64_t>(kZeroBlock, end - from - bytes))};
            bytes += slices[count].size;
        }
        const WriterStatus status = write(from, slices, count);
        if (!status.ok())
            return status;
        from += bytes;
    }
    return WriterStatus::success();
}

// A reservation that failed part way may still hold what it got (ext4
// keeps the blocks of a failed fallocate): everything past `keep` goes
// back. Cutting the file at its end frees every block past it; what was
// set aside before is then set aside again.
void OutputFile::giveBack(uint64_t keep)
{
    if (!allocates_) {
        setSize(std::max(keep, end_));
        return;
    }
    if (!setSize(end_).ok() || keep <= end_)
        return;
    bool unsupported = false;
    if (!systemAllocate(end_, keep, unsupported).ok()) {
        setSize(end_);
        reservedEnd_ = end_;
    }
}

} // namespace avi
