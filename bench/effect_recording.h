// An effect recording frames of one size to a file, driven as the host
// drives it: shared by the native benchmarks and the program built for
// both targets.
#pragma once

#include "bench/frames.h"
#include "plugin/avi_output_effect.h"

#include <memory>
#include <string>

class Recording {
public:
    // Starts recording to `path` (which it removes when done); throws if it cannot.
    Recording(const FrameSize& size, bool raw, int frameRate, const std::string& path);
    ~Recording();
    Recording(const Recording&) = delete;
    Recording& operator=(const Recording&) = delete;

    // Stops, removes the file and starts again.
    void restart();
    void render()
    {
        host_->renderFrame(0, 0, reinterpret_cast<const uint32_t*>(frame_.data()), 0, size_.width, size_.height);
    }
    int framesWritten() const { return effect_->totalFrames; }

private:
    void start();

    std::unique_ptr<AviOutputEffect> effect_;
    EffectBase* host_ = effect_.get();
    FrameBuffer frame_;
    FrameSize size_;
    std::string path_;
};
