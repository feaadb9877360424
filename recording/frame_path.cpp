// One frame from the host: track the size, step the clock, skip or pick
// the bytes, write, count, and show what happened.
#include "plugin/avi_output_effect.h"
#include "recording/frame_conversion.h"
#include "recording/frame_geometry.h"
#include "recording/pacing.h"
#include "recording/status_text.h"
#include "recording/user_feedback.h"

namespace {

// What a frame left for the user interface, to be shown once the recording
// lock is released (a message box or a caption must never hold it).
struct FrameReport {
    enum : unsigned {
        kSizeChanged = 1,
        kWriteFailed = 2,
        kShowStatus = 4,
    };
    unsigned what = 0;
    HRESULT writeError = 0;
    uint32_t recordingSerial = 0;
    HWND statusWindow = nullptr;
    char status[kStatusTextCapacity];
};

void writeFrameAt(AviOutputEffect& effect, int index, const uint32_t* framebuffer, FrameReport& report)
{
    const FrameGeometry geometry = frameGeometry(effect.width, effect.height);
    const void* bytes = framebuffer;
    auto count = static_cast<LONG>(geometry.rawBytes);
    if (!effect.rawModeActive) {
        convertToBottomUp24(framebuffer, effect.width, effect.height, effect.scratch.data,
                            static_cast<size_t>(geometry.standardStride));
        bytes = effect.scratch.data;
        count = static_cast<LONG>(geometry.standardBytes);
    }
    const HRESULT result = AVIStreamWrite(effect.aviStream, index, 1, const_cast<void*>(bytes), count, AVIIF_KEYFRAME,
                                          &effect.lastSamplesWritten, &effect.lastBytesWritten);
    if (result != 0) {
        report.what |= FrameReport::kWriteFailed;
        report.writeError = result;
        report.recordingSerial = effect.recordingSerial;
    }

    effect.totalBytes += effect.lastBytesWritten;
    effect.totalFrames += effect.lastSamplesWritten;
    effect.expectedFrames = framePeriods(effect.elapsedMs, effect.frameRate.load(std::memory_order_relaxed));
    effect.streamInfo.dwLength =
        static_cast<DWORD>(effect.expectedFrames > UINT32_MAX ? UINT32_MAX : effect.expectedFrames);

    HWND window = effect.dialogWindow.load();
    if (!window)
        return;
    report.what |= FrameReport::kShowStatus;
    report.statusWindow = window;
    formatStatusText(report.status, effect.totalFrames, effect.expectedFrames, effect.totalBytes);
}

// Everything that changes the recording, done under the recording lock.
void processFrame(AviOutputEffect& effect, const uint32_t* framebuffer, int w, int h, FrameReport& report)
{
    if (w != effect.width || h != effect.height) {
        if (effect.recording.load(std::memory_order_relaxed)) {
            effect.stopRecordingLocked();
            report.what |= FrameReport::kSizeChanged;
        }
        effect.width = w;
        effect.height = h;
    }
    if (!effect.recording.load(std::memory_order_relaxed))
        return;

    const uint32_t now = timeGetTime();
    effect.elapsedMs += static_cast<uint32_t>(now - effect.lastTick);
    effect.lastTick = now;

    const int index = framePosition(effect.elapsedMs, effect.frameRate.load(std::memory_order_relaxed));
    if (index == effect.lastFrameIndex) {
        // About once a second, a call with nothing to write lets the writer
        // describe what it wrote, in case no frame comes for a while.
        if (now - effect.lastKeepTick >= 1000) {
            effect.lastKeepTick = now;
            AviStreamKeepCurrent(effect.aviStream);
        }
        return;
    }
    effect.lastFrameIndex = index;
    // Without a framebuffer there is nothing to read; the position stays empty.
    if (!framebuffer)
        return;
    writeFrameAt(effect, index, framebuffer, report);
}

void stopRecordingIfStill(AviOutputEffect& effect, uint32_t serial)
{
    platform::LockGuard guard(effect.recordingLock);
    if (effect.recordingSerial == serial)
        effect.stopRecordingLocked();
}

// The user-visible part of a frame, in the order the frame path gives it:
// the size-change caption, the write error box, the stop and its caption,
// then the status text.
void reportFrame(AviOutputEffect& effect, const FrameReport& report)
{
    if (report.what & FrameReport::kSizeChanged) {
        if (HWND window = effect.dialogWindow.load())
            setSaveCaption(window, kCaptionSaveAfterEnd);
    }
    HWND statusWindow = report.statusWindow;
    if (report.what & FrameReport::kWriteFailed) {
        showWriteError(effect.dialogWindow.load(), report.writeError);
        stopRecordingIfStill(effect, report.recordingSerial);
        if (HWND window = effect.dialogWindow.load())
            setSaveCaption(window, kCaptionSaveAfterEnd);
        // The dialog may have closed while the box was open.
        statusWindow = effect.dialogWindow.load();
    }
    if ((report.what & FrameReport::kShowStatus) && statusWindow)
        setStatusText(statusWindow, report.status);
}

} // namespace

int AviOutputEffect::renderFrame(HostValue, HostValue, const uint32_t* framebuffer, HostValue, int w, int h)
{
    FrameReport report;
    recordingLock.lock();
    processFrame(*this, framebuffer, w, h, report);
    recordingLock.unlock();
    if (report.what)
        reportFrame(*this, report);
    return 0;
}
