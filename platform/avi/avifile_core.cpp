#include "platform/avi/avifile_core.h"

#include "platform/ticket_lock.h"

#include <atomic>
#include <new>

namespace avifile {

struct File {
    explicit File(const avi::WriterOptions& options)
        : writer(options)
    {
    }
    std::atomic<unsigned long> references {1};
    // Taken only by calls that hold a reference to the file, directly or
    // through its stream, until they return; the file goes with its last
    // reference, so after every unlock() of its lock (platform/ticket_lock.h).
    platform::TicketLock lock;
    avi::AviWriter writer;
    Stream* stream = nullptr;
};

struct Stream {
    std::atomic<unsigned long> references {1};
    File* file = nullptr;
};

namespace {

std::atomic<int> initCount {0};
std::atomic<int> openFiles {0};
// Destroyed with the module's statics, when the module is unloaded or the
// process ends: no thread is inside its unlock() then.
platform::TicketLock optionsLock;
avi::WriterOptions writerOptions;
std::atomic<uint64_t (*)()> writerClock {nullptr};

avi::WriterStatus refused(avi::Failure why) { return avi::WriterStatus::refused(why); }

avi::WriterOptions currentOptions()
{
    platform::LockGuard guard(optionsLock);
    avi::WriterOptions options = writerOptions;
    if (uint64_t (*clock)() = writerClock.load())
        options.clock = clock;
    return options;
}

} // namespace

void init() { initCount.fetch_add(1); }

// An exit without a matching init is ignored.
void exit()
{
    int count = initCount.load();
    while (count > 0 && !initCount.compare_exchange_weak(count, count - 1)) {
    }
}

void setWriterOptions(const avi::WriterOptions& options)
{
    platform::LockGuard guard(optionsLock);
    writerOptions = avi::withinFormatLimits(options);
}

void setWriterClock(uint64_t (*clock)()) { writerClock.store(clock); }

int openFileCount() { return openFiles.load(); }

uint64_t smallestSegment(const avi::StreamHeader& header, const void* format, size_t size)
{
    return avi::AviWriter::smallestSegment(currentOptions(), header, format, size);
}

avi::WriterStatus open(File** file, const char* path, unsigned mode)
{
    if (!file || !path)
        return refused(avi::Failure::BadArgument);
    *file = nullptr;
    if (initCount.load() <= 0)
        return refused(avi::Failure::NotInitialised);
    if (!(mode & kOpenCreate) || !(mode & kOpenWrite))
        return refused(avi::Failure::NotWritable);
    auto* object = new (std::nothrow) File(currentOptions());
    if (!object)
        return refused(avi::Failure::OutOfMemory);
    const avi::WriterStatus status = object->writer.open(path);
    if (!status.ok()) {
        delete object;
        return status;
    }
    openFiles.fetch_add(1);
    *file = object;
    return status;
}

avi::WriterStatus createStream(File* file, const avi::StreamHeader& header, Stream** stream)
{
    if (!file || !stream)
        return refused(avi::Failure::BadArgument);
    *stream = nullptr;
    platform::LockGuard guard(file->lock);
    if (file->stream || file->writer.hasStream())
        return refused(avi::Failure::StreamExists);
    const avi::WriterStatus status = file->writer.createStream(header);
    if (!status.ok())
        return status;
    auto* object = new (std::nothrow) Stream;
    if (!object)
        return refused(avi::Failure::OutOfMemory);
    object->file = file;
    file->references.fetch_add(1);
    file->stream = object;
    *stream = object;
    return status;
}

avi::WriterStatus setFormat(Stream* stream, long position, const void* format, long size)
{
    if (!stream || !stream->file || !format || size <= 0 || position != 0)
        return refused(avi::Failure::BadArgument);
    platform::LockGuard guard(stream->file->lock);
    return stream->file->writer.setFormat(format, static_cast<size_t>(size));
}

avi::WriterStatus writeSample(Stream* stream, long start, long samples, const void* buffer, long size, bool keyFrame)
{
    if (!stream || !stream->file || samples != 1 || size < 0)
        return refused(avi::Failure::BadArgument);
    platform::LockGuard guard(stream->file->lock);
    return stream->file->writer.writeFrame(start, buffer, static_cast<uint32_t>(size), keyFrame);
}

avi::WriterStatus keepCurrent(Stream* stream)
{
    if (!stream || !stream->file)
        return refused(avi::Failure::BadArgument);
    platform::LockGuard guard(stream->file->lock);
    return stream->file->writer.keepCurrent();
}

unsigned long releaseStream(Stream* stream)
{
    if (!stream)
        return 0;
    const unsigned long left = stream->references.fetch_sub(1) - 1;
    if (left == 0) {
        File* file = stream->file;
        {
            platform::LockGuard guard(file->lock);
            file->stream = nullptr;
        }
        delete stream;
        releaseFile(file);
    }
    return left;
}

unsigned long releaseFile(File* file)
{
    if (!file)
        return 0;
    const unsigned long left = file->references.fetch_sub(1) - 1;
    if (left == 0) { // no call holds the file, so none is inside its lock
        file->writer.close();
        delete file;
        openFiles.fetch_sub(1);
    }
    return left;
}

} // namespace avifile
