// One frame from the host: track the size, step the clock, skip or pick
// the bytes, write, count, and show what happened. The bookkeeping is done
// under the recording lock, the file work (converting into the buffer and
// writing) outside it, so that the dialog's thread never waits for the disk.
#include "plugin/avi_output_effect.h"
#include "recording/frame_conversion.h"
#include "recording/frame_geometry.h"
#include "recording/largest_file.h"
#include "recording/pacing.h"
#include "recording/recording_view.h"
#include "recording/status_text.h"
#include "recording/user_feedback.h"

#include <algorithm>

namespace {

// What a frame leaves for the user, shown once the recording lock is
// released: a message box or a caption must never hold it. It carries
// copies, because a box runs the host's messages, and one of them may
// delete the effect. A field that a flag or an error guards is set only
// with it, which keeps the skip path from clearing what it never reads.
struct FrameReport {
    bool recordingEnded = false;
    // An error box this thread took from the effect, to show, and its owner.
    UnshownError error;
    HWND errorOwner;
    HWND dialog = nullptr;
    // The status figures, formatted only where they are shown directly: a
    // dialog of another thread reads its own.
    bool showStatus = false;
    int totalFrames;
    int64_t expectedFrames;
    int64_t totalBytes;
    // A recording this thread finishes once the lock is released, and what
    // failed in this frame, made known only once its file is finished.
    RecordingHandles endedRecording;
    UnshownError failure;
    HWND failureOwner;

    bool hasNews() const { return recordingEnded || showStatus; }
};

// The one piece of file work a frame does, outside the lock. Only `kind`
// is set on every call: the rest is filled in when the file is claimed,
// which keeps the skip path to what it reads.
struct FileWork {
    enum class Kind : uint8_t { None, WriteFrame, KeepCurrent };
    Kind kind = Kind::None;
    uint32_t recordingNumber;
    PAVISTREAM stream;
    int position;
    const uint32_t* framebuffer;
    int width;
    int height;
    bool raw;
    uint8_t* buffer;
    // What the write did.
    HRESULT result;
    LONG samples;
    LONG bytes;
};

// Under the lock: the file and the buffer are this work's until it is settled.
void claimFile(AviOutputEffect& effect, FileWork::Kind kind, FileWork& work)
{
    effect.frameWork.busy = true;
    effect.frameWork.recordingNumber = effect.recordingNumber;
    work = FileWork();
    work.kind = kind;
    work.recordingNumber = effect.recordingNumber;
    work.stream = effect.aviStream;
}

// Under the lock: a recording whose next frame would take the file past
// the largest it may reach ends here.
bool endIfTheFileIsFull(AviOutputEffect& effect, int index, FrameReport& report)
{
    const FrameGeometry geometry = frameGeometry(effect.width, effect.height);
    const int64_t bytes = effect.rawModeActive ? geometry.rawBytes : geometry.standardBytes;
    if (frameFitsInFile(platform::kLargestAviFile, index, bytes, effect.totalBytes, effect.totalFrames))
        return false;
    report.endedRecording = effect.takeRecordingLocked();
    report.recordingEnded = true;
    report.failure = {UnshownError::Kind::LargestFileReached, 0};
    return true;
}

// Without the lock: a call of a running recording that falls inside the
// skip window returns at once. The acquire pairs with the start's release
// of `recording`, so a new recording's window is the one read.
bool insideSkipWindow(const AviOutputEffect& effect, int w, int h)
{
    if (!effect.recording.load(std::memory_order_acquire))
        return false;
    const SkipWindow& window = effect.skipWindow;
    const uint32_t until = window.until.load(std::memory_order_relaxed);
    return w == window.width.load(std::memory_order_relaxed) && h == window.height.load(std::memory_order_relaxed) &&
           effect.frameRate.load(std::memory_order_relaxed) == window.rate.load(std::memory_order_relaxed) &&
           static_cast<int32_t>(timeGetTime() - until) < 0;
}

// Under the lock, after the clock step: the calls before the position can
// first move past `index`, or the next header patch falls due, have
// nothing to do.
void openSkipWindow(AviOutputEffect& effect, int index, int rate, uint32_t now)
{
    int64_t span = 1000 - static_cast<int64_t>(static_cast<uint32_t>(now - effect.lastKeepTick));
    if (rate > 0 && index < INT32_MAX) {
        const int64_t nextPositionAt = ((int64_t(index) + 1) * 1000 + rate - 1) / rate;
        span = std::min(span, nextPositionAt - effect.elapsedMs);
    }
    SkipWindow& window = effect.skipWindow;
    window.width.store(effect.width, std::memory_order_relaxed);
    window.height.store(effect.height, std::memory_order_relaxed);
    window.rate.store(rate, std::memory_order_relaxed);
    window.until.store(now + static_cast<uint32_t>(std::max<int64_t>(span, 0)), std::memory_order_relaxed);
}

// Under the lock: everything that changes the recording before the file
// work, and that work, if any.
void planFrame(AviOutputEffect& effect, const uint32_t* framebuffer, int w, int h, FrameReport& report,
               FileWork& work)
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
        if (effect.unshownError && !(report.dialog && IsWindow(report.dialog))) {
            report.error = effect.takeUnshownErrorLocked();
            report.errorOwner = nullptr;
        }
        return;
    }
    // Another thread's call is at work on the file: this one has nothing to add.
    if (effect.frameWork.busy)
        return;

    const uint32_t now = timeGetTime();
    effect.elapsedMs += static_cast<uint32_t>(now - effect.lastTick);
    effect.lastTick = now;

    const int rate = effect.frameRate.load(std::memory_order_relaxed);
    const int index = framePosition(effect.elapsedMs, rate);
    const bool moved = index != effect.lastFrameIndex;
    // About once a second, a call with nothing to write lets the writer
    // describe what it wrote, in case no frame comes for a while.
    if (!moved && now - effect.lastKeepTick >= 1000) {
        effect.lastKeepTick = now;
        claimFile(effect, FileWork::Kind::KeepCurrent, work);
    }
    openSkipWindow(effect, index, rate, now);
    if (!moved)
        return;
    effect.lastFrameIndex = index;
    // Without a framebuffer there is nothing to read; the position stays empty.
    if (!framebuffer || endIfTheFileIsFull(effect, index, report))
        return;
    claimFile(effect, FileWork::Kind::WriteFrame, work);
    work.position = index;
    work.framebuffer = framebuffer;
    work.width = effect.width;
    work.height = effect.height;
    work.raw = effect.rawModeActive != 0;
    work.buffer = effect.scratch.data;
}

