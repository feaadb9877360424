#include "tests/support/fault_sweep.h"

#include "tests/support/writer_stream.h"

#include <cstring>

namespace {

constexpr int kWidth = 16;
constexpr int kHeight = 8;
constexpr uint32_t kFrameBytes = kWidth * kHeight * 3;

} // namespace

avi::WriterOptions sweepOptions()
{
    avi::WriterOptions options;
    options.segmentLimit = 4096;
    options.superIndexCapacity = 8;
    options.flushIntervalMs = 0; // a header patch with every frame, so every run makes the same calls
    options.reserveAhead = 1024;
    return options;
}

std::vector<int64_t> sweepPositions()
{
    std::vector<int64_t> positions;
    for (int64_t position = 1; position <= 42; ++position) {
        if (position % 7 != 0)
            positions.push_back(position);
    }
    return positions;
}

FaultedRecording recordWithFaults(const std::string& path, const avi::FaultPlan& plan, AfterFailure after,
                                  avi::AviWriter* writer)
{
    FaultedRecording recording;
    avi::FileFaults::install(plan);
    {
        avi::AviWriter ownWriter(sweepOptions());
        avi::AviWriter& used = writer ? *writer : ownWriter;
        if (startWriterStream(used, path, kWidth, kHeight)) {
            uint8_t frame[kFrameBytes];
            for (int64_t position : sweepPositions()) {
                std::memset(frame, static_cast<int>(position), sizeof frame);
                if (used.writeFrame(position, frame, kFrameBytes, true).ok())
                    recording.written.push_back(position);
                else if (after == AfterFailure::Close)
                    break;
            }
        }
        recording.closed = used.close().ok();
    }
    recording.calls = avi::FileFaults::calls();
    avi::FileFaults::remove();
    return recording;
}
