// The space set aside ahead of the frames: what a write adds and the
// indexes that will describe it are set aside before the write, so that
// closing never needs space the disk no longer has, and in steps, so that
// most frames make no system call for it.
#pragma once

#include "platform/avi/output_file.h"

#include <cstdint>

namespace avi {

class SpaceAhead {
public:
    // At most `most` bytes ahead of what is required.
    explicit SpaceAhead(uint64_t most = 0)
        : most_(most)
    {
    }

    // Checks the process's file-size limit and sets aside the space up to
    // `required`, and some ahead of it when that runs out.
    WriterStatus makeRoom(OutputFile& file, uint64_t required);

private:
    WriterStatus reserveAhead(OutputFile& file, uint64_t required);

    uint64_t most_;      // the most to set aside ahead, cut down each time the disk refuses it
    uint64_t ahead_ = 0; // what the last reservation set aside ahead of what it required
};

} // namespace avi
