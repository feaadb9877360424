// The AVIFile operations of the native layer, over our own AVI writer.
// Handles are reference counted as the COM objects of AVIFIL32 are: a
// stream holds a reference to its file, and the file is finished when the
// last reference goes.
#include "platform/avi/avi_writer.h"
#include "platform/avi/stream_info.h"
#include "platform/native/error_codes.h"
#include "platform/native/native_host.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <thread>

namespace {
std::atomic<int> openFiles {0};
}

struct AviFileObject {
    explicit AviFileObject(const avi::WriterOptions& options)
        : writer(options)
    {
        openFiles.fetch_add(1);
    }
    ~AviFileObject() { openFiles.fetch_sub(1); }
    std::atomic<ULONG> references {1};
    std::mutex lock;
    avi::AviWriter writer;
    AviStreamObject* stream = nullptr;
};

struct AviStreamObject {
    std::atomic<ULONG> references {1};
    AviFileObject* file = nullptr;
};

namespace {

std::atomic<int> initCount {0};
std::mutex optionsLock;
avi::WriterOptions writerOptions;

avi::WriterOptions currentOptions()
{
    std::lock_guard<std::mutex> guard(optionsLock);
    return writerOptions;
}

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

HRESULT refused(avi::Failure why) { return native::toHresult(avi::WriterStatus::refused(why)); }

ULONG releaseFile(AviFileObject* file)
{
    const ULONG left = file->references.fetch_sub(1) - 1;
    if (left == 0) {
        file->writer.close();
        delete file;
    }
    return left;
}

} // namespace

WIN32_NATIVE_API int NativeOpenAviFileCount() { return openFiles.load(); }

WIN32_NATIVE_API void NativeSlowAviWrites(DWORD microseconds)
{
    writeDelayUs.store(microseconds, std::memory_order_relaxed);
}

WIN32_NATIVE_API void AVIFileInit() { initCount.fetch_add(1); }

WIN32_NATIVE_API void AVIFileExit()
{
    int count = initCount.load();
    while (count > 0 && !initCount.compare_exchange_weak(count, count - 1)) {
    }
}

WIN32_NATIVE_API void NativeSetAviWriterOptions(const NativeAviWriterOptions* options)
{
    std::lock_guard<std::mutex> guard(optionsLock);
    writerOptions = avi::WriterOptions();
    if (!options)
        return;
    if (options->segmentLimit)
        writerOptions.segmentLimit = options->segmentLimit;
    if (options->flushIntervalMs)
        writerOptions.flushIntervalMs = options->flushIntervalMs;
    if (options->superIndexCapacity)
        writerOptions.superIndexCapacity = options->superIndexCapacity;
}

WIN32_NATIVE_API void NativeFailNextAviCall(LPCSTR operation, HRESULT code)
{
    std::lock_guard<std::mutex> guard(injectionLock);
    injectedOperation = operation ? operation : "";
    injectedCode = code;
}

WIN32_NATIVE_API HRESULT AVIFileOpenA(PAVIFILE* file, LPCSTR path, UINT mode, LPCLSID)
{
    if (!file || !path)
        return refused(avi::Failure::BadArgument);
    *file = nullptr;
    HRESULT injected = 0;
    if (injectedFailure("AVIFileOpenA", injected))
        return injected;
    if (initCount.load() <= 0)
        return native::kLibraryNotInitialised;
    if (!(mode & OF_CREATE) || !(mode & OF_WRITE))
        return native::kNotWritable;
    auto* object = new (std::nothrow) AviFileObject(currentOptions());
    if (!object)
        return refused(avi::Failure::OutOfMemory);
    avi::WriterStatus status = object->writer.open(path);
    if (!status.ok()) {
        delete object;
        return native::toHresult(status);
    }
    *file = object;
    return 0;
}

WIN32_NATIVE_API HRESULT AVIFileCreateStreamA(PAVIFILE file, PAVISTREAM* stream, AVISTREAMINFOA* info)
{
    if (!file || !stream || !info)
        return refused(avi::Failure::BadArgument);
    *stream = nullptr;
    HRESULT injected = 0;
    if (injectedFailure("AVIFileCreateStreamA", injected))
        return injected;
    std::lock_guard<std::mutex> guard(file->lock);
    if (file->stream || file->writer.hasStream())
        return refused(avi::Failure::StreamExists);
    avi::WriterStatus status = file->writer.createStream(avi::streamHeaderFrom(*info));
    if (!status.ok())
        return native::toHresult(status);
    auto* object = new (std::nothrow) AviStreamObject;
    if (!object)
        return refused(avi::Failure::OutOfMemory);
    object->file = file;
    file->references.fetch_add(1);
    file->stream = object;
    *stream = object;
    return 0;
}

WIN32_NATIVE_API HRESULT AVIStreamSetFormat(PAVISTREAM stream, LONG position, LPVOID format, LONG formatSize)
{
    if (!stream || !stream->file || !format || formatSize <= 0 || position != 0)
        return refused(avi::Failure::BadArgument);
    HRESULT injected = 0;
    if (injectedFailure("AVIStreamSetFormat", injected))
        return injected;
    std::lock_guard<std::mutex> guard(stream->file->lock);
    return native::toHresult(stream->file->writer.setFormat(format, static_cast<size_t>(formatSize)));
}

WIN32_NATIVE_API HRESULT AVIStreamWrite(PAVISTREAM stream, LONG start, LONG samples, LPVOID buffer, LONG bufferSize,
                                        DWORD flags, LONG* samplesWritten, LONG* bytesWritten)
{
    if (samplesWritten)
        *samplesWritten = 0;
    if (bytesWritten)
        *bytesWritten = 0;
    if (!stream || !stream->file || samples != 1 || bufferSize < 0)
        return refused(avi::Failure::BadArgument);
    HRESULT injected = 0;
    if (injectedFailure("AVIStreamWrite", injected))
        return injected;
    if (const DWORD delay = writeDelayUs.load(std::memory_order_relaxed))
        std::this_thread::sleep_for(std::chrono::microseconds(delay));
    std::lock_guard<std::mutex> guard(stream->file->lock);
    avi::WriterStatus status = stream->file->writer.writeFrame(start, buffer, static_cast<uint32_t>(bufferSize),
                                                               (flags & AVIIF_KEYFRAME) != 0);
    if (!status.ok())
        return native::toHresult(status);
    if (samplesWritten)
        *samplesWritten = 1;
    if (bytesWritten)
        *bytesWritten = bufferSize;
    return 0;
}

WIN32_NATIVE_API ULONG AVIStreamRelease(PAVISTREAM stream)
{
    if (!stream)
        return 0;
    const ULONG left = stream->references.fetch_sub(1) - 1;
    if (left == 0) {
        AviFileObject* file = stream->file;
        {
            std::lock_guard<std::mutex> guard(file->lock);
            file->stream = nullptr;
        }
        delete stream;
        releaseFile(file);
    }
    return left;
}

WIN32_NATIVE_API ULONG AVIFileRelease(PAVIFILE file)
{
    if (!file)
        return 0;
    return releaseFile(file);
}
