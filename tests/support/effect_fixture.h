// An effect made as the host makes one, on the virtual clock, with its
// message boxes captured and a scratch directory for its files.
#pragma once

#include "host/animation.h"
#include "platform/native/native_host.h"
#include "plugin/avi_output_effect.h"
#include "plugin/registration.h"
#include "recording/user_feedback.h"
#include "resources/resource.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

// A host framebuffer with the stand-in host's animation in it.
struct HostFrame {
    HostFrame(int w, int h, uint32_t number = 0)
        : width(w)
        , height(h)
        , pixels(static_cast<size_t>(w) * h)
    {
        draw(number);
    }
    void draw(uint32_t number) { renderAnimationFrame(pixels.data(), width, height, number); }
    int width;
    int height;
    std::vector<uint32_t> pixels;
};

class EffectTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        NativeUseVirtualClock(100000);
        moduleInstance = NativeModuleContaining(reinterpret_cast<const void*>(&renderAnimationFrame));
        effect = std::make_unique<AviOutputEffect>();
    }

    void TearDown() override
    {
        if (dialog_)
            DestroyWindow(dialog_);
        effect.reset();
        NativeFailNextAviCall(nullptr, 0); // a failure the test did not reach stays with it
        NativeUseRealClock();
    }

    void render(const HostFrame& frame) { render(frame.pixels.data(), frame.width, frame.height); }
    void render(const uint32_t* pixels, int w, int h) { effect->renderFrame(0, 0, pixels, 0, w, h); }
    void renderAfter(DWORD milliseconds, const HostFrame& frame)
    {
        NativeAdvanceClock(milliseconds);
        render(frame);
    }

    // Save with this file name, as the dialog's button does: a failure in a box.
    int start(const std::string& path)
    {
        std::strncpy(effect->fileName, path.c_str(), sizeof effect->fileName - 1);
        const char* failure = effect->runStartSequence();
        if (failure)
            showError(effect->dialogWindow.load(), failure);
        return failure ? 0 : 1;
    }

    // Opens the effect's dialog, as a user watching the status label would;
    // it then owns the error boxes too.
    HWND openDialog()
    {
        if (!dialog_)
            dialog_ = effect->createConfigDialog(moduleInstance, nullptr);
        return dialog_;
    }

    // What the status label of the dialog openDialog() opened says.
    std::string statusText()
    {
        EXPECT_NE(dialog_, nullptr) << "open the dialog before the frames it should count";
        char text[128] = {};
        GetDlgItemTextA(dialog_, IDC_STATUS, text, sizeof text);
        return text;
    }

    std::unique_ptr<AviOutputEffect> effect;
    MessageBoxRecorder boxes;
    TempDir dir;

private:
    HWND dialog_ = nullptr;
};
