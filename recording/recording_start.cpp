// Starting a recording: the stream description, the frame format, the
// file and its stream, the conversion buffer and the clock.
#include "plugin/avi_output_effect.h"
#include "recording/frame_geometry.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr char kStreamName[] = "avs capture quorvane";

const char kCannotCreateFile[] = "cannot create file";
const char kCannotCreateStream[] = "cannot create stream";
const char kCannotSetFormat[] = "cannot set stream format";
const char kNothingRendered[] = "no frame rendered yet";
const char kUnrecordableSize[] = "cannot record frames of this size";
const char kOutOfMemory[] = "not enough memory to record";

// Grows the conversion buffer to width x height x 4 bytes if it is
// smaller; it never shrinks. False when the memory is not there.
bool sizeScratch(ScratchBuffer& scratch, int width, int height)
{
    if (scratch.data && scratch.width == width && scratch.height == height)
        return true;
    const auto need = static_cast<size_t>(frameGeometry(width, height).rawBytes);
    if (!scratch.data || scratch.capacity < need) {
        auto* grown = static_cast<uint8_t*>(std::malloc(need));
        if (!grown)
            return false;
        std::free(scratch.data);
        scratch.data = grown;
        scratch.capacity = need;
    }
    scratch.width = width;
    scratch.height = height;
    return true;
}

} // namespace

int AviOutputEffect::startRecording(const char*& failure)
{
    const int rate = frameRate.load(std::memory_order_relaxed);

    std::memset(&streamInfo, 0, sizeof streamInfo);
    streamInfo.fccType = streamtypeVIDEO;
    streamInfo.dwScale = 1;
    // A rate below zero records like a rate of 0: no frames, and no
    // nonsense rate in the file's header.
    streamInfo.dwRate = rate > 0 ? static_cast<DWORD>(rate) : 0;
    streamInfo.dwQuality = 0xFFFFFFFFu;
    std::memcpy(streamInfo.szName, kStreamName, sizeof kStreamName);

    rawModeActive = rawMode;

    const FrameGeometry geometry = frameGeometry(width, height);
    std::memset(&frameFormat, 0, sizeof frameFormat);
    frameFormat.biSize = sizeof frameFormat;
    frameFormat.biWidth = width;
    frameFormat.biHeight = rawModeActive ? -height : height;
    frameFormat.biPlanes = 1;
    frameFormat.biBitCount = rawModeActive ? 32 : 24;
    frameFormat.biCompression = BI_RGB;
    frameFormat.biSizeImage = static_cast<DWORD>(rawModeActive ? geometry.rawBytes : geometry.standardBytes);

    lastSamplesWritten = 0;
    lastBytesWritten = 0;
    totalFrames = 0;
    totalBytes = 0;
    elapsedMs = 0;
    lastFrameIndex = 0;
    expectedFrames = 0;

    // A size the recording cannot take is refused before any file is
    // touched, and so is a buffer there is no memory for: opening the file
    // would already have replaced the user's old one.
    if (!geometry.recordable) {
        failure = width == 0 && height == 0 ? kNothingRendered : kUnrecordableSize;
        return 0;
    }
    if (!sizeScratch(scratch, width, height)) {
        failure = kOutOfMemory;
        return 0;
    }
    aviFile = nullptr;
    aviStream = nullptr;
    if (AVIFileOpenA(&aviFile, fileName, OF_WRITE | OF_CREATE, nullptr) != 0) {
        aviFile = nullptr;
        failure = kCannotCreateFile;
        return 0;
    }
    if (AVIFileCreateStreamA(aviFile, &aviStream, &streamInfo) != 0) {
        aviStream = nullptr;
        stopRecordingLocked();
        failure = kCannotCreateStream;
        return 0;
    }
    if (AVIStreamSetFormat(aviStream, 0, &frameFormat, sizeof frameFormat) != 0) {
        stopRecordingLocked();
        failure = kCannotSetFormat;
        return 0;
    }
    return 1;
}

// Save: startRecording (which has sized the conversion buffer by then),
// the clock, then recording = 1.
const char* AviOutputEffect::runStartSequence()
{
    platform::LockGuard guard(recordingLock);
    if (recording.load(std::memory_order_relaxed))
        return nullptr;
    const char* failure = nullptr;
    if (!startRecording(failure))
        return failure;
    lastTick = timeGetTime();
    recording.store(1, std::memory_order_release);
    return nullptr;
}
