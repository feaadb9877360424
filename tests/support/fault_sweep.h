// A small recording through our writer while a plan of file failures is in
// force, the same on both targets (the Windows one runs it in
// writer_probe): frames of 16 x 8 at positions 1 to 42 with every seventh
// left empty, in RIFF segments of 4 KiB so that it crosses several segment
// ends, then the close. Tests sweep the failing call over every call a
// recording without failures makes.
#pragma once

#include "platform/avi/avi_writer.h"
#include "platform/avi/file_faults.h"

#include <cstdint>
#include <string>
#include <vector>

struct FaultedRecording {
    std::vector<int64_t> written; // positions whose frame the writer took
    bool closed = false;          // the close reported success
    uint64_t calls = 0;           // file operations made
};

enum class AfterFailure {
    CarryOn, // keep writing the next frames, as a caller that keeps trying would
    Close,   // close at once, as the plug-in does
};

// On `writer` when given, a writer made with sweepOptions() otherwise.
FaultedRecording recordWithFaults(const std::string& path, const avi::FaultPlan& plan, AfterFailure after,
                                  avi::AviWriter* writer = nullptr);
avi::WriterOptions sweepOptions();

// The positions the recording writes when nothing fails.
std::vector<int64_t> sweepPositions();
