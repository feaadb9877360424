// One frame from the host: track the size, step the clock, skip or pick
// the bytes, write, count, and show what happened.
#include "dialog/config_dialog.h"
#include "plugin/avi_output_effect.h"
#include "recording/frame_conversion.h"
#include "recording/frame_geometry.h"
#include "recording/largest_file.h"
#include "recording/pacing.h"
#include "resources/resource.h"

#include <cstdio>

namespace {

void showWriteError(HWND owner, HRESULT code)
{
    char* text = nullptr;
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, static_cast<DWORD>(code),
                   MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPSTR>(&text), 0, nullptr);
    if (text) {
        MessageBoxA(owner, text, "error", MB_ICONINFORMATION | MB_OK);
        LocalFree(text);
        return;
    }
    // The system has no words for this code; show the code itself.
    char fallback[64];
    std::snprintf(fallback, sizeof fallback, "cannot write frame (error 0x%08lX)",
                  static_cast<unsigned long>(static_cast<DWORD>(code)));
    MessageBoxA(owner, fallback, "error", MB_ICONINFORMATION | MB_OK);
}

} // namespace

int AviOutputEffect::renderFrame(HostValue, HostValue, const uint32_t* framebuffer, HostValue, int w, int h)
{
    FrameReport report;
    recordingLock.lock();
    processFrame(framebuffer, w, h, report);
    recordingLock.unlock();
    if (report.what)
        reportFrame(report);
    return 0;
}

// Everything that changes the recording, done under the recording lock.
void AviOutputEffect::processFrame(const uint32_t* framebuffer, int w, int h, FrameReport& report)
{
    if (w != width || h != height) {
        if (recording.load(std::memory_order_relaxed)) {
            stopRecordingLocked();
            report.what |= FrameReport::kSizeChanged;
        }
        width = w;
        height = h;
    }
    if (!recording.load(std::memory_order_relaxed))
        return;

    const uint32_t now = timeGetTime();
    elapsedMs += static_cast<uint32_t>(now - lastTick);
    lastTick = now;

    const int index = framePosition(elapsedMs, frameRate.load(std::memory_order_relaxed));
    if (index == lastFrameIndex)
        return;
    lastFrameIndex = index;
    // Without a framebuffer there is nothing to read; the position stays empty.
    if (!framebuffer)
        return;
    writeFrameAt(index, framebuffer, report);
}

void AviOutputEffect::writeFrameAt(int index, const uint32_t* framebuffer, FrameReport& report)
{
    const FrameGeometry geometry = frameGeometry(width, height);
    const void* bytes = framebuffer;
    auto count = static_cast<LONG>(geometry.rawBytes);
    if (!rawModeActive) {
        convertToBottomUp24(framebuffer, width, height, scratch.data, static_cast<size_t>(geometry.standardStride));
        bytes = scratch.data;
        count = static_cast<LONG>(geometry.standardBytes);
    }
    if (stopsAtLargestFile(index, count, report))
        return;
    const HRESULT result = AVIStreamWrite(aviStream, index, 1, const_cast<void*>(bytes), count, AVIIF_KEYFRAME,
                                          &lastSamplesWritten, &lastBytesWritten);
    if (result != 0) {
        report.what |= FrameReport::kWriteFailed;
        report.writeError = result;
        report.recordingSerial = recordingSerial;
    }

    totalBytes += lastBytesWritten;
    totalFrames += lastSamplesWritten;
    expectedFrames = framePeriods(elapsedMs, frameRate.load(std::memory_order_relaxed));
    streamInfo.dwLength = static_cast<DWORD>(expectedFrames > UINT32_MAX ? UINT32_MAX : expectedFrames);

    HWND window = dialogWindow.load();
    if (!window)
        return;
    report.what |= FrameReport::kShowStatus;
    report.statusWindow = window;
    formatStatusText(report.status, totalFrames, expectedFrames, totalBytes);
}

// The user-visible part of a frame, in the order the frame path gives it:
// the size-change caption, the write error box, the stop and its caption,
// then the status text.
void AviOutputEffect::reportFrame(const FrameReport& report)
{
    if (report.what & FrameReport::kSizeChanged) {
        if (HWND window = dialogWindow.load())
            setSaveCaption(window, "save");
    }
    if (report.what & FrameReport::kLargestFileReached)
        showLargestFileReached(dialogWindow.load());
    HWND statusWindow = report.statusWindow;
    if (report.what & FrameReport::kWriteFailed) {
        showWriteError(dialogWindow.load(), report.writeError);
        stopRecordingIfStill(report.recordingSerial);
        if (HWND window = dialogWindow.load())
            setSaveCaption(window, "save");
        // The dialog may have closed while the box was open.
        statusWindow = dialogWindow.load();
    }
    if ((report.what & FrameReport::kShowStatus) && statusWindow)
        SetDlgItemTextA(statusWindow, IDC_STATUS, report.status);
}

void AviOutputEffect::stopRecordingIfStill(uint32_t serial)
{
    platform::LockGuard guard(recordingLock);
    if (recordingSerial == serial)
        stopRecordingLocked();
}
