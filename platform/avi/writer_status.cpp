#include "platform/avi/writer_status.h"

namespace avi {

const char* describeFailure(Failure failure)
{
    switch (failure) {
    case Failure::None:
        return "The operation completed successfully.";
    case Failure::System:
        return "The operating system refused a file operation.";
    case Failure::BadArgument:
        return "An argument passed to the AVI writer is invalid.";
    case Failure::StreamExists:
        return "The AVI file already holds its stream.";
    case Failure::NotVideo:
        return "The AVI writer records video streams only.";
    case Failure::BadFormat:
        return "The frame format is not an uncompressed bitmap.";
    case Failure::FormatNotSet:
        return "The stream format has not been set.";
    case Failure::FormatChange:
        return "The frame format cannot change once frames are written.";
    case Failure::FrameTooLarge:
        return "The frame is too large for an AVI file.";
    case Failure::GapTooLarge:
        return "The frame position lies too far past the end of the stream.";
    case Failure::FileTooLong:
        return "The AVI file has reached the largest size its index can describe.";
    case Failure::OutOfMemory:
        return "Not enough memory to extend the AVI index.";
    case Failure::Closed:
        return "The AVI file has already been closed.";
    case Failure::NotInitialised:
        return "The AVI file library has not been initialised.";
    case Failure::NotWritable:
        return "The AVI file library only creates files for writing.";
    case Failure::SegmentTooSmall:
        return "The AVI file's segment size leaves no room for a frame after the file header.";
    }
    return "Unknown AVI writer error.";
}

} // namespace avi
