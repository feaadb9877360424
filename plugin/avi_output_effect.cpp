// Construction, destruction, the stop operation and the preset data.
#include "plugin/avi_output_effect.h"

#include "plugin/default_path.h"
#include "plugin/module_identity.h"
#include "plugin/registration.h"

AviOutputEffect::AviOutputEffect()
    : presetWord(0)
    , aviFile(nullptr)
    , aviStream(nullptr)
    , dialogWindow(nullptr)
    , recording(0)
    , width(0)
    , height(0)
    , lastFrameIndex(0)
    , frameRate(25)
    , elapsedMs(0)
    , lastTick(0)
    , lastBytesWritten(0)
    , totalBytes(0)
    , lastSamplesWritten(0)
    , totalFrames(0)
    , rawMode(0)
    , rawModeActive(0)
{
    buildDefaultPath(fileName, moduleInstance);
    AVIFileInit();
}

// The effect's locks go with it, so every unlock() of them must have
// returned by now (platform/ticket_lock.h). The host's calls: no other
// thread is inside one (a box the effect shows, from which the host may
// delete it, comes after the call's unlock). The dialog's thread: it takes
// the locks only while it pins the effect, and lets go of the pin after its
// unlock (dialog/dialog_bindings.cpp); leaveDialog waits for the pins.
AviOutputEffect::~AviOutputEffect()
{
    leaveDialog();
    stopRecording();
    // A recording the frame path or STOP took out on another thread is finished first.
    waitForReleases();
    const UnshownError error = takeUnshownError();
    AVIFileExit();
    scratch.release();
    // An error no dialog took is the user's last word from the effect; the
    // box runs the host's messages, so nothing of the effect follows it.
    showUnshownError(nullptr, error);
}

void AviOutputEffect::stopRecording()
{
    RecordingHandles handles;
    {
        platform::LockGuard guard(recordingLock);
        handles = takeRecordingLocked();
    }
    releaseRecording(handles);
}

// Forgets each handle as it hands it out, so a second stop finds nothing to
// release. The file's name stays among those being finished until it is.
RecordingHandles AviOutputEffect::takeRecordingLocked()
{
    recording.store(0, std::memory_order_release);
    RecordingHandles handles {aviStream, aviFile};
    aviStream = nullptr;
    aviFile = nullptr;
    if (!handles)
        return handles;
    handles.finishingEntry = finishingFiles.add(recordingFileName);
    releasesPending.fetch_add(1, std::memory_order_relaxed);
    if (frameWork.busy && frameWork.recordingNumber == recordingNumber) {
        frameWork.leftToFinish = handles;
        return RecordingHandles();
    }
    return handles;
}

// The count goes down last: it is this thread's last touch of the effect,
// which the destructor waits for (waitForReleases).
void AviOutputEffect::releaseRecording(const RecordingHandles& handles)
{
    if (!handles)
        return;
    releaseHandles(handles);
    {
        platform::LockGuard guard(recordingLock);
        finishingFiles.remove(handles.finishingEntry);
    }
    releasesPending.fetch_sub(1, std::memory_order_release);
}

void releaseHandles(const RecordingHandles& handles)
{
    if (handles.stream)
        AVIStreamRelease(handles.stream);
    if (handles.file)
        AVIFileRelease(handles.file);
}

UnshownError AviOutputEffect::takeUnshownError()
{
    platform::LockGuard guard(recordingLock);
    return takeUnshownErrorLocked();
}

void AviOutputEffect::waitForReleases() const
{
    while (releasesPending.load(std::memory_order_acquire) != 0)
        Sleep(1);
}

char* AviOutputEffect::getDescription() { return moduleNameString; }

// The preset data is presetWord as 4 little-endian bytes.
void AviOutputEffect::loadPresetData(unsigned char* data, int length)
{
    if (!data || length < 4)
        return;
    const uint32_t word = static_cast<uint32_t>(data[0]) | (static_cast<uint32_t>(data[1]) << 8) |
                          (static_cast<uint32_t>(data[2]) << 16) | (static_cast<uint32_t>(data[3]) << 24);
    presetWord = static_cast<int32_t>(word);
}

int AviOutputEffect::savePresetData(unsigned char* data)
{
    if (!data)
        return 0;
    const auto word = static_cast<uint32_t>(presetWord);
    for (int i = 0; i < 4; ++i)
        data[i] = static_cast<unsigned char>(word >> (8 * i));
    return 4;
}
