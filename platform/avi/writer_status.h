// What an AVI writer operation reports: success, a refusal of the writer's
// own, or the operating system's error code for a failed file operation.
#pragma once

#include <cstdint>

namespace avi {

enum class Failure : uint8_t {
    None = 0,
    System,           // the OS refused a file operation; systemCode holds its code
    BadArgument,      // a null pointer or an out-of-range count
    StreamExists,     // the file already holds its one stream
    NotVideo,         // only video streams are written
    BadFormat,        // the format is not an uncompressed BITMAPINFOHEADER
    FormatNotSet,     // a frame came before the stream format
    FormatChange,     // the format cannot change once frames are written
    FrameTooLarge,    // one frame does not fit into a RIFF segment
    GapTooLarge,      // the position lies too far past the end of the stream
    FileTooLong,      // the OpenDML super index is full
    OutOfMemory,      // the index could not grow
    Closed,           // the file or stream has been released
    NotInitialised,   // AVIFileInit has not been called, or every init has had its exit
    NotWritable,      // a file may only be opened to be created and written
    SegmentTooSmall,  // the first RIFF segment cannot hold the header and one frame
};
constexpr Failure kLastFailure = Failure::SegmentTooSmall;

struct WriterStatus {
    Failure failure = Failure::None;
    int systemCode = 0;

    bool ok() const { return failure == Failure::None; }
    static WriterStatus success() { return {}; }
    static WriterStatus refused(Failure why) { return {why, 0}; }
    static WriterStatus system(int code) { return {Failure::System, code}; }
};

// A short English text for a refusal of the writer's own (not for System).
const char* describeFailure(Failure failure);

} // namespace avi
