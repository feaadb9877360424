// The AVIFile functions of the native layer, over our own writer
// (platform/avi/avifile_core.h), with the test hooks of native_host.h.
//
// Error codes: every failure is an HRESULT with the customer bit set
// (error_codes.h): an OS failure carries its errno, a refusal of the
// writer's its avi::Failure. Our FormatMessageA (kernel.cpp) turns the
// first into strerror's text and the second into describeFailure's.
#include "platform/avi/avifile_core.h"
#include "platform/avi/file_faults.h"
#include "platform/native/error_codes.h"
#include "platform/native/native_host.h"
#include "platform/native/timing.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

namespace {

std::mutex injectionLock;
std::string injectedOperation;
HRESULT injectedCode = 0;

// True (with the code) when a test asked this operation to fail once.
bool injectedFailure(const char* operation, HRESULT& code)
{
    std::lock_guard<std::mutex> guard(injectionLock);
    if (injectedOperation != operation)
        return false;
    injectedOperation.clear();
    code = injectedCode;
    return true;
}

std::atomic<DWORD> writeDelayUs {0};
std::atomic<long> failedWrites {0};
std::atomic<DWORD> openAndReleaseDelayMs {0};

void delayOpenOrRelease()
{
    if (const DWORD delay = openAndReleaseDelayMs.load(std::memory_order_relaxed))
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
}

} // namespace

WIN32_NATIVE_API void NativeInstallFileFaults(const avi::FaultPlan* plan)
{
    if (plan)
        avi::FileFaults::install(*plan);
    else
        avi::FileFaults::remove();
}

WIN32_NATIVE_API long NativeFailedAviWriteCount() { return failedWrites.load(std::memory_order_relaxed); }

WIN32_NATIVE_API int NativeOpenAviFileCount() { return avifile::openFileCount(); }

WIN32_NATIVE_API void NativeSlowAviWrites(DWORD microseconds)
{
    writeDelayUs.store(microseconds, std::memory_order_relaxed);
}

WIN32_NATIVE_API void NativeSlowAviOpensAndReleases(DWORD milliseconds)
{
    openAndReleaseDelayMs.store(milliseconds, std::memory_order_relaxed);
}

WIN32_NATIVE_API HRESULT NativeErrorFromErrno(int error) { return native::toHresult(avi::WriterStatus::system(error)); }

// Values past what the format can describe are clamped by setWriterOptions.
WIN32_NATIVE_API void NativeSetAviWriterOptions(const NativeAviWriterOptions* options)
{
    avi::WriterOptions writer;
    if (options && options->segmentLimit)
        writer.segmentLimit = options->segmentLimit;
    if (options && options->flushIntervalMs)
        writer.flushIntervalMs = options->flushIntervalMs;
    if (options && options->superIndexCapacity)
        writer.superIndexCapacity = options->superIndexCapacity;
    avifile::setWriterOptions(writer);
}

WIN32_NATIVE_API uint64_t NativeSmallestAviSegment(const BITMAPINFOHEADER* format)
{
    avi::StreamHeader stream;
    stream.type = avi::kVideoStream;
    std::memset(stream.name, 'x', sizeof stream.name - 1);
    return avifile::smallestSegment(stream, format, sizeof *format);
}

WIN32_NATIVE_API void NativeFailNextAviCall(LPCSTR operation, HRESULT code)
{
    std::lock_guard<std::mutex> guard(injectionLock);
    injectedOperation = operation ? operation : "";
    injectedCode = code;
}

// Files are opened only once the library is initialised; their header
// patches go by the clock the tests drive.
WIN32_NATIVE_API void AVIFileInit()
{
    avifile::setWriterClock(native::milliseconds);
    avifile::init();
}

WIN32_NATIVE_API void AVIFileExit() { avifile::exit(); }

WIN32_NATIVE_API HRESULT AVIFileOpenA(PAVIFILE* file, LPCSTR path, UINT mode, LPCLSID)
{
    HRESULT injected = 0;
    if (file && path && injectedFailure("AVIFileOpenA", injected)) {
        *file = nullptr;
        return injected;
    }
    delayOpenOrRelease();
    return native::toHresult(avifile::open(file, path, mode));
}

WIN32_NATIVE_API HRESULT AVIFileCreateStreamA(PAVIFILE file, PAVISTREAM* stream, AVISTREAMINFOA* info)
{
    if (!info)
        return native::toHresult(avi::WriterStatus::refused(avi::Failure::BadArgument));
    HRESULT injected = 0;
    if (file && stream && injectedFailure("AVIFileCreateStreamA", injected)) {
        *stream = nullptr;
        return injected;
    }
    return native::toHresult(avifile::createStream(file, avi::streamHeaderFrom(*info), stream));
}

WIN32_NATIVE_API HRESULT AVIStreamSetFormat(PAVISTREAM stream, LONG position, LPVOID format, LONG formatSize)
{
    HRESULT injected = 0;
    if (stream && format && injectedFailure("AVIStreamSetFormat", injected))
        return injected;
    return native::toHresult(avifile::setFormat(stream, position, format, formatSize));
}

WIN32_NATIVE_API HRESULT AVIStreamWrite(PAVISTREAM stream, LONG start, LONG samples, LPVOID buffer, LONG bufferSize,
                                        DWORD flags, LONG* samplesWritten, LONG* bytesWritten)
{
    HRESULT result = 0;
    // A failed write leaves the counts as they were: the system's need not
    // clear them either.
    if (!stream || !injectedFailure("AVIStreamWrite", result)) {
        if (const DWORD delay = writeDelayUs.load(std::memory_order_relaxed))
            std::this_thread::sleep_for(std::chrono::microseconds(delay));
        result = native::toHresult(avifile::write(stream, start, samples, buffer, bufferSize,
                                                  (flags & AVIIF_KEYFRAME) != 0, samplesWritten, bytesWritten));
    }
    if (result != 0)
        failedWrites.fetch_add(1, std::memory_order_relaxed);
    return result;
}

WIN32_NATIVE_API HRESULT AviStreamKeepCurrent(PAVISTREAM stream)
{
    return native::toHresult(avifile::keepCurrent(stream));
}

WIN32_NATIVE_API ULONG AVIStreamRelease(PAVISTREAM stream) { return avifile::releaseStream(stream); }

WIN32_NATIVE_API ULONG AVIFileRelease(PAVIFILE file)
{
    delayOpenOrRelease();
    return avifile::releaseFile(file);
}
