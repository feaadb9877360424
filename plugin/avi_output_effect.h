// The one effect of this plug-in: it records what the host renders to an
// uncompressed AVI file, paced to a frame rate, and never alters a pixel.
//
// The host may call renderFrame on one thread and run the dialog on
// another. The fields say below who may touch them.
#pragma once

#include "platform/win32.h"
#include "platform/ticket_lock.h"
#include "plugin/effect_base.h"
#include "recording/scratch_buffer.h"
#include "recording/user_feedback.h"

#include <atomic>
#include <cstdint>

// A recording's handles, taken out of the effect under recordingLock and
// released (the file finished) after it, so the lock never waits for the
// file system.
struct RecordingHandles {
    PAVISTREAM stream = nullptr;
    PAVIFILE file = nullptr;
};
// The stream, then the file; either may be null.
void releaseHandles(const RecordingHandles& handles);

class AviOutputEffect final : public EffectBase {
public:
    // plugin/avi_output_effect.cpp: construction, destruction, presets, stopping.
    AviOutputEffect();
    ~AviOutputEffect() override;
    char* getDescription() override;
    void loadPresetData(unsigned char* data, int length) override;
    int savePresetData(unsigned char* data) override;
    // Ends the current recording: the stream, then the file, released after
    // recordingLock. Harmless when nothing is recording; a handle is never
    // released twice.
    void stopRecording();
    // Ends the current recording for a caller that holds recordingLock and
    // hands it the handles, which it passes to releaseRecording once the
    // lock is released.
    RecordingHandles takeRecordingLocked();
    // Releases what takeRecordingLocked handed out: the stream, then the
    // file. Its last step is the last touch of the effect, which the
    // destructor waits for (waitForReleases).
    void releaseRecording(const RecordingHandles& handles);
    // Until no recording taken out is still being released.
    void waitForReleases() const;
    // The error the user has not been shown, taken so that nobody else
    // shows it; none when there is none. The first takes recordingLock.
    UnshownError takeUnshownError();
    UnshownError takeUnshownErrorLocked()
    {
        const UnshownError taken = unshownError;
        unshownError = UnshownError();
        return taken;
    }

    // recording/frame_path.cpp: one frame from the host.
    int renderFrame(HostValue hostArg1, HostValue hostArg2, const uint32_t* framebuffer, HostValue hostArg4, int w,
                    int h) override;

    // recording/recording_start.cpp.
    // Save: the file is opened (replacing an old one), its stream made and
    // its format set without recordingLock, which is taken only to hand the
    // open stream over with the clock and recording = 1. Returns nullptr
    // when recording, else the text the caller shows in the error box.
    const char* runStartSequence();

    // dialog/config_dialog.cpp.
    HWND createConfigDialog(HINSTANCE instance, HWND parent) override;
    // A deleted effect leaves the dialog's books, so an open dialog stops
    // serving it; returns once no dialog is working on it.
    void leaveDialog();

    // The fields, in the order the plug-in has always had them. Who may
    // touch each one:
    //   lock:   only with recordingLock held (start, stop, the frame path);
    //   dialog: the dialog's thread, where the start sequence reads them too;
    //   atomic: written on one thread and read on the other; `recording`
    //           changes only with recordingLock held;
    //   host:   the host's preset calls.
    int32_t presetWord;                  // host
    PAVIFILE aviFile;                    // lock
    PAVISTREAM aviStream;                // lock
    BITMAPINFOHEADER frameFormat;        // lock
    AVISTREAMINFOA streamInfo;           // lock
    std::atomic<HWND> dialogWindow;      // atomic
    char fileName[100];                  // dialog
    std::atomic<int> recording;          // atomic
    int width;                           // lock
    int height;                          // lock
    int lastFrameIndex;                  // lock
    std::atomic<int> frameRate;          // atomic
    int64_t elapsedMs;                   // lock
    uint32_t lastTick;                   // lock
    LONG lastBytesWritten;               // lock
    int64_t totalBytes;                  // lock
    LONG lastSamplesWritten;             // lock
    int totalFrames;                     // lock
    ScratchBuffer scratch;               // lock, or the start sequence while nothing records
    int rawMode;                         // dialog
    int rawModeActive;                   // lock

    int64_t expectedFrames = 0;          // lock
    // The tick at which a call with nothing to write last let the writer
    // patch its header (recording/frame_path.cpp).
    uint32_t lastKeepTick = 0;           // lock

    // Start, stop and the frame write never overlap, whichever threads the
    // host calls them on.
    platform::TicketLock recordingLock;
    // One start at a time, with no lock of the frame path held for its file work.
    platform::TicketLock startLock;
    // Recordings taken out and not yet released.
    std::atomic<int> releasesPending {0};

    // A status post to a dialog of another thread is on its way: set with
    // recordingLock held, cleared by the dialog that takes the post, and
    // under the lock by a dialog that binds, since a post to an earlier
    // one may never be taken (recording/frame_path.cpp).
    std::atomic<bool> statusPosted {false};
    // An error box nobody has taken yet: left by the frame path, taken by
    // exactly one thread, which shows it once the file is finished.
    UnshownError unshownError;           // lock
    // Dialog sections working on the effect now, guarded by the dialog's
    // own lock (dialog/dialog_bindings.cpp).
    int dialogPins = 0;
};
