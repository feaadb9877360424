#include "tests/support/fault_sweep.h"

#include "platform/avi/avi_writer.h"

#include <cstring>

namespace {

constexpr int kWidth = 16;
constexpr int kHeight = 8;
constexpr uint32_t kFrameBytes = kWidth * kHeight * 3;

avi::WriterOptions sweepOptions()
{
    avi::WriterOptions options;
    options.segmentLimit = 4096;
    options.superIndexCapacity = 8;
    options.flushIntervalMs = 0; // a header patch with every frame, so every run makes the same calls
    options.reserveAhead = 1024;
    return options;
}

bool startStream(avi::AviWriter& writer, const std::string& path)
{
    avi::StreamHeader stream;
    stream.type = avi::kVideoStream;
    stream.rate = 25;
    avi::BitmapInfoHeader format {};
    format.size = sizeof format;
    format.width = kWidth;
    format.height = kHeight;
    format.planes = 1;
    format.bitCount = 24;
    format.sizeImage = kFrameBytes;
    return writer.open(path.c_str()).ok() && writer.createStream(stream).ok() &&
           writer.setFormat(&format, sizeof format).ok();
}

} // namespace

std::vector<int64_t> sweepPositions()
{
    std::vector<int64_t> positions;
    for (int64_t position = 1; position <= 42; ++position) {
        if (position % 7 != 0)
            positions.push_back(position);
    }
    return positions;
}

FaultedRecording recordWithFaults(const std::string& path, const avi::FaultPlan& plan, AfterFailure after)
{
    FaultedRecording recording;
    avi::FileFaults::install(plan);
    {
        avi::AviWriter writer(sweepOptions());
        if (startStream(writer, path)) {
            uint8_t frame[kFrameBytes];
            for (int64_t position : sweepPositions()) {
                std::memset(frame, static_cast<int>(position), sizeof frame);
                if (writer.writeFrame(position, frame, kFrameBytes, true).ok())
                    recording.written.push_back(position);
                else if (after == AfterFailure::Close)
                    break;
            }
        }
        recording.closed = writer.close().ok();
    }
    recording.calls = avi::FileFaults::calls();
    avi::FileFaults::remove();
    return recording;
}
