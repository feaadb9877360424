#include "platform/avi/space_ahead.h"

#include <algorithm>

namespace avi {

WriterStatus SpaceAhead::makeRoom(OutputFile& file, uint64_t required)
{
    if (required > file.sizeLimit())
        return file.sizeLimitReached();
    if (required + ahead_ / 2 <= file.reservedEnd())
        return WriterStatus::success();
    return reserveAhead(file, required);
}

// What is set aside ahead is a guess at the frames to come. It takes at
// most an eighth of what the disk has free, so the reserve alone never
// fills the disk nor takes much from other programs, and a kill leaves
// little of it behind.
WriterStatus SpaceAhead::reserveAhead(OutputFile& file, uint64_t required)
{
    ahead_ = std::min(most_, file.freeSpace() / 8);
    const uint64_t end = std::min(required + ahead_, file.sizeLimit());
    if (end > required) {
        if (file.reserveUpTo(end).ok())
            return WriterStatus::success();
        // The disk refused more than it reported free (a quota, another
        // writer): ask for less from now on.
        most_ /= 4;
        ahead_ = 0;
    }
    return file.reserveUpTo(required);
}

} // namespace avi