// Without the lock: the frame made in the buffer and written, or the header patched.
void doFileWork(FileWork& work)
{
    if (work.kind == FileWork::Kind::KeepCurrent) {
        AviStreamKeepCurrent(work.stream);
        return;
    }
    const FrameGeometry geometry = frameGeometry(work.width, work.height);
    auto count = static_cast<LONG>(geometry.rawBytes);
    if (work.raw) {
        copyOpaque32(work.framebuffer, static_cast<size_t>(geometry.rawBytes / 4),
                     reinterpret_cast<uint32_t*>(work.buffer));
    } else {
        convertToBottomUp24(work.framebuffer, work.width, work.height, work.buffer,
                            static_cast<size_t>(geometry.standardStride));
        count = static_cast<LONG>(geometry.standardBytes);
    }
    work.result = AVIStreamWrite(work.stream, work.position, 1, work.buffer, count, AVIIF_KEYFRAME, &work.samples,
                                 &work.bytes);
}

// Under the lock, once the work returned: the file goes back to the
// recording, or, if that ended meanwhile, is finished by this thread; the
// frame is counted in the recording it went to, unless a new one has
// started since; a failed write ends its recording.
void settleFileWork(AviOutputEffect& effect, const FileWork& work, FrameReport& report)
{
    FrameFileWork& claimed = effect.frameWork;
    claimed.busy = false;
    report.dialog = effect.dialogWindow.load(); // one bound meanwhile hears of this frame
    if (claimed.leftToFinish) {
        report.endedRecording = claimed.leftToFinish;
        claimed.leftToFinish = RecordingHandles();
    }
    if (work.kind != FileWork::Kind::WriteFrame)
        return;
    const bool stillCounted = work.recordingNumber == effect.recordingNumber;
    if (work.result != 0) {
        // The file is finished before the user hears of it: complete even if
        // the host dies while the box is open, and never written again, so
        // frames rendered from the box's loop raise no second box.
        report.failure = {UnshownError::Kind::WriteFailed, work.result};
        if (stillCounted && effect.recording.load(std::memory_order_relaxed)) {
            report.endedRecording = effect.takeRecordingLocked();
            report.recordingEnded = true;
        }
    } else if (stillCounted) {
        // Counted only on success: a system AVIFile need not clear these
        // when a write fails.
        effect.lastSamplesWritten = work.samples;
        effect.lastBytesWritten = work.bytes;
        effect.totalBytes += work.bytes;
        effect.totalFrames += work.samples;
    }
    if (!stillCounted)
        return;
    effect.expectedFrames = framePeriods(effect.elapsedMs, effect.frameRate.load(std::memory_order_relaxed));
    if (!report.dialog)
        return;
    report.showStatus = true;
    report.totalFrames = effect.totalFrames;
    report.expectedFrames = effect.expectedFrames;
    report.totalBytes = effect.totalBytes;
}

