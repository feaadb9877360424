// The one effect of this plug-in: it records what the host renders to an
// uncompressed AVI file, paced to a frame rate, and never alters a pixel.
#pragma once

#include "plugin/effect_base.h"
#include "recording/status_text.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

// The conversion buffer for 24-bit frames. It only grows, and lives from
// one recording to the next until the effect is deleted.
struct ScratchBuffer {
    uint8_t* data = nullptr;
    size_t capacity = 0;
    int width = 0;
    int height = 0;

    ScratchBuffer() = default;
    ScratchBuffer(const ScratchBuffer&) = delete;
    ScratchBuffer& operator=(const ScratchBuffer&) = delete;
    ~ScratchBuffer() { release(); }
    void release();
};

// Why a start failed, in the words the error box shows.
struct StartFailure {
    const char* text = nullptr;
};

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

class AviOutputEffect final : public EffectBase {
public:
    AviOutputEffect();
    ~AviOutputEffect() override;

    int renderFrame(HostValue hostArg1, HostValue hostArg2, const uint32_t* framebuffer, HostValue hostArg4, int w,
                    int h) override;
    HWND createConfigDialog(HINSTANCE instance, HWND parent) override;
    char* getDescription() override;
    void loadPresetData(unsigned char* data, int length) override;
    int savePresetData(unsigned char* data) override;

    // Ends the current recording: the stream, then the file. Harmless when
    // nothing is recording; a handle is never released twice.
    void stopRecording();
    // Sizes the conversion buffer, then opens the file and its stream for
    // the current size and settings. Called with the recording lock held.
    int startRecording(StartFailure& failure);
    // Save: startRecording, the conversion buffer, the clock, then
    // recording = 1. Shows a failure in a box; returns 1 if recording.
    int runStartSequence();

    int32_t presetWord;
    PAVIFILE aviFile;
    PAVISTREAM aviStream;
    BITMAPINFOHEADER frameFormat;
    AVISTREAMINFOA streamInfo;
    std::atomic<HWND> dialogWindow;
    char fileName[100];
    std::atomic<int> recording;
    int width;
    int height;
    int lastFrameIndex;
    std::atomic<int> frameRate;
    int64_t elapsedMs;
    uint32_t lastTick;
    LONG lastBytesWritten;
    int64_t totalBytes;
    LONG lastSamplesWritten;
    int totalFrames;
    ScratchBuffer scratch;
    int rawMode;
    int rawModeActive;

    // Start, stop and the frame write never overlap, whichever threads
    // the host calls them on.
    platform::TicketLock recordingLock;
    // Counts starts, so that a stop decided before a message box never
    // ends a recording started while the box was open.
    uint32_t recordingSerial = 0;
    int64_t expectedFrames = 0;

    // Live effects, so that a destroyed dialog's handle is dropped wherever it is held.
    AviOutputEffect* previousLive = nullptr;
    AviOutputEffect* nextLive = nullptr;

private:
    void stopRecordingLocked();
    bool sizeScratch();
    void processFrame(const uint32_t* framebuffer, int w, int h, FrameReport& report);
    void writeFrameAt(int index, const uint32_t* framebuffer, FrameReport& report);
    void reportFrame(const FrameReport& report);
    void stopRecordingIfStill(uint32_t serial);
};
