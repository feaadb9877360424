// The AVIFile functions the plug-in calls, over our own AVI writer.
// Handles are reference counted like AVIFIL32's objects: a stream holds a
// reference to its file, and the file is finished when the last one goes.
// Only the functions below exist; a handle is good for nothing else.
#include "platform/windows/avifile_shim.h"

#include "platform/avi/stream_info.h"

#include <vfw.h>

#include <cstring>
#include <new>

namespace {

struct ShimStream;

struct ShimFile {
    explicit ShimFile(const avi::WriterOptions& options)
        : writer(options)
    {
        InitializeCriticalSection(&lock);
    }
    ~ShimFile() { DeleteCriticalSection(&lock); }

    LONG references = 1;
    CRITICAL_SECTION lock;
    avi::AviWriter writer;
    ShimStream* stream = nullptr;
};

struct ShimStream {
    LONG references = 1;
    ShimFile* file = nullptr;
};

class Locked {
public:
    explicit Locked(CRITICAL_SECTION& lock)
        : lock_(lock)
    {
        EnterCriticalSection(&lock_);
    }
    ~Locked() { LeaveCriticalSection(&lock_); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

private:
    CRITICAL_SECTION& lock_;
};

LONG initCount = 0;

// Written by tests before any file is opened, read at each open.
avi::WriterOptions writerOptions;

ShimFile* toFile(PAVIFILE file) { return reinterpret_cast<ShimFile*>(file); }
ShimStream* toStream(PAVISTREAM stream) { return reinterpret_cast<ShimStream*>(stream); }

HRESULT refused(avi::Failure why) { return toAviFileResult(avi::WriterStatus::refused(why)); }

ULONG releaseFile(ShimFile* file)
{
    const LONG left = InterlockedDecrement(&file->references);
    if (left == 0) {
        file->writer.close();
        delete file;
    }
    return static_cast<ULONG>(left);
}

} // namespace

HRESULT toAviFileResult(const avi::WriterStatus& status)
{
    switch (status.failure) {
    case avi::Failure::None:
        return 0;
    case avi::Failure::System:
        return static_cast<HRESULT>(status.systemCode ? status.systemCode : ERROR_WRITE_FAULT);
    case avi::Failure::BadArgument:
    case avi::Failure::GapTooLarge:
        return ERROR_INVALID_PARAMETER;
    case avi::Failure::StreamExists:
        return ERROR_ALREADY_EXISTS;
    case avi::Failure::NotVideo:
    case avi::Failure::FormatChange:
        return ERROR_NOT_SUPPORTED;
    case avi::Failure::BadFormat:
        return ERROR_INVALID_DATA;
    case avi::Failure::FormatNotSet:
        return ERROR_INVALID_FUNCTION;
    case avi::Failure::FrameTooLarge:
    case avi::Failure::FileTooLong:
        return ERROR_FILE_TOO_LARGE;
    case avi::Failure::OutOfMemory:
        return ERROR_NOT_ENOUGH_MEMORY;
    case avi::Failure::Closed:
        return ERROR_INVALID_HANDLE;
    }
    return ERROR_GEN_FAILURE;
}

void setAviFileWriterOptions(const avi::WriterOptions& options) { writerOptions = options; }

STDAPI_(void) AVIFileInit() { InterlockedIncrement(&initCount); }

STDAPI_(void) AVIFileExit()
{
    LONG count = initCount;
    while (count > 0) {
        const LONG seen = InterlockedCompareExchange(&initCount, count - 1, count);
        if (seen == count)
            break;
        count = seen;
    }
}

STDAPI AVIFileOpenA(PAVIFILE* file, LPCSTR path, UINT mode, LPCLSID)
{
    if (!file || !path)
        return refused(avi::Failure::BadArgument);
    *file = nullptr;
    if (InterlockedCompareExchange(&initCount, 0, 0) <= 0)
        return CO_E_NOTINITIALIZED;
    if (!(mode & OF_CREATE) || !(mode & OF_WRITE))
        return ERROR_ACCESS_DENIED;
    auto* object = new (std::nothrow) ShimFile(writerOptions);
    if (!object)
        return refused(avi::Failure::OutOfMemory);
    const avi::WriterStatus status = object->writer.open(path);
    if (!status.ok()) {
        delete object;
        return toAviFileResult(status);
    }
    *file = reinterpret_cast<PAVIFILE>(object);
    return 0;
}

STDAPI AVIFileCreateStreamA(PAVIFILE handle, PAVISTREAM* stream, AVISTREAMINFOA* info)
{
    ShimFile* file = toFile(handle);
    if (!file || !stream || !info)
        return refused(avi::Failure::BadArgument);
    *stream = nullptr;
    Locked guard(file->lock);
    if (file->stream || file->writer.hasStream())
        return refused(avi::Failure::StreamExists);
    const avi::WriterStatus status = file->writer.createStream(avi::streamHeaderFrom(*info));
    if (!status.ok())
        return toAviFileResult(status);
    auto* object = new (std::nothrow) ShimStream;
    if (!object)
        return refused(avi::Failure::OutOfMemory);
    object->file = file;
    InterlockedIncrement(&file->references);
    file->stream = object;
    *stream = reinterpret_cast<PAVISTREAM>(object);
    return 0;
}

STDAPI AVIStreamSetFormat(PAVISTREAM handle, LONG position, LPVOID format, LONG formatSize)
{
    ShimStream* stream = toStream(handle);
    if (!stream || !stream->file || !format || formatSize <= 0 || position != 0)
        return refused(avi::Failure::BadArgument);
    Locked guard(stream->file->lock);
    return toAviFileResult(stream->file->writer.setFormat(format, static_cast<size_t>(formatSize)));
}

STDAPI AVIStreamWrite(PAVISTREAM handle, LONG start, LONG samples, LPVOID buffer, LONG bufferSize, DWORD flags,
                      LONG* samplesWritten, LONG* bytesWritten)
{
    if (samplesWritten)
        *samplesWritten = 0;
    if (bytesWritten)
        *bytesWritten = 0;
    ShimStream* stream = toStream(handle);
    if (!stream || !stream->file || samples != 1 || bufferSize < 0)
        return refused(avi::Failure::BadArgument);
    Locked guard(stream->file->lock);
    const avi::WriterStatus status = stream->file->writer.writeFrame(
        start, buffer, static_cast<uint32_t>(bufferSize), (flags & AVIIF_KEYFRAME) != 0);
    if (!status.ok())
        return toAviFileResult(status);
    if (samplesWritten)
        *samplesWritten = 1;
    if (bytesWritten)
        *bytesWritten = bufferSize;
    return 0;
}

STDAPI_(ULONG) AVIStreamRelease(PAVISTREAM handle)
{
    ShimStream* stream = toStream(handle);
    if (!stream)
        return 0;
    const LONG left = InterlockedDecrement(&stream->references);
    if (left == 0) {
        ShimFile* file = stream->file;
        {
            Locked guard(file->lock);
            file->stream = nullptr;
        }
        delete stream;
        releaseFile(file);
    }
    return static_cast<ULONG>(left);
}

STDAPI_(ULONG) AVIFileRelease(PAVIFILE handle)
{
    ShimFile* file = toFile(handle);
    if (!file)
        return 0;
    return releaseFile(file);
}
