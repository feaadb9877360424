// One frame from the host: track the size, step the clock, skip or pick
// the bytes, write, count, and show what happened.
#include "plugin/avi_output_effect.h"
#include "recording/frame_conversion.h"
#include "recording/frame_geometry.h"
#include "recording/largest_file.h"
#include "recording/pacing.h"
#include "recording/status_text.h"
#include "recording/user_feedback.h"

namespace {

// What a frame leaves for the user, shown once the recording lock is
// released: a message box or a caption must never hold it. It carries
// copies, because a box runs the host's messages, and one of them may
// delete the effect.
struct FrameReport {
    bool recordingEnded = false;
    // An error box this thread took from the effect, to show.
    UnshownError error;
    HWND dialog = nullptr;
    // The status figures, formatted only where they are shown directly: a
    // dialog of another thread reads its own.
    bool showStatus = false;
    int totalFrames = 0;
    int64_t expectedFrames = 0;
    int64_t totalBytes = 0;
    // A recording that ended here, released once the lock is.
    RecordingHandles endedRecording;
};

void writeFrameAt(AviOutputEffect& effect, int index, const uint32_t* framebuffer, FrameReport& report)
{
    const FrameGeometry geometry = frameGeometry(effect.width, effect.height);
    auto count = static_cast<LONG>(geometry.rawBytes);
    if (effect.rawModeActive) {
        copyOpaque32(framebuffer, static_cast<size_t>(geometry.rawBytes / 4),
                     reinterpret_cast<uint32_t*>(effect.scratch.data));
    } else {
        convertToBottomUp24(framebuffer, effect.width, effect.height, effect.scratch.data,
                            static_cast<size_t>(geometry.standardStride));
        count = static_cast<LONG>(geometry.standardBytes);
    }
    const void* bytes = effect.scratch.data;
    if (!frameFitsInFile(platform::kLargestAviFile, index, count, effect.totalBytes, effect.totalFrames)) {
        report.endedRecording = effect.takeRecordingLocked();
        report.recordingEnded = true;
        effect.unshownError = {UnshownError::Kind::LargestFileReached, 0};
        return;
    }
    const HRESULT result = AVIStreamWrite(effect.aviStream, index, 1, const_cast<void*>(bytes), count, AVIIF_KEYFRAME,
                                          &effect.lastSamplesWritten, &effect.lastBytesWritten);
    if (result != 0) {
        // The file is finished before the user hears of it: complete even if
        // the host dies while the box is open, and never written again, so
        // frames rendered from the box's loop raise no second box.
        report.endedRecording = effect.takeRecordingLocked();
        report.recordingEnded = true;
        effect.unshownError = {UnshownError::Kind::WriteFailed, result};
    } else {
        // Counted only on success: a system AVIFile need not clear these
        // when a write fails.
        effect.totalBytes += effect.lastBytesWritten;
        effect.totalFrames += effect.lastSamplesWritten;
    }
    effect.expectedFrames = framePeriods(effect.elapsedMs, effect.frameRate.load(std::memory_order_relaxed));
    effect.streamInfo.dwLength =
        static_cast<DWORD>(effect.expectedFrames > UINT32_MAX ? UINT32_MAX : effect.expectedFrames);
    if (!report.dialog)
        return;
    report.showStatus = true;
    report.totalFrames = effect.totalFrames;
    report.expectedFrames = effect.expectedFrames;
    report.totalBytes = effect.totalBytes;
}

// Everything that changes the recording, done under the recording lock.
void processFrame(AviOutputEffect& effect, const uint32_t* framebuffer, int w, int h, FrameReport& report)
{
    report.dialog = effect.dialogWindow.load();
    if (w != effect.width || h != effect.height) {
        if (effect.recording.load(std::memory_order_relaxed)) {
            report.endedRecording = effect.takeRecordingLocked();
            report.recordingEnded = true;
        }
        effect.width = w;
        effect.height = h;
    }
    if (!effect.recording.load(std::memory_order_relaxed)) {
        // An error whose dialog went before it took it (closed, or its
        // thread ended) is shown here, unless a dialog is there to take it.
        if (effect.unshownError && !(report.dialog && IsWindow(report.dialog)))
            report.error = effect.takeUnshownErrorLocked();
        return;
    }

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

// Under the recording lock: the frame's news goes to whoever shows it. A
// dialog of another thread hears of it by post; a send would wait for that
// thread's loop, which may itself wait for a lock the host holds around
// this very call. A dialog that binds meanwhile waits for the lock, so it
// sees everything this frame did. Otherwise, and when a post fails, this
// thread shows it once the lock is released.
void routeReport(AviOutputEffect& effect, FrameReport& report)
{
    if (!report.recordingEnded && !report.showStatus)
        return;
    if (!report.dialog || GetWindowThreadProcessId(report.dialog, nullptr) == GetCurrentThreadId()) {
        report.error = effect.takeUnshownErrorLocked();
        return;
    }
    const HWND dialog = report.dialog;
    report.dialog = nullptr;
    if (report.recordingEnded)
        PostMessageA(dialog, kRecordingEndedMessage, 0, 0);
    if (report.showStatus && !effect.statusPosted.exchange(true) &&
        !PostMessageA(dialog, kStatusChangedMessage, 0, 0))
        effect.statusPosted.store(false);
    report.showStatus = false;
    if (report.recordingEnded && effect.unshownError && !PostMessageA(dialog, kErrorWaitingMessage, 0, 0))
        report.error = effect.takeUnshownErrorLocked();
}

// The user-visible part of a frame on the dialog's own thread, or with no
// dialog: the caption of a recording that ended, the status text, and last
// the error box, after which nothing of the effect is touched.
void reportFrame(const FrameReport& report)
{
    if (report.dialog && report.recordingEnded)
        setSaveCaption(report.dialog, kCaptionSaveAfterEnd);
    if (report.showStatus) {
        char status[kStatusTextCapacity];
        formatStatusText(status, report.totalFrames, report.expectedFrames, report.totalBytes);
        setStatusText(report.dialog, status);
    }
    showUnshownError(report.dialog, report.error);
}

} // namespace

int AviOutputEffect::renderFrame(HostValue, HostValue, const uint32_t* framebuffer, HostValue, int w, int h)
{
    FrameReport report;
    recordingLock.lock();
    processFrame(*this, framebuffer, w, h, report);
    routeReport(*this, report);
    recordingLock.unlock();
    // The file is finished before the user hears of it: this thread
    // finishes its own here, and a box waits for any file another thread
    // is finishing. The box is the last touch of the effect, which the host
    // may delete from inside it.
    if (report.endedRecording.file)
        releaseRecording(report.endedRecording);
    if (report.error)
        waitForReleases();
    reportFrame(report);
    return 0;
}
