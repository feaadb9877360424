// The one effect of this plug-in: it records what the host renders to an
// uncompressed AVI file, paced to a frame rate, and never alters a pixel.
//
// The host may call renderFrame on one thread and run the dialog on
// another. The fields say below who may touch them.
#pragma once

#include "platform/win32.h"
#include "platform/ticket_lock.h"
#include "plugin/effect_base.h"
#include "recording/finishing_files.h"
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
    int finishingEntry = -1; // its name among the effect's finishingFiles

    explicit operator bool() const { return stream || file; }
};
// The stream, then the file; either may be null.
void releaseHandles(const RecordingHandles& handles);

// Until when the calls of a running recording have nothing to do: before
// `until`, at this size and rate, the frame position cannot move and no
// header patch is due. The frame path writes it down under recordingLock
// and reads it without, so that such a call costs a tick read and a few
// loads; each value is atomic because another render thread may read it
// meanwhile, and a stale one only sends a call the long way.
struct SkipWindow {
    std::atomic<uint32_t> until {0};
    std::atomic<int> width {0};
    std::atomic<int> height {0};
    std::atomic<int> rate {0};
};

// The frame path's work on the recording's file (a frame write, a header
// patch), done outside recordingLock: at most one at a time. While it is
// busy, the handles of the recording it works on and the conversion buffer
// are the frame path's. Whoever ends that recording meanwhile leaves its
// handles here, and the frame path finishes the file as soon as its work
// returns.
struct FrameFileWork {
    bool busy = false;
    uint32_t recordingNumber = 0; // of the recording it works on
    RecordingHandles leftToFinish;
};

class AviOutputEffect final : public EffectBase {
public:
    // plugin/avi_output_effect.cpp: construction, destruction, presets, stopping.
    AviOutputEffect();
    ~AviOutputEffect() override;
    char* getDescription() override;
    void loadPresetData(unsigned char* data, int length) override;
    int savePresetData(unsigned char* data) override;
    // Ends the current recording: the stream, then the file, released after
    // recordingLock, by this thread or, when the frame path is at work on
    // the file, by the frame path once its work returns. Harmless when
    // nothing is recording; a handle is never released twice.
    void stopRecording();
    // Ends the current recording for a caller that holds recordingLock and
    // hands it the handles, which it passes to releaseRecording once the
    // lock is released; none when the frame path's work holds the file.
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
    // open stream over with the clock and recording = 1. Never waits for a
    // file still being finished: it refuses to replace one. Returns nullptr
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
    // The stream description and frame format are built by the start and
    // handed to the writer, which keeps its own copies: the effect keeps none.
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

    // The file the running recording writes, and a count of recordings
    // started, which tells the frame path's work whether the recording it
    // worked on still runs.
    char recordingFileName[100] = {};    // lock
    uint32_t recordingNumber = 0;        // lock
    FrameFileWork frameWork;             // lock
    SkipWindow skipWindow;               // written with recordingLock held
    FinishingFiles finishingFiles;       // lock

    // Start, stop and the frame path's bookkeeping never overlap, whichever
    // threads the host calls them on. The rule: it is never held across a
    // file operation (a frame write, a header patch, an open, a close), so
    // the dialog's thread, which takes it for every action and status
    // update, never waits for the disk.
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
