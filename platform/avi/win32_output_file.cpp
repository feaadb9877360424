// The AVI writer's file on Windows: its system calls. Each write call moves
// the handle's file pointer to its offset and writes its slices from there,
// cut into the same pieces as on POSIX systems (write_pieces.h);
// the writer makes its calls on one thread at a time (the file's lock).
// Runs on Windows XP: what later versions add is looked up, and done
// without when missing.
#include "platform/avi/output_file.h"

#include "platform/avi/write_pieces.h"

#include <windows.h>

#include <string>

namespace avi {

namespace {

// SetFileInformationByHandle (Vista) with FileAllocationInfo.
constexpr int kFileAllocationInfo = 5;
struct FileAllocationInfo {
    LARGE_INTEGER allocationSize;
};
using SetFileInformationByHandleFunction = BOOL(WINAPI*)(HANDLE, int, LPVOID, DWORD);

SetFileInformationByHandleFunction setFileInformation()
{
    static const auto function = reinterpret_cast<SetFileInformationByHandleFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetFileInformationByHandle")));
    return function;
}

HANDLE fileHandle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

WriterStatus lastError()
{
    const DWORD code = GetLastError();
    return WriterStatus::system(static_cast<int>(code ? code : ERROR_WRITE_FAULT));
}

WriterStatus seekTo(HANDLE file, uint64_t offset)
{
    LARGE_INTEGER position {};
    position.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(file, position, nullptr, FILE_BEGIN) ? WriterStatus::success() : lastError();
}

// At the file pointer, which moves past what was written. Not with an
// OVERLAPPED offset: Wine follows every such call with a round trip to its
// server (to queue a completion), which made a written frame cost three
// times as much (BENCHMARKS.md, "AMD EPYC (Zen 3): the Windows build under
// Wine"); on Windows the seek costs one system call per systemWrite.
// `size` is at most one write piece, well within WriteFile's DWORD.
WriterStatus writeAll(HANDLE file, const void* data, size_t size)
{
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        DWORD written = 0;
        if (!WriteFile(file, bytes, static_cast<DWORD>(size), &written, nullptr))
            return lastError();
        if (written == 0)
            return WriterStatus::system(ERROR_WRITE_FAULT);
        bytes += written;
        size -= written;
    }
    return WriterStatus::success();
}

bool allocationUnsupported(DWORD error)
{
    return error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_PARAMETER ||
           error == ERROR_CALL_NOT_IMPLEMENTED;
}

} // namespace

WriterStatus OutputFile::systemCreate(const char* path)
{
    // The folder, with its separator, for GetDiskFreeSpaceExA.
    const std::string name(path);
    const size_t separator = name.find_last_of("\\/");
    folder_.assign(name, 0, separator == std::string::npos ? 0 : separator + 1);
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return lastError();
    handle_ = reinterpret_cast<intptr_t>(file);
    sizeLimit_ = UINT64_MAX;
    return WriterStatus::success();
}

WriterStatus OutputFile::systemWrite(uint64_t offset, const Slice* slices, size_t count)
{
    WriterStatus status = seekTo(fileHandle(handle_), offset);
    for (size_t i = 0; i < count && status.ok(); ++i) {
        const char* bytes = static_cast<const char*>(slices[i].data);
        uint64_t left = slices[i].size;
        while (left > 0 && status.ok()) {
            const auto size = static_cast<size_t>(writeCallSize(offset, left));
            status = writeAll(fileHandle(handle_), bytes, size);
            bytes += size;
            left -= size;
            offset += size;
        }
    }
    return status;
}

WriterStatus OutputFile::systemSetSize(uint64_t size)
{
    LARGE_INTEGER end {};
    end.QuadPart = static_cast<LONGLONG>(size);
    if (!SetFilePointerEx(fileHandle(handle_), end, nullptr, FILE_BEGIN) || !SetEndOfFile(fileHandle(handle_)))
        return lastError();
    return WriterStatus::success();
}

// Allocation past the end of the file keeps the file's size; NTFS gives the
// clusters back when the last handle closes.
WriterStatus OutputFile::systemAllocate(uint64_t, uint64_t end, bool& unsupported)
{
    const SetFileInformationByHandleFunction setInformation = setFileInformation();
    if (!setInformation) {
        unsupported = true;
        return WriterStatus::system(ERROR_CALL_NOT_IMPLEMENTED);
    }
    FileAllocationInfo info {};
    info.allocationSize.QuadPart = static_cast<LONGLONG>(end);
    if (setInformation(fileHandle(handle_), kFileAllocationInfo, &info, sizeof info))
        return WriterStatus::success();
    const DWORD error = GetLastError();
    unsupported = allocationUnsupported(error);
    return WriterStatus::system(static_cast<int>(error));
}

uint64_t OutputFile::systemFreeSpace() const
{
    ULARGE_INTEGER available {};
    if (!GetDiskFreeSpaceExA(folder_.empty() ? nullptr : folder_.c_str(), &available, nullptr, nullptr))
        return UINT64_MAX;
    return available.QuadPart;
}

WriterStatus OutputFile::sizeLimitReached() const { return WriterStatus::system(ERROR_FILE_TOO_LARGE); }

WriterStatus OutputFile::systemClose() { return CloseHandle(fileHandle(handle_)) ? WriterStatus::success() : lastError(); }

uint64_t monotonicMilliseconds()
{
    static const uint64_t frequency = [] {
        LARGE_INTEGER value {};
        QueryPerformanceFrequency(&value);
        return static_cast<uint64_t>(value.QuadPart > 0 ? value.QuadPart : 1);
    }();
    LARGE_INTEGER now {};
    QueryPerformanceCounter(&now);
    const auto ticks = static_cast<uint64_t>(now.QuadPart);
    return ticks / frequency * 1000 + ticks % frequency * 1000 / frequency;
}

} // namespace avi
