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
// The clock of every writer opened from now on, whatever the options say.
void setWriterClock(uint64_t (*clock)());
// Files opened and not yet released by every reference.
int openFileCount();
// The smallest segment size that files opened from now on take for this
// stream and format (AviWriter::smallestSegment).
uint64_t smallestSegment(const avi::StreamHeader& header, const void* format, size_t size);

avi::WriterStatus open(File** file, const char* path, unsigned mode);
avi::WriterStatus createStream(File* file, const avi::StreamHeader& header, Stream** stream);
avi::WriterStatus setFormat(Stream* stream, long position, const void* format, long size);
avi::WriterStatus writeSample(Stream* stream, long start, long samples, const void* buffer, long size, bool keyFrame);
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

} // namespace avifile