bool ofAnotherThread(HWND window) { return GetWindowThreadProcessId(window, nullptr) != GetCurrentThreadId(); }

// Under the recording lock, when there is news: it goes to whoever shows it. A
// dialog of another thread hears of it by post; a send would wait for that
// thread's loop, which may itself wait for a lock the host holds around
// this very call. A dialog that binds meanwhile takes the lock, so it
// misses none of this frame's news. Otherwise, and when a post fails, this
// thread shows it once the lock is released.
void routeReport(AviOutputEffect& effect, FrameReport& report)
{
    if (!report.dialog || !ofAnotherThread(report.dialog)) {
        report.error = effect.takeUnshownErrorLocked();
        report.errorOwner = report.dialog;
        return;
    }
    const HWND dialog = report.dialog;
    report.dialog = nullptr;
    if (report.recordingEnded)
        postRecordingEnded(dialog);
    if (report.showStatus && !effect.statusPosted.exchange(true) &&
        !postStatusChanged(dialog))
        effect.statusPosted.store(false);
    report.showStatus = false;
}

// Once the file that failed is finished, the user hears of it. A dialog of
// another thread is nudged to take the error from the effect, where it
// stays until one thread does; this thread shows it itself when no such
// dialog can, or when an earlier error waits there still.
void makeFailureKnown(AviOutputEffect& effect, FrameReport& report)
{
    platform::LockGuard guard(effect.recordingLock);
    const HWND dialog = effect.dialogWindow.load();
    report.failureOwner = dialog && !ofAnotherThread(dialog) ? dialog : nullptr;
    if (!dialog || report.failureOwner || effect.unshownError || !IsWindow(dialog))
        return;
    effect.unshownError = report.failure;
    if (postErrorWaiting(dialog))
        report.failure = UnshownError();
    else
        effect.unshownError = UnshownError();
}

// The user-visible part of a frame on the dialog's own thread, or with no
// dialog: the caption of a recording that ended, the status text, and last
// the error boxes, which carry copies: nothing of the effect is touched
// once the first opens.
void reportFrame(const FrameReport& report)
{
    if (report.dialog && report.recordingEnded)
        showRecordingEnded(report.dialog);
    if (report.showStatus) {
        char status[kStatusTextCapacity];
        formatStatusText(status, report.totalFrames, report.expectedFrames, report.totalBytes);
        showStatusText(report.dialog, status);
    }
    if (report.error)
        showUnshownError(report.errorOwner, report.error);
    if (report.failure)
        showUnshownError(report.failureOwner, report.failure);
}

} // namespace

int AviOutputEffect::renderFrame(HostValue, HostValue, const uint32_t* framebuffer, HostValue, int w, int h)
{
    if (insideSkipWindow(*this, w, h))
        return 0;
    FrameReport report;
    FileWork work;
    recordingLock.lock();
    planFrame(*this, framebuffer, w, h, report, work);
    if (work.kind == FileWork::Kind::None && report.hasNews())
        routeReport(*this, report);
    recordingLock.unlock();
    if (work.kind != FileWork::Kind::None) {
        doFileWork(work);
        recordingLock.lock();
        settleFileWork(*this, work, report);
        if (report.hasNews())
            routeReport(*this, report);
        recordingLock.unlock();
    }
    // The file is finished before the user hears of what failed in it. The
    // box is the last touch of the effect, which the host may delete from
    // inside it.
    if (report.endedRecording)
        releaseRecording(report.endedRecording);
    if (report.failure)
        makeFailureKnown(*this, report);
    reportFrame(report);
    return 0;
}
