#include "recording/largest_file.h"

namespace {

// The header lists, their padding and the movi and idx1 list headers:
// a few kilobytes, with room to spare.
constexpr int64_t kHeaderAllowance = int64_t(1) << 20;
// A chunk header (8 bytes) and an idx1 entry (16 bytes).
constexpr int64_t kBytesPerPosition = 8 + 16;

} // namespace

const char kLargestFileReachedText[] =
    "the file has reached the largest size this build can write (2 GB), so the recording has ended; "
    "use the standard build for longer recordings";

bool frameFitsInFile(int64_t largest, int position, int64_t frameBytes, int64_t bytesWritten,
                     int64_t framesWritten)
{
    const int64_t positions = position < 0 ? 0 : int64_t(position) + 1;
    const int64_t frames = bytesWritten + framesWritten + frameBytes + 1;
    return kHeaderAllowance + positions * kBytesPerPosition + frames <= largest;
}
