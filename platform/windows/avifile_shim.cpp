// The AVIFile functions the plug-in calls, over our own writer
// (platform/avi/avifile_core.h). Only the functions below exist; a handle
// is good for nothing else.
//
// Error codes: a failed file operation returns the Win32 error code itself
// and a refusal of the writer's a fitting Win32 code, so the system's own
// FormatMessageA gives the text for either.
#include "platform/windows/avifile_shim.h"

#include "platform/avi/avifile_core.h"

#include <vfw.h>

namespace {

avifile::File* toFile(PAVIFILE file) { return reinterpret_cast<avifile::File*>(file); }
avifile::Stream* toStream(PAVISTREAM stream) { return reinterpret_cast<avifile::Stream*>(stream); }

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
    case avi::Failure::SegmentTooSmall:
        return ERROR_INVALID_PARAMETER;
    case avi::Failure::OutOfMemory:
        return ERROR_NOT_ENOUGH_MEMORY;
    case avi::Failure::Closed:
        return ERROR_INVALID_HANDLE;
    case avi::Failure::NotInitialised:
        return CO_E_NOTINITIALIZED;
    case avi::Failure::NotWritable:
        return ERROR_ACCESS_DENIED;
    }
    return ERROR_GEN_FAILURE;
}

void setAviFileWriterOptions(const avi::WriterOptions& options) { avifile::setWriterOptions(options); }

STDAPI_(void) AVIFileInit() { avifile::init(); }

STDAPI_(void) AVIFileExit() { avifile::exit(); }

STDAPI AVIFileOpenA(PAVIFILE* file, LPCSTR path, UINT mode, LPCLSID)
{
    avifile::File* opened = nullptr;
    const avi::WriterStatus status = avifile::open(file ? &opened : nullptr, path, mode);
    if (file)
        *file = reinterpret_cast<PAVIFILE>(opened);
    return toAviFileResult(status);
}

STDAPI AVIFileCreateStreamA(PAVIFILE file, PAVISTREAM* stream, AVISTREAMINFOA* info)
{
    if (!info)
        return toAviFileResult(avi::WriterStatus::refused(avi::Failure::BadArgument));
    avifile::Stream* created = nullptr;
    const avi::WriterStatus status =
        avifile::createStream(toFile(file), avi::streamHeaderFrom(*info), stream ? &created : nullptr);
    if (stream)
        *stream = reinterpret_cast<PAVISTREAM>(created);
    return toAviFileResult(status);
}

STDAPI AVIStreamSetFormat(PAVISTREAM stream, LONG position, LPVOID format, LONG formatSize)
{
    return toAviFileResult(avifile::setFormat(toStream(stream), position, format, formatSize));
}

STDAPI AVIStreamWrite(PAVISTREAM stream, LONG start, LONG samples, LPVOID buffer, LONG bufferSize, DWORD flags,
                      LONG* samplesWritten, LONG* bytesWritten)
{
    return toAviFileResult(avifile::write(toStream(stream), start, samples, buffer, bufferSize,
                                          (flags & AVIIF_KEYFRAME) != 0, samplesWritten, bytesWritten));
}

STDAPI AviStreamKeepCurrent(PAVISTREAM stream) { return toAviFileResult(avifile::keepCurrent(toStream(stream))); }

STDAPI_(ULONG) AVIStreamRelease(PAVISTREAM stream) { return avifile::releaseStream(toStream(stream)); }

STDAPI_(ULONG) AVIFileRelease(PAVIFILE file) { return avifile::releaseFile(toFile(file)); }
