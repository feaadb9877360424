// The AVI writer's file on POSIX systems: its system calls.
#include "platform/avi/output_file.h"

#include "platform/avi/write_pieces.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/statfs.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

namespace avi {

namespace {

int fd(intptr_t handle) { return static_cast<int>(handle); }

uint64_t processSizeLimit()
{
    rlimit limit {};
    if (getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return UINT64_MAX;
    return static_cast<uint64_t>(limit.rlim_cur);
}

bool allocationUnsupported(int error)
{
    return error == EOPNOTSUPP || error == ENOSYS || error == EINVAL || error == ENODEV || error == ESPIPE;
}

} // namespace

WriterStatus OutputFile::systemCreate(const char* path)
{
    int descriptor = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (descriptor < 0)
        return WriterStatus::system(errno);
    handle_ = descriptor;
    sizeLimit_ = processSizeLimit();
    return WriterStatus::success();
}

WriterStatus OutputFile::systemWrite(uint64_t offset, const Slice* slices, size_t count)
{
    uint64_t left = 0;
    for (size_t i = 0; i < count; ++i)
        left += slices[i].size;
    iovec vectors[IOV_MAX];
    size_t next = 0;
    size_t skipInFirst = 0;
    while (left > 0) {
        uint64_t room = writeCallSize(offset, left);
        size_t used = 0;
        for (size_t i = next; i < count && used < IOV_MAX && room > 0; ++i) {
            const size_t skip = i == next ? skipInFirst : 0;
            const size_t length = static_cast<size_t>(std::min<uint64_t>(slices[i].size - skip, room));
            vectors[used].iov_base = const_cast<char*>(static_cast<const char*>(slices[i].data) + skip);
            vectors[used].iov_len = length;
            room -= length;
            ++used;
        }
        ssize_t written = ::pwritev(fd(handle_), vectors, static_cast<int>(used), static_cast<off_t>(offset));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return WriterStatus::system(errno);
        }
        if (written == 0)
            return WriterStatus::system(EIO);
        offset += static_cast<uint64_t>(written);
        left -= static_cast<uint64_t>(written);
        // Step over what the kernel took, which may end inside a slice.
        size_t remaining = static_cast<size_t>(written);
        while (next < count && remaining >= slices[next].size - skipInFirst) {
            remaining -= slices[next].size - skipInFirst;
            skipInFirst = 0;
            ++next;
        }
        skipInFirst += remaining;
    }
    return WriterStatus::success();
}

// Cutting the file also frees the blocks fallocate set aside past its end.
WriterStatus OutputFile::systemSetSize(uint64_t size)
{
    while (::ftruncate(fd(handle_), static_cast<off_t>(size)) != 0) {
        if (errno != EINTR)
            return WriterStatus::system(errno);
    }
    return WriterStatus::success();
}

WriterStatus OutputFile::systemAllocate(uint64_t from, uint64_t end, bool& unsupported)
{
    int result;
    do {
        result = ::fallocate(fd(handle_), FALLOC_FL_KEEP_SIZE, static_cast<off_t>(from), static_cast<off_t>(end - from));
    } while (result != 0 && errno == EINTR);
    if (result == 0)
        return WriterStatus::success();
    unsupported = allocationUnsupported(errno);
    return WriterStatus::system(errno);
}

uint64_t OutputFile::systemFreeSpace() const
{
    struct statfs disk {};
    if (::fstatfs(fd(handle_), &disk) != 0)
        return UINT64_MAX;
    return static_cast<uint64_t>(disk.f_bavail) * static_cast<uint64_t>(disk.f_bsize);
}

WriterStatus OutputFile::sizeLimitReached() const { return WriterStatus::system(EFBIG); }

WriterStatus OutputFile::systemClose()
{
    if (::close(fd(handle_)) != 0 && errno != EINTR)
        return WriterStatus::system(errno);
    return WriterStatus::success();
}

uint64_t monotonicMilliseconds()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

} // namespace avi
