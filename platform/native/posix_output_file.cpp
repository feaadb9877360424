// The AVI writer's file on POSIX systems.
#include "platform/avi/output_file.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/resource.h>
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

bool reservationUnsupported(int error)
{
    return error == EOPNOTSUPP || error == ENOSYS || error == EINVAL || error == ENODEV || error == ESPIPE;
}

} // namespace

OutputFile::~OutputFile() { close(); }

WriterStatus OutputFile::create(const char* path)
{
    close();
    int descriptor = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (descriptor < 0)
        return WriterStatus::system(errno);
    handle_ = descriptor;
    end_ = 0;
    reservedEnd_ = 0;
    canReserve_ = true;
    sizeLimit_ = processSizeLimit();
    return WriterStatus::success();
}

namespace {

// One call that covers a whole 2 MiB-aligned stretch of the file lets
// Linux back it with a 2 MiB page-cache folio. On the VM measured, such
// blocks were the ones the guest had handed back to its host, which had
// to supply them again: a 4K frame in one call took ten times as long as
// in 512 KiB pieces. So an append longer than a piece is cut at piece
// boundaries of the file; a shorter one (a small frame and its chunk
// header) stays one call.
constexpr uint64_t kWritePiece = uint64_t(512) << 10;

uint64_t callSize(uint64_t offset, uint64_t left)
{
    return left <= kWritePiece ? left : kWritePiece - offset % kWritePiece;
}

} // namespace

WriterStatus OutputFile::append(const Slice* slices, size_t count)
{
    if (!isOpen())
        return WriterStatus::refused(Failure::Closed);
    uint64_t left = 0;
    for (size_t i = 0; i < count; ++i)
        left += slices[i].size;
    iovec vectors[IOV_MAX];
    uint64_t offset = end_;
    size_t next = 0;
    size_t skipInFirst = 0;
    while (left > 0) {
        uint64_t room = callSize(offset, left);
        size_t used = 0;
        for (size_t i = next; i < count && used < IOV_MAX && room > 0; ++i) {
            size_t skip = i == next ? skipInFirst : 0;
            size_t length = static_cast<size_t>(std::min<uint64_t>(slices[i].size - skip, room));
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
    end_ = offset;
    return WriterStatus::success();
}

WriterStatus OutputFile::writeAt(uint64_t offset, const void* data, size_t size)
{
    if (!isOpen())
        return WriterStatus::refused(Failure::Closed);
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t written = ::pwrite(fd(handle_), bytes, size, static_cast<off_t>(offset));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return WriterStatus::system(errno);
        }
        if (written == 0)
            return WriterStatus::system(EIO);
        bytes += written;
        size -= static_cast<size_t>(written);
        offset += static_cast<uint64_t>(written);
    }
    return WriterStatus::success();
}

WriterStatus OutputFile::truncate(uint64_t size)
{
    if (!isOpen())
        return WriterStatus::refused(Failure::Closed);
    while (::ftruncate(fd(handle_), static_cast<off_t>(size)) != 0) {
        if (errno != EINTR)
            return WriterStatus::system(errno);
    }
    end_ = size;
    reservedEnd_ = std::min(reservedEnd_, size);
    return WriterStatus::success();
}

WriterStatus OutputFile::reserveUpTo(uint64_t end)
{
    if (!isOpen())
        return WriterStatus::refused(Failure::Closed);
    if (!canReserve_ || end <= reservedEnd_ || end <= end_)
        return WriterStatus::success();
    uint64_t from = std::max(reservedEnd_, end_);
    int result;
    do {
        result = ::fallocate(fd(handle_), FALLOC_FL_KEEP_SIZE, static_cast<off_t>(from), static_cast<off_t>(end - from));
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        if (reservationUnsupported(errno)) {
            canReserve_ = false;
            return WriterStatus::success();
        }
        return WriterStatus::system(errno);
    }
    reservedEnd_ = end;
    return WriterStatus::success();
}

WriterStatus OutputFile::sizeLimitReached() const { return WriterStatus::system(EFBIG); }

WriterStatus OutputFile::close()
{
    if (!isOpen())
        return WriterStatus::success();
    int result = ::close(fd(handle_));
    handle_ = kNoHandle;
    if (result != 0 && errno != EINTR)
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
