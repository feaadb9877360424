// What the AVIFile functions do, on both targets, over our own writer:
// handles reference counted as AVIFIL32's objects are (a stream holds a
// reference to its file, and the file is finished when the last reference
// goes), init and exit that nest, and one video stream per file. Two front
// ends give these the Win32 names and signatures and turn a WriterStatus
// into their target's error codes: platform/native/avifile.cpp and
// platform/windows/avifile_shim.cpp.
#pragma once

#include "platform/avi/avi_writer.h"
#include "platform/avi/stream_info.h"

#include <cstdint>

namespace avifile {

struct File;
struct Stream;

// AVIFileOpenA's mode bits: OF_WRITE and OF_CREATE. Files are only created.
constexpr unsigned kOpenWrite = 0x0001;
constexpr unsigned kOpenCreate = 0x1000;

void init();
void exit();
// Options for files opened from now on.
void setWriterOptions(const avi::WriterOptions& options);
// Files opened and not yet released by every reference.
int openFileCount();

avi::WriterStatus open(File** file, const char* path, unsigned mode);
avi::WriterStatus createStream(File* file, const avi::StreamHeader& header, Stream** stream);
avi::WriterStatus setFormat(Stream* stream, long position, const void* format, long size);
avi::WriterStatus writeSample(Stream* stream, long start, long samples, const void* buffer, long size, bool keyFrame);
avi::WriterStatus writeSampleInBands(Stream* stream, long start, long size, bool keyFrame, avi::FrameBands& bands);
// Patches the file's header if a patch is due (AviWriter::keepCurrent).
avi::WriterStatus keepCurrent(Stream* stream);
unsigned long releaseStream(Stream* stream);
unsigned long releaseFile(File* file);

// AVIStreamWrite: one sample, reported in the out values only when it was written.
template<typename Long>
avi::WriterStatus write(Stream* stream, Long start, Long samples, const void* buffer, Long size, bool keyFrame,
                        Long* samplesWritten, Long* bytesWritten)
{
    if (samplesWritten)
        *samplesWritten = 0;
    if (bytesWritten)
        *bytesWritten = 0;
    const avi::WriterStatus status = writeSample(stream, start, samples, buffer, size, keyFrame);
    if (status.ok()) {
        if (samplesWritten)
            *samplesWritten = 1;
        if (bytesWritten)
            *bytesWritten = size;
    }
    return status;
}

// A frame's bands from the caller's function, which returns the next
// band's size and sets its address.
template<typename Long>
class CallbackBands final : public avi::FrameBands {
public:
    using Fill = Long (*)(void* context, const void** band);
    CallbackBands(Fill fill, void* context)
        : fill_(fill)
        , context_(context)
    {
    }
    avi::Slice next() override
    {
        const void* band = nullptr;
        const Long size = fill_(context_, &band);
        return {band, size > 0 ? static_cast<size_t>(size) : 0};
    }

private:
    Fill fill_;
    void* context_;
};

// One frame of `size` bytes made band by band while it is written,
// reported as write reports it.
template<typename Long>
avi::WriterStatus writeInBands(Stream* stream, Long start, Long size, bool keyFrame,
                               typename CallbackBands<Long>::Fill fill, void* context, Long* samplesWritten,
                               Long* bytesWritten)
{
    if (samplesWritten)
        *samplesWritten = 0;
    if (bytesWritten)
        *bytesWritten = 0;
    if (!fill)
        return avi::WriterStatus::refused(avi::Failure::BadArgument);
    CallbackBands<Long> bands(fill, context);
    const avi::WriterStatus status = writeSampleInBands(stream, start, size, keyFrame, bands);
    if (status.ok()) {
        if (samplesWritten)
            *samplesWritten = 1;
        if (bytesWritten)
            *bytesWritten = size;
    }
    return status;
}

} // namespace avifile
