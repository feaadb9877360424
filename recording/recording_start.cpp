// Starting a recording: the stream description, the frame format, the
// conversion buffer, the file and its stream, made while the frame path
// goes on, then handed over to it with the clock.
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
const char kSizeKeepsChanging[] = "the frame size changed while the file was made";
const char kStillFinishing[] = "the last recording is still being finished; press Save again in a moment";

// A file made for a size the frame path has left is made again for the
// new size, this many times at most.
constexpr int kStartAttempts = 3;

// What sizeScratch found.
enum class Sizing : uint8_t { Ready, OutOfMemory, InUse };

// Grows the conversion buffer to width x height x 4 bytes if it is
// smaller; it never shrinks, and is not replaced while `inUse` (the frame
// path is still writing the last recording's frame from it).
Sizing sizeScratch(ScratchBuffer& scratch, int width, int height, bool inUse)
{
    if (scratch.data && scratch.width == width && scratch.height == height)
        return Sizing::Ready;
    const auto need = static_cast<size_t>(frameGeometry(width, height).rawBytes);
    if (!scratch.data || scratch.capacity < need) {
        if (inUse)
            return Sizing::InUse;
        auto* grown = static_cast<uint8_t*>(std::malloc(need));
        if (!grown)
            return Sizing::OutOfMemory;
        std::free(scratch.data);
        scratch.data = grown;
        scratch.capacity = need;
    }
    scratch.width = width;
    scratch.height = height;
    return Sizing::Ready;
}

// What a start makes before it hands over to the frame path.
struct PreparedRecording {
    int width = 0;
    int height = 0;
    bool scratchInUse = false;
    char fileName[sizeof AviOutputEffect::fileName] = {};
    int rawModeActive = 0;
    AVISTREAMINFOA streamInfo {};
    BITMAPINFOHEADER frameFormat {};
    RecordingHandles handles;
};

void describeStream(AVISTREAMINFOA& info, int rate)
{
    std::memset(&info, 0, sizeof info);
    info.fccType = streamtypeVIDEO;
    info.dwScale = 1;
    // A rate below zero records like a rate of 0: no frames, and no
    // nonsense rate in the file's header.
    info.dwRate = rate > 0 ? static_cast<DWORD>(rate) : 0;
    info.dwQuality = 0xFFFFFFFFu;
    std::memcpy(info.szName, kStreamName, sizeof kStreamName);
}

void describeFrames(BITMAPINFOHEADER& format, int width, int height, bool raw)
{
    const FrameGeometry geometry = frameGeometry(width, height);
    std::memset(&format, 0, sizeof format);
    format.biSize = sizeof format;
    format.biWidth = width;
    format.biHeight = raw ? -height : height;
    format.biPlanes = 1;
    format.biBitCount = raw ? 32 : 24;
    format.biCompression = BI_RGB;
    format.biSizeImage = static_cast<DWORD>(raw ? geometry.rawBytes : geometry.standardBytes);
}

// The file, its stream and its format, with no lock held: replacing a
// large file takes the file system a while. Nothing stays open on failure.
const char* openRecording(PreparedRecording& prepared)
{
    RecordingHandles& handles = prepared.handles;
    if (AVIFileOpenA(&handles.file, prepared.fileName, OF_WRITE | OF_CREATE, nullptr) != 0) {
        handles.file = nullptr;
        return kCannotCreateFile;
    }
    const char* failure = nullptr;
    if (AVIFileCreateStreamA(handles.file, &handles.stream, &prepared.streamInfo) != 0) {
        handles.stream = nullptr;
        failure = kCannotCreateStream;
    } else if (AVIStreamSetFormat(handles.stream, 0, &prepared.frameFormat, sizeof prepared.frameFormat) != 0) {
        failure = kCannotSetFormat;
    }
    if (failure) {
        releaseHandles(handles);
        handles = RecordingHandles();
    }
    return failure;
}

// A size the recording cannot take is refused before any file is touched,
// and so is a buffer there is no memory for: opening the file would
// already have replaced the user's old one. The buffer is the frame
// path's while a recording runs or its work holds it, and starts never
// overlap.
const char* prepareRecording(AviOutputEffect& effect, PreparedRecording& prepared)
{
    const FrameGeometry geometry = frameGeometry(prepared.width, prepared.height);
    if (!geometry.recordable)
        return prepared.width == 0 && prepared.height == 0 ? kNothingRendered : kUnrecordableSize;
    switch (sizeScratch(effect.scratch, prepared.width, prepared.height, prepared.scratchInUse)) {
    case Sizing::OutOfMemory:
        return kOutOfMemory;
    case Sizing::InUse:
        return kStillFinishing;
    case Sizing::Ready:
        break;
    }
    prepared.rawModeActive = effect.rawMode;
    describeStream(prepared.streamInfo, effect.frameRate.load(std::memory_order_relaxed));
    describeFrames(prepared.frameFormat, prepared.width, prepared.height, prepared.rawModeActive != 0);
    return openRecording(prepared);
}

// Under the lock: what the start needs of the frame path. Nothing that
// runs stays nothing until handOver, since only a start sets it running;
// a file still being finished stays until it is, and is never replaced
// meanwhile: its last frame or its close may still be on their way.
const char* takeStock(AviOutputEffect& effect, PreparedRecording& prepared, bool& running)
{
    platform::LockGuard guard(effect.recordingLock);
    running = effect.recording.load(std::memory_order_relaxed) != 0;
    if (running)
        return nullptr;
    std::memcpy(prepared.fileName, effect.fileName, sizeof prepared.fileName);
    prepared.fileName[sizeof prepared.fileName - 1] = '\0';
    if (effect.finishingFiles.contains(prepared.fileName))
        return kStillFinishing;
    prepared.width = effect.width;
    prepared.height = effect.height;
    prepared.scratchInUse = effect.frameWork.busy;
    return nullptr;
}

// Under the lock, only fields change hands. False, and nothing changes,
// when a recording runs already or the frames have another size by now.
bool handOver(AviOutputEffect& effect, const PreparedRecording& prepared)
{
    platform::LockGuard guard(effect.recordingLock);
    if (effect.recording.load(std::memory_order_relaxed) || effect.width != prepared.width ||
        effect.height != prepared.height)
        return false;
    effect.rawModeActive = prepared.rawModeActive;
    effect.lastSamplesWritten = 0;
    effect.lastBytesWritten = 0;
    effect.totalFrames = 0;
    effect.totalBytes = 0;
    effect.elapsedMs = 0;
    effect.lastFrameIndex = 0;
    effect.expectedFrames = 0;
    effect.aviStream = prepared.handles.stream;
    effect.aviFile = prepared.handles.file;
    std::memcpy(effect.recordingFileName, prepared.fileName, sizeof effect.recordingFileName);
    ++effect.recordingNumber;
    effect.lastTick = timeGetTime();
    effect.skipWindow.until.store(effect.lastTick, std::memory_order_relaxed);
    effect.recording.store(1, std::memory_order_release);
    return true;
}

} // namespace

const char* AviOutputEffect::runStartSequence()
{
    platform::LockGuard starting(startLock);
    for (int attempt = 0; attempt < kStartAttempts; ++attempt) {
        PreparedRecording prepared;
        bool running = false;
        if (const char* failure = takeStock(*this, prepared, running))
            return failure;
        if (running)
            return nullptr;
        if (const char* failure = prepareRecording(*this, prepared))
            return failure;
        if (handOver(*this, prepared))
            return nullptr;
        releaseHandles(prepared.handles);
    }
    return kSizeKeepsChanging;
}
