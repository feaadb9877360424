#include "bench/effect_recording.h"

#include <cstdio>
#include <stdexcept>

Recording::Recording(const FrameSize& size, bool raw, int frameRate, const std::string& path)
    : effect_(new AviOutputEffect)
    , frame_(static_cast<size_t>(size.width) * size.height * 4, 5)
    , size_(size)
    , path_(path)
{
    std::snprintf(effect_->fileName, sizeof effect_->fileName, "%s", path_.c_str());
    effect_->rawMode = raw ? 1 : 0;
    effect_->frameRate = frameRate;
    render(); // the size, before any recording
    start();
}

Recording::~Recording()
{
    effect_.reset();
    std::remove(path_.c_str());
}

void Recording::start()
{
    if (effect_->runStartSequence())
        throw std::runtime_error("cannot start recording " + path_);
}

void Recording::restart()
{
    effect_->stopRecording();
    std::remove(path_.c_str());
    start();
}
