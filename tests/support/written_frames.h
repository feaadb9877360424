// A closed file checked against the frames its writer took: our own walk of
// its header and indexes (riff_walk.h) and ffmpeg's demuxer must each find
// exactly those frames at their positions.
#pragma once

#include "tests/support/riff_walk.h"

#include <cstdint>
#include <string>
#include <vector>

// What is wrong with the file, or "" when it is sound. A file that never
// got its header may be empty, when no frame was written.
std::string closedFileProblems(const std::string& path, const std::vector<int64_t>& written,
                               AviState state = AviState::Closed);
